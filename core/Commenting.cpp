// Comment and Remove Comment on a node and its keys.
#include "Commenting.h"

#include <cstring>
#include <optional>
#include <string>

#include "Document.h"
#include "IniReader.h"
#include "Rules.h"

namespace keyloft {

namespace {

// Whether the reading takes `line` as a node of `level`: a header for a
// section, a section's line for a key.
bool ReadsAsLevel(std::string_view line, int level) {
    const char* a = line.data();
    const char* b = a + line.size();
    const auto* eq =
        static_cast<const char*>(line.empty() ? nullptr : std::memchr(a, '=', line.size()));
    const IniLineShape shape = ShapeOfLine(a, b, eq);
    return shape.kind == (level == 1 ? IniLineShape::Header : IniLineShape::Line);
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
        const std::string_view line = n->savedLine();
        std::optional<std::string> next = comment ? CommentedLine(line) : UncommentedLine(line);
        const std::string shown =
            comment ? CommentedText(change.text) : UncommentedText(change.text);
        if (!next) {
            // A line whose first byte above 32 is no ";" although its text
            // begins with one: the text is written as it stands.
            change.text = shown;
            return true;
        }
        // The tree shows the new line as a reload reads it, unless the
        // reading would drop it or take it as the other kind of node.
        std::string scratch;
        change.text =
            ReadsAsLevel(*next, n->level()) ? std::string(ReadText(*next, scratch)) : shown;
        change.line = std::move(*next);
        change.ownLine = true;
        return true;
    });
}

}  // namespace keyloft
