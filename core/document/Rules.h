// The editor's small text rules, as pure functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace keyloft {

// Upper-cases the letters a to z only; every other byte stays.
std::string UpperAZ(std::string_view text);

// Whether `text` ends with ".ini" in any mix of a-to-z letter case.
bool EndsWithIni(std::string_view text);

// The root text New INI makes of a typed name: the name as typed when it ends
// with ".ini", else name + ".ini".
std::string NewIniRootText(std::string_view name);

// The section text New Section makes: the name as typed when it holds "[",
// else "[" + name + "]".
std::string NewSectionText(std::string_view name);

// The key text New Key makes: name + "=" + value.
std::string NewKeyText(std::string_view name, std::string_view value);

// Commented: ";" is the very first character.
constexpr bool IsCommented(std::string_view text) { return !text.empty() && text.front() == ';'; }
std::string CommentedText(std::string_view text);    // ";" + text
std::string UncommentedText(std::string_view text);  // text without its first character

// Comment on a line as the file holds it: one ";" in front of its first byte
// above 32 (at its start when it has none). Every other byte stays: the
// indentation, the blanks around "=", the value.
std::string CommentedLine(std::string_view line);
// Remove Comment on such a line: its first byte above 32 taken out. Nothing
// when that byte is no ";".
std::optional<std::string> UncommentedLine(std::string_view line);

// Edit Line on a key line `line` that reads as `oldText` (or is that text):
// when `newText` keeps the text before the first "=" as it was, `line` with
// only its value's bytes replaced by newText's value, trimmed. The value runs
// from the first byte above 32 after the "=" to the last one; an empty value
// stands at the end of the line. Nothing when the key changes, when either
// text has no "=", or for a commented line that begins with "=" (";= x"
// keeps its blanks in the reading).
std::optional<std::string> LineWithNewValue(std::string_view line, std::string_view oldText,
                                            std::string_view newText);

// Find's match: `upperNeedle` (already passed through UpperAZ, not empty)
// occurs in the a-to-z upper-cased text.
bool FindMatches(std::string_view text, std::string_view upperNeedle);

// Node colours and styles.
enum class NodeColour { Black, Red, Blue, Green, Purple };
enum class NodeBackground { Window, Silver };
enum class NodeFontStyle { Regular, Bold, Italic };
struct NodeLook {
    NodeColour colour;
    NodeBackground background;
    NodeFontStyle style;
    bool operator==(const NodeLook&) const = default;
};
NodeLook NodeLookFor(int level, std::string_view text, bool selected);

}  // namespace keyloft
