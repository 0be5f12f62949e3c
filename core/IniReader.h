// How the text of an INI file becomes sections and their lines.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "TextArena.h"

namespace keyloft {

// One section of a reading. Every view points into the text that was read or
// into the arena passed to the reader.
struct IniSection {
    // Text of the section node: "[name]", or ";[inner]" when commented.
    std::string_view Header;
    // "name" (trimmed), or ";inner" for a commented header.
    std::string_view Name;
    // Texts of the section's key nodes, in file order.
    std::vector<std::string_view> Lines;

    // Raw bytes dropped right before the header line (line breaks included).
    std::string_view HeaderLeading;
    // Raw bytes dropped right before Lines[index]; only runs that exist.
    struct Dropped {
        std::size_t index;
        std::string_view bytes;
    };
    std::vector<Dropped> LinesLeading;
};

// What a reading knows at its end besides the sections: what a faithful save
// needs.
struct IniReadingEnd {
    // Raw bytes before the first section header: the text a file begins
    // with, which stays first whatever happens to the sections. A file
    // without any header keeps all its readable text here.
    std::string_view Head;
    // Raw bytes the reading dropped after the last kept line (trailing blank
    // lines and comments): the end of the last section.
    std::string_view Trailing;
    // Everything from a NUL byte on: never read, always written last.
    std::string_view Tail;
    // The file began with a UTF-8 byte-order mark (not part of the first line).
    bool ByteOrderMark = false;
    // The line break most lines of the file end with ("\r\n", "\n" or "\r";
    // on a tie the one that comes first), empty if the file has none.
    std::string_view LineBreak;
    std::size_t SectionCount = 0;
    std::size_t KeyCount = 0;
};

// The reading of a whole file as sections.
struct IniReading : IniReadingEnd {
    std::vector<IniSection> Sections;
};

// Reads `text` by the INI rules. Never fails; any bytes give a result. Texts
// that differ from their bytes in the file (trimmed around "=", commented
// headers' names) are stored in `arena`.
IniReading ReadIni(std::string_view text, TextArena& arena);

// The sections of ReadIni alone.
std::vector<IniSection> ReadIniSections(std::string_view text, TextArena& arena);

// Whether the reading of the one line `line` (without its break, as it
// stands in a file) is a header or a section's line whose node text is
// `text`. Allocates nothing.
bool ReadsAs(std::string_view line, std::string_view text);

// The text of the node the reading makes of the one line `line`: a view of
// `line`, or built in `scratch`. Empty for a line the reading drops.
std::string_view ReadText(std::string_view line, std::string& scratch);

// ReadText of a line that reads as a section's line whose text is not the
// trimmed line ("key = value"), built in `scratch` without the general
// reading's steps.
std::string_view ReadKeyText(std::string_view line, std::string& scratch);

// Blank for trimming: codes 0 to 32.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
std::string_view Trim(std::string_view text);

// The first CR, LF or NUL in `p`..`end`, or `end`: where a line that starts
// at `p` ends.
#if defined(__SSE2__)
// One bit for each byte of `v` that ends a line: CR, LF or NUL.
inline unsigned LineEndBits(__m128i v) {
    const __m128i ends = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                                   _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                                      _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(ends));
}
#endif

inline const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
    while (end - p >= 16) {
        const unsigned bits = LineEndBits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (bits != 0) return p + std::countr_zero(bits);
        p += 16;
    }
#endif
    while (p < end && *p != '\n' && *p != '\r' && *p != '\0') ++p;
    return p;
}

// Where a kept line stands in the file. The three views are adjacent in
// the text that was read: `leading` (raw bytes dropped right before the line,
// line breaks included), `line` (the line as it stands, blanks included, up
// to its break) and `lineBreak` (its own break; empty for a last line without
// one, or one that a NUL ended).
struct IniLineBytes {
    std::string_view leading;
    std::string_view line;
    std::string_view lineBreak;
};

// What the reading makes of one line: nothing, a header or a section's line.
// `plain`: the node's text is the line without its outer blanks, so that a
// view of the line is the text and nothing needs building.
struct IniLineShape {
    enum Kind : unsigned char { Dropped, Header, Line };
    Kind kind = Dropped;
    bool plain = false;
};

// The shape of the line `a`..`b` (without its break) whose first "=" is
// `eq` (nullptr when it has none). Agrees with ReadText: a kept line is
// plain exactly when ReadText gives Trim(line).
IniLineShape ShapeOfLine(const char* a, const char* b, const char* eq);

// One kept line of a reading: a header or a line of the current section.
struct IniItem {
    IniLineBytes bytes;
    bool header = false;
    bool plain = false;  // as in IniLineShape
};

// The one reading of INI text, a kept line at a time; ReadIni and the
// document's load go through it. One pass over the bytes, sixteen (with
// SSE2) or eight at a time, finds each line's end and its first "="
// together. `text` must outlive it.
class IniScanner {
public:
    explicit IniScanner(std::string_view text);
    // The next kept line; false once the readable text is used up.
    bool Next(IniItem& item);
    // What the reading knows at its end; valid once Next returned false.
    IniReadingEnd End() const;
    // Whether every byte of the readable text was below 128; valid once
    // Next returned false.
    bool Ascii() const { return (high_ & kHigh) == 0 && highBits_ == 0; }

private:
    static constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
    static constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    enum Break { kCRLF, kLF, kCR };

