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

// Receives a reading as it goes: each header, then each line of its section.
class IniReadHandler {
public:
    virtual ~IniReadHandler() = default;
    virtual void Section(std::string_view header, std::string_view name,
                         const IniLineBytes& bytes) = 0;
    virtual void Line(std::string_view text, const IniLineBytes& bytes) = 0;
};

// The one reading of INI text; ReadIni and the document's load go through it.
IniReadingEnd ReadIniInto(std::string_view text, TextArena& arena, IniReadHandler& handler);

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

// Blank for trimming: codes 0 to 32.
constexpr bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
std::string_view Trim(std::string_view text);

}  // namespace keyloft
