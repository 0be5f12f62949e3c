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
//  - a key given a second time in one section, or a key equal to an earlier
//    one of its section with letter case ignored;
//  - a key line under a commented header: the editor keeps it in that
//    commented section, other readers in the section above;
//  - a NUL byte: the editor reads no further (the last finding).
// A line whose text begins with "#" is a comment to most other readers and
// gives no finding, unless `strict`: then it is reported as the editor reads
// it (a line without "=", text before the first section, or a key that other
// readers skip). Reads as the editor does: a leading byte-order mark is
// skipped and a NUL ends the text.
std::vector<LintFinding> LintIni(std::string_view text, bool strict = false);

}  // namespace keyloft
