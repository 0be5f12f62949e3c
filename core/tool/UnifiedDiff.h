// A unified diff of two texts, as `diff -u` prints it.
#pragma once

#include <string>
#include <string_view>

namespace keyloft {

// The changes from `before` to `after` as a unified diff with `context` lines
// of context: "--- label", "+++ label", then the hunks. Lines are cut at LF,
// so a CR stays part of its line; a last line without LF is followed by
// "\ No newline at end of file". Equal texts give an empty diff. Long runs
// of scattered changes may come out as one block of removed and added lines
// instead of the shortest script.
std::string UnifiedDiff(std::string_view before, std::string_view after, std::string_view label,
                        int context = 3);

}  // namespace keyloft
