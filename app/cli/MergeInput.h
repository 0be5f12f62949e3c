// The INI text `keyloft-ini merge` reads from standard input.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace keyloft::cli {

struct Setting {
    std::string section, key, value;
};

// The settings of `text`: "[section]" headers and "key=value" lines, names
// and values without the blanks around them. Lines whose first non-blank
// character is ";" or "#" are comments; blank lines are ignored; a line
// break is CR LF, a lone CR or LF; a leading UTF-8 byte-order mark is
// skipped. A key given more than once in a section comes back once, at its
// first place, with its last value: what setting them in order leaves.
// Anything else (text before the first header, a line without "=", an empty
// key, a NUL byte) makes `error` the reason, with its line number, and
// returns nothing.
std::vector<Setting> ReadSettings(std::string_view text, std::string& error);

}  // namespace keyloft::cli
