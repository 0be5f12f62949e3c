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
    // The node and the keys not yet in the new state change all at once, or
    // not at all when memory runs out.
    doc.RewriteWithChildren(node, [comment](std::string& text) {
        if (IsCommented(text) == comment) return false;
        text = comment ? CommentedText(text) : UncommentedText(text);
        return true;
    });
}

}  // namespace keyloft
