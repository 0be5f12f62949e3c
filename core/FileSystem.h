// The editor's file access: a thin layer over POSIX calls whose every failure
// becomes a FileError with the editor's code and message.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "LargeBuffer.h"

namespace keyloft {

struct FileBytes {
    LargeBytes data;
    std::size_t size = 0;
};

// Reads the whole file, opened read-only. A folder is "File access denied".
// A file larger than the memory the machine has free throws Failure with a
// clear message instead of running out of memory half-way.
FileBytes ReadWholeFile(const std::string& path);

// Reads all of an input that may be no regular file: "-" is standard input,
// any other path is read as ReadWholeFile reads it (a FIFO up to its end).
FileBytes ReadWholeInput(const std::string& path);

// Whether `path` names an existing file that is not a folder (links followed).
bool IsExistingFile(const std::string& path);

// Replaces the file at `path` by `content` without ever leaving a damaged
// file: writes a temporary file beside it, fsyncs it, keeps an existing file
// as its name + ".in1" without replacing anything there (an existing backup
// gives "I/O error 17"), renames the temporary file into place and fsyncs the
// folder. Any failure leaves the old file and old backup as they were and no
// temporary file. A symbolic link is followed: the file it names gets the
// backup and the content, the link stays. The new file keeps the replaced
// file's permission bits and, where allowed, its owner. Returns whether a
// backup was made.
// With `Backup::None` the old file is simply replaced: no ".in1" is made or
// looked at.
enum class Backup { Keep, None };
bool ReplaceFileWithBackup(const std::string& path, std::string_view content, Backup backup = Backup::Keep);

// The same, with the content handed over in pieces: `content` calls `write`
// for each piece in order, so a large file need not be held in memory.
using ContentWriter = std::function<void(const std::function<void(std::string_view)>& write)>;
bool ReplaceFileWithBackup(const std::string& path, const ContentWriter& content,
                           Backup backup = Backup::Keep);

}  // namespace keyloft
