// The item model over the core document tree.
#include "DocumentModel.h"

#include <algorithm>

#include "DocumentText.h"
#include "document/Document.h"
#include "fast/FastPaths.h"

namespace keyloft::ui {

DocumentModel::DocumentModel(Document& doc, QObject* parent)
    : QAbstractItemModel(parent), doc_(doc) {
    doc_.AddObserver(this);
}

DocumentModel::~DocumentModel() { doc_.RemoveObserver(this); }

namespace {
// An index's id is its node's address with the node's level, 2 for any
// deeper, in the two low bits (nodes are 4-byte aligned). flags() and
// index() then know the level without reading the node: the first layout
// of a file's tens of thousands of sections would otherwise fetch each
// section's node from memory.
constexpr quintptr kLevelBits = 3;
static_assert(alignof(Node) > kLevelBits);

quintptr IdOf(const Node* node, int level) {
    return reinterpret_cast<quintptr>(node) | static_cast<quintptr>(std::min(level, 2));
}

// How many rows ahead index() fetches a node.
constexpr int kAhead = 8;

int LevelOf(const QModelIndex& index) { return static_cast<int>(index.internalId() & kLevelBits); }
}  // namespace

Node* DocumentModel::nodeOf(const QModelIndex& index) const {
    return index.isValid() ? reinterpret_cast<Node*>(index.internalId() & ~kLevelBits) : nullptr;
}

QModelIndex DocumentModel::indexOf(const Node* node) const {
    if (node == nullptr) return {};
    return createIndex(node->row(), 0, IdOf(node, node->level()));
}

QModelIndex DocumentModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    ++indexLookups_;
    if (const Node* up = nodeOf(parent)) {
        const int count = up->childCount();
        if (row >= count) return {};
        // A view lays out children row after row and asks each whether it has
        // children: fetching the node some rows ahead hides the wait for
        // memory when the nodes lie far apart, as a file's sections do.
        if (row + kAhead < count) PrefetchForRead(up->child(row + kAhead));
        return createIndex(row, 0, IdOf(up->child(row), LevelOf(parent) + 1));
    }
    if (row >= doc_.TopLevelCount()) return {};
    return createIndex(row, 0, IdOf(doc_.TopLevel(row), 0));
}

QModelIndex DocumentModel::parent(const QModelIndex& child) const {
    const Node* node = nodeOf(child);
    if (node == nullptr) return {};
    const Node* up = node->parent();
    // Below level 2 the parent's level follows from the child's.
    const int level = LevelOf(child) < 2 ? LevelOf(child) - 1 : up ? up->level() : 0;
    return up ? createIndex(up->row(), 0, IdOf(up, level)) : QModelIndex();
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
    if (LevelOf(index) >= 2 && !node->hasChildren()) flags |= Qt::ItemNeverHasChildren;
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
