// Error codes and messages of file failures.
#include "base/Failure.h"

#include <sys/stat.h>

#include <cerrno>

#include "files/Paths.h"

namespace keyloft {

std::string FileErrorMessage(int code) {
    switch (code) {
        case 2:
            return "File not found";
        case 3:
            return "Invalid filename";
        case 4:
            return "Too many open files";
        case 5:
            return "File access denied";
        case 100:
            return "Read beyond end of file";
        case 101:
            return "Disk full";
        case 106:
            return "Invalid numeric input";
        default:
            return "I/O error " + std::to_string(code);
    }
}

FileError FileErrorFromErrno(int err, bool missingIsFile) {
    int code;
    switch (err) {
        case ENOENT:
            code = missingIsFile ? 2 : 3;
            break;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            code = 3;
            break;
        case EMFILE:
        case ENFILE:
            code = 4;
            break;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
            code = 5;
            break;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            code = 101;
            break;
        default:
            return FileError(err, "I/O error " + std::to_string(err));
    }
    return FileError(code, FileErrorMessage(code));
}

namespace {

// Whether the folder that would hold `path` exists, to tell "File not found"
// from "Invalid filename".
bool FolderOfPathExists(const std::string& path) {
    struct stat st {};
    return ::stat(FolderOf(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void ThrowFileError(int err, const std::string& path) {
    throw FileErrorFromErrno(err, err == ENOENT && FolderOfPathExists(path));
}

std::string FailureReportText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text.push_back('.');
    return text;
}

}  // namespace keyloft
