// The tree view of the document.
#include "IniTreeView.h"

#include <QItemSelectionModel>
#include <QMetaProperty>
#include <QPainter>

#include "DocumentModel.h"

namespace keyloft::ui {

IniTreeView::IniTreeView(QWidget* parent) : QTreeView(parent) {
    connect(this, &QTreeView::collapsed, this, &IniTreeView::onCollapsed);
}

bool IniTreeView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool opened = QTreeView::edit(index, trigger, event);
    if (opened && state() == EditingState) editing_ = index;
    return opened;
}

bool IniTreeView::isEditing() const {
    return state() == EditingState && editing_.isValid() && indexWidget(editing_) != nullptr;
}

IniTreeView::EditEnd IniTreeView::finishEditing() {
    if (!isEditing()) return EditEnd::None;
    QWidget* editor = indexWidget(editing_);
    // The editor shows its text in its user property (a line edit's text).
    const QMetaProperty shown = editor->metaObject()->userProperty();
    const bool unchanged =
        shown.isValid() && shown.read(editor) == model()->data(editing_, Qt::EditRole);
    editing_ = QPersistentModelIndex();
    if (unchanged) {
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
        return EditEnd::Dropped;
    }
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return EditEnd::Committed;
}

void IniTreeView::expandAllOf(const std::vector<QModelIndex>& indexes) {
    if (indexes.empty()) return;
    // With a layout pending, expand() only records the index; the one layout
    // afterwards shows them all.
    scheduleDelayedItemsLayout();
    for (const QModelIndex& index : indexes) expand(index);
    executeDelayedItemsLayout();
}

void IniTreeView::expandEverything() {
    // QTreeView announces each node it expands; on a file of hundreds of
    // thousands of sections those announcements, which nothing here listens
    // to, are about 6 % of the command's work.
    const QSignalBlocker blocker(this);
    expandAll();
}

void IniTreeView::collapseEverything() {
    QModelIndex selected = selectedIndex();
    while (selected.parent().isValid()) selected = selected.parent();
    // QTreeView keeps a persistent index for each expanded node, and
    // collapseAll() gives them back one by one, each looked up and removed
    // in the model's table of them: up to half a second for 450,000
    // sections. A reset announced by the model invalidates that table in
    // one pass and clears it, and the view then drops its expanded nodes and
    // its selection at once; the tree itself is unchanged, so `selected`
    // still names the node to select. A reset would discard an open editor
    // and its text, so while one is open the view collapses the usual way:
    // moving the selection then accepts the edit.
    auto* document = qobject_cast<DocumentModel*>(model());
    if (document != nullptr && state() != EditingState) {
        document->announceReset();
    } else {
        const QSignalBlocker blocker(this);
        collapseAll();
    }
    if (selected.isValid()) selectIndex(selected);
}

QModelIndex IniTreeView::selectedIndex() const {
    if (selectionModel() == nullptr) return {};
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : selected.first();
}

void IniTreeView::expandAncestors(const QModelIndex& index) {
    std::vector<QModelIndex> ancestors;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) {
        if (!isExpanded(up)) ancestors.insert(ancestors.begin(), up);
    }
    for (const QModelIndex& up : ancestors) expand(up);
}

void IniTreeView::selectIndex(const QModelIndex& index) {
    if (!index.isValid()) return;
    expandAncestors(index);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
}

bool IniTreeView::laysOutChildrenOf(const QModelIndex& parent) const {
    for (QModelIndex up = parent; up.isValid(); up = up.parent()) {
        if (!isExpanded(up)) return false;
    }
    return true;
}

void IniTreeView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                              const QList<int>& roles) {
    // QTreeView looks every changed row up among the laid-out rows, and a
    // row that is not among them costs a scan of all of them: the keys of a
    // collapsed section times the rows shown, minutes on a large file. Such
    // rows are read afresh when their parent is expanded, so they need
    // nothing now. An open editor is the one thing that may still show one
    // of them; while it is open every change goes the usual way.
    if (topLeft.isValid() && state() != EditingState && !laysOutChildrenOf(topLeft.parent()))
        return;
    QTreeView::dataChanged(topLeft, bottomRight, roles);
}

void IniTreeView::drawBranches(QPainter* painter, const QRect& rect,
                               const QModelIndex& index) const {
    const int step = indentation();
    // Column of a level's lines: the root's sit in the first indentation
    // column because the root is decorated too.
    int level = 0;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) ++level;
    const int midY = rect.top() + rect.height() / 2;
    auto columnX = [&](int depth) {
        return (isRightToLeft() ? rect.right() - step * (depth + 1) : rect.left() + step * depth) +
               step / 2;
    };
    auto hasNextSibling = [this](const QModelIndex& i) {
        return model()->index(i.row() + 1, 0, i.parent()).isValid();
    };

    painter->save();
    QPen pen(palette().color(QPalette::Mid));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    const int x = columnX(level);
    const bool first = index.row() == 0 && !index.parent().isValid();
    painter->drawLine(x, first ? midY : rect.top(), x,
                      hasNextSibling(index) ? rect.bottom() : midY);
    painter->drawLine(x, midY, x + step / 2, midY);
    int depth = level - 1;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent(), --depth) {
        if (hasNextSibling(up))
            painter->drawLine(columnX(depth), rect.top(), columnX(depth), rect.bottom());
    }
    painter->restore();
    QTreeView::drawBranches(painter, rect, index);
}

void IniTreeView::onCollapsed(const QModelIndex& index) {
    const QModelIndex selected = selectedIndex();
    for (QModelIndex up = selected.parent(); up.isValid(); up = up.parent()) {
        if (up == index) {
            selectIndex(index);
            return;
        }
    }
}

}  // namespace keyloft::ui
