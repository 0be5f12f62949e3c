// Error codes and messages of file failures.
#include "Failure.h"

#include <cerrno>
#include <sys/stat.h>

namespace keyloft {

std::string FileErrorMessage(int code) {
    switch (code) {
        case 2: return "File not found";
        case 3: return "Invalid filename";
        case 4: return "Too many open files";
        case 5: return "File access denied";
        case 100: return "Read beyond end of file";
        case 101: return "Disk full";
        case 106: return "Invalid numeric input";
        default: return "I/O error " + std::to_string(code);
    }
}

int FileErrorCodeFromErrno(int err, bool missingIsFile) {
    switch (err) {
        case ENOENT: return missingIsFile ? 2 : 3;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP: return 3;
        case EMFILE:
        case ENFILE: return 4;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return 5;
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return 101;
        default: return err;
    }
}

namespace {

// Whether the folder that would hold `path` exists, to tell "File not found"
// from "Invalid filename".
bool FolderOfPathExists(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return true;  // the current folder
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void ThrowFileError(int err, const std::string& path) {
    const int code = FileErrorCodeFromErrno(err, err == ENOENT && FolderOfPathExists(path));
    throw FileError(code, FileErrorMessage(code));
}

std::string FailureReportText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text.push_back('.');
    return text;
}

}  // namespace keyloft
