// The tree view of the document.
#include "IniTreeView.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "DocumentModel.h"
#include "ShownModel.h"
#include "document/Document.h"

namespace keyloft::ui {

IniTreeView::IniTreeView(QWidget* parent) : QTreeView(parent) {}

IniTreeView::~IniTreeView() = default;

void IniTreeView::setDocumentModel(DocumentModel* nodes) {
    QAbstractItemModel* old = model();
    nodes_ = nodes;
    shown_ = nodes ? new ShownModel(*nodes, this) : nullptr;
    setModel(shown_);
    if (old != nullptr && old->parent() == this) delete old;
}

Node* IniTreeView::nodeAt(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    if (shown_ != nullptr && index.model() == shown_) return shown_->nodeOf(index);
    if (nodes_ != nullptr && index.model() == nodes_) return nodes_->nodeOf(index);
    return nullptr;
}

QModelIndex IniTreeView::nodeIndex(const Node* node) const {
    return nodes_ != nullptr ? nodes_->indexOf(node) : QModelIndex();
}

QModelIndex IniTreeView::rowIndexOf(const QModelIndex& index) const {
    if (shown_ != nullptr && index.model() == shown_) return index;
    return shown_ != nullptr ? shown_->indexOf(nodeAt(index)) : QModelIndex();
}

int IniTreeView::labelIndent(const QModelIndex& index) const {
    const Node* node = nodeAt(index);
    return node ? node->level() * indentation() : 0;
}

// --- Editing -----------------------------------------------------------------

void IniTreeView::edit(const QModelIndex& index) { QTreeView::edit(rowIndexOf(index)); }

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

// --- Folding -----------------------------------------------------------------

bool IniTreeView::isExpanded(const QModelIndex& index) const {
    const Node* node = nodeAt(index);
    return node != nullptr && shown_->isExpanded(node);
}

void IniTreeView::setNodeExpanded(Node* node, bool expanded) {
    if (node == nullptr || shown_->isExpanded(node) == expanded) return;
    if (expanded && !ShownModel::isExpandable(node)) return;
    if (expanded) {
        if (shown_->setExpanded(node, true)) emit this->expanded(nodeIndex(node));
        return;
    }
    // Collapsing a node whose subtree holds the selection moves it to the
    // node. The rows of the subtree go, and an editor on one of them would
    // go with its text: while one is open the selection moves first, which
    // accepts the edit as leaving the line does.
    bool holdsSelection = false;
    const Node* selected = nodeAt(selectedIndex());
    for (const Node* up = selected ? selected->parent() : nullptr; up; up = up->parent())
        holdsSelection = holdsSelection || up == node;
    const bool editing = state() == EditingState;
    if (holdsSelection && editing) selectIndex(nodeIndex(node));
    if (!shown_->setExpanded(node, false)) return;
    if (holdsSelection && !editing) selectIndex(nodeIndex(node));
    emit collapsed(nodeIndex(node));
}

void IniTreeView::setExpanded(const QModelIndex& index, bool expanded) {
    setNodeExpanded(nodeAt(index), expanded);
}

void IniTreeView::expand(const QModelIndex& index) { setNodeExpanded(nodeAt(index), true); }

void IniTreeView::collapse(const QModelIndex& index) { setNodeExpanded(nodeAt(index), false); }

void IniTreeView::expandAll() {
    if (shown_ != nullptr) shown_->expandSubtree(nullptr);
}

void IniTreeView::collapseAll() {
    if (shown_ != nullptr) shown_->collapseEverything();
}

void IniTreeView::expandAllOf(const std::vector<QModelIndex>& indexes) {
    if (indexes.empty() || shown_ == nullptr) return;
    std::vector<Node*> nodes;
    nodes.reserve(indexes.size());
    for (const QModelIndex& index : indexes) {
        Node* node = nodeAt(index);
        if (node != nullptr && !shown_->isExpanded(node) && ShownModel::isExpandable(node))
            nodes.push_back(node);
    }
    shown_->expandNodes(nodes);
    for (const Node* node : nodes) emit expanded(nodeIndex(node));
}

void IniTreeView::expandEverything() {
    // One layout change; nothing listens to a signal for each node.
    expandAll();
}

void IniTreeView::collapseEverything() {
    if (shown_ == nullptr) return;
    const Node* selected = nodeAt(selectedIndex());
    while (selected != nullptr && selected->parent() != nullptr) selected = selected->parent();
    const QModelIndex top = nodeIndex(selected);
    // The rows below the top level go; an editor on one of them would go
    // with its text, so while one is open the selection moves first, which
    // accepts the edit as leaving the line does.
    if (state() == EditingState && top.isValid()) selectIndex(top);
    shown_->collapseEverything();
    if (top.isValid()) selectIndex(top);
}

void IniTreeView::expandNodeAncestors(const Node* node) {
    if (node == nullptr) return;
    std::vector<Node*> ancestors;
    for (Node* up = node->parent(); up != nullptr; up = up->parent()) {
        if (!shown_->isExpanded(up)) ancestors.insert(ancestors.begin(), up);
    }
    for (Node* up : ancestors) setNodeExpanded(up, true);
}

void IniTreeView::expandAncestors(const QModelIndex& index) { expandNodeAncestors(nodeAt(index)); }

QModelIndex IniTreeView::selectedIndex() const {
    if (selectionModel() == nullptr) return {};
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? QModelIndex() : nodeIndex(nodeAt(selected.first()));
}

void IniTreeView::selectIndex(const QModelIndex& index) {
    const Node* node = nodeAt(index);
    if (node == nullptr) return;
    expandNodeAncestors(node);
    const QModelIndex row = shown_->indexOf(node);
    selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
    QTreeView::scrollTo(row);
}

bool IniTreeView::laysOutChildrenOf(const QModelIndex& parent) const {
    const Node* node = nodeAt(parent);
    if (node == nullptr) return true;
    return shown_->isExpanded(node) && shown_->isShown(node);
}

void IniTreeView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    const QModelIndex current = currentIndex();
    Node* node = nodeAt(current);
    if (node != nullptr && current.row() >= start && current.row() <= end) {
        const Document& doc = nodes_->document();
        if (node == shown_->removing()) {
            // The document deletes the current node. A tree view makes its
            // next sibling current, else the one before it, else its parent
            // (none for a top-level node); in a single selection, selected.
            Node* up = node->parent();
            const int count = up ? up->childCount() : doc.TopLevelCount();
            Node* next = up;
            if (count > 1) {
                const int row = node->row() + 1 < count ? node->row() + 1 : node->row() - 1;
                next = up ? up->child(row) : doc.TopLevel(row);
            }
            if (next != nullptr && selectionMode() == SingleSelection) {
                setCurrentIndex(shown_->indexOf(next));
            } else if (next == nullptr) {
                selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
            }
        } else if (shown_->removing() != nullptr) {
            // An ancestor goes: so does the current node, and nothing is
            // current.
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        } else {
            // A collapse hides the current node, which a tree view keeps as
            // its current one and moves from as from its first row: here
            // the first row becomes current, and nothing more is selected.
            selectionModel()->setCurrentIndex(model()->index(0, 0), QItemSelectionModel::NoUpdate);
        }
    }
    QTreeView::rowsAboutToBeRemoved(parent, start, end);
}

