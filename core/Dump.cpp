// The indented text dump.
#include "Dump.h"

#include "Document.h"

namespace keyloft {

void DumpTreeviewToTextfile(const Document& doc, TextFile& out) {
    std::string indent;
    std::string scratch;
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        indent.assign(2 * static_cast<std::size_t>(node->level()), ' ');
        out.Write(indent);
        out.Write(node->text(scratch));
        out.WriteLineEnd();
    }
}

}  // namespace keyloft
