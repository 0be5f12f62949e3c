// UTF-8 validity and the Windows-1252 code page.
#include "reading/Encoding.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace keyloft {

namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of the code page equals
// Latin-1. The undefined bytes keep their C1 code point.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Length of the valid UTF-8 sequence at s (at most `left` bytes), 0 if none;
// with `surrogates`, the three bytes of a surrogate count as one.
std::size_t SequenceLength(const unsigned char* s, std::size_t left, bool surrogates = false) {
    const unsigned char c = s[0];
    if (c < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;  // overlong
        if (c == 0xED && !surrogates) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;  // overlong
        if (c == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (left < len) return 0;
    if (s[1] < lo || s[1] > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if (s[i] < 0x80 || s[i] > 0xBF) return 0;
    }
    return len;
}

char32_t Decode(const unsigned char* s, std::size_t len) {
    switch (len) {
        case 1:
            return s[0];
        case 2:
            return (char32_t(s[0] & 0x1F) << 6) | (s[1] & 0x3F);
        case 3:
            return (char32_t(s[0] & 0x0F) << 12) | (char32_t(s[1] & 0x3F) << 6) | (s[2] & 0x3F);
        default:
            return (char32_t(s[0] & 0x07) << 18) | (char32_t(s[1] & 0x3F) << 12) |
                   (char32_t(s[2] & 0x3F) << 6) | (s[3] & 0x3F);
    }
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        // Skip ASCII eight bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        const std::size_t len = SequenceLength(s + i, n - i);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else if (c < 0xA0) {
            AppendUtf8(out, kHigh[c - 0x80]);
        } else {
            AppendUtf8(out, c);
        }
    }
    return out;
}

std::optional<std::string> Utf8ToCp1252(std::string_view utf8, std::string* bad) {
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t len = SequenceLength(s + i, utf8.size() - i);
        if (len == 0) {
            if (bad) bad->assign(1, utf8[i]);
            return std::nullopt;
        }
        const char32_t cp = Decode(s + i, len);
        int byte = -1;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            byte = static_cast<int>(cp);
        } else {
            for (std::size_t k = 0; k < kHigh.size(); ++k) {
                if (kHigh[k] == cp) byte = static_cast<int>(0x80 + k);
            }
        }
        if (byte < 0) {
            if (bad) bad->assign(utf8.substr(i, len));
            return std::nullopt;
        }
        out.push_back(static_cast<char>(byte));
        i += len;
    }
    return out;
}

Utf16Order Utf16OrderOf(std::string_view bytes) {
    if (bytes.size() < 2) return Utf16Order::None;
    const auto a = static_cast<unsigned char>(bytes[0]);
    const auto b = static_cast<unsigned char>(bytes[1]);
    if (a == 0xFF && b == 0xFE) return Utf16Order::Little;
    if (a == 0xFE && b == 0xFF) return Utf16Order::Big;
    return Utf16Order::None;
}

Utf16Decoded DecodeUtf16(const char* in, std::size_t size, Utf16Order order, char* out) {
    const auto* s = reinterpret_cast<const unsigned char*>(in);
    const bool big = order == Utf16Order::Big;
    const std::size_t units = size / 2;
    auto unitAt = [&](std::size_t i) -> char32_t {
        return big ? (char32_t(s[2 * i]) << 8) | s[2 * i + 1]
                   : (char32_t(s[2 * i + 1]) << 8) | s[2 * i];
    };
    char* o = out;
    std::size_t i = 0;
    while (i < units) {
        if constexpr (std::endian::native == std::endian::little) {
            // Four ASCII units at a time: each below 0x80 and none zero.
            const std::uint64_t notAscii = big ? 0x80FF80FF80FF80FFULL : 0xFF80FF80FF80FF80ULL;
            while (units - i >= 4) {
                std::uint64_t w;
                std::memcpy(&w, s + 2 * i, 8);
                const std::uint64_t zero = (w - 0x0001000100010001ULL) & ~w & 0x8000800080008000ULL;
                if ((w & notAscii) != 0 || zero != 0) break;
                if (big) w >>= 8;
                o[0] = static_cast<char>(w);
                o[1] = static_cast<char>(w >> 16);
                o[2] = static_cast<char>(w >> 32);
                o[3] = static_cast<char>(w >> 48);
                o += 4;
                i += 4;
            }
            if (i == units) break;
        }
        const char32_t u = unitAt(i);
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const char32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low < 0xE000) {
                const char32_t cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                *o++ = static_cast<char>(0xF0 | (cp >> 18));
                *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
                *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
                *o++ = static_cast<char>(0x80 | (cp & 0x3F));
                i += 2;
                continue;
            }
        }
        if (u < 0x80) {
            *o++ = static_cast<char>(u);
        } else if (u < 0x800) {
            *o++ = static_cast<char>(0xC0 | (u >> 6));
            *o++ = static_cast<char>(0x80 | (u & 0x3F));
        } else {
            *o++ = static_cast<char>(0xE0 | (u >> 12));
            *o++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (u & 0x3F));
        }
        ++i;
    }
    return {static_cast<std::size_t>(o - out), 2 * i};
}

namespace {

void AppendUnit(char32_t unit, bool big, std::string& out) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    out.push_back(big ? hi : lo);
    out.push_back(big ? lo : hi);
}

}  // namespace

void EncodeUtf16(std::string_view text, Utf16Order order, std::string& out) {
    const bool big = order == Utf16Order::Big;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    out.reserve(out.size() + 2 * n);
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            // A run of ASCII, widened in place.
            std::size_t end = i;
            while (end < n && s[end] < 0x80) ++end;
            const std::size_t at = out.size();
            out.resize(at + 2 * (end - i));
            char* o = out.data() + at + (big ? 1 : 0);
            for (; i < end; ++i, o += 2) {
                o[0] = static_cast<char>(s[i]);
                o[big ? -1 : 1] = '\0';
            }
            continue;
        }
        const std::size_t len = SequenceLength(s + i, n - i, true);
        if (len == 0) {
            AppendUnit(0xFFFD, big, out);
            ++i;
            continue;
        }
        const char32_t cp = Decode(s + i, len);
        if (cp < 0x10000) {
            AppendUnit(cp, big, out);
        } else {
            AppendUnit(0xD800 + ((cp - 0x10000) >> 10), big, out);
            AppendUnit(0xDC00 + ((cp - 0x10000) & 0x3FF), big, out);
        }
        i += len;
    }
}

std::string DecodeUtf16File(std::string_view file) {
    const Utf16Order order = Utf16OrderOf(file);
    if (order == Utf16Order::None) return {};
    file.remove_prefix(2);
    std::string text(Utf16DecodedRoom(file.size()) + 1, '\0');
    const Utf16Decoded decoded = DecodeUtf16(file.data(), file.size(), order, text.data());
    const bool nul = file.size() - decoded.consumed >= 2;
    text.resize(decoded.written + (nul ? 1 : 0));
    return text;
}

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = SequenceLength(s + i, text.size() - i);
        if (len != 0) {
            out.append(text.substr(i, len));
            i += len;
            continue;
        }
        const std::size_t surrogate = SequenceLength(s + i, text.size() - i, true);
        out.append("\xEF\xBF\xBD");
        i += surrogate == 0 ? 1 : surrogate;
    }
    return out;
}

}  // namespace keyloft
