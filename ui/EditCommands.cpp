// The commands that change nodes: New Section, New Key, Edit Line, Delete,
// Comment and Remove Comment.
#include "BusyCursor.h"
#include "Dialogs.h"
#include "DocumentModel.h"
#include "DocumentText.h"
#include "IniTreeView.h"
#include "TextRules.h"
#include "document/Commenting.h"
#include "document/Rules.h"
#include "frmMain.h"

using keyloft::Node;
using namespace keyloft::ui;

namespace {

// The text typed into a prompt, as the document's bytes; nothing (after a
// warning that names the character) when the document cannot hold it.
std::optional<std::string> PromptedText(TForm1* window, const QString& caption,
                                        const QString& prompt) {
    const QString typed = FirstLine(InputQuery(window, caption, prompt));
    QString bad;
    auto bytes = StoredLine(window->document(), typed, &bad);
    if (!bytes) ShowWarning(window, UnstorableWarning(bad));
    return bytes;
}

}  // namespace

void TForm1::actNewSectionExecute() {
    if (!IsIniLoade()) return;
    Node* root = doc_.NodeAt(0);
    selectNode(root);
    const auto name = PromptedText(this, "New Section", "Section Name:");
    if (!name) return;
    const BusyCursor busy;
    Node* section = doc_.AddChild(root, keyloft::NewSectionText(*name));
    makeVisible(section);
    doc_.ItemsChanged = true;
}

void TForm1::actNewValueExecute() {
    if (!IsIniLoade()) return;
    Node* section = selectedNode();
    if (section == nullptr || section->level() != 1) {
        ShowInformation(this, "Select a section for the new key");
        return;
    }
    const auto name = PromptedText(this, "New key name", "key name:");
    const auto value = PromptedText(this, "New key value", "key value:");
    if (!name || !value) return;
    const std::string text = keyloft::NewKeyText(*name, *value);
    const BusyCursor busy;
    Node* key = doc_.AddChild(section, text);
    makeVisible(key);
    doc_.ItemsChanged = true;
    SetStatus("New key: " + ShownText(doc_, key) + " added");
}

void TForm1::actEditLineExecute() {
    Node* node = selectedNode();
    if (node == nullptr) {
        ShowInformation(this, "Select a line to edit");
        return;
    }
    tv1->edit(model_->indexOf(node));
    doc_.ItemsChanged = true;
}

void TForm1::actremoveExecute() {
    Node* node = selectedNode();
    if (node == nullptr) {
        ShowInformation(this, "Select a section or key to delete");
        return;
    }
    if (node->level() == 0) {
        ShowWarning(this, "Can't delete the root, select a section or key to delete");
        return;
    }
    if (Confirm(this, "Are you sure you want to delete " + ShownText(doc_, node)) != Answer::Yes)
        return;
    const BusyCursor busy;
    doc_.Delete(node);
    doc_.ItemsChanged = true;
    SetStatus("Item removed");
}

namespace {

// The node Comment and Remove Comment work on: the selected section or key,
// after their common refusals; nullptr when refused.
Node* NodeToComment(TForm1* window, Node* node) {
    if (node == nullptr) {
        ShowInformation(window, "Select a section or key to comment");
        return nullptr;
    }
    if (node->level() == 0) {
        ShowWarning(window, "Can't comment the root, select a section or key to comment");
        return nullptr;
    }
    return node;
}

}  // namespace

// Comment and Remove Comment: `comment` tells which. Every answer to the
// question but No goes on: the close box counts as Yes.
void TForm1::ChangeComment(bool comment) {
    Node* node = NodeToComment(this, selectedNode());
    if (node == nullptr) return;
    std::string scratch;
    if (const char* refusal = keyloft::CommentRefusal(node->text(scratch), comment)) {
        ShowInformation(this, refusal);
        return;
    }
    const QString question = comment ? "Comment " + ShownText(doc_, node) + " ?"
                                     : "Remove comment from " + ShownText(doc_, node) + " ?";
    if (Confirm(this, question) == Answer::No) return;
    // Until the selection rests: the walk may expand a large section.
    const BusyCursor busy;
    keyloft::SetCommented(doc_, node, comment);
    doc_.ItemsChanged = true;
    if (node->level() == 2) {
        SetStatus(comment ? "Item commented" : "Comment removed");
        return;
    }
    // After a section with keys, the selection rests on its last key.
    if (node->hasChildren()) selectNode(node->child(ChildCountOfSelection() - 1));
}

void TForm1::actRemarkExecute() { ChangeComment(true); }

void TForm1::actRemoveCommentExecute() { ChangeComment(false); }
