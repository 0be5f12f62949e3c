// The scan of INI text: where each line ends, its first "=" and whether any
// byte is 128 or above, found sixteen bytes at a time with SSE2, eight at a
// time in a word elsewhere, and a byte at a time for what is left. Built
// with KEYLOFT_PORTABLE_SCAN, only the byte loop is compiled, so that it is
// tested too. Core's own: only its sources (and its tests) include it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__) && !defined(KEYLOFT_PORTABLE_SCAN)
#define KEYLOFT_SCAN_SSE2 1
#include <emmintrin.h>
#endif
#if !defined(KEYLOFT_PORTABLE_SCAN)
#define KEYLOFT_SCAN_WORDS 1
#endif

#include "reading/IniReader.h"
#include "reading/LineRule.h"

namespace keyloft {

// The bytes a scan passed, or-ed: those read a word or a byte at a time,
// and the high bits of those read sixteen at a time.
struct ScannedBytes {
    static constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
    std::uint64_t word = 0;
    unsigned vector = 0;
    bool Ascii() const { return (word & kHigh) == 0 && vector == 0; }
};

#if defined(KEYLOFT_SCAN_SSE2)
// One bit for each byte of `v` that ends a line: CR, LF or NUL.
inline unsigned LineEndBits(__m128i v) {
    const __m128i ends = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                                   _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))),
                                      _mm_cmpeq_epi8(v, _mm_setzero_si128()));
    return static_cast<unsigned>(_mm_movemask_epi8(ends));
}
#endif

// The one kernel: the first CR, LF or NUL in `p`..`end`, or `end`. With
// `kMarks`, `eq` receives the first "=" before it (nullptr when none) and
// `seen` the bytes passed; without, both are left alone.
template <bool kMarks>
inline const char* ScanLine(const char* p, const char* end, const char*& eq, ScannedBytes& seen) {
    if constexpr (kMarks) eq = nullptr;
#if defined(KEYLOFT_SCAN_SSE2)
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const unsigned endBits = LineEndBits(v);
        if constexpr (kMarks) {
            seen.vector |= static_cast<unsigned>(_mm_movemask_epi8(v));
            if (eq == nullptr) {
                auto eqBits =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('='))));
                if (endBits != 0) eqBits &= (endBits & (0u - endBits)) - 1;  // before the end
                if (eqBits != 0) eq = p + std::countr_zero(eqBits);
            }
        }
        if (endBits != 0) return p + std::countr_zero(endBits);
        p += 16;
    }
#endif
#if defined(KEYLOFT_SCAN_WORDS)
    if constexpr (std::endian::native == std::endian::little) {
        constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
        while (end - p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, p, 8);
            // A high bit for each byte below 14 (CR, LF and NUL, but also tab
            // and other controls) and for each "=". Only the lowest mark of
            // each is sure to be one: later ones may come from a borrow, so
            // the bytes are looked at.
            std::uint64_t control = (w - kOnes * 14) & ~w & ScannedBytes::kHigh;
            const char* firstEq = nullptr;
            if constexpr (kMarks) {
                seen.word |= w;
                const std::uint64_t y = w ^ (kOnes * '=');
                const std::uint64_t equals =
                    eq == nullptr ? (y - kOnes) & ~y & ScannedBytes::kHigh : 0;
                if (equals != 0) firstEq = p + std::countr_zero(equals) / 8;
            }
            while (control != 0) {
                const char* const at = p + std::countr_zero(control) / 8;
                if (*at == '\n' || *at == '\r' || *at == '\0') {
                    if constexpr (kMarks)
                        if (firstEq != nullptr && firstEq < at) eq = firstEq;
                    return at;
                }
                control &= control - 1;
            }
            if constexpr (kMarks)
                if (firstEq != nullptr) eq = firstEq;
            p += 8;
        }
    }
#endif
    for (; p < end; ++p) {
        const char c = *p;
        if constexpr (kMarks) seen.word |= static_cast<unsigned char>(c);
        if (c == '\n' || c == '\r' || c == '\0') return p;
        if constexpr (kMarks)
            if (c == '=' && eq == nullptr) eq = p;
    }
    return p;
}

// FindLineEnd, inline for core's own loops.
inline const char* ScanLineEnd(const char* p, const char* end) {
    const char* eq = nullptr;
    ScannedBytes seen;
    return ScanLine<false>(p, end, eq, seen);
}

// The line break at `at`, where a line ends in a text that ends at `end`:
// CR LF, an LF, a lone CR, or none (a NUL, or the end of the text). The one
// place that tells a break; the values index the scanner's break counts.
enum LineBreakKind : unsigned char { kCRLF, kLF, kCR, kNoBreak };
inline LineBreakKind BreakAt(const char* at, const char* end) {
    if (at >= end) return kNoBreak;
    if (*at == '\n') return kLF;
    if (*at == '\r') return at + 1 < end && at[1] == '\n' ? kCRLF : kCR;
    return kNoBreak;
}

