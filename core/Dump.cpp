// The indented text dump.
#include "Dump.h"

#include "Document.h"

namespace keyloft {

namespace {

// Writes `node` indented by its depth, then its subtree: the order of
// Document::Next, without walking up to find each node's level.
void DumpSubtree(const Node* node, std::size_t depth, std::string& indent, std::string& scratch,
                 TextFile& out) {
    indent.assign(2 * depth, ' ');
    out.Write(indent);
    out.Write(node->text(scratch));
    out.WriteLineEnd();
    for (const Node* child : node->children()) DumpSubtree(child, depth + 1, indent, scratch, out);
}

}  // namespace

void DumpTreeviewToTextfile(const Document& doc, TextFile& out) {
    std::string indent;
    std::string scratch;
    for (int row = 0; row < doc.TopLevelCount(); ++row)
        DumpSubtree(doc.TopLevel(row), 0, indent, scratch, out);
}

}  // namespace keyloft
