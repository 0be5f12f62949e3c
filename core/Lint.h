// Lines of an INI file that other readers, or the editor itself, take
// differently from what their writer probably meant.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace keyloft {

struct LintFinding {
    // Counted from 1; a CR LF, a lone CR and an LF each end one line.
    std::size_t line = 0;
    std::string message;
};

// Findings in file order, at most one per line:
//  - text before the first header that the editor does not show (blank
//    lines and plain comments are fine there);
//  - a line of a section that starts with "[" but does not end with "]";
//  - a line of a section that has no "=" and is no comment;
//  - a section whose name equals an earlier one's with letter case ignored;
//  - a key given a second time in one section.
// Reads as the editor does: a leading byte-order mark is skipped and a NUL
// ends the text.
std::vector<LintFinding> LintIni(std::string_view text);

}  // namespace keyloft
