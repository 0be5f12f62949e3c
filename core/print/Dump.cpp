// The indented text dump.
#include "print/Dump.h"

#include "document/Document.h"
#include "fast/FastPaths.h"
#include "reading/Encoding.h"

namespace keyloft {

namespace {

constexpr std::string_view kBlanks = "        ";

// A line of a UTF-16 file's text as UTF-8: its unpaired surrogates as
// U+FFFD.
std::string_view Shown(std::string_view text, bool utf16, std::string& valid) {
    if (!utf16 || IsValidUtf8(text)) return text;
    valid = ValidUtf8(text);
    return valid;
}

// Writes `node` indented by its depth, then its subtree: the order of
// Document::Next, without walking up to find each node's level.
void DumpSubtree(const Node* node, std::string_view indent, std::string& scratch, bool utf16,
                 TextFile& out) {
    std::string valid;
    out.WriteLine(indent, Shown(node->text(scratch), utf16 && node->level() > 0, valid));
    if (!node->hasChildren()) return;
    // A tree is three levels deep; blanks for deeper ones come from `deeper`.
    std::string deeper;
    std::string_view childIndent;
    if (indent.size() + 2 <= kBlanks.size()) {
        childIndent = kBlanks.substr(0, indent.size() + 2);
    } else {
        deeper.assign(indent.size() + 2, ' ');
        childIndent = deeper;
    }
    node->forEachChild([&](const Node* child) {
        // Most children are lines without children of their own.
        if (child->hasChildren())
            DumpSubtree(child, childIndent, scratch, utf16, out);
        else
            out.WriteLine(childIndent, Shown(child->text(scratch), utf16, valid));
    });
}

}  // namespace

void DumpTreeviewToTextfile(const Document& doc, TextFile& out) {
    ClearUpperVectorHalves();
    std::string scratch;
    for (int row = 0; row < doc.TopLevelCount(); ++row)
        DumpSubtree(doc.TopLevel(row), {}, scratch, doc.Utf16() != Utf16Order::None, out);
}

}  // namespace keyloft
