// Shared helpers of the window tests: running a command with its dialogs
// answered, and reading the tree as the user sees it.
#pragma once

#include <QAction>
#include <QModelIndex>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTest>
#include <vector>

#include "DialogScript.h"
#include "Document.h"
#include "DocumentModel.h"
#include "IniTreeView.h"
#include "frmMain.h"

namespace keyloft::test {

// Types `text` key by key; unlike QTest::keyClicks it takes any character,
// as a keyboard layout or an input method delivers it.
inline void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

// The dialogs one command showed.
struct Outcome {
    bool finished = false;  // every scripted step ran
    std::vector<SeenDialog> seen;
    QString description;
    int count() const { return static_cast<int>(seen.size()); }
};

// Triggers the action `name`; `build` scripts the answers to its dialogs in
// order and any further dialog is rejected. An unknown action yields an
// unfinished outcome that names it.
template <class Script>
Outcome Run(TForm1& window, const char* name, Script build) {
    auto* action = window.findChild<QAction*>(name);
    if (action == nullptr) return {false, {}, QString("no action %1").arg(name)};
    DialogScript script;
    build(script);
    script.rejectUnexpected().start();
    action->trigger();
    return {script.finished(), script.seen(), script.describe()};
}

inline Outcome Run(TForm1& window, const char* name) {
    return Run(window, name, [](DialogScript&) {});
}

// A node's text as the view shows it.
inline QString Shown(TForm1& window, const keyloft::Node* node) {
    return window.model()->displayText(node);
}

// The whole tree in tree order, two blanks of indent per level.
inline QStringList Tree(TForm1& window) {
    QStringList lines;
    for (const keyloft::Node* node = window.document().First(); node != nullptr;
         node = keyloft::Document::Next(node)) {
        lines << QString(2 * node->level(), ' ') + Shown(window, node);
    }
    return lines;
}

// The first node in tree order shown as `text`, or nullptr.
inline keyloft::Node* NodeNamed(TForm1& window, const QString& text) {
    for (keyloft::Node* node = window.document().First(); node != nullptr;
         node = keyloft::Document::Next(node)) {
        if (Shown(window, node) == text) return node;
    }
    return nullptr;
}

inline QString SelectedText(TForm1& window) {
    const keyloft::Node* node = window.selectedNode();
    return node == nullptr ? QString("(none)") : Shown(window, node);
}

// Whether the node is in sight: every ancestor expanded and its row inside
// the viewport.
inline bool IsShown(TForm1& window, const keyloft::Node* node) {
    auto* view = window.treeView();
    const QModelIndex index = window.model()->indexOf(node);
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) {
        if (!view->isExpanded(up)) return false;
    }
    const QRect rect = view->visualRect(index);
    return rect.isValid() && view->viewport()->rect().contains(rect);
}

}  // namespace keyloft::test
