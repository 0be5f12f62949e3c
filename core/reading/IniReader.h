// How the text of an INI file becomes sections and their lines: what the
// reading gives. How it finds them is core's own (LineRule.h, LineScan.h).
//
// The rule of one line, its outer blanks (codes 0 to 32) aside:
// - An empty line is dropped, and so is a comment: ";" alone, or followed
//   by a blank or by another ";".
// - "[" name "]" (at least the two brackets), or the same after one ";", is a
//   header. The node's text is the line with the name between the brackets
//   trimmed (a commented header's name only at its end); the section's name
//   is the ";" and that name.
// - Any other line is a section's line, dropped before the first header.
//   Its node's text is the line itself, except that the blanks around its
//   first "=" go ("key = value" reads as "key=value"), unless a commented
//   line starts with the "=".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "document/TextArena.h"

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
// at `p` ends. A line ends at LF, at CR LF, at a lone CR, at a NUL (nothing
// from it on is read) or at the end of the text.
const char* FindLineEnd(const char* p, const char* end);

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

// One kept line of a reading: a header or a line of the current section.
struct IniItem {
    IniLineBytes bytes;
    bool header = false;
    // The node's text is the line without its outer blanks, so that a view
    // of the line is the text and nothing needs building.
    bool plain = false;
};

// The reading that gives these a kept line at a time, IniScanner, is core's
// own (LineScan.h): ReadIni and the document's load go through it.

}  // namespace keyloft
