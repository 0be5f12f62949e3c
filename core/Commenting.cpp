// Comment and Remove Comment on a node and its keys.
#include "Commenting.h"

#include <string>

#include "Document.h"
#include "Rules.h"

namespace keyloft {

const char* CommentRefusal(std::string_view text, bool comment) {
    if (comment && IsCommented(text)) return "This line is already commented";
    if (!comment && !IsCommented(text)) return "No comment on selected line";
    return nullptr;
}

void SetCommented(Document& doc, Node* node, bool comment) {
    doc.SetText(node, comment ? CommentedText(node->text()) : UncommentedText(node->text()));
    // A section takes its keys along: the ones not yet in the new state.
    doc.RewriteChildren(node, 0, node->childCount() - 1, [comment](std::string& text) {
        if (IsCommented(text) == comment) return false;
        if (comment) {
            text.insert(0, 1, ';');
        } else {
            text.erase(0, 1);
        }
        return true;
    });
}

}  // namespace keyloft
