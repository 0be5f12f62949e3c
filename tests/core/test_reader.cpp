// The reading rules: how INI text becomes sections, their lines, and the
// dropped bytes a faithful save needs.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "TestHelpers.h"
#include "document/TextArena.h"
#include "reading/IniReader.h"
#include "reading/LineScan.h"

namespace keyloft {
namespace {

using namespace std::string_literals;

struct Section {
    std::string header;
    std::string name;
    std::vector<std::string> lines;
    bool operator==(const Section&) const = default;
};

void PrintTo(const Section& s, std::ostream* os) {
    *os << ::testing::PrintToString(s.header) << " name " << ::testing::PrintToString(s.name)
        << " lines " << ::testing::PrintToString(s.lines);
}

std::vector<Section> Sections(const std::vector<IniSection>& read) {
    std::vector<Section> out;
    for (const auto& s : read) {
        Section section{std::string(s.Header), std::string(s.Name), {}};
        for (auto line : s.Lines) section.lines.emplace_back(line);
        out.push_back(std::move(section));
    }
    return out;
}

std::vector<Section> Read(std::string_view text) {
    TextArena arena;
    return Sections(ReadIni(text, arena).Sections);
}

// --- one line under a section header ---------------------------------------

struct LineCase {
    const char* what;
    std::string line;
    // What follows the section [S] that the line is placed under.
    std::vector<Section> after;
};

Section S(std::vector<std::string> lines = {}) { return {"[S]", "S", std::move(lines)}; }

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.what; }

class ReadLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(ReadLine, UnderASection) {
    const LineCase& c = GetParam();
    std::vector<Section> expected = c.after;
    // A case lists [S] first with the line's reading as its lines.
    EXPECT_EQ(Read("[S]\n" + c.line + "\n"), expected);
    // The same line as the file's last line, without a line break.
    EXPECT_EQ(Read("[S]\r\n" + c.line), expected);
}

const LineCase kWorkedExamples[] = {
    {"empty line", "", {S()}},
    {"blanks only", "   ", {S()}},
    {"header with blanks around", "  [ Main ]  ", {S(), {"[Main]", "Main", {}}}},
    {"empty brackets", "[]", {S(), {"[]", "", {}}}},
    {"double brackets", "[[x]]", {S(), {"[[x]]", "[x]", {}}}},
    {"open bracket only", "[Main", {S({"[Main"})}},
    {"header with comment after it", "[Main] ; old", {S({"[Main] ; old"})}},
    {"key with blanks around =", "Width = 640", {S({"Width=640"})}},
    {"only the first = divides", " Path = a = b ", {S({"Path=a = b"})}},
    {"= at the start", "= x", {S({"=x"})}},
    {"; inside a value", "key=a;b", {S({"key=a;b"})}},
    {"bare word", "Enabled", {S({"Enabled"})}},
    {"hash comment is text", "# note", {S({"# note"})}},
    {"; alone", ";", {S()}},
    {"; then blank", "; note", {S()}},
    {";; comment", ";;note", {S()}},
    {"blank before ;", " ;note", {S({";note"})}},
    {"commented key", ";Width = 640", {S({";Width=640"})}},
    {"commented key starting with =", ";= x", {S({";= x"})}},
    {"commented header", ";[Old]", {S(), {";[Old]", ";Old", {}}}},
    {"commented header keeps blanks after [", ";[ Old ]", {S(), {";[ Old]", "; Old", {}}}},
    {"commented header with text after it", ";[Old] x", {S({";[Old] x"})}},
};
INSTANTIATE_TEST_SUITE_P(WorkedExamples, ReadLine, ::testing::ValuesIn(kWorkedExamples),
                         test::NameFromWhat<LineCase>);

const LineCase kLineEdgeCases[] = {
    {"tabs around a header", "\t[\tMain\t]\t", {S(), {"[Main]", "Main", {}}}},
    {"tabs around key and value", "\tkey\t=\tvalue\t", {S({"key=value"})}},
    {"control characters are blanks", "\x01[a]\x1f", {S(), {"[a]", "a", {}}}},
    {"form feed and char 26 are trimmed", "x\f=\x1a 1", {S({"x=1"})}},
    {"no-break space stays", "k\xa0=\xa0v", {S({"k\xa0=\xa0v"})}},
    {"no-break space before [ makes no header", "\xa0[Main]", {S({"\xa0[Main]"})}},
    {"DEL is no blank", "\x7fk=v\x7f", {S({"\x7fk=v\x7f"})}},
    {"header recognised before =", "[a=b]", {S(), {"[a=b]", "a=b", {}}}},
    {"blanks inside a name stay", "[ a b ]", {S(), {"[a b]", "a b", {}}}},
    {"bracket inside a header", "[x]y]", {S(), {"[x]y]", "x]y", {}}}},
    {"plain header named ;x", "[;x]", {S(), {"[;x]", ";x", {}}}},
    {"open bracket alone", "[", {S({"["})}},
    {"close bracket alone", "]", {S({"]"})}},
    {"value keeps = and ;", "Path = a;b = 2", {S({"Path=a;b = 2"})}},
    {"equals alone", "=", {S({"="})}},
    {"= with blanks", " = ", {S({"="})}},
    {"empty value", "key=", {S({"key="})}},
    {"empty value after blanks", "key = ", {S({"key="})}},
    {"second = begins the value", "a = = b", {S({"a== b"})}},
    {"quotes stay", "key = \"a b\" ; c", {S({"key=\"a b\" ; c"})}},
    {"; after hash", "#;x=1", {S({"#;x=1"})}},
    {"; then tab", ";\tnote", {S()}},
    {"; then control character", ";\x01note", {S()}},
    {"; then blank at the end", "; ", {S()}},
    {";; alone", ";;", {S()}},
    {"; then blanks then header", ";  [x]", {S()}},
    {"; then no-break space", ";\xa0x", {S({";\xa0x"})}},
    {"commented key, second = in value", ";a = b = c ", {S({";a=b = c"})}},
    {"commented bare word", ";k", {S({";k"})}},
    {"commented key with empty value", ";k =", {S({";k="})}},
    {"commented = alone", ";=", {S({";="})}},
    {"commented = keeps blanks after it", ";=  x ", {S({";=  x"})}},
    {"commented open bracket", ";[x", {S({";[x"})}},
    {"commented bracket then =", ";[x]=1", {S({";[x]=1"})}},
    {"commented header with =", ";[a=b]", {S(), {";[a=b]", ";a=b", {}}}},
    {"commented empty header", ";[]", {S(), {";[]", ";", {}}}},
    {"commented header of blanks", ";[ ]", {S(), {";[]", ";", {}}}},
    {"commented header keeps tab after [", ";[\tOld\t]", {S(), {";[\tOld]", ";\tOld", {}}}},
    {"commented header blanks around the line", "  ;[Old]  ", {S(), {";[Old]", ";Old", {}}}},
};
INSTANTIATE_TEST_SUITE_P(EdgeCases, ReadLine, ::testing::ValuesIn(kLineEdgeCases),
                         test::NameFromWhat<LineCase>);

// --- whole files --------------------------------------------------------------

struct FileCase {
    const char* what;
    std::string text;
    std::vector<Section> expected;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.what; }

class ReadFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(ReadFile, Sections) { EXPECT_EQ(Read(GetParam().text), GetParam().expected); }

const std::vector<Section> kTwoKeys = {{"[a]", "a", {"x=1", "y=2"}}};

const FileCase kFiles[] = {
    {"worked example",
     "; settings\nVersion=1\n[Main]\nWidth = 640\n\n;Height=480\n;[Old]\n;Mode=1\n[View]\n"
     "Depth=8\n",
     {{"[Main]", "Main", {"Width=640", ";Height=480"}},
      {";[Old]", ";Old", {";Mode=1"}},
      {"[View]", "View", {"Depth=8"}}}},
    {"empty text", "", {}},
    {"blank lines only", "\n\r\n  \n\t\r", {}},
    {"comments only", "; a\n;; b\n;\n", {}},
    {"no header", "a=1\nb\n;c=1\n;[x\n", {}},
    {"CR LF", "[a]\r\nx=1\r\ny=2\r\n", kTwoKeys},
    {"CR only", "[a]\rx=1\ry=2\r", kTwoKeys},
    {"LF only", "[a]\nx=1\ny=2\n", kTwoKeys},
    {"mixed breaks", "[a]\r\nx=1\ry=2\n", kTwoKeys},
    {"LF CR is two breaks", "[a]\n\rx=1\n\ry=2", kTwoKeys},
    {"CR CR LF", "[a]\r\r\nx=1\r\r\ny=2\r\r\n", kTwoKeys},
    {"last line without a break", "[a]\nx=1\ny=2", kTwoKeys},
    {"NUL ends the text", "[a]\nx=1\ny=2\0z=3\n[b]\nw=4\n"s, kTwoKeys},
    {"NUL in the middle of a key", "[a]\nx=1\ny=2\0=3\n"s, kTwoKeys},
    {"NUL before the first header", "\0[a]\nx=1\n"s, {}},
    {"NUL after a break", "[a]\nx=1\ny=2\n\0"s, kTwoKeys},
    {"char 26 at the end", "[a]\r\nx=1\r\ny=2\r\n\x1a", kTwoKeys},
    {"UTF-8 byte-order mark", "\xef\xbb\xbf[Main]\r\nk=v\r\n", {{"[Main]", "Main", {"k=v"}}}},
    {"byte-order mark later is text",
     "[a]\n\xef\xbb\xbf[b]\n",
     {{"[a]", "a", {"\xef\xbb\xbf[b]"}}}},
    {"header with a comment keeps the previous section",
     "[Main]\nk=1\n[Other] ; old\nj=2\n",
     {{"[Main]", "Main", {"k=1", "[Other] ; old", "j=2"}}}},
    {"header with a comment before any header", "[Other] ; old\nj=2\n[M]\n", {{"[M]", "M", {}}}},
    {"empty sections",
     "[a]\n[b]\nx=1\n[c]",
     {{"[a]", "a", {}}, {"[b]", "b", {"x=1"}}, {"[c]", "c", {}}}},
    {"equal names each keep their own lines",
     "[Main]\nx=1\n[main]\ny=2\n[Other]\nz=3\n[ MAIN ]\nw=4\n[Main]\n",
     {{"[Main]", "Main", {"x=1"}},
      {"[main]", "main", {"y=2"}},
      {"[Other]", "Other", {"z=3"}},
      {"[MAIN]", "MAIN", {"w=4"}},
      {"[Main]", "Main", {}}}},
    {"equal names, the earlier with lines",
     "[Main]\nx=1\n[Other]\n[Main]\n",
     {{"[Main]", "Main", {"x=1"}}, {"[Other]", "Other", {}}, {"[Main]", "Main", {}}}},
    {"accented names",
     "[\xe9t\xe9]\na=1\n[\xc9T\xc9]\nb=2\n",
     {{"[\xe9t\xe9]", "\xe9t\xe9", {"a=1"}}, {"[\xc9T\xc9]", "\xc9T\xc9", {"b=2"}}}},
    {";[x], [x] and [;x]",
     ";[x]\na=1\n[x]\nb=2\n[;x]\nc=3\n",
     {{";[x]", ";x", {"a=1"}}, {"[x]", "x", {"b=2"}}, {"[;x]", ";x", {"c=3"}}}},
};
INSTANTIATE_TEST_SUITE_P(Files, ReadFile, ::testing::ValuesIn(kFiles),
                         test::NameFromWhat<FileCase>);

TEST(ReadIni, SectionsAloneMatchTheFullReading) {
    const std::string text = "; c\n[a]\nx = 1\n;[b]\n;y=2\n";
    TextArena a1, a2;
    EXPECT_EQ(Sections(ReadIniSections(text, a1)), Sections(ReadIni(text, a2).Sections));
}

TEST(ReadIni, ReadingTwiceGivesTheSameResult) {
    const std::string text = "[a]\nx = 1\n[A]\ny=2\n";
    EXPECT_EQ(Read(text), Read(text));
}

TEST(ReadIni, KeyCountCountsEveryLineOfEverySection) {
    struct Case {
        std::string text;
        std::size_t keys;
    };
    const Case cases[] = {
        {"", 0},
        {"x=1\n[a]\n", 0},
        {"[a]\nx=1\ny\n;z\n[b]\n[c]\nw=1\n; no\n", 4},
        {"[a]\nx=1\n[a]\ny=2\nz=3\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TextArena arena;
        EXPECT_EQ(ReadIni(c.text, arena).KeyCount, c.keys);
    }
}

// The break most lines use, counting every line (kept or dropped); on a tie
// the kind that comes first.
TEST(ReadIni, LineBreakIsTheOneMostLinesUse) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"[a]\r\nx=1\ny=2\r", "\r\n"},
        {"[a]\nx=1\r\n", "\n"},
        {"[a]\rx=1\r\n", "\r"},
        {"; c\r\n[a]\n", "\r\n"},
        {"[a]\r\nk=1\r\n; note\n[b]\r\nx=1\r\n", "\r\n"},
        {"; one\n[a]\r\nx=1\r\n", "\r\n"},
        {"\n\n\n[a]\r\nx=1\r\n", "\n"},
        {"[a]\rx=1\ny=1\nz=1\r\n", "\n"},
        {"[a]\r", "\r"},
        {"[a]", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        TextArena arena;
        EXPECT_EQ(std::string(ReadIni(c.text, arena).LineBreak), c.expected);
    }
}

