// The printer text file's layout, checked against a fake font of fixed widths.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "print/PrinterLayout.h"

namespace keyloft {
namespace {

// Every character is 10 units wide and 20 high, except '.' (1 wide, to put
// the pen anywhere) and 'T' (30 high, to make a tall line).
constexpr int kCharWidth = 10;
constexpr int kCharHeight = 20;
constexpr int kLine = kCharHeight + 2;

struct Drawn {
    int page;
    int x;
    int y;
    std::string text;
    bool operator==(const Drawn&) const = default;
};

void PrintTo(const Drawn& d, std::ostream* os) {
    *os << "{page " << d.page << ", " << d.x << ", " << d.y << ", \"" << d.text << "\"}";
}

class FakeSurface : public PrintSurface {
public:
    FakeSurface(int width, int height, TextEncoding encoding)
        : width_(width), height_(height), encoding_(encoding) {}

    int PageWidth() const override { return width_; }
    int PageHeight() const override { return height_; }
    int AverageCharWidth() const override { return kCharWidth; }
    int CharHeight() const override { return kCharHeight; }

    Extent Measure(std::string_view run) const override {
        ExpectWholeCharacters(run);
        Extent e{0, kCharHeight};
        for (char c : run) {
            const bool continuation = (static_cast<unsigned char>(c) & 0xC0) == 0x80;
            if (encoding_ == TextEncoding::Utf8 && continuation) continue;
            e.width += c == '.' ? 1 : kCharWidth;
            if (c == 'T') e.height = 30;
        }
        return e;
    }
    void Draw(int x, int y, std::string_view run) override {
        ExpectWholeCharacters(run);
        drawn.push_back({page, x, y, std::string(run)});
    }
    void NewPage() override { ++page; }