// --- Geometry ----------------------------------------------------------------

QRect IniTreeView::visualRect(const QModelIndex& index) const {
    const QModelIndex row = rowIndexOf(index);
    QRect rect = QTreeView::visualRect(row);
    if (!rect.isValid()) return rect;
    const int indent = labelIndent(row);
    if (isRightToLeft()) {
        rect.setRight(rect.right() - indent);
    } else {
        rect.setLeft(rect.left() + indent);
    }
    return rect;
}

void IniTreeView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // As QTreeView does, a hidden node's ancestors are expanded first.
    if (state() == NoState && itemsExpandable()) expandAncestors(index);
    QTreeView::scrollTo(rowIndexOf(index), hint);
}

void IniTreeView::drawBranches(QPainter* painter, const QRect& rect,
                               const QModelIndex& index) const {
    const Node* node = nodeAt(index);
    if (node == nullptr) return;
    const int step = indentation();
    // Column of a level's lines: the root's sit in the first indentation
    // column because the root is decorated too. `rect` is the first column.
    const int level = node->level();
    const int midY = rect.top() + rect.height() / 2;
    const bool reverse = isRightToLeft();
    auto cellLeft = [&](int depth) {
        return reverse ? rect.right() + 1 - step * (depth + 1) : rect.left() + step * depth;
    };
    auto columnX = [&](int depth) {
        return (reverse ? rect.right() - step * (depth + 1) : rect.left() + step * depth) +
               step / 2;
    };
    auto hasNextSibling = [this](const Node* n) {
        const int count =
            n->parent() ? n->parent()->childCount() : nodes_->document().TopLevelCount();
        return n->row() + 1 < count;
    };

    painter->save();
    QPen pen(palette().color(QPalette::Mid));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    const int x = columnX(level);
    const bool first = node->row() == 0 && node->parent() == nullptr;
    painter->drawLine(x, first ? midY : rect.top(), x, hasNextSibling(node) ? rect.bottom() : midY);
    painter->drawLine(x, midY, x + step / 2, midY);
    int depth = level - 1;
    for (const Node* up = node->parent(); up != nullptr; up = up->parent(), --depth) {
        if (hasNextSibling(up))
            painter->drawLine(columnX(depth), rect.top(), columnX(depth), rect.bottom());
    }
    painter->restore();

    // The branch indicators, as QTreeView has the style draw them for a
    // tree: the node's own with its button, then one per ancestor.
    QStyleOptionViewItem opt;
    initViewItemOption(&opt);
    QStyle::State extra = QStyle::State_None;
    if (isEnabled()) extra |= QStyle::State_Enabled;
    if (hasFocus()) extra |= QStyle::State_HasFocus;
    if (window()->isActiveWindow()) extra |= QStyle::State_Active;
    const QPoint oldOrigin = painter->brushOrigin();
    if (verticalScrollMode() == QAbstractItemView::ScrollPerPixel)
        painter->setBrushOrigin(QPoint(0, verticalOffset()));
    if (selectionModel()->isSelected(index)) extra |= QStyle::State_Selected;
    opt.rect = QRect(cellLeft(level), rect.top(), step, rect.height());
    opt.state = QStyle::State_Item | extra |
                (hasNextSibling(node) ? QStyle::State_Sibling : QStyle::State_None) |
                (node->hasChildren() ? QStyle::State_Children : QStyle::State_None) |
                (shown_->isExpanded(node) ? QStyle::State_Open : QStyle::State_None);
    style()->drawPrimitive(QStyle::PE_IndicatorBranch, &opt, painter, this);
    depth = level - 1;
    for (const Node* up = node->parent(); up != nullptr; up = up->parent(), --depth) {
        opt.rect = QRect(cellLeft(depth), rect.top(), step, rect.height());
        opt.state = extra | (hasNextSibling(up) ? QStyle::State_Sibling : QStyle::State_None);
        style()->drawPrimitive(QStyle::PE_IndicatorBranch, &opt, painter, this);
    }
    painter->setBrushOrigin(oldOrigin);
}

