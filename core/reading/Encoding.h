// Byte texts to UTF-8 and back, for showing node texts on screen.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace keyloft {

bool IsValidUtf8(std::string_view bytes);

// Windows-1252 to UTF-8. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1 controls of the same number,
// so every byte string survives a round trip.
std::string Cp1252ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1252. On a character the code page cannot hold, returns
// nothing and sets `bad` to that character (as UTF-8).
std::optional<std::string> Utf8ToCp1252(std::string_view utf8, std::string* bad = nullptr);

// --- UTF-16 files -------------------------------------------------------------
// A UTF-16 file is held as generalized UTF-8: every unit that is no half of a
// surrogate pair, an unpaired surrogate included, becomes the UTF-8 form of
// its number (an unpaired surrogate the three bytes ED A0..BF xx), a pair
// the four bytes of its character. Encoding that text again gives the file's
// units exactly, so lines nobody changed are written back byte for byte.

enum class Utf16Order { None, Little, Big };

// The order the byte-order mark at the start of `bytes` names (FF FE
// little-endian, FE FF big-endian), None without one.
Utf16Order Utf16OrderOf(std::string_view bytes);

// The most bytes DecodeUtf16 writes for `size` bytes of UTF-16: three for
// each unit.
constexpr std::size_t Utf16DecodedRoom(std::size_t size) { return size / 2 * 3; }

struct Utf16Decoded {
    std::size_t written = 0;   // bytes of generalized UTF-8 put in `out`
    std::size_t consumed = 0;  // bytes of `in` they come from
};

// Decodes the UTF-16 units of `in` (without the mark) into `out`, which has
// room for Utf16DecodedRoom(size) bytes. Stops before a unit U+0000 and
// before an odd last byte: `consumed` tells where.
Utf16Decoded DecodeUtf16(const char* in, std::size_t size, Utf16Order order, char* out);

// Appends generalized UTF-8 `text` to `out` as UTF-16 units in the given
// order. A byte that starts no sequence becomes U+FFFD; so does each byte of
// a sequence split between two calls, so texts are given whole lines at a
// time.
void EncodeUtf16(std::string_view text, Utf16Order order, std::string& out);

// The text of a file that starts with a UTF-16 byte-order mark, as
// DecodeUtf16 gives it, followed by one NUL byte when a unit U+0000 ended
// it; nothing of the rest.
std::string DecodeUtf16File(std::string_view file);

// Generalized UTF-8 as UTF-8: every unpaired surrogate and every byte that
// starts no sequence becomes U+FFFD. Valid UTF-8 comes back as it is.
std::string ValidUtf8(std::string_view text);

}  // namespace keyloft
