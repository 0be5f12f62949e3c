// Comment and Remove Comment on a node and its keys.
#include "document/Commenting.h"

#include <cstring>
#include <optional>
#include <string>

#include "document/Document.h"
#include "document/Rules.h"
#include "reading/IniReader.h"
#include "reading/LineRule.h"

namespace keyloft {

namespace {

// The text the reading gives `line` as a node of `level` (a header for a
// section, a section's line for a key), into `text`; false when it drops
// the line or reads it as the other kind.
bool ReadAtLevel(const std::string& line, int level, std::string& text) {
    const char* a = line.data();
    const char* b = a + line.size();
    const auto* eq = static_cast<const char*>(std::memchr(a, '=', line.size()));
    const IniLineShape shape = ShapeOfLine(a, b, eq);
    if (shape.kind != (level == 1 ? IniLineShape::Header : IniLineShape::Line)) return false;
    if (shape.plain) {
        text.assign(Trim(line));
    } else {
        std::string scratch;
        text.assign(ReadText(line, scratch));
    }
    return true;
}

}  // namespace

const char* CommentRefusal(std::string_view text, bool comment) {
    if (comment && IsCommented(text)) return "This line is already commented";
    if (!comment && !IsCommented(text)) return "No comment on selected line";
    return nullptr;
}

void SetCommented(Document& doc, Node* node, bool comment) {
    // The node and the keys not yet in the new state change all at once, or
    // not at all when memory runs out.
    doc.RewriteLinesWithChildren(node, [comment](const Node* n, LineChange& change) {
        if (IsCommented(change.text) == comment) return false;
        std::optional<std::string> next =
            comment ? CommentedLine(n->savedLine()) : UncommentedLine(n->savedLine());
        // The tree shows the new line as a reload reads it, unless the
        // reading would drop it or take it as the other kind of node. A line
        // whose first byte above 32 is no ";" although its text begins with
        // one keeps to the text alone.
        if (!next || !ReadAtLevel(*next, n->level(), change.text))
            change.text = comment ? CommentedText(change.text) : UncommentedText(change.text);
        if (!next) return true;
        change.line = std::move(*next);
        change.ownLine = true;
        return true;
    });
}

}  // namespace keyloft
