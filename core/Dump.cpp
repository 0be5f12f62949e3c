// The indented text dump.
#include "Dump.h"

#include "Document.h"
#include "VectorState.h"

namespace keyloft {

namespace {

constexpr std::string_view kBlanks = "        ";

// Writes `node` indented by its depth, then its subtree: the order of
// Document::Next, without walking up to find each node's level.
void DumpSubtree(const Node* node, std::string_view indent, std::string& scratch, TextFile& out) {
    out.WriteLine(indent, node->text(scratch));
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
            DumpSubtree(child, childIndent, scratch, out);
        else
            out.WriteLine(childIndent, child->text(scratch));
    });
}

}  // namespace

void DumpTreeviewToTextfile(const Document& doc, TextFile& out) {
    ClearUpperVectorHalves();
    std::string scratch;
    for (int row = 0; row < doc.TopLevelCount(); ++row)
        DumpSubtree(doc.TopLevel(row), {}, scratch, out);
}

}  // namespace keyloft
