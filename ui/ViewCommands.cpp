// The commands that change what the view shows: Find, Expand all and
// Collapse all.
#include <string>
#include <unordered_set>

#include "BusyCursor.h"
#include "Dialogs.h"
#include "DocumentModel.h"
#include "DocumentText.h"
#include "IniTreeView.h"
#include "TextRules.h"
#include "document/Rules.h"
#include "frmMain.h"

using keyloft::Node;
using namespace keyloft::ui;

Node* TForm1::GetNodeByText(IniTreeView* tv, const QString& text, bool makeVisible) {
    if (doc_.Count() == 0) return nullptr;
    DocumentModel* model = tv->documentModel();
    const auto bytes = StoredLine(doc_, text);
    const std::string needle = bytes ? keyloft::UpperAZ(*bytes) : std::string();
    // The root is matched as shown: a file name, whatever the file's encoding.
    const std::string rootNeedle = keyloft::UpperAZ(text.toStdString());
    std::string scratch;  // texts are read without storing them
    const auto matches = [&](const Node* node) {
        if (node->level() == 0) {
            return !rootNeedle.empty() &&
                   keyloft::FindMatches(ShownText(doc_, node).toStdString(), rootNeedle);
        }
        return !needle.empty() && keyloft::FindMatches(node->text(scratch), needle);
    };

    Node* last = nullptr;
    std::size_t count = 0;
    std::vector<QModelIndex> toExpand;
    std::unordered_set<const Node*> expanding;
    const Node* start = model->nodeOf(tv->selectedIndex());
    if (start != nullptr && !text.isEmpty()) {
        for (const Node* node = start; node != nullptr; node = keyloft::Document::Next(node)) {
            if (!matches(node)) continue;
            ++count;
            last = const_cast<Node*>(node);
            if (!makeVisible) continue;
            std::vector<const Node*> path;
            for (const Node* up = node->parent(); up != nullptr && !expanding.count(up);
                 up = up->parent()) {
                path.push_back(up);
            }
            for (auto it = path.rbegin(); it != path.rend(); ++it) {
                expanding.insert(*it);
                const QModelIndex index = model->indexOf(*it);
                if (!tv->isExpanded(index)) toExpand.push_back(index);
            }
        }
    }
    tv->expandAllOf(toExpand);
    SetStatus(QString::number(count) + " matches found");
    return last;
}

void TForm1::actfindExecute() {
    if (!IsIniLoade()) return;
    const QString text = FirstLine(InputQuery(this, "Find", "String to find:"));
    Node* found = nullptr;
    {
        const BusyCursor busy;
        // Collapsing moves a selection below the top level up to the root, so
        // the search below starts at the root.
        tv1->collapseEverything();
        found = GetNodeByText(tv1, text, true);
    }
    if (found != nullptr) {
        tv1->setFocus();
        selectNode(found);
    } else {
        ShowPlainMessage(this, "Not found!");
    }
}

void TForm1::actExpandAllExecute() {
    if (!IsIniLoade()) return;
    selectNode(doc_.NodeAt(0));
    const BusyCursor busy;
    tv1->expandEverything();
}

void TForm1::actCollapseAllExecute() {
    if (!IsIniLoade()) return;
    selectNode(doc_.NodeAt(0));
    const BusyCursor busy;
    tv1->collapseEverything();
}
