// Byte texts to UTF-8 and back, for showing node texts on screen.
#pragma once

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

}  // namespace keyloft