// --- Keys --------------------------------------------------------------------

QModelIndex IniTreeView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    executeDelayedItemsLayout();
    const QModelIndex current = currentIndex();
    Node* node = nodeAt(current);
    if (node == nullptr) return QTreeView::moveCursor(cursorAction, modifiers);
    CursorAction action = cursorAction;
    if (isRightToLeft()) {
        if (action == MoveRight) {
            action = MoveLeft;
        } else if (action == MoveLeft) {
            action = MoveRight;
        }
    }
    const bool descend =
        style()->styleHint(QStyle::SH_ItemView_ArrowKeysNavigateIntoChildren, nullptr, this);
    if (action == MoveLeft) {
        // An expanded node collapses, else the parent is next.
        const QScrollBar* bar = horizontalScrollBar();
        if (shown_->isExpanded(node) && itemsExpandable() && bar->value() == bar->minimum()) {
            setNodeExpanded(node, false);
            keyFolded_ = true;
            updateGeometries();
            viewport()->update();
            return currentIndex();
        }
        if (descend && node->parent() != nullptr) return shown_->indexOf(node->parent());
    } else if (action == MoveRight) {
        // A collapsed node expands, else its first child is next.
        if (!shown_->isExpanded(node) && itemsExpandable() && node->hasChildren()) {
            setNodeExpanded(node, true);
            keyFolded_ = true;
            updateGeometries();
            viewport()->update();
            return currentIndex();
        }
        if (descend) {
            const QModelIndex below = model()->index(current.row() + 1, 0);
            if (below.isValid() && nodeAt(below)->parent() == node) return below;
        }
    }
    return QTreeView::moveCursor(cursorAction, modifiers);
}