TEST(ReadIni, ByteOrderMarkOnlyAtTheStart) {
    struct Case {
        std::string text;
        bool mark;
    };
    const Case cases[] = {
        {"\xef\xbb\xbf[a]\n", true}, {"\xef\xbb\xbf", true},        {"[a]\n\xef\xbb\xbf", false},
        {"\xef\xbb[a]\n", false},    {" \xef\xbb\xbf[a]\n", false}, {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        TextArena arena;
        EXPECT_EQ(ReadIni(c.text, arena).ByteOrderMark, c.mark);
    }
}

TEST(ReadIni, ByteOrderMarkIsNotPartOfTheHead) {
    TextArena arena;
    IniReading r = ReadIni("\xef\xbb\xbf; top\n[a]\nx=1\n", arena);
    ASSERT_EQ(r.Sections.size(), 1u);
    EXPECT_EQ(std::string(r.Head), "; top\n");
}

// What follows the last kept line: readable dropped lines end the last
// section; from a NUL on, the bytes are never read.
TEST(ReadIni, TrailingAndTailFollowTheLastKeptLine) {
    struct Case {
        const char* what;
        std::string text;
        std::string trailing;
        std::string tail;
    };
    const Case cases[] = {
        {"break after the last line", "[a]\nx=1\n", "", ""},
        {"no break after the last line", "[a]\nx=1", "", ""},
        {"trailing blank and comment", "[a]\nx=1\n\n; end\n", "\n; end\n", ""},
        {"trailing comment without break", "[a]\nx=1\n\n; end", "\n; end", ""},
        {"trailing blanks without break", "[a]\nx=1\n   ", "   ", ""},
        {"no section: all of it is the head", "; only\n\nv=1\n", "", ""},
        {"NUL inside a line", "[a]\nx=1\0tail\n[b]\n"s, "", "\0tail\n[b]\n"s},
        {"NUL after dropped lines", "[a]\nx=1\n\n; c\n\0z"s, "\n; c\n", "\0z"s},
        {"NUL inside a dropped line", "[a]\nx=1\n; c\0zz"s, "; c", "\0zz"s},
        {"NUL at the start", "\0abc"s, "", "\0abc"s},
        {"char 26", "[a]\r\nx=1\r\n\x1a", "\x1a", ""},
        {"empty text", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TextArena arena;
        const IniReading r = ReadIni(c.text, arena);
        EXPECT_EQ(std::string(r.Trailing), c.trailing);
        EXPECT_EQ(std::string(r.Tail), c.tail);
    }
}

// The text before the first header (all of a file without one) is the
// file's head; only what follows a NUL stays at the end.
TEST(ReadIni, TextBeforeTheFirstHeaderIsTheHead) {
    struct Case {
        const char* what;
        std::string text;
        std::string head;
        std::string tail;
    };
    const Case cases[] = {
        {"lines before any header", "; only\n\nv=1\n", "; only\n\nv=1\n", ""},
        {"header with text after it", "; c\n[Main] ; old\nx=1", "; c\n[Main] ; old\nx=1", ""},
        {"NUL", "a=1\0junk"s, "a=1", "\0junk"s},
        {"comments before the first header", "; c\nv=1\n\n[a]\n", "; c\nv=1\n\n", ""},
        {"header first", "[a]\n; c\n", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TextArena arena;
        const IniReading r = ReadIni(c.text, arena);
        EXPECT_EQ(std::string(r.Head), c.head);
        EXPECT_EQ(std::string(r.Tail), c.tail);
    }
}

TEST(ReadIni, DroppedLinesAreAttachedToTheLineAfterThem) {
    TextArena arena;
    IniReading r = ReadIni(
        "; head\nVersion=1\n\n[a]\nx=1\n\n; c\n;; d\ny=2\nz=3\n\n[b]\n; e\nw\n[c]\n", arena);
    ASSERT_EQ(r.Sections.size(), 3u);
    EXPECT_EQ(std::string(r.Head), "; head\nVersion=1\n\n");
    EXPECT_EQ(std::string(r.Sections[0].HeaderLeading), "");
    ASSERT_EQ(r.Sections[0].LinesLeading.size(), 1u);
    EXPECT_EQ(r.Sections[0].LinesLeading[0].index, 1u);
    EXPECT_EQ(std::string(r.Sections[0].LinesLeading[0].bytes), "\n; c\n;; d\n");

    EXPECT_EQ(std::string(r.Sections[1].HeaderLeading), "\n");
    ASSERT_EQ(r.Sections[1].LinesLeading.size(), 1u);
    EXPECT_EQ(r.Sections[1].LinesLeading[0].index, 0u);
    EXPECT_EQ(std::string(r.Sections[1].LinesLeading[0].bytes), "; e\n");

    EXPECT_EQ(std::string(r.Sections[2].HeaderLeading), "");
    EXPECT_TRUE(r.Sections[2].LinesLeading.empty());
    EXPECT_EQ(std::string(r.Tail), "");
}

TEST(ReadIni, DroppedBytesKeepTheirOwnLineBreaks) {
    TextArena arena;
    IniReading r = ReadIni("[a]\r\n\r; c\nx=1\r\n\n;; end\r", arena);
    ASSERT_EQ(r.Sections.size(), 1u);
    ASSERT_EQ(r.Sections[0].LinesLeading.size(), 1u);
    EXPECT_EQ(std::string(r.Sections[0].LinesLeading[0].bytes), "\r; c\n");
    EXPECT_EQ(std::string(r.Trailing), "\n;; end\r");
}

TEST(ReadIni, LinesBeforeTheFirstHeaderGoToTheHead) {
    TextArena arena;
    IniReading r = ReadIni("[Main] ; old\r\n;Commented=1\r\nText\r\n[Main]\r\n", arena);
    ASSERT_EQ(r.Sections.size(), 1u);
    EXPECT_EQ(std::string(r.Head), "[Main] ; old\r\n;Commented=1\r\nText\r\n");
}

// The reading and what it dropped, put back together with the file's own
// line breaks, must give the file again when every kept line is already in
// the form the reading gives it.
TEST(ReadIni, KeptAndDroppedPiecesCoverTheWholeText) {
    const std::string text = "; top\n\n[a]\nx=1\n\n; c\ny=2\n[b]\n;; d\n[c]\n;k=1\n\n; end\n";
    TextArena arena;
    IniReading r = ReadIni(text, arena);
    std::string rebuilt(r.Head);
    for (const auto& s : r.Sections) {
        rebuilt += std::string(s.HeaderLeading) + std::string(s.Header) + "\n";
        std::size_t next = 0;
        for (std::size_t i = 0; i < s.Lines.size(); ++i) {
            if (next < s.LinesLeading.size() && s.LinesLeading[next].index == i) {
                rebuilt += s.LinesLeading[next++].bytes;
            }
            rebuilt += std::string(s.Lines[i]) + "\n";
        }
    }
    rebuilt += r.Trailing;
    EXPECT_EQ(rebuilt, text);
}

TEST(ReadIni, LongLineIsReadWhole) {
    const std::string value(4 * 1024 * 1024, 'v');
    TextArena arena;
    const std::string text = "[a]\r\nk = " + value + " \r\n";
    IniReading r = ReadIni(text, arena);
    ASSERT_EQ(r.Sections.size(), 1u);
    ASSERT_EQ(r.Sections[0].Lines.size(), 1u);
    EXPECT_EQ(r.Sections[0].Lines[0].size(), value.size() + 2);
    EXPECT_EQ(r.Sections[0].Lines[0].substr(0, 3), "k=v");
}

TEST(ReadIni, ManyLinesAndManySectionsOfOneNameInLinearTime) {
    constexpr int kSections = 100000;
    std::string text;
    text.reserve(kSections * 16);
    for (int i = 0; i < kSections; ++i) {
        text += (i % 2 == 0) ? "[Same]\n" : "[same]\n";
        text += "k" + std::to_string(i) + "=v\n";
    }
    auto start = std::chrono::steady_clock::now();
    TextArena arena;
    IniReading r = ReadIni(text, arena);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.Sections.size(), static_cast<std::size_t>(kSections));
    EXPECT_EQ(r.KeyCount, static_cast<std::size_t>(kSections));
    // Each section has its own single line, in order.
    for (int i : {0, 1, kSections / 2, kSections - 1}) {
        ASSERT_EQ(r.Sections[static_cast<std::size_t>(i)].Lines.size(), 1u);
        EXPECT_EQ(std::string(r.Sections[static_cast<std::size_t>(i)].Lines[0]),
                  "k" + std::to_string(i) + "=v");
    }
    // Comparing every name with every other would take minutes here.
    EXPECT_LT(seconds, 20.0);
}

// The scanner classes a line from a few of its bytes and finds its "=" eight
// bytes at a time; ReadText builds the text by the rules. On every line of
// up to six of the characters the rules look at, placed at every offset in
// the scanner's words, both must agree: the same lines kept, the same
// headers, and a line plain exactly when its text is the trimmed line; the
// key text built the short way is the text.
TEST(IniScanner, AgreesWithTheRulesOnEveryShortLine) {
    const std::string alphabet = " \t;[]=a";
    std::vector<std::string> lines = {""};
    for (std::size_t from = 0, to = 1, length = 1; length <= 6; ++length) {
        for (std::size_t i = from; i < to; ++i)
            for (char c : alphabet) lines.push_back(lines[i] + c);
        from = to;
        to = lines.size();
    }
    // Breaks of each kind, so that lines start at every offset.
    static constexpr std::string_view kBreaks[] = {"\n", "\r\n", "\r"};
    std::string text = "[s]\n";
    for (std::size_t i = 0; i < lines.size(); ++i) text += lines[i] + std::string(kBreaks[i % 3]);

    std::string scratch, wrong;
    auto expect = [&](bool same, const std::string& line, const char* what) {
        if (!same && wrong.size() < 400)
            wrong += what + (" " + ::testing::PrintToString(line)) + "\n";
    };
    IniScanner scanner(text);
    IniItem item;
    ASSERT_TRUE(scanner.Next(item));
    std::size_t i = 0;
    while (scanner.Next(item)) {
        while (i < lines.size() && ReadText(lines[i], scratch).empty()) ++i;
        ASSERT_LT(i, lines.size()) << "kept a line the rules drop";
        const std::string& line = lines[i++];
        const std::string text = std::string(ReadText(line, scratch));
        const std::string_view named =
            text.front() == ';' ? std::string_view(text).substr(1) : text;
        const bool header = named.size() >= 2 && named.front() == '[' && named.back() == ']';
        expect(item.bytes.line == line, line, "a kept line ends elsewhere:");
        expect(item.header == header, line, "header or not:");
        expect(item.plain == (text == Trim(line)), line, "plain or not:");
        std::string keyScratch;
        if (!header && !item.plain)
            expect(ReadKeyText(line, keyScratch) == text, line, "key text differs:");
    }
    for (; i < lines.size(); ++i)
        expect(ReadText(lines[i], scratch).empty(), lines[i], "not kept:");
    EXPECT_EQ(wrong, "");
}

TEST(Trim, RemovesCodesUpTo32FromBothEndsOnly) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"", ""},
        {"   ", ""},
        {"\t\v\f\r\n x \x1a\x01", "x"},
        {" a b ", "a b"},
        {"\xa0x\xa0", "\xa0x\xa0"},
        {"\x7f", "\x7f"},
        {"\x21", "\x21"},
        {"\0x\0"s, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(std::string(Trim(c.in)), c.out);
    }
}

TEST(Trim, IsBlankBoundaries) {
    EXPECT_TRUE(IsBlank('\0'));
    EXPECT_TRUE(IsBlank(' '));
    EXPECT_FALSE(IsBlank('!'));
    EXPECT_FALSE(IsBlank('\x7f'));
    EXPECT_FALSE(IsBlank('\xa0'));
    EXPECT_FALSE(IsBlank('\xff'));
}

}  // namespace
}  // namespace keyloft
