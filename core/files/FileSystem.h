// The editor's file access: a thin layer over POSIX calls whose every failure
// becomes a FileError with the editor's code and message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "fast/LargeBuffer.h"

namespace keyloft {

struct FileBytes {
    LargeBytes data;
    std::size_t size = 0;
};

// What one line of a loaded file costs in memory besides its bytes, at the
// peak of a load: its node (20 bytes) and, for a section, its place in the
// root's child list (4 bytes, twice that while the list grows by doubling).
// Measured at about 21 bytes per line while loading ten million
// one-character keys, and 26 for ten million lines of one-key sections;
// follow it when the node layout changes.
inline constexpr std::size_t kNodeBytesPerLine = 32;

// Reads the whole regular file at `path` (links followed). A folder, a FIFO,
// a device or a socket is "File access denied" at once: nothing is read from
// it and opening it cannot wait for a writer. Throws Failure("Not enough
// memory to load this file") as soon as the bytes read so far plus
// kNodeBytesPerLine for each line so far would not fit in half the memory the
// process can get (free memory, its address-space limit, its control group's
// limit), so a file that cannot be loaded is given up early.
FileBytes ReadWholeFile(const std::string& path);

// The same for a command-line tool: "-" reads standard input (left open);
// any other path may also name a FIFO (waits for its writer) or a listening
// local stream socket. A folder or a device is "File access denied". A
// stream stops with the same memory failure at the same limit.
FileBytes ReadWholeInput(const std::string& path);

// Whether `path` names an existing regular file (links followed): false for
// folders, FIFOs, devices and sockets.
bool IsExistingFile(const std::string& path);

// Replaces the file at `path` by `content` without ever leaving a damaged
// file. Only a regular file is replaced: anything else there (after links)
// is "File access denied" before anything changes, and so is a file this
// user may not open for writing (the kernel's access check), even where the
// folder would let a rename replace it. The new content goes to a nameless
// file in the target's folder (or, where the file system has none, a short
// temporary name), which is given the replaced file's owner and group,
// written, given its extended attributes (its ACL among them) and exact mode
// bits, and fsynced. Then an existing file is kept as its name + ".in1"
// without replacing anything there (an existing backup gives "I/O error
// 17"), the new file is given a pending name (PendingSaveName) in the folder,
// renamed over the target, and the folder is fsynced. Any failure leaves the
// old file and old backup as they were; a process killed at any moment
// leaves at most one pending name, which the next save of that file removes
// first (only a name of that form whose mark fits the file it names).
// A file with more than one hard link, or one whose owner and group a new
// file cannot get, is written in place instead, so that it keeps its inode:
// its old bytes are first copied to the backup (or, without one, to a copy
// "." + name + ".keyloft-old-" + random hex digits, removed once the new
// bytes are durable), then the file is overwritten, cut and fsynced. A
// failed write puts the old bytes back; a process killed meanwhile leaves
// them complete in the copy.
// Symbolic links are followed as open() would: in a sticky world-writable
// folder only a link owned by this user or by the folder's owner, else "File
// access denied"; the file the links name gets the backup and the content,
// the links stay. A new file gets 0666 less the umask. Returns whether a
// backup was made.
// With `Backup::None` the old file is simply replaced: no ".in1" is made or
// looked at.
enum class Backup { Keep, None };
bool ReplaceFileWithBackup(const std::string& path, std::string_view content,
                           Backup backup = Backup::Keep);

// The same, with the content handed over in pieces: `content` calls `write`
// for each piece in order, so a large file need not be held in memory.
using ContentWriter = std::function<void(const std::function<void(std::string_view)>& write)>;
bool ReplaceFileWithBackup(const std::string& path, const ContentWriter& content,
                           Backup backup = Backup::Keep);

// Throws the FileError a save of `path` would meet before writing anything:
// not a regular file, not writable by this user, a folder that takes no new
// file, or (with Backup::Keep) an existing backup. For a dry run.
void CheckMayReplace(const std::string& path, Backup backup);

// The name a save of the file named `fileName` gives its finished new file in
// the instant before it takes the target's place: "." + fileName +
// ".keyloft-save-", 16 hex digits of `random`, "-" and 8 hex digits of a mark
// made from them and the file's device and inode (16 hex digits made from
// fileName stand for it where the name would pass 255 bytes).
std::string PendingSaveName(std::string_view fileName, std::uint64_t random, std::uint64_t device,
                            std::uint64_t inode);
// Whether `name` has the form of a pending name of `fileName`.
bool IsPendingSaveName(std::string_view fileName, std::string_view name);
// Whether the pending name `name` carries the mark of the file
// (device, inode) it names: only then is it a save's leftover.
bool HasPendingMark(std::string_view name, std::uint64_t device, std::uint64_t inode);

}  // namespace keyloft