    // The end of the line that starts at `p`: its break, a NUL or the end of
    // the text. `eq` receives the line's first "=".
    const char* LineEnd(const char* p, const char*& eq);
    void CountBreak(Break kind) {
        if (breaks_[kind]++ == 0) order_[seen_++] = kind;
    }

    const char* text_;       // after the byte-order mark
    const char* limit_;      // end of the text, tail included
    const char* pos_;        // start of the next line
    const char* stop_;       // end of the readable text, once a NUL is met
    const char* dropStart_;  // where the current run of dropped bytes began
    std::string_view head_;
    bool bom_ = false;
    bool inSection_ = false;
    std::uint64_t high_ = 0;  // the bytes read a word at a time, or-ed
    unsigned highBits_ = 0;   // the high bits of those read sixteen at a time
    std::size_t sections_ = 0, keys_ = 0;
    std::size_t breaks_[3] = {0, 0, 0};
    int order_[3] = {0, 0, 0};
    int seen_ = 0;
};

inline IniLineShape ShapeOfLine(const char* a, const char* b, const char* eq) {
    while (a < b && IsBlank(*a)) ++a;
    while (b > a && IsBlank(b[-1])) --b;
    if (a == b) return {};
    const bool commented = *a == ';';
    const char* const r = commented ? a + 1 : a;
    if (commented && (r == b || IsBlank(*r) || *r == ';')) return {};
    if (b - r >= 2 && *r == '[' && b[-1] == ']') {
        // The name between the brackets loses its outer blanks, a commented
        // header's only those at its end.
        const char* const in = r + 1;
        const char* const out = b - 1;
        return {IniLineShape::Header,
                in == out || (!IsBlank(out[-1]) && (commented || !IsBlank(*in)))};
    }
    // "key = value" reads as "key=value": the blanks around the first "="
    // go, unless a commented line starts with it.
    if (eq == nullptr || (commented && eq == r)) return {IniLineShape::Line, true};
    return {IniLineShape::Line, (eq == r || !IsBlank(eq[-1])) && (eq + 1 == b || !IsBlank(eq[1]))};
}

inline const char* IniScanner::LineEnd(const char* p, const char*& eq) {
    eq = nullptr;
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor has the instructions; the
    // words below finish what is left.
    while (limit_ - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned endBits = LineEndBits(v);
        highBits_ |= static_cast<unsigned>(_mm_movemask_epi8(v));
        if (eq == nullptr) {
            auto eqBits =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('='))));
            if (endBits != 0) eqBits &= (endBits & (0u - endBits)) - 1;  // before the end
            if (eqBits != 0) eq = p + std::countr_zero(eqBits);
        }
        if (endBits != 0) return p + std::countr_zero(endBits);
        p += 16;
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
        while (limit_ - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            high_ |= w;
            // A high bit for each byte below 14 (CR, LF and NUL, but also tab
            // and other controls) and for each "=". Only the lowest mark of
            // each is sure to be one: later ones may come from a borrow, so
            // the bytes are looked at.
            std::uint64_t control = (w - kOnes * 14) & ~w & kHigh;
            const std::uint64_t y = w ^ (kOnes * '=');
            const std::uint64_t equals = eq == nullptr ? (y - kOnes) & ~y & kHigh : 0;
            const char* const firstEq = equals != 0 ? p + std::countr_zero(equals) / 8 : nullptr;
            while (control != 0) {
                const char* const at = p + std::countr_zero(control) / 8;
                if (*at == '\n' || *at == '\r' || *at == '\0') {
                    if (firstEq != nullptr && firstEq < at) eq = firstEq;
                    return at;
                }
                control &= control - 1;
            }
            if (firstEq != nullptr) eq = firstEq;
            p += 8;
        }
    }
    for (; p < limit_; ++p) {
        const char c = *p;
        high_ |= static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r' || c == '\0') return p;
        if (c == '=' && eq == nullptr) eq = p;
    }
    return p;
}

inline bool IniScanner::Next(IniItem& item) {
    while (pos_ < stop_) {
        const char* const start = pos_;
        const char* eq;
        const char* const end = LineEnd(start, eq);
        // A line ends at LF, at CR LF, at a lone CR, at a NUL or at the end.
        const char* next = end;
        if (end == limit_) {
            stop_ = end;
        } else if (*end == '\n') {
            next = end + 1;
            CountBreak(kLF);
        } else if (*end == '\r') {
            const bool lf = end + 1 < limit_ && end[1] == '\n';
            next = end + (lf ? 2 : 1);
            CountBreak(lf ? kCRLF : kCR);
        } else {
            stop_ = end;  // a NUL: nothing from it on is read
        }
        pos_ = next;

        const IniLineShape shape = ShapeOfLine(start, end, eq);
        if (shape.kind == IniLineShape::Dropped ||
            (shape.kind == IniLineShape::Line && !inSection_))
            continue;
        std::string_view leading(dropStart_, static_cast<std::size_t>(start - dropStart_));
        if (!inSection_) {
            head_ = leading;
            leading = {};
        }
        item.bytes = {leading,
                      {start, static_cast<std::size_t>(end - start)},
                      {end, static_cast<std::size_t>(next - end)}};
        item.header = shape.kind == IniLineShape::Header;
        item.plain = shape.plain;
        inSection_ = true;
        ++(item.header ? sections_ : keys_);
        dropStart_ = next;
        return true;
    }
    return false;
}

}  // namespace keyloft
