// The window tests' harness: a window opened on given bytes, an action
// triggered with its dialogs answered, and the tree as the user sees it.
#pragma once

#include <QAction>
#include <QFile>
#include <QItemSelectionModel>
#include <QModelIndex>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <vector>

#include "DialogScript.h"
#include "DocumentModel.h"
#include "IniTreeView.h"
#include "document/Document.h"
#include "frmMain.h"

namespace keyloft::test {

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

// Shows the window and waits until it can be drawn on.
inline bool ShowWindow(TForm1& window) {
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// A shown window on a file `name` holding `content`, loaded as from the
// command line (so ItemsChanged is false and the root selected); null when
// the file could not be written or loaded. The file lives in a folder of
// this test program's own, removed when it ends.
inline std::unique_ptr<TForm1> OpenWindow(const QByteArray& content,
                                          const QString& name = "app.ini") {
    static QTemporaryDir folder;
    const QString path = folder.filePath(name);
    if (!folder.isValid() || !WriteFile(path, content)) return nullptr;
    auto window = std::make_unique<TForm1>(QList<QByteArray>{QFile::encodeName(path)});
    if (window->document().Count() == 0 || !ShowWindow(*window)) return nullptr;
    return window;
}

// Triggers the action `name` as a click on its menu item does. A missing
// or disabled action cannot run the command the test is about: false, and
// nothing triggered. Check the result (QVERIFY) so that the test fails.
[[nodiscard]] inline bool Trigger(TForm1& window, const char* name) {
    auto* action = window.findChild<QAction*>(name);
    if (action == nullptr || !action->isEnabled()) {
        qWarning("%s %s", action == nullptr ? "no action" : "disabled action", name);
        return false;
    }
    action->trigger();
    return true;
}

// The dialogs one command showed. Check `finished`: it is false when a step
// did not run, or when the action was missing or disabled.
struct [[nodiscard]] Outcome {
    bool finished = false;  // the action ran and every scripted step ran
    std::vector<SeenDialog> seen;
    QString description;
    int count() const { return static_cast<int>(seen.size()); }
    QStringList lines() const { return DialogLines(seen); }
};

// Triggers the action `name`; `build` scripts the answers to its dialogs in
// order and any further dialog is rejected. A missing or disabled action
// yields an unfinished outcome that names it.
template <class Script>
Outcome Run(TForm1& window, const char* name, Script build) {
    DialogScript script;
    build(script);
    script.rejectUnexpected().start();
    if (!Trigger(window, name)) return {false, {}, QString("%1 is missing or disabled").arg(name)};
    return {script.finished(), script.seen(), script.describe()};
}

inline Outcome Run(TForm1& window, const char* name) {
    return Run(window, name, [](DialogScript&) {});
}

// The same with the answers written as text (see DialogScript::answer).
inline Outcome Run(TForm1& window, const char* name, const QStringList& steps,
                   const QString& folder = QString()) {
    return Run(window, name, [&](DialogScript& s) { s.answer(steps, folder); });
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

inline void ClearSelection(TForm1& window) {
    window.treeView()->selectionModel()->clearSelection();
}

// Selects the first node shown as `text`; nothing when `text` is empty.
inline void Select(TForm1& window, const QString& text) {
    if (text.isEmpty()) {
        ClearSelection(window);
    } else {
        window.selectNode(NodeNamed(window, text));
    }
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