// The length of a break: 2 for CR LF, 1 for a lone CR or an LF, 0 for none.
inline std::size_t LengthOf(LineBreakKind kind) {
    return kind == kCRLF ? 2 : kind == kNoBreak ? 0 : 1;
}
inline std::size_t BreakLength(const char* at, const char* end) {
    return LengthOf(BreakAt(at, end));
}

// The line breaks in `p`..`end`, counted as the kernel ends lines: CR LF
// once, a lone CR or an LF once each, a NUL not at all. `afterCr`: the byte
// before `p` was a CR. For the memory budget's count of text that arrives
// in pieces, where finding each end in turn (one call of the kernel a
// line) would cost more than reading the bytes: all of them at once,
// sixteen at a time without a branch where SSE2 is compiled in, by memchr
// elsewhere, a byte at a time in the portable build.
inline std::size_t CountBreaks(const char* p, const char* end, bool afterCr) {
    std::size_t breaks = 0;
#if defined(KEYLOFT_SCAN_SSE2)
    // Each CR counts, each LF not right after a CR. Byte counters add 0 or
    // 1 a round, summed before they overflow.
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i lastCr = _mm_setzero_si128();
    if (afterCr) lastCr = _mm_slli_si128(_mm_set1_epi32(-1), 15);  // its last byte
    const char* const start = p;
    while (end - p >= 16) {
        __m128i counts = _mm_setzero_si128();
        for (int round = 0; round < 255 && end - p >= 16; ++round, p += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i isCr = _mm_cmpeq_epi8(v, cr);
            const __m128i isAfterCr =
                _mm_or_si128(_mm_slli_si128(isCr, 1), _mm_srli_si128(lastCr, 15));
            const __m128i loneLf = _mm_andnot_si128(isAfterCr, _mm_cmpeq_epi8(v, lf));
            counts = _mm_sub_epi8(_mm_sub_epi8(counts, isCr), loneLf);
            lastCr = isCr;
        }
        const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
        breaks += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                  static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
    }
    if (p != start) afterCr = p[-1] == '\r';
#endif
#if !defined(KEYLOFT_PORTABLE_SCAN)
    // What is left (all of it without SSE2): each CR, and each LF not right
    // after a CR, found by memchr, which has vector loops of its own.
    const auto find = [end](const char* from, char c) {
        return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
    };
    for (const char* at = p; (at = find(at, '\r')) != nullptr; ++at) ++breaks;
    for (const char* at = p; (at = find(at, '\n')) != nullptr; ++at)
        breaks += !(at == p ? afterCr : at[-1] == '\r');
#else
    for (; p < end; ++p) {
        const char c = *p;
        breaks += c == '\r' || (c == '\n' && !afterCr);
        afterCr = c == '\r';
    }
#endif
    return breaks;
}

// The one reading of INI text, a kept line at a time; ReadIni and the
// document's load go through it (a UTF-16 file's after its decoding). One
// pass over the bytes finds each line's end and its first "=" together.
// `text` must outlive it.
class IniScanner {
public:
    explicit IniScanner(std::string_view text);
    // The next kept line; false once the readable text is used up.
    bool Next(IniItem& item);
    // What the reading knows at its end; valid once Next returned false.
    IniReadingEnd End() const;
    // Whether every byte of the readable text was below 128; valid once
    // Next returned false.
    bool Ascii() const { return bytes_.Ascii(); }

private:
    void CountBreak(LineBreakKind kind) {
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
    ScannedBytes bytes_;  // the bytes the scan passed
    std::size_t sections_ = 0, keys_ = 0;
    std::size_t breaks_[3] = {0, 0, 0};
    int order_[3] = {0, 0, 0};
    int seen_ = 0;
};

inline bool IniScanner::Next(IniItem& item) {
    while (pos_ < stop_) {
        const char* const start = pos_;
        const char* eq;
        const char* const end = ScanLine<true>(start, limit_, eq, bytes_);
        const LineBreakKind kind = BreakAt(end, limit_);
        const char* const next = end + LengthOf(kind);
        // A case for each kind, so that each counts at an index it knows.
        switch (kind) {
            case kNoBreak:
                stop_ = end;  // the end of the text, or a NUL: nothing from it on is read
                break;
            case kCRLF:
                CountBreak(kCRLF);
                break;
            case kLF:
                CountBreak(kLF);
                break;
            case kCR:
                CountBreak(kCR);
                break;
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
