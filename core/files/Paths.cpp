#include "files/Paths.h"

namespace keyloft {

std::string FolderOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string_view::npos) return ".";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string_view FileNameOfPath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string BackupName(const std::string& path) { return path + ".in1"; }

}  // namespace keyloft
