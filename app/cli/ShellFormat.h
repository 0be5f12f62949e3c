// Keys and values as lines a POSIX shell's eval takes.
#pragma once

#include <string>
#include <string_view>

namespace keyloft::cli {

// A name sh can assign: a letter or "_", then letters, digits and "_"
// (ASCII only).
bool IsShellName(std::string_view name);

// "name='value'": the value in single quotes, each "'" in it written as
// '\''. Any bytes but NUL come back from eval as they are.
std::string ShellAssignment(std::string_view name, std::string_view value);

}  // namespace keyloft::cli
