// How the text of an INI file becomes sections and their lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

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
    // A file without any section header keeps all its (dropped) text here, up
    // to a NUL: it stays in front of sections added later.
    std::string_view Head;
    // Raw bytes after the last kept line: trailing blank lines and comments,
    // and everything from a NUL byte on.
    std::string_view Tail;
    // The file began with a UTF-8 byte-order mark (not part of the first line).
    bool ByteOrderMark = false;
    // The first line break of the file ("\r\n", "\n" or "\r"), empty if none.
    std::string_view FirstLineBreak;
    std::size_t SectionCount = 0;
    std::size_t KeyCount = 0;
    // A NUL ended the last kept line's text, with no line break in between.
    bool NulCutsLastLine = false;
};

// The reading of a whole file as sections.
struct IniReading : IniReadingEnd {
    std::vector<IniSection> Sections;
};

// Receives a reading as it goes: each header, then each line of its section.
// `leading` holds the raw bytes dropped right before (line breaks included).
class IniReadHandler {
public:
    virtual ~IniReadHandler() = default;
    virtual void Section(std::string_view header, std::string_view name, std::string_view leading) = 0;
    virtual void Line(std::string_view text, std::string_view leading) = 0;
};

// The one reading of INI text; ReadIni and the document's load go through it.
IniReadingEnd ReadIniInto(std::string_view text, TextArena& arena, IniReadHandler& handler);

// Reads `text` by the INI rules. Never fails; any bytes give a result. Texts
// that differ from their bytes in the file (trimmed around "=", commented
// headers' names) are stored in `arena`.
IniReading ReadIni(std::string_view text, TextArena& arena);

// The sections of ReadIni alone.
std::vector<IniSection> ReadIniSections(std::string_view text, TextArena& arena);

// Blank for trimming: codes 0 to 32.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
std::string_view Trim(std::string_view text);

}  // namespace keyloft