void IniTreeView::keyPressEvent(QKeyEvent* event) {
    keyFolded_ = false;
    Node* node = nodeAt(currentIndex());
    if (node != nullptr && itemsExpandable()) {
        switch (event->key()) {
            case Qt::Key_Asterisk:
                if (ShownModel::isExpandable(node)) {
                    const bool was = shown_->isExpanded(node);
                    shown_->expandSubtree(node);
                    if (!was) emit expanded(nodeIndex(node));
                }
                break;
            case Qt::Key_Plus:
                setNodeExpanded(node, true);
                break;
            case Qt::Key_Minus:
                setNodeExpanded(node, false);
                break;
            default:
                break;
        }
    }
    QTreeView::keyPressEvent(event);
    if (keyFolded_) event->accept();
}

void IniTreeView::keyboardSearch(const QString& search) {
    // As QTreeView searches a tree: typed characters within the keyboard
    // interval add up; among each run of shown siblings the first whose
    // text starts with them counts (for the current node's siblings, the
    // first from it on, around their end); the nearest at or below the
    // current row wins, else the topmost above it.
    if (shown_ == nullptr || shown_->rowCount() == 0) return;
    executeDelayedItemsLayout();
    QModelIndex start = currentIndex().isValid() ? currentIndex() : model()->index(0, 0);
    bool skipRow = false;
    const bool timeWasValid = keyboardInputTime_.isValid();
    qint64 elapsed = 0;
    if (timeWasValid) {
        elapsed = keyboardInputTime_.restart();
    } else {
        keyboardInputTime_.start();
    }
    if (search.isEmpty() || !timeWasValid || elapsed > QApplication::keyboardInputInterval()) {
        keyboardInput_ = search;
        skipRow = currentIndex().isValid();
    } else {
        keyboardInput_ += search;
    }
    // Typing the same key again steps through the nodes it starts.
    bool sameKey = false;
    if (keyboardInput_.size() > 1) {
        const qsizetype c = keyboardInput_.count(keyboardInput_.at(keyboardInput_.size() - 1));
        sameKey = c == keyboardInput_.size();
        if (sameKey) skipRow = true;
    }
    if (skipRow) {
        const QModelIndex below = model()->index(start.row() + 1, 0);
        start = below.isValid() ? below : model()->index(0, 0);
    }
    const Node* startNode = nodeAt(start);
    if (startNode == nullptr) return;
    const int startRow = start.row();
    const QString needle = sameKey ? QString(keyboardInput_.at(0)) : keyboardInput_;
    const Document& doc = nodes_->document();

    int bestAbove = -1;
    int bestBelow = -1;
    const auto searchSiblings = [&](const Node* parent) {
        const int count = parent ? parent->childCount() : doc.TopLevelCount();
        const int from = startNode->parent() == parent ? startNode->row() : 0;
        for (int i = 0; i < count; ++i) {
            const int row = (from + i) % count;
            const Node* node = parent ? parent->child(row) : doc.TopLevel(row);
            if (!nodes_->displayText(node).startsWith(needle, Qt::CaseInsensitive)) continue;
            const int hit = shown_->indexOf(node).row();
            if (hit >= 0 && hit < startRow) {
                bestAbove = bestAbove == -1 ? hit : std::min(hit, bestAbove);
            } else if (hit >= startRow) {
                bestBelow = bestBelow == -1 ? hit : std::min(hit, bestBelow);
            }
            return;
        }
    };
    searchSiblings(nullptr);
    for (const Node* node = doc.First(); node != nullptr;) {
        if (node->hasChildren() && shown_->isExpanded(node)) {
            searchSiblings(node);
            node = node->child(0);
            continue;
        }
        // Past this node and its hidden subtree.
        const Node* next = nullptr;
        for (const Node* up = node; up != nullptr && next == nullptr; up = up->parent()) {
            const int count = up->parent() ? up->parent()->childCount() : doc.TopLevelCount();
            if (up->row() + 1 < count)
                next =
                    up->parent() ? up->parent()->child(up->row() + 1) : doc.TopLevel(up->row() + 1);
        }
        node = next;
    }
    if (bestBelow > -1 || bestAbove > -1) {
        const QModelIndex found = model()->index(bestBelow > -1 ? bestBelow : bestAbove, 0);
        const QItemSelectionModel::SelectionFlags flags =
            selectionMode() == SingleSelection
                ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                : QItemSelectionModel::NoUpdate;
        selectionModel()->setCurrentIndex(found, flags);
    }
}

