// Sections and keys found by name, and the edits keyloft-ini makes through
// them: names of node texts, the lookup over duplicate sections and keys
// with letter case counted, and each edit's outcome, message and bytes.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "TestHelpers.h"
#include "document/Document.h"
#include "files/IniFile.h"
#include "tool/IniQuery.h"

namespace keyloft {
namespace {

using test::LoadText;
using Name = std::optional<std::string_view>;
constexpr std::nullopt_t kNone = std::nullopt;

// What each name function makes of one node text.
struct NameCase {
    std::string_view text;
    Name plainSection, commentedSection, key, commentedKey;
    std::string_view value;
};

const NameCase kNameCases[] = {
    {"[General]", "General", kNone, kNone, kNone, ""},
    {"  [ Sp aced ]  ", "Sp aced", kNone, kNone, kNone, ""},
    {"[]", "", kNone, kNone, kNone, ""},
    {"[open", kNone, kNone, kNone, kNone, ""},
    {";[Old]", kNone, "Old", kNone, kNone, ""},
    {" ;[ Old ] ", kNone, "Old", kNone, kNone, ""},
    {"; [Old]", kNone, kNone, kNone, kNone, ""},  // the mark right before the bracket only
    {"name = Keyloft ", kNone, kNone, "name", kNone, "Keyloft"},
    {"a = b = c", kNone, kNone, "a", kNone, "b = c"},
    {"=x", kNone, kNone, "", kNone, "x"},
    {"k=", kNone, kNone, "k", kNone, ""},
    {";old=1", kNone, kNone, kNone, "old", "1"},
    {" ; k = v", kNone, kNone, kNone, "k", "v"},
    {"#k=v", kNone, kNone, "#k", kNone, "v"},  // "#" is no comment mark
    {"broken line", kNone, kNone, kNone, kNone, ""},
    {"; plain comment", kNone, kNone, kNone, kNone, ""},
};

TEST(QueryNames, EachNameOfEachText) {
    for (const NameCase& c : kNameCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PlainSectionName(c.text), c.plainSection);
        EXPECT_EQ(CommentedSectionName(c.text), c.commentedSection);
        EXPECT_EQ(KeyOfLine(c.text), c.key);
        EXPECT_EQ(KeyOfCommentedLine(c.text), c.commentedKey);
        EXPECT_EQ(ValueOfLine(c.text), c.value);
    }
}

const std::string kLookupFile =
    "[a]\nk=1\n;k=0\nK=2\n[A]\nk=3\n;[b]\n;x=1\n[a]\nk=4\nj=5\n[ c ]\n k = 6 \n";

// The sections of a name (plain ones, and with the commented ones) and the
// line FirstKeyNamed finds in the plain ones; "" when it finds none.
struct LookupCase {
    std::string_view section, key;
    bool commented;
    std::size_t plain, anyMark;
    std::string_view found;
};

const LookupCase kLookupCases[] = {
    {"a", "k", false, 2, 2, "k=1"},  // the first of duplicate sections and keys
    {"a", "j", false, 2, 2, "j=5"},  // from a later section of the name
    {"a", "K", false, 2, 2, "K=2"},  // letter case counts, for keys
    {"A", "k", false, 1, 1, "k=3"},  // and for sections
    {"a", "k", true, 2, 2, ";k=0"}, {"a", "j", true, 2, 2, ""},  {"a", "missing", false, 2, 2, ""},
    {"b", "x", true, 0, 1, ""},  // a commented section is no plain one
    {"c", "k", false, 1, 1, "k=6"}, {"z", "k", false, 0, 0, ""}, {"", "k", false, 0, 0, ""},
};

TEST(QueryLookup, SectionsAndFirstKeyByExactName) {
    Document doc;
    LoadText(doc, kLookupFile);
    std::string scratch;
    for (const LookupCase& c : kLookupCases) {
        SCOPED_TRACE(std::string(c.section) + " / " + std::string(c.key));
        const std::vector<Node*> plain = SectionsNamed(doc, c.section);
        EXPECT_EQ(plain.size(), c.plain);
        EXPECT_EQ(SectionsNamedAnyMark(doc, c.section).size(), c.anyMark);
        const Node* line = FirstKeyNamed(plain, c.key, c.commented);
        EXPECT_EQ(line == nullptr ? "" : line->text(scratch), c.found);
    }
}

// An edit on a file: what it says it did and the bytes a save then writes.
struct EditCase {
    const char* what;
    std::string file;
    std::function<EditResult(Document&)> edit;
    EditOutcome outcome;
    std::string message;
    std::string saved;  // empty: the file as it was
};

auto Set(std::string section, std::string key, std::string value, bool existingOnly = false) {
    return [=](Document& doc) { return SetKeyValue(doc, section, key, value, existingOnly); };
}
auto Del(std::string section, std::optional<std::string> key = std::nullopt) {
    return [=](Document& doc) { return DeleteEntry(doc, section, key); };
}
auto Comment(std::string section, std::optional<std::string> key = std::nullopt) {
    return [=](Document& doc) { return CommentEntry(doc, section, key, true); };
}
auto Uncomment(std::string section, std::optional<std::string> key = std::nullopt) {
    return [=](Document& doc) { return CommentEntry(doc, section, key, false); };
}

constexpr EditOutcome kChanged = EditOutcome::Changed;
constexpr EditOutcome kUnchanged = EditOutcome::Unchanged;
constexpr EditOutcome kNotFound = EditOutcome::NotFound;
constexpr EditOutcome kRefused = EditOutcome::Refused;

const EditCase kEditCases[] = {
    // SetKeyValue
    {"set a new value keeps the layout", "[a]\r\n  k = 1  \r\n", Set("a", "k", "2"), kChanged, "",
     "[a]\r\n  k = 2  \r\n"},
    {"set the value a key has leaves it", "[a]\n k = 1\n", Set("a", "k", "1"), kUnchanged, "", ""},
    {"set changes the first key of that name", "[a]\nk=1\n[a]\nk=2\n", Set("a", "k", "3"), kChanged,
     "", "[a]\nk=3\n[a]\nk=2\n"},
    {"set adds a missing key to the last section of the name", "[a]\nk=1\n[b]\n[a]\nj=1\n",
     Set("a", "n", "1"), kChanged, "", "[a]\nk=1\n[b]\n[a]\nj=1\nn=1\n"},
    {"set takes no commented key for the key", "[a]\n;k=1\n", Set("a", "k", "2"), kChanged, "",
     "[a]\n;k=1\nk=2\n"},
    {"set adds a missing section at the end", "[a]\nk=1\n", Set("New", "k", "v"), kChanged, "",
     "[a]\nk=1\n[New]\nk=v\n"},
    {"set counts letter case", "[a]\nk=1\n", Set("A", "K", "2"), kChanged, "",
     "[a]\nk=1\n[A]\nK=2\n"},
    {"set takes no commented section for the section", ";[a]\n", Set("a", "k", "1"), kChanged, "",
     ";[a]\n[a]\nk=1\n"},
    {"set of existing only: no section", "[a]\nk=1\n", Set("New", "k", "v", true), kNotFound,
     "no section [New]", ""},
    {"set of existing only: no key", "[a]\nk=1\n", Set("a", "n", "v", true), kNotFound,
     "no key n in [a]", ""},

    // DeleteEntry
    {"del of a key removes its first line", "[a]\nk=1\n[a]\nk=2\n", Del("a", "k"), kChanged, "",
     "[a]\n[a]\nk=2\n"},
    {"del of a section removes every one of the name with its lines",
     "[a]\nk=1\n[b]\nj=1\n[a]\nk=2\n", Del("a"), kChanged, "", "[b]\nj=1\n"},
    {"del: no key", "[a]\nk=1\n", Del("a", "z"), kNotFound, "no key z in [a]", ""},
    {"del: no section", "[a]\nk=1\n", Del("z"), kNotFound, "no section [z]", ""},
    {"del: a commented section is not found", ";[r]\n;x=1\n", Del("r"), kNotFound, "no section [r]",
     ""},
    {"del: a commented key is not found", "[a]\n;k=1\n", Del("a", "k"), kNotFound,
     "no key k in [a]", ""},

    // CommentEntry, comment
    {"comment a key", "[a]\n  k = 1\n", Comment("a", "k"), kChanged, "", "[a]\n  ;k = 1\n"},
    {"comment every section of the name with its lines", "[a]\nk=1\n[b]\n[a]\nj=2\n", Comment("a"),
     kChanged, "", ";[a]\n;k=1\n[b]\n;[a]\n;j=2\n"},
    {"comment a commented key", "[a]\n;k=1\n", Comment("a", "k"), kRefused,
     "k in [a] is already commented", ""},
    {"comment a commented section", ";[r]\n", Comment("r"), kRefused, "[r] is already commented",
     ""},
    {"comment a key of a commented section", ";[r]\n;x=1\n", Comment("r", "x"), kNotFound,
     "no section [r]", ""},
    {"comment: no section", "[a]\n", Comment("z", "k"), kNotFound, "no section [z]", ""},
    {"comment: no key", "[a]\nk=1\n", Comment("a", "z"), kNotFound, "no key z in [a]", ""},

    // CommentEntry, uncomment
    {"uncomment a key", "[a]\n;k=1\n", Uncomment("a", "k"), kChanged, "", "[a]\nk=1\n"},
    {"uncomment a commented section and its lines, not a plain one of the name",
     "[r]\n;[r]\n;x=1\n", Uncomment("r"), kChanged, "", "[r]\n[r]\nx=1\n"},
    {"uncomment a key that is not commented", "[a]\nk=1\n", Uncomment("a", "k"), kRefused,
     "k in [a] is not commented", ""},
    {"uncomment a section that is not commented", "[a]\n", Uncomment("a"), kRefused,
     "[a] is not commented", ""},
    {"uncomment a key under a commented header", ";[r]\n;x=1\n", Uncomment("r", "x"), kRefused,
     "x in [r] is under the commented header ;[r]: uncomment the section first", ""},
    {"uncomment: no key under a commented header", ";[r]\n;x=1\n", Uncomment("r", "y"), kNotFound,
     "no key y in [r]", ""},
    {"uncomment: no section", "[a]\n", Uncomment("z"), kNotFound, "no section [z]", ""},
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.what; }

class QueryEdit : public ::testing::TestWithParam<EditCase> {};

TEST_P(QueryEdit, OutcomeMessageAndBytes) {
    const EditCase& c = GetParam();
    Document doc;
    LoadText(doc, c.file);
    const EditResult result = c.edit(doc);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.message, c.message);
    EXPECT_EQ(SerializeDocument(doc), c.saved.empty() ? c.file : c.saved);
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryEdit, ::testing::ValuesIn(kEditCases),
                         test::NameFromWhat<EditCase>);

}  // namespace
}  // namespace keyloft
