// The names a file's path is made of: its folder, its own name, and the
// name its backup takes.
#pragma once

#include <string>
#include <string_view>

namespace keyloft {

// The folder that holds `path`: "." for a bare name, "/" for a name at the
// root.
std::string FolderOf(std::string_view path);

// The file name of a path: the part after its last "/".
std::string_view FileNameOfPath(std::string_view path);

// The path with ".in1" appended: where a save keeps the file it replaces.
std::string BackupName(const std::string& path);

}  // namespace keyloft
