// The item model over the core document tree.
#include "DocumentModel.h"

#include "Document.h"
#include "DocumentText.h"

namespace keyloft::ui {

DocumentModel::DocumentModel(Document& doc, QObject* parent)
    : QAbstractItemModel(parent), doc_(doc) {
    doc_.AddObserver(this);
}

DocumentModel::~DocumentModel() { doc_.RemoveObserver(this); }

Node* DocumentModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<Node*>(index.internalPointer()) : nullptr;
}

QModelIndex DocumentModel::indexOf(const Node* node) const {
    if (node == nullptr) return {};
    return createIndex(node->row(), 0, const_cast<Node*>(node));
}

QModelIndex DocumentModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (const Node* up = nodeOf(parent)) {
        if (row >= up->childCount()) return {};
        return createIndex(row, 0, up->child(row));
    }
    if (row >= doc_.TopLevelCount()) return {};
    return createIndex(row, 0, doc_.TopLevel(row));
}

QModelIndex DocumentModel::parent(const QModelIndex& child) const {
    const Node* node = nodeOf(child);
    return node ? indexOf(node->parent()) : QModelIndex();
}

int DocumentModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const Node* node = nodeOf(parent);
    return node ? node->childCount() : doc_.TopLevelCount();
}

int DocumentModel::columnCount(const QModelIndex&) const { return 1; }

bool DocumentModel::hasChildren(const QModelIndex& parent) const {
    const Node* node = nodeOf(parent);
    return node ? node->hasChildren() : doc_.TopLevelCount() > 0;
}

QString DocumentModel::displayText(const Node* node) const { return ShownText(doc_, node); }

QVariant DocumentModel::data(const QModelIndex& index, int role) const {
    const Node* node = nodeOf(index);
    if (node == nullptr) return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return displayText(node);
        default:
            // Colours and font styles come from the node delegate, which
            // also knows whether the node is selected.
            return {};
    }
}

bool DocumentModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    Node* node = nodeOf(index);
    if (node == nullptr || role != Qt::EditRole) return false;
    emit editAccepted(node, value.toString());
    return true;
}

Qt::ItemFlags DocumentModel::flags(const QModelIndex& index) const {
    const Node* node = nodeOf(index);
    if (node == nullptr) return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
    // Keys never get children. Saying so keeps Expand all from recording
    // every key as an expanded node, which made folding a large tree slow.
    if (node->level() >= 2 && !node->hasChildren()) flags |= Qt::ItemNeverHasChildren;
    return flags;
}

void DocumentModel::NodesAboutToBeAdded(Node* parent, int first, int last) {
    beginInsertRows(indexOf(parent), first, last);
}

void DocumentModel::NodesAdded(Node*, int, int) { endInsertRows(); }

void DocumentModel::NodeAboutToBeRemoved(Node* node) {
    beginRemoveRows(indexOf(node->parent()), node->row(), node->row());
}

void DocumentModel::NodeRemoved(Node*, int) { endRemoveRows(); }

void DocumentModel::TreeAboutToBeReset() { beginResetModel(); }

void DocumentModel::TreeReset() { endResetModel(); }

void DocumentModel::TextsChanged(Node* parent, int first, int last) {
    const QModelIndex up = indexOf(parent);
    emit dataChanged(index(first, 0, up), index(last, 0, up), {Qt::DisplayRole, Qt::EditRole});
}

}  // namespace keyloft::ui
