// The editor's small text rules: letter case, the names New INI and New
// Section make, commenting, Find's match and the node colours.
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "document/Rules.h"

namespace keyloft {

// Readable names for failed look comparisons.
void PrintTo(const NodeLook& look, std::ostream* os) {
    static const char* const colours[] = {"Black", "Red", "Blue", "Green", "Purple"};
    static const char* const backgrounds[] = {"Window", "Silver"};
    static const char* const styles[] = {"Regular", "Bold", "Italic"};
    *os << colours[static_cast<int>(look.colour)] << "/"
        << backgrounds[static_cast<int>(look.background)] << "/"
        << styles[static_cast<int>(look.style)];
}

namespace {

struct TextCase {
    std::string in;
    std::string out;
};

TEST(UpperAZ, OnlyTheLettersAToZ) {
    const TextCase cases[] = {
        {"", ""},
        {"abcxyz", "ABCXYZ"},
        {"ABC", "ABC"},
        {"a-z_09.ini", "A-Z_09.INI"},
        {"`{@[", "`{@["},            // the neighbours of the letters
        {"\xe9t\xe9", "\xe9T\xe9"},  // accented letters stay
        {"\xc3\xa9t\xc3\xa9", "\xc3\xa9T\xc3\xa9"},
        {std::string("a\0b", 3), std::string("A\0B", 3)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(UpperAZ(c.in), c.out);
    }
}

TEST(EndsWithIni, AnyMixOfCase) {
    struct Case {
        const char* text;
        bool ends;
    };
    const Case cases[] = {
        {"settings.ini", true}, {"SETTINGS.INI", true}, {"a.Ini", true},     {".ini", true},
        {"x.iNI", true},        {"ini", false},         {"", false},         {"x.ini ", false},
        {"x.ini.bak", false},   {"xini", false},        {"x.\xcdNI", false}, {"x_ini", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(EndsWithIni(c.text), c.ends);
    }
}

TEST(NewIniRootText, AddsIniWhenMissing) {
    const TextCase cases[] = {
        {"Settings.INI", "Settings.INI"},
        {"a.Ini", "a.Ini"},
        {".ini", ".ini"},
        {"settings", "settings.ini"},
        {"x.ini ", "x.ini .ini"},
        {"ab", "ab.ini"},
        {"", ".ini"},
        {"ini", "ini.ini"},
        {"a.in", "a.in.ini"},
        {" a b ", " a b .ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(NewIniRootText(c.in), c.out);
    }
}

TEST(NewSectionText, BracketsUnlessTheNameHoldsOne) {
    const TextCase cases[] = {
        {"", "[]"},         {"abc", "[abc]"},   {"[abc", "[abc"},   {"a[b", "a[b"},
        {"abc]", "[abc]]"}, {";abc", "[;abc]"}, {"[abc]", "[abc]"}, {" a ", "[ a ]"},
        {"a=b", "[a=b]"},   {"]", "[]]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(NewSectionText(c.in), c.out);
    }
}

TEST(NewKeyText, NameEqualsValueAsTyped) {
    struct Case {
        const char* name;
        const char* value;
        const char* text;
    };
    const Case cases[] = {
        {"", "", "="},   {"a=b", "c", "a=b=c"}, {";x", "1", ";x=1"}, {" a ", " b ", " a = b "},
        {"k", "", "k="}, {"", "v", "=v"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(NewKeyText(c.name, c.value), c.text);
    }
}

TEST(Comments, CommentAddsOneMarkUncommentTakesTheFirstCharacter) {
    EXPECT_TRUE(IsCommented(";a=1"));
    EXPECT_TRUE(IsCommented(";"));
    EXPECT_FALSE(IsCommented(" ;a=1"));
    EXPECT_FALSE(IsCommented(""));
    EXPECT_FALSE(IsCommented("a;"));

    const TextCase commented[] = {{"a=1", ";a=1"}, {"", ";"}, {";a", ";;a"}, {"[s]", ";[s]"}};
    for (const auto& c : commented) EXPECT_EQ(CommentedText(c.in), c.out) << c.in;
    const TextCase uncommented[] = {
        {";a=1", "a=1"}, {";;c=3", ";c=3"}, {";", ""}, {";[s]", "[s]"}, {"; x", " x"}};
    for (const auto& c : uncommented) EXPECT_EQ(UncommentedText(c.in), c.out) << c.in;
}

// A line's comment mark goes in before its first byte above 32 and comes
// out from there; nothing else of the line moves.
TEST(Comments, LinesGainAndLoseOneByte) {
    const TextCase commented[] = {{"  name = demo   ; inline", "  ;name = demo   ; inline"},
                                  {"\t[s] ", "\t;[s] "},
                                  {"    = src", "    ;= src"},
                                  {"", ";"},
                                  {"  ", "  ;"},
                                  {";x", ";;x"}};
    for (const auto& c : commented) EXPECT_EQ(CommentedLine(c.in), c.out) << c.in;
    const TextCase uncommented[] = {
        {"  ;name = demo", "  name = demo"}, {";;c=3", ";c=3"}, {";", ""}, {" \t; x", " \t x"}};
    for (const auto& c : uncommented) EXPECT_EQ(UncommentedLine(c.in), c.out) << c.in;
    for (const char* line : {"", "  ", "x;", " a=;"})
        EXPECT_EQ(UncommentedLine(line), std::nullopt);
}

TEST(Comments, NewValueReplacesOnlyTheValueBytes) {
    struct Case {
        const char* line;
        const char* oldText;
        const char* newText;
        std::optional<std::string> out;
    };
    const Case cases[] = {
        {"k =", "k=", "k=5", "k =5"},
        {"j = v  ", "j=v", "j=w", "j = w  "},
        {"\tkey\t=\tv", "key=v", "key= w  x ", "\tkey\t=\tw  x"},
        {"k =   ", "k=", "k=1", "k =   1"},
        {"  ;k = 1 ", ";k=1", ";k=2", "  ;k = 2 "},
        {"p = a = b", "p=a = b", "p=c", "p = c"},
        {"k = v", "k=v", "k=v ", "k = v"},  // the same value: no byte changes
        {"k=1", "k=1", "k=", "k="},
        {"k = v", "k=v", "q=v", std::nullopt},          // a new key
        {"k = v", "k=v", ";k=v", std::nullopt},         // commented by hand
        {"k = v", "k=v", "k", std::nullopt},            // no "=" left
        {";= x", ";= x", ";=y", std::nullopt},          // the reading keeps its blanks
        {"k = v", "other=v", "other=w", std::nullopt},  // the line is not that text
        {"k = 1", "k = 1", "k = 2", "k = 2"},           // a made line is its text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(LineWithNewValue(c.line, c.oldText, c.newText), c.out) << c.newText;
    }
}

TEST(FindMatches, SubstringWithAToZFolding) {
    struct Case {
        const char* text;
        const char* needle;  // as typed; passed through UpperAZ like Find does
        bool matches;
    };
    const Case cases[] = {
        {"[DB]", "db", true},
        {"dbname=x", "db", true},
        {"mydb=1", "DB", true},
        {"port=1", "db", false},
        {"app.ini", "db", false},
        {"app.ini", "APP.INI", true},
        {"dbdb=db", "db", true},
        {"", "a", false},
        {"abc", "abcd", false},
        {"a[1]", "[1]", true},
        {";comment=x", "COMMENT", true},
        {"\xe9t\xe9", "\xc9T\xc9", false},  // accented letters are not folded
        {"\xc9T\xc9", "\xe9t\xe9", false},
        {"\xe9t\xe9", "\xe9T", true},
        {"caf\xc3\xa9", "CAF\xc3\x89", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.needle);
        EXPECT_EQ(FindMatches(c.text, UpperAZ(c.needle)), c.matches);
    }
}

// --- node colours -------------------------------------------------------------

struct LookCase {
    int level;
    std::string text;
    NodeColour colour;
    NodeFontStyle style;
};

std::ostream& operator<<(std::ostream& os, const LookCase& c) {
    return os << "level " << c.level << " '" << c.text << "'";
}

std::string LookCaseName(const ::testing::TestParamInfo<LookCase>& info) {
    return "level" + std::to_string(info.param.level) + "_" + std::to_string(info.index);
}

class NodeLookTable : public ::testing::TestWithParam<LookCase> {};

TEST_P(NodeLookTable, ColourStyleAndBackground) {
    const LookCase& c = GetParam();
    EXPECT_EQ(NodeLookFor(c.level, c.text, false),
              (NodeLook{c.colour, NodeBackground::Window, c.style}));
    EXPECT_EQ(NodeLookFor(c.level, c.text, true),
              (NodeLook{c.colour, NodeBackground::Silver, c.style}));
}

using C = NodeColour;
using F = NodeFontStyle;

const LookCase kRootLooks[] = {
    {0, "settings.ini", C::Black, F::Bold},
    {0, "SETTINGS.INI", C::Black, F::Bold},
    {0, "settings.Ini", C::Black, F::Bold},
    {0, ".ini", C::Black, F::Bold},
    {0, ";x.ini", C::Black, F::Bold},
    {0, "settings.cfg", C::Red, F::Bold},
    {0, "settings.ini.bak", C::Red, F::Bold},
    {0, "ini", C::Red, F::Bold},
    {0, "", C::Red, F::Bold},
    {0, "x.ini ", C::Red, F::Bold},
    {0, ";x", C::Red, F::Bold},
};
INSTANTIATE_TEST_SUITE_P(Root, NodeLookTable, ::testing::ValuesIn(kRootLooks), LookCaseName);

const LookCase kSectionLooks[] = {
    {1, "[Main]", C::Blue, F::Regular},  {1, "[]", C::Blue, F::Regular},
    {1, "[a=b]", C::Blue, F::Regular},   {1, ";[Main]", C::Purple, F::Italic},
    {1, ";Main", C::Purple, F::Italic},  {1, ";", C::Purple, F::Italic},
    {1, "Main", C::Red, F::Regular},     {1, "[Main", C::Red, F::Regular},
    {1, "Main]", C::Red, F::Regular},    {1, "[Main] ", C::Red, F::Regular},
    {1, " [Main]", C::Red, F::Regular},  {1, "", C::Red, F::Regular},
    {1, "[", C::Red, F::Regular},        {1, "]", C::Red, F::Regular},
    {1, " ;[Main]", C::Red, F::Regular},
};
INSTANTIATE_TEST_SUITE_P(Section, NodeLookTable, ::testing::ValuesIn(kSectionLooks), LookCaseName);

const LookCase kKeyLooks[] = {
    {2, "name=value", C::Green, F::Regular},
    {2, "=", C::Green, F::Regular},
    {2, "a=b=c", C::Green, F::Regular},
    {2, " ;x=1", C::Green, F::Regular},
    {2, "[x]=1", C::Green, F::Regular},
    {2, ";name=value", C::Purple, F::Italic},
    {2, ";=", C::Purple, F::Italic},
    {2, "; note", C::Red, F::Italic},
    {2, ";", C::Red, F::Italic},
    {2, "Enabled", C::Red, F::Regular},
    {2, "", C::Red, F::Regular},
    {2, "[Main]", C::Red, F::Regular},
};
INSTANTIATE_TEST_SUITE_P(Key, NodeLookTable, ::testing::ValuesIn(kKeyLooks), LookCaseName);

}  // namespace
}  // namespace keyloft
