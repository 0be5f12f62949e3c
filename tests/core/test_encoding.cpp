// Byte texts shown as UTF-8: validity, and the Windows-1252 round trip.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "reading/Encoding.h"

namespace keyloft {
namespace {

TEST(IsValidUtf8, Table) {
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
    };
    const Case cases[] = {
        {"empty", "", true},
        {"ASCII with NUL", std::string("a\0b", 3), true},
        {"two bytes", "\xc3\xa9", true},
        {"three bytes", "\xe2\x82\xac", true},
        {"four bytes", "\xf0\x9f\x98\x80", true},
        {"highest code point", "\xf4\x8f\xbf\xbf", true},
        {"last before the surrogates", "\xed\x9f\xbf", true},
        {"first after the surrogates", "\xee\x80\x80", true},
        {"lowest two-byte", "\xc2\x80", true},
        {"lowest three-byte", "\xe0\xa0\x80", true},
        {"lowest four-byte", "\xf0\x90\x80\x80", true},
        {"overlong NUL", "\xc0\x80", false},
        {"overlong two-byte", "\xc1\xbf", false},
        {"overlong three-byte", "\xe0\x9f\xbf", false},
        {"overlong four-byte", "\xf0\x8f\xbf\xbf", false},
        {"high surrogate", "\xed\xa0\x80", false},
        {"low surrogate", "\xed\xbf\xbf", false},
        {"above the highest code point", "\xf4\x90\x80\x80", false},
        {"lead byte F5", "\xf5\x80\x80\x80", false},
        {"byte FF", "\xff", false},
        {"byte FE", "\xfe", false},
        {"lone continuation", "\x80", false},
        {"continuation after ASCII", "a\xbf", false},
        {"truncated two-byte", "\xc3", false},
        {"truncated three-byte", "\xe2\x82", false},
        {"truncated four-byte", "\xf0\x9f\x98", false},
        {"broken by ASCII",
         "\xc3"
         "A",
         false},
        {"broken in the middle",
         "\xe2\x82"
         "A",
         false},
        {"Latin-1 byte", "caf\xe9", false},
        {"valid then invalid", "\xc3\xa9\xe9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
    }
}

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_TRUE(IsValidUtf8(utf8));
    std::string bad = "untouched";
    std::optional<std::string> back = Utf8ToCp1252(utf8, &bad);
    ASSERT_TRUE(back.has_value()) << "refused " << bad;
    EXPECT_EQ(*back, all);
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(one)), one) << b;
    }
}

TEST(Cp1252, KnownCharacters) {
    struct Case {
        std::string byte;
        std::string utf8;
    };
    const Case cases[] = {
        {"A", "A"},
        {"\x80", "\xe2\x82\xac"},  // euro sign
        {"\x81", "\xc2\x81"},      // undefined: the C1 control of the same number
        {"\x8d", "\xc2\x8d"},
        {"\x8f", "\xc2\x8f"},
        {"\x90", "\xc2\x90"},
        {"\x9d", "\xc2\x9d"},
        {"\x8a", "\xc5\xa0"},      // S with caron
        {"\x93", "\xe2\x80\x9c"},  // left double quotation mark
        {"\x99", "\xe2\x84\xa2"},  // trade mark sign
        {"\x9f", "\xc5\xb8"},      // Y with diaeresis
        {"\xa0", "\xc2\xa0"},      // no-break space
        {"\xe9", "\xc3\xa9"},
        {"\xff", "\xc3\xbf"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(static_cast<unsigned char>(c.byte[0])));
        EXPECT_EQ(Cp1252ToUtf8(c.byte), c.utf8);
        EXPECT_EQ(Utf8ToCp1252(c.utf8), c.byte);
    }
}

TEST(Utf8ToCp1252, RefusesCharactersOutsideTheCodePage) {
    struct Case {
        std::string utf8;
        std::string bad;
    };
    const Case cases[] = {
        {"\xce\xa9", "\xce\xa9"},  // Greek capital omega
        {"a\xe4\xb8\xad"
         "b",
         "\xe4\xb8\xad"},                             // a CJK ideograph
        {"ok \xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},  // an emoji
        {"\xc2\x80", "\xc2\x80"},                     // U+0080: 0x80 is the euro sign
        {"\xc2\x9f", "\xc2\x9f"},                     // U+009F: 0x9F is Y with diaeresis
        {"\xc5\x81", "\xc5\x81"},                     // L with stroke (in 1250, not 1252)
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        std::string bad;
        EXPECT_EQ(Utf8ToCp1252(c.utf8, &bad), std::nullopt);
        EXPECT_EQ(bad, c.bad);
        EXPECT_EQ(Utf8ToCp1252(c.utf8), std::nullopt);
    }
}

// Every unit after every unit, in both orders: decoding then encoding gives
// the bytes back (a high surrogate before a low one is a pair, anything else
// a unit of its own), and U+0000 or an odd last byte ends the text.
TEST(Utf16, EveryUnitPairDecodesAndEncodesBack) {
    for (const Utf16Order order : {Utf16Order::Little, Utf16Order::Big}) {
        const bool big = order == Utf16Order::Big;
        std::string bytes;
        for (std::uint32_t u = 1; u <= 0xFFFF; ++u) {
            for (const std::uint32_t next : {u, 0xD800u, 0xDBFFu, 0xDC00u, 0xDFFFu, 0x41u}) {
                for (const std::uint32_t unit : {u, next}) {
                    bytes.push_back(static_cast<char>(big ? unit >> 8 : unit & 0xFF));
                    bytes.push_back(static_cast<char>(big ? unit & 0xFF : unit >> 8));
                }
            }
        }
        std::string text(Utf16DecodedRoom(bytes.size()), '\0');
        const Utf16Decoded decoded = DecodeUtf16(bytes.data(), bytes.size(), order, text.data());
        ASSERT_EQ(decoded.consumed, bytes.size());
        text.resize(decoded.written);
        std::string back;
        EncodeUtf16(text, order, back);
        EXPECT_EQ(back, bytes) << (big ? "big" : "little");
        // The units without their surrogates are valid UTF-8.
        EXPECT_FALSE(IsValidUtf8(text));
        EXPECT_TRUE(IsValidUtf8(ValidUtf8(text)));

        const std::string nul = big ? std::string("\0A\0\0\0B", 6) : std::string("A\0\0\0B\0", 6);
        std::string out(9, '\0');
        const Utf16Decoded cut = DecodeUtf16(nul.data(), nul.size(), order, out.data());
        EXPECT_EQ(out.substr(0, cut.written), "A");
        EXPECT_EQ(cut.consumed, 2u);
        const Utf16Decoded odd = DecodeUtf16(nul.data(), 1, order, out.data());
        EXPECT_EQ(odd.consumed, 0u);
    }
}

TEST(Utf16, UnpairedSurrogatesShowAsOneReplacementEach) {
    EXPECT_EQ(ValidUtf8("a\xED\xA0\x80\xED\xBF\xBF"
                        "b\xFF\xC3\xA9"),
              "a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b\xEF\xBF\xBD\xC3\xA9");
    EXPECT_EQ(Utf16OrderOf("\xFF\xFE"), Utf16Order::Little);
    EXPECT_EQ(Utf16OrderOf("\xFE\xFF["), Utf16Order::Big);
    EXPECT_EQ(Utf16OrderOf("\xEF\xBB\xBF"), Utf16Order::None);
    EXPECT_EQ(Utf16OrderOf("\xFF"), Utf16Order::None);
}

}  // namespace
}  // namespace keyloft