// --- Mouse -------------------------------------------------------------------

Node* IniTreeView::buttonAt(const QPoint& pos) const {
    if (shown_ == nullptr) return nullptr;
    const QModelIndex row = indexAt(pos);
    Node* node = nodeAt(row);
    if (node == nullptr || !node->hasChildren()) return nullptr;
    const int column = header()->logicalIndexAt(pos.x());
    if (column != 0) return nullptr;
    const QRect line = QTreeView::visualRect(row);
    const int step = indentation();
    const int position = header()->sectionViewportPosition(0);
    const int size = header()->sectionSize(0);
    const int indent = (node->level() + 1) * step;
    const int left = isRightToLeft() ? position + size - indent : position + indent - step;
    QStyleOption opt;
    opt.initFrom(this);
    opt.rect = QRect(left, line.top(), step, line.height());
    const QRect button = style()->subElementRect(QStyle::SE_TreeViewDisclosureItem, &opt, this);
    return button.contains(pos) ? node : nullptr;
}

bool IniTreeView::toggleButtonAt(const QPoint& pos) {
    if ((state() != NoState && state() != EditingState) || !viewport()->rect().contains(pos))
        return false;
    Node* node = buttonAt(pos);
    if (node == nullptr || !itemsExpandable()) return false;
    setNodeExpanded(node, !shown_->isExpanded(node));
    updateGeometries();
    viewport()->update();
    return true;
}

void IniTreeView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (buttonAt(pos) == nullptr) {
        pressed_ = indexAt(pos);
        QTreeView::mousePressEvent(event);
        return;
    }
    // A press on an expand button selects nothing; it folds on the press or
    // the release, as the style says.
    pressed_ = QPersistentModelIndex();
    if (style()->styleHint(QStyle::SH_ListViewExpand_SelectMouseType, nullptr, this) ==
        QEvent::MouseButtonPress)
        toggleButtonAt(pos);
}

void IniTreeView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (buttonAt(pos) == nullptr) {
        QTreeView::mouseReleaseEvent(event);
        return;
    }
    if (state() == DragSelectingState || state() == DraggingState) setState(NoState);
    if (style()->styleHint(QStyle::SH_ListViewExpand_SelectMouseType, nullptr, this) ==
        QEvent::MouseButtonRelease)
        toggleButtonAt(pos);
}

void IniTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (state() != NoState || !viewport()->rect().contains(pos)) return;
    // A double click on an expand button does nothing more than its press.
    if (buttonAt(pos) != nullptr) return;
    const QPersistentModelIndex persistent = indexAt(pos);
    const bool sameAsPressed = pressed_ == persistent;
    QTreeView::mouseDoubleClickEvent(event);
    // QTreeView then toggles a node with children, which a row of the flat
    // list never is to it.
    if (!sameAsPressed || !persistent.isValid() || state() != NoState) return;
    Node* node = nodeAt(persistent);
    if (node != nullptr && itemsExpandable() && expandsOnDoubleClick() && node->hasChildren())
        setNodeExpanded(node, !shown_->isExpanded(node));
}

}  // namespace keyloft::ui
