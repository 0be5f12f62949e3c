// The tree view of the document, with whole-tree folding done in one layout.
#pragma once

#include <QPersistentModelIndex>
#include <QTreeView>
#include <vector>

namespace keyloft::ui {

// Behaves like QTreeView, and in addition:
// - collapsing a node whose subtree holds the current node moves the
//   selection to the collapsed node, so the selection is never hidden;
// - expandAllOf(), expandEverything() and collapseEverything() fold many
//   nodes with a single relayout, which keeps them fast on trees of millions
//   of nodes;
// - a change of texts below a collapsed node costs nothing: those rows have
//   no place in the layout, so there is nothing of them to look up or paint.
class IniTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit IniTreeView(QWidget* parent = nullptr);

    enum class EditEnd { None, Dropped, Committed };
    // Ends an open in-place edit: a changed text goes to the model as Enter
    // gives it, an unchanged one is dropped as Escape drops it. None when no
    // edit was open.
    EditEnd finishEditing();
    bool isEditing() const;

    // Expands every index given (each must be visible once its own ancestors
    // in the list are expanded), then lays the view out once.
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

    using QTreeView::edit;

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    // Notes which index an in-place editor opens on.
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    // Dotted lines join each node to its parent and siblings; the style
    // draws the expand buttons over them.
    void drawBranches(QPainter* painter, const QRect& rect,
                      const QModelIndex& index) const override;

private:
    void onCollapsed(const QModelIndex& index);

    QPersistentModelIndex editing_;
};

}  // namespace keyloft::ui
