// Failures that end a command and reach the window's one failure report.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace keyloft {

// Any failure a command does not handle itself: "Invalid index", printer
// refusals, memory exhaustion while loading. what() is the message as shown,
// before the full-stop rule of FailureReportText is applied.
class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string& message) : std::runtime_error(message) {}
};

// A file-system failure: code and message follow the editor's I/O table
// (2 "File not found", 3 "Invalid filename", 4 "Too many open files",
// 5 "File access denied", 101 "Disk full", any other code N "I/O error N").
class FileError : public Failure {
public:
    FileError(int code, const std::string& message) : Failure(message), code_(code) {}
    int code() const noexcept { return code_; }

private:
    int code_;
};

// The message of the I/O table for an editor error code.
std::string FileErrorMessage(int code);

// The FileError for an errno value. `missingIsFile` tells ENOENT on the file
// itself (2) from ENOENT on a missing folder of its path (3). An errno the
// table does not name keeps its own number: EIO is "I/O error 5", never the
// table's code 5.
FileError FileErrorFromErrno(int err, bool missingIsFile);

// Throws the FileError for errno `err` met while working on `path`.
// ENOENT is told apart by looking whether the path's folder exists.
[[noreturn]] void ThrowFileError(int err, const std::string& path);

// The text the failure report shows: the message, with "." appended when its
// last character sorts after "." ("I/O error 17" -> "I/O error 17.", while
// messages ending in ".", "!" or ")" stay as they are).
std::string FailureReportText(std::string_view message);

}  // namespace keyloft
