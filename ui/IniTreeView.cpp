// The tree view of the document.
#include "IniTreeView.h"

#include <QItemSelectionModel>

namespace keyloft::ui {

IniTreeView::IniTreeView(QWidget* parent) : QTreeView(parent) {
    connect(this, &QTreeView::collapsed, this, &IniTreeView::onCollapsed);
}

void IniTreeView::expandAllOf(const std::vector<QModelIndex>& indexes) {
    if (indexes.empty()) return;
    // With a layout pending, expand() only records the index; the one layout
    // afterwards shows them all.
    scheduleDelayedItemsLayout();
    for (const QModelIndex& index : indexes) expand(index);
    executeDelayedItemsLayout();
}

void IniTreeView::collapseEverything() {
    QModelIndex selected = selectedIndex();
    {
        const QSignalBlocker blocker(this);
        collapseAll();
    }
    if (selected.isValid()) {
        while (selected.parent().isValid()) selected = selected.parent();
        selectIndex(selected);
    }
}

QModelIndex IniTreeView::selectedIndex() const {
    if (selectionModel() == nullptr) return {};
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : selected.first();
}

void IniTreeView::selectIndex(const QModelIndex& index) {
    if (!index.isValid()) return;
    std::vector<QModelIndex> ancestors;
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) {
        if (!isExpanded(up)) ancestors.insert(ancestors.begin(), up);
    }
    for (const QModelIndex& up : ancestors) expand(up);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    scrollTo(index);
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
