// The tree view of the document, over a flat list of the shown rows.
#pragma once

#include <QElapsedTimer>
#include <QPersistentModelIndex>
#include <QTreeView>
#include <vector>

namespace keyloft {
class Node;
}

namespace keyloft::ui {

class DocumentModel;
class ShownModel;

// Looks and behaves like a QTreeView of the document model, and in addition:
// - collapsing a node whose subtree holds the current node moves the
//   selection to the collapsed node, so the selection is never hidden;
// - expandAllOf(), expandEverything() and collapseEverything() fold many
//   nodes with a single relayout, which keeps them fast on trees of millions
//   of nodes;
// - a change of texts below a collapsed node costs nothing: those rows have
//   no place in the layout, so there is nothing of them to look up or paint.
//
// What is expanded is kept by the ShownModel the view shows, a bit per node:
// QTreeView would keep a persistent index for every expanded node, and on a
// file of hundreds of thousands of sections making and dropping those is
// most of the work of Expand all and Collapse all. The view draws each row's
// indentation, dotted lines and expand button itself and handles the keys
// and clicks that fold, as QTreeView does for a tree.
//
// The folding and selection functions take indexes of the document model
// (of the view's own model too), so callers name nodes as the document
// model does whether they are shown or not.
class IniTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit IniTreeView(QWidget* parent = nullptr);
    ~IniTreeView() override;

    // Shows the document of `nodes`.
    void setDocumentModel(DocumentModel* nodes);
    DocumentModel* documentModel() const { return nodes_; }
    ShownModel* shownModel() const { return shown_; }

    enum class EditEnd { None, Dropped, Committed };
    // Ends an open in-place edit: a changed text goes to the model as Enter
    // gives it, an unchanged one is dropped as Escape drops it. None when no
    // edit was open.
    EditEnd finishEditing();
    bool isEditing() const;

    // Expands every index given, then lays the view out once.
    void expandAllOf(const std::vector<QModelIndex>& indexes);
    // Expands every node, without a signal for each one.
    void expandEverything();
    // Collapses every node; a selection below the top level moves to its
    // top-level ancestor.
    void collapseEverything();

    // Expands every collapsed ancestor of the index, outermost first.
    void expandAncestors(const QModelIndex& index);
    QModelIndex selectedIndex() const;
    // Selects the index alone and makes it the current one; expands its
    // ancestors and scrolls to it.
    void selectIndex(const QModelIndex& index);

    // Whether the children of `parent` have rows in the layout: every node
    // from `parent` up is expanded (the top level always has them).
    bool laysOutChildrenOf(const QModelIndex& parent) const;

    // QTreeView's folding, on nodes. Each signals expanded() or collapsed()
    // with the document model's index of the node.
    bool isExpanded(const QModelIndex& index) const;
    void setExpanded(const QModelIndex& index, bool expanded);
    void expand(const QModelIndex& index);
    void collapse(const QModelIndex& index);
    // Every node expanded, or every node collapsed, in one relayout and
    // without a signal for each; the selection stays where it is shown.
    void expandAll();
    void collapseAll();
    // Opens the in-place editor on the node's row.
    void edit(const QModelIndex& index);

    // The row of a node in the view's model; invalid while it is hidden.
    QModelIndex rowIndexOf(const QModelIndex& index) const;
    // How far the node's label stands in from the start of the row, which
    // QTreeView would indent by its level.
    int labelIndent(const QModelIndex& index) const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void keyboardSearch(const QString& search) override;

protected slots:
    // The current row goes where a tree view puts it when its node goes.
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

protected:
    // Notes which index an in-place editor opens on.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    // Dotted lines join each node to its parent and siblings; the style
    // draws the expand buttons over them.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    Node* nodeAt(const QModelIndex& index) const;
    QModelIndex nodeIndex(const Node* node) const;
    void setNodeExpanded(Node* node, bool expanded);
    void expandNodeAncestors(const Node* node);
    // The node whose expand button is at `pos`, or nullptr.
    Node* buttonAt(const QPoint& pos) const;
    // What QTreeView does to the button at `pos` on a click; false when the
    // view is busy and the click is dropped.
    bool toggleButtonAt(const QPoint& pos);

    DocumentModel* nodes_ = nullptr;
    ShownModel* shown_ = nullptr;
    QPersistentModelIndex editing_;
    // The row the last press passed on to QTreeView was on.
    QPersistentModelIndex pressed_;
    // A key expanded or collapsed a node: the view used the key.
    bool keyFolded_ = false;
    // Typed text of the search by keys, as QTreeView keeps it.
    QString keyboardInput_;
    QElapsedTimer keyboardInputTime_;
};

}  // namespace keyloft::ui