    std::vector<Drawn> drawn;
    int page = 0;

private:
    // A UTF-8 run handed to the font must not cut a character at either end.
    void ExpectWholeCharacters(std::string_view run) const {
        if (encoding_ != TextEncoding::Utf8 || run.empty()) return;
        const auto first = static_cast<unsigned char>(run.front());
        EXPECT_NE(first & 0xC0, 0x80) << "run starts inside a character";
        std::size_t back = 0;
        while (back < run.size() &&
               (static_cast<unsigned char>(run[run.size() - 1 - back]) & 0xC0) == 0x80) {
            ++back;
        }
        if (back == run.size()) return;
        const auto lead = static_cast<unsigned char>(run[run.size() - 1 - back]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        EXPECT_EQ(length, back + 1) << "run ends inside a character";
    }

    int width_;
    int height_;
    TextEncoding encoding_;
};

std::vector<Drawn> Layout(std::string_view text, int width = 1000, int height = 1000,
                          TextEncoding encoding = TextEncoding::Utf8) {
    FakeSurface surface(width, height, encoding);
    PrinterLayout layout(surface, encoding);
    layout.Write(text);
    layout.Close();
    return surface.drawn;
}

struct Case {
    const char* name;
    std::string text;
    int width;
    TextEncoding encoding;
    std::vector<Drawn> expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class LayoutCase : public testing::TestWithParam<Case> {};

TEST_P(LayoutCase, DrawsRunsWhereExpected) {
    const Case& c = GetParam();
    EXPECT_EQ(Layout(c.text, c.width, 1000, c.encoding), c.expected);
}

const std::string e2 = "\xC3\xA9";          // U+00E9, two bytes
const std::string e3 = "\xE2\x82\xAC";      // U+20AC, three bytes
const std::string e4 = "\xF0\x9F\x98\x80";  // U+1F600, four bytes

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const auto U = TextEncoding::Utf8;
const auto B = TextEncoding::SingleByte;

// clang-format off

INSTANTIATE_TEST_SUITE_P(
    Lines, LayoutCase,
    testing::Values(
        Case{"indented_lines_advance_by_height_plus_two", "root\n  [a]\n    x=1\n", 1000, U,
             {{0, 0, 0, "root"}, {0, 0, kLine, "  [a]"}, {0, 0, 2 * kLine, "    x=1"}}},
        Case{"empty_lines_advance_by_the_font_height", "\n\nx", 1000, U,
             {{0, 0, 2 * kCharHeight, "x"}}},
        Case{"tall_run_later_in_the_line_sets_its_height", "ab\tT\nc", 1000, U,
             {{0, 0, 0, "ab"}, {0, 80, 0, "T"}, {0, 0, 32, "c"}}},
        Case{"lower_run_later_keeps_the_tall_height", "T\tab\nc", 1000, U,
             {{0, 0, 0, "T"}, {0, 80, 0, "ab"}, {0, 0, 32, "c"}}},
        Case{"carriage_return_leaves_the_pen", "ab\rcd\n\rx", 1000, U,
             {{0, 0, 0, "ab"}, {0, 20, 0, "cd"}, {0, 0, kLine, "x"}}},
        Case{"form_feed_starts_a_page_at_the_top", "ab\fcd\ne", 1000, U,
             {{0, 0, 0, "ab"}, {1, 0, 0, "cd"}, {1, 0, kLine, "e"}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Wrapping, LayoutCase,
    testing::Values(
        Case{"ascii_continues_at_the_left_edge", "abcdefghijklmnopqrstuvwxy", 100, U,
             {{0, 0, 0, "abcdefghij"}, {0, 0, kLine, "klmnopqrst"}, {0, 0, 2 * kLine, "uvwxy"}}},
        Case{"exact_fit_stays_on_one_line", "abcdefghij\nk", 100, U,
             {{0, 0, 0, "abcdefghij"}, {0, 0, kLine, "k"}}},
        Case{"wraps_from_where_the_pen_stands", "abc\tdefghijk", 100, U,
             {{0, 0, 0, "abc"}, {0, 80, 0, "de"}, {0, 0, kLine, "fghijk"}}},
        Case{"two_byte_characters_stay_whole", Repeat(e2, 12), 100, U,
             {{0, 0, 0, Repeat(e2, 10)}, {0, 0, kLine, Repeat(e2, 2)}}},
        Case{"mixed_lengths_stay_whole", Repeat("a" + e2 + e3 + e4, 2), 35, U,
             {{0, 0, 0, "a" + e2 + e3}, {0, 0, kLine, e4 + "a" + e2}, {0, 0, 2 * kLine, e3 + e4}}},
        Case{"single_byte_text_wraps_at_any_byte", "a" + std::string(12, '\xE9'), 100, B,
             {{0, 0, 0, "a" + std::string(9, '\xE9')}, {0, 0, kLine, std::string(3, '\xE9')}}},
        Case{"page_narrower_than_a_character_takes_one_per_line", "a" + e3 + "b", 5, U,
             {{0, 0, 0, "a"}, {0, 0, kLine, e3}, {0, 0, 2 * kLine, "b"}}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Tabs, LayoutCase,
    testing::Values(
        // Stops every 8 average widths: the first multiple greater than x + 1.
        Case{"from_0", "\tX", 1000, U, {{0, 80, 0, "X"}}},
        Case{"from_1", ".\tX", 1000, U, {{0, 0, 0, "."}, {0, 80, 0, "X"}}},
        Case{"from_78", std::string(78, '.') + "\tX", 1000, U,
             {{0, 0, 0, std::string(78, '.')}, {0, 80, 0, "X"}}},
        Case{"from_79", std::string(79, '.') + "\tX", 1000, U,
             {{0, 0, 0, std::string(79, '.')}, {0, 160, 0, "X"}}},
        Case{"from_80", std::string(80, '.') + "\tX", 1000, U,
             {{0, 0, 0, std::string(80, '.')}, {0, 160, 0, "X"}}},
        Case{"from_158", std::string(15, 'a') + std::string(8, '.') + "\tX", 1000, U,
             {{0, 0, 0, std::string(15, 'a') + std::string(8, '.')}, {0, 160, 0, "X"}}},
        Case{"from_159", std::string(15, 'a') + std::string(9, '.') + "\tX", 1000, U,
             {{0, 0, 0, std::string(15, 'a') + std::string(9, '.')}, {0, 240, 0, "X"}}},
        Case{"two_tabs", "\t\tX", 1000, U, {{0, 160, 0, "X"}}},
        Case{"stop_inside_the_page_keeps_the_line", "abcdefghi\tX", 170, U,
             {{0, 0, 0, "abcdefghi"}, {0, 160, 0, "X"}}},
        Case{"stop_beyond_the_page_advances_a_line", "abcdefghi\tX", 159, U,
             {{0, 0, 0, "abcdefghi"}, {0, 0, kLine, "X"}}},
        // The tab's own line advance, then the line end's on an empty line.
        Case{"stop_beyond_the_page_then_a_line_end", "abcdefghi\t\nX", 159, U,
             {{0, 0, 0, "abcdefghi"}, {0, 0, kLine + kCharHeight, "X"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// clang-format on

// Lines per page follow from the page height and the line height: line k is
// drawn at k * 22 while that stays within the page less two lines.
class PageBreaks : public testing::TestWithParam<int> {};

TEST_P(PageBreaks, LinesFillEachPageThenStartAtTheTop) {
    const int height = GetParam();
    const int perPage = height / kLine - 1;
    const int lines = 3 * perPage + 1;

    FakeSurface surface(1000, height, U);
    PrinterLayout layout(surface, U);
    for (int i = 0; i < lines; ++i) {
        layout.Write("x" + std::to_string(i));
        layout.WriteLineEnd();
    }
    layout.Close();

    ASSERT_EQ(surface.drawn.size(), static_cast<std::size_t>(lines));
    for (int i = 0; i < lines; ++i) {
        const Drawn expected{i / perPage, 0, (i % perPage) * kLine, "x" + std::to_string(i)};
        EXPECT_EQ(surface.drawn[static_cast<std::size_t>(i)], expected) << "line " << i;
        const Drawn& d = surface.drawn[static_cast<std::size_t>(i)];
        EXPECT_LE(d.y + kLine, height) << "line " << i << " runs off the page";
    }
    // The page after the last full one holds the last line.
    EXPECT_EQ(surface.page, 3);
}

INSTANTIATE_TEST_SUITE_P(Heights, PageBreaks, testing::Values(200, 219, 220, 221, 1000, 6600));

// An empty line has no line height, so it only breaks past the page's end.
TEST(PrinterLayout, EmptyLinesBreakOnlyPastThePageHeight) {
    EXPECT_EQ(Layout(std::string(10, '\n') + "x", 1000, 200),
              (std::vector<Drawn>{{0, 0, 200, "x"}}));
    EXPECT_EQ(Layout(std::string(11, '\n') + "x", 1000, 200), (std::vector<Drawn>{{1, 0, 0, "x"}}));
}

TEST(PrinterLayout, FullBufferIsDrawnAtOnceAndTheLineGoesOn) {
    FakeSurface surface(10000, 1000, U);
    PrinterLayout layout(surface, U);
    layout.Write(std::string(127, 'a'));
    EXPECT_TRUE(surface.drawn.empty());
    layout.Write("b");
    ASSERT_EQ(surface.drawn.size(), 1u);
    EXPECT_EQ(surface.drawn[0], (Drawn{0, 0, 0, std::string(127, 'a') + "b"}));
    layout.Write("cd");
    EXPECT_EQ(surface.drawn.size(), 1u);
    layout.Close();
    ASSERT_EQ(surface.drawn.size(), 2u);
    EXPECT_EQ(surface.drawn[1], (Drawn{0, 1280, 0, "cd"}));
}

// Writing a line whole or byte by byte gives the same drawing: only the
// buffer decides where a run is cut.
TEST(PrinterLayout, LongLineWrapsAcrossBufferLoads) {
    const std::string line(300, 'a');
    const std::vector<Drawn> expected{
        {0, 0, 0, std::string(100, 'a')},         // first load, 128 bytes
        {0, 0, kLine, std::string(28, 'a')},      //
        {0, 280, kLine, std::string(72, 'a')},    // second load goes on at x 280
        {0, 0, 2 * kLine, std::string(56, 'a')},  //
        {0, 560, 2 * kLine, std::string(44, 'a')},
    };
    EXPECT_EQ(Layout(line), expected);

    FakeSurface surface(1000, 1000, U);
    PrinterLayout layout(surface, U);
    for (char c : line) layout.Write(std::string_view(&c, 1));
    layout.Close();
    EXPECT_EQ(surface.drawn, expected);
}

TEST(PrinterLayout, CharacterAtTheBufferEndIsNotSplit) {
    for (const std::string& wide : {e2, e3, e4}) {
        for (int lead = 124; lead <= 127; ++lead) {
            SCOPED_TRACE(testing::Message() << wide.size() << "-byte character after " << lead);
            const std::string as(static_cast<std::size_t>(lead), 'a');
            const int end = lead + static_cast<int>(wide.size());
            std::vector<Drawn> expected;
            if (end + 1 <= 128) {
                expected = {{0, 0, 0, as + wide + "b"}};
            } else if (end == 128) {
                expected = {{0, 0, 0, as + wide}, {0, (lead + 1) * kCharWidth, 0, "b"}};
            } else {
                expected = {{0, 0, 0, as}, {0, lead * kCharWidth, 0, wide + "b"}};
            }
            EXPECT_EQ(Layout(as + wide + "b", 10000), expected);
        }
    }
}

TEST(PrinterLayout, SingleByteTextIsCutAtTheBufferEnd) {
    const std::string text = std::string(127, 'a') + e3;
    const std::vector<Drawn> drawn = Layout(text, 10000, 1000, B);
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(drawn[0], (Drawn{0, 0, 0, std::string(127, 'a') + e3.substr(0, 1)}));
    EXPECT_EQ(drawn[1], (Drawn{0, 1280, 0, e3.substr(1)}));
}

TEST(PrinterLayout, CloseDrawsWhatIsBufferedAndLeavesThePenAfterIt) {
    FakeSurface surface(1000, 1000, U);
    PrinterLayout layout(surface, U);
    layout.Write("ab\ncd");
    EXPECT_TRUE(surface.drawn.empty());
    layout.Close();
    EXPECT_EQ(surface.drawn, (std::vector<Drawn>{{0, 0, 0, "ab"}, {0, 0, kLine, "cd"}}));
    EXPECT_EQ(layout.PenX(), 20);
    EXPECT_EQ(layout.PenY(), kLine);
    EXPECT_EQ(layout.LineHeight(), kLine);
    EXPECT_EQ(surface.page, 0);
}

}  // namespace
}  // namespace keyloft
