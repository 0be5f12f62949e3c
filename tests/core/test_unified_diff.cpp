// The unified diff that keyloft-ini --dry-run prints: hunks and their
// context, the ranges of their headers, lines without a final LF, CR LF
// lines, empty texts, and the long scripts shown as one block.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "TestHelpers.h"
#include "tool/UnifiedDiff.h"

namespace keyloft {
namespace {

struct DiffCase {
    const char* what;
    std::string before, after;
    int context;
    std::string hunks;  // the diff after its "--- f" and "+++ f" lines; empty: no diff
};

// Ten numbered lines, "1\n" to "10\n", with `replace` put in for line `at`.
std::string Ten(int at = 0, const std::string& replace = "") {
    std::string text;
    for (int i = 1; i <= 10; ++i) text += i == at ? replace : std::to_string(i) + "\n";
    return text;
}

const DiffCase kDiffCases[] = {
    {"equal texts give no diff", Ten(), Ten(), 3, ""},
    {"two empty texts give no diff", "", "", 3, ""},
    {"from nothing every line is added", "", "a\nb\n", 3, "@@ -0,0 +1,2 @@\n+a\n+b\n"},
    {"to nothing every line is removed", "a\nb\n", "", 3, "@@ -1,2 +0,0 @@\n-a\n-b\n"},
    {"one changed line with three lines either side", Ten(5, "five\n"), Ten(), 3,
     "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-five\n+5\n 6\n 7\n 8\n"},
    {"the context stops at the first line", Ten(1, ""), Ten(), 3,
     "@@ -1,3 +1,4 @@\n+1\n 2\n 3\n 4\n"},
    {"the context stops at the last line", Ten(), Ten(10, ""), 3,
     "@@ -7,4 +7,3 @@\n 7\n 8\n 9\n-10\n"},
    {"without context: one line is its number alone, no line the number before", Ten(6, "6\nnew\n"),
     Ten(), 0, "@@ -7 +6,0 @@\n-new\n"},
    {"changes six lines apart share a hunk", Ten(2, "two\n"), Ten(9, "nine\n"), 3,
     "@@ -1,10 +1,10 @@\n 1\n-two\n+2\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+nine\n 10\n"},
    {"changes seven lines apart are two hunks", Ten(1, "one\n"), Ten(9, "nine\n"), 3,
     "@@ -1,4 +1,4 @@\n-one\n+1\n 2\n 3\n 4\n@@ -6,5 +6,5 @@\n 6\n 7\n 8\n-9\n+nine\n 10\n"},
    {"a wider context joins them", Ten(1, "one\n"), Ten(9, "nine\n"), 4,
     "@@ -1,10 +1,10 @@\n-one\n+1\n 2\n 3\n 4\n 5\n 6\n 7\n 8\n-9\n+nine\n 10\n"},
    {"a last line without LF differs from the same line with one", "a\nb", "a\nb\n", 3,
     "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
    {"an added last line without LF is marked", "a\n", "a\nb", 3,
     "@@ -1 +1,2 @@\n a\n+b\n\\ No newline at end of file\n"},
    {"an unchanged last line without LF is marked as context", "a\nb\nc", "a\nB\nc", 3,
     "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n\\ No newline at end of file\n"},
    {"a CR stays part of its line", "a\r\nb\r\n", "a\r\nb\n", 3,
     "@@ -1,2 +1,2 @@\n a\r\n-b\r\n+b\n"},
    {"a lone CR does not end a line", "a\rb\n", "a\rc\n", 3, "@@ -1 +1 @@\n-a\rb\n+a\rc\n"},
    {"the shortest script: a removed line between kept ones", "a\nb\nc\nd\n", "a\nc\nd\n", 3,
     "@@ -1,4 +1,3 @@\n a\n-b\n c\n d\n"},
    {"the shortest script: lines moved past others", "a\nb\nc\nd\n", "c\nd\na\nb\n", 3,
     "@@ -1,4 +1,4 @@\n-a\n-b\n c\n d\n+a\n+b\n"},
};

void PrintTo(const DiffCase& c, std::ostream* os) { *os << c.what; }

class Diff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(Diff, HunksAsDiffPrintsThem) {
    const DiffCase& c = GetParam();
    const std::string expected = c.hunks.empty() ? "" : "--- f.ini\n+++ f.ini\n" + c.hunks;
    EXPECT_EQ(UnifiedDiff(c.before, c.after, "f.ini", c.context), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Diff, ::testing::ValuesIn(kDiffCases),
                         test::NameFromWhat<DiffCase>);

// Past a thousand edits between the common ends, the middle is one block of
// removed lines and then added ones; under it, the shortest script.
TEST(Diff, LongScatteredChangesAreOneBlock) {
    for (const int lines : {401, 2001}) {
        SCOPED_TRACE(lines);
        std::string before, after, removed, added;
        for (int i = 0; i < lines; ++i) {
            const std::string same = "l" + std::to_string(i) + "\n";
            const std::string changed = i % 2 == 0 ? "m" + std::to_string(i) + "\n" : same;
            before += same;
            after += changed;
            removed += "-" + same;
            added += "+" + changed;
        }
        const std::string diff = UnifiedDiff(before, after, "f");
        const std::string block = "--- f\n+++ f\n@@ -1," + std::to_string(lines) + " +1," +
                                  std::to_string(lines) + " @@\n" + removed + added;
        // 201 changes one line apart: one hunk, each change on its own.
        EXPECT_EQ(diff == block, lines == 2001);
        EXPECT_EQ(diff.starts_with("--- f\n+++ f\n@@ -1,401 +1,401 @@\n-l0\n+m0\n l1\n-l2\n"),
                  lines == 401);
    }
}

}  // namespace
}  // namespace keyloft
