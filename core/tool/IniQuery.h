// Sections and keys found by their exact names, and the edits the
// command-line tool makes through them. Names are compared byte for byte,
// letter case counted.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace keyloft {

class Document;
class Node;

// The name of a plain section whose node text is `text`: the trimmed text
// between its brackets. Nothing for a commented section or any other text.
std::optional<std::string_view> PlainSectionName(std::string_view text);
// The name the commented section ";[name]" has once its mark is removed.
std::optional<std::string_view> CommentedSectionName(std::string_view text);

// The key of a shown, uncommented line "key=value": its text before the
// first "=", trimmed. Nothing for a commented line or a line without "=".
std::optional<std::string_view> KeyOfLine(std::string_view text);
// The key of a commented line ";key=value", found the same way after the ";".
std::optional<std::string_view> KeyOfCommentedLine(std::string_view text);
// The text after the line's first "=", trimmed; empty without one.
std::string_view ValueOfLine(std::string_view text);

// Plain sections named `name`, in file order.
std::vector<Node*> SectionsNamed(const Document& doc, std::string_view name);
// Plain sections named `name` and commented ones that would be, in file order.
std::vector<Node*> SectionsNamedAnyMark(const Document& doc, std::string_view name);

// The first line of `sections` (in their order) whose key is `key`: among
// the uncommented lines, or with `commented` among the commented ones.
Node* FirstKeyNamed(const std::vector<Node*>& sections, std::string_view key,
                    bool commented = false);

// What an edit did. Anything but Changed and Unchanged left the document as
// it was; `message` then says why.
enum class EditOutcome { Changed, Unchanged, NotFound, Refused };
struct EditResult {
    EditOutcome outcome = EditOutcome::Unchanged;
    std::string message;
};

// Makes the line that FirstKeyNamed finds in the sections named `section`
// "key=value"; a key that already has the value is left alone. A missing key
// is added as the last line of the last section of that name, a missing
// section as "[section]" with the line at the end of the document; with
// `existingOnly` either is NotFound instead.
EditResult SetKeyValue(Document& doc, std::string_view section, std::string_view key,
                       std::string_view value, bool existingOnly);

// Removes the line FirstKeyNamed finds or, without a key, every section of
// that name with its lines.
EditResult DeleteEntry(Document& doc, std::string_view section,
                       const std::optional<std::string>& key);

// Comment (`comment` true) or Remove Comment on every section of that name or
// on one key. Comment works on plain sections and uncommented lines; Remove
// Comment on commented sections, and on the first commented line of that key
// in the plain sections of that name. A key of a commented section is
// refused: uncommented alone, other readers would put it in the section
// above. Refusals come back as Refused with the tool's words ("KEY in
// [SECTION] is already commented").
EditResult CommentEntry(Document& doc, std::string_view section,
                        const std::optional<std::string>& key, bool comment);

}  // namespace keyloft
