// The shown rows of the document tree as a flat model.
#include "ShownModel.h"

#include <bit>

#include "Document.h"
#include "DocumentModel.h"

namespace keyloft::ui {

namespace {

// Fenwick tree helpers over 1-based `tree` of `n` entries.
int TreePrefix(const std::vector<int>& tree, int row) {
    int sum = 0;
    for (int i = row; i > 0; i -= i & -i) sum += tree[static_cast<std::size_t>(i)];
    return sum;
}

void TreeAdd(std::vector<int>& tree, int row, int delta) {
    const int n = static_cast<int>(tree.size()) - 1;
    for (int i = row + 1; i <= n; i += i & -i) tree[static_cast<std::size_t>(i)] += delta;
}

// The child whose rows hold `rows` rows after the children's first, and
// how far into that child's rows it lies.
std::pair<int, int> TreeFind(const std::vector<int>& tree, int rows) {
    const auto n = static_cast<unsigned>(tree.size() - 1);
    unsigned at = 0;
    for (unsigned step = n == 0 ? 0 : std::bit_floor(n); step != 0; step >>= 1) {
        if (at + step <= n && tree[at + step] <= rows) {
            at += step;
            rows -= tree[at];
        }
    }
    return {static_cast<int>(at), rows};
}

}  // namespace

ShownModel::ShownModel(DocumentModel& nodes, QObject* parent)
    : QAbstractItemModel(parent), nodes_(nodes) {
    doc().AddObserver(this);
    recount();
}

void ShownModel::recount() {
    const Fold* fold = foldOf(nullptr);
    rows_ = fold != nullptr && !fold->counts.empty() ? fold->total : doc().TopLevelCount();
}

ShownModel::~ShownModel() { doc().RemoveObserver(this); }

Document& ShownModel::doc() const { return nodes_.document(); }

int ShownModel::childCount(const Node* parent) const {
    return parent ? parent->childCount() : doc().TopLevelCount();
}

Node* ShownModel::child(const Node* parent, int row) const {
    return parent ? parent->child(row) : doc().TopLevel(row);
}

const ShownModel::Fold* ShownModel::foldOf(const Node* parent) const {
    const auto it = folds_.find(parent);
    return it == folds_.end() ? nullptr : &it->second;
}

ShownModel::Fold& ShownModel::makeFold(const Node* parent) {
    Fold& fold = folds_[parent];
    if (fold.open.empty()) fold.open.assign(static_cast<std::size_t>(childCount(parent)), 0);
    return fold;
}

void ShownModel::rebuildTree(Fold& fold) {
    const std::size_t n = fold.counts.size();
    fold.tree.assign(n + 1, 0);
    fold.total = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        fold.tree[i] += fold.counts[i - 1];
        fold.total += fold.counts[i - 1];
        const std::size_t up = i + (i & (~i + 1));
        if (up <= n) fold.tree[up] += fold.tree[i];
    }
}

void ShownModel::keepCounts(Fold& fold) {
    if (!fold.counts.empty() || fold.open.empty()) return;
    fold.counts.assign(fold.open.size(), 1);
    rebuildTree(fold);
}

bool ShownModel::isExpandable(const Node* node) {
    return node->hasChildren() || node->level() < 2;
}

bool ShownModel::isExpanded(const Node* node) const {
    if (node == nullptr) return true;
    const Fold* fold = foldOf(node->parent());
    return fold != nullptr && fold->open[static_cast<std::size_t>(node->row())] != 0;
}

bool ShownModel::isShown(const Node* node) const {
    for (const Node* up = node->parent(); up != nullptr; up = up->parent()) {
        if (!isExpanded(up)) return false;
    }
    return true;
}

int ShownModel::below(const Node* node) const {
    const Fold* fold = foldOf(node);
    return fold != nullptr && !fold->counts.empty() ? fold->total : childCount(node);
}

int ShownModel::shownCount(const Node* node) const {
    return 1 + (isExpanded(node) ? below(node) : 0);
}

int ShownModel::prefix(const Node* parent, int row) const {
    const Fold* fold = foldOf(parent);
    return fold != nullptr && !fold->counts.empty() ? TreePrefix(fold->tree, row) : row;
}

int ShownModel::rowOf(const Node* node) const {
    int row = 0;
    for (const Node* at = node; at != nullptr; at = at->parent()) {
        row += prefix(at->parent(), at->row());
        if (at->parent() != nullptr) ++row;
    }
    return row;
}

Node* ShownModel::nodeAtRow(int row) const {
    const Node* parent = nullptr;
    for (;;) {
        const Fold* fold = foldOf(parent);
        int at = row;
        int into = 0;
        if (fold != nullptr && !fold->counts.empty()) std::tie(at, into) = TreeFind(fold->tree, row);
        if (at < 0 || at >= childCount(parent)) return nullptr;
        Node* node = child(parent, at);
        if (into == 0) return node;
        row = into - 1;
        parent = node;
    }
}

void ShownModel::prepareChange(const Node* node) {
    for (const Node* at = node; at != nullptr; at = at->parent()) {
        keepCounts(makeFold(at->parent()));
        if (!isExpanded(at->parent())) return;
    }
}

void ShownModel::changed(const Node* node, int delta) {
    if (delta == 0) return;
    for (const Node* at = node; at != nullptr; at = at->parent()) {
        Fold& fold = makeFold(at->parent());
        keepCounts(fold);
        fold.counts[static_cast<std::size_t>(at->row())] += delta;
        TreeAdd(fold.tree, at->row(), delta);
        fold.total += delta;
        if (!isExpanded(at->parent())) return;
    }
}

// --- The model ---------------------------------------------------------------

QModelIndex ShownModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || column != 0 || row < 0 || row >= rowCount()) return {};
    ++indexLookups_;
    return createIndex(row, 0);
}

QModelIndex ShownModel::parent(const QModelIndex&) const { return {}; }

QModelIndex ShownModel::sibling(int row, int column, const QModelIndex& index) const {
    if (!index.isValid() || column != 0 || row < 0 || row >= rowCount()) return {};
    return createIndex(row, 0);
}

int ShownModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ShownModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 1; }

bool ShownModel::hasChildren(const QModelIndex& parent) const {
    return !parent.isValid() && rowCount() > 0;
}

Node* ShownModel::nodeOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    return nodeAtRow(index.row());
}

QModelIndex ShownModel::indexOf(const Node* node) const {
    if (node == nullptr || !isShown(node)) return {};
    return createIndex(rowOf(node), 0);
}

QVariant ShownModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    const Node* node = nodeOf(index);
    if (node == nullptr) return {};
    return nodes_.displayText(node);
}

bool ShownModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const Node* node = nodeOf(index);
    if (node == nullptr) return false;
    return nodes_.setData(nodes_.indexOf(node), value, role);
}

Qt::ItemFlags ShownModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    // The rows of the flat list have no children of their own: the view
    // then asks no row whether it has any.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable |
           Qt::ItemNeverHasChildren;
}

// --- Folding -----------------------------------------------------------------

bool ShownModel::setExpanded(Node* node, bool expanded) {
    if (node == nullptr || isExpanded(node) == expanded) return false;
    if (expanded && !isExpandable(node)) return false;
    Fold& fold = makeFold(node->parent());
    prepareChange(node);
    const int rows = below(node);
    const int at = isShown(node) && rows > 0 ? rowOf(node) : -1;
    if (at >= 0) {
        if (expanded) {
            beginInsertRows({}, at + 1, at + rows);
        } else {
            beginRemoveRows({}, at + 1, at + rows);
        }
    }
    fold.open[static_cast<std::size_t>(node->row())] = expanded ? 1 : 0;
    changed(node, expanded ? rows : -rows);
    recount();
    if (at >= 0) {
        if (expanded) {
            endInsertRows();
        } else {
            endRemoveRows();
        }
    }
    return true;
}

void ShownModel::openAll(const Node* parent) {
    // The top level is level 0; a child is a key from level 2 on.
    const int level = parent == nullptr ? 0 : parent->level() + 1;
    folds_.erase(parent);
    Fold* fold = nullptr;
    bool uniform = true;
    std::vector<int> counts;
    const int n = childCount(parent);
    for (int row = 0; row < n; ++row) {
        const Node* node = child(parent, row);
        int count = 1;
        const bool hasChildren = node->hasChildren();
        if (hasChildren || level < 2) {
            if (fold == nullptr) {
                fold = &makeFold(parent);
                counts.reserve(static_cast<std::size_t>(n));
                counts.assign(static_cast<std::size_t>(row), 1);
            }
            fold->open[static_cast<std::size_t>(row)] = 1;
            if (hasChildren) {
                openAll(node);
                count += below(node);
            }
        }
        if (fold != nullptr) counts.push_back(count);
        if (count != 1) uniform = false;
    }
    if (fold != nullptr && !uniform) {
        fold->counts = std::move(counts);
        rebuildTree(*fold);
    }
}

template <typename Change>
void ShownModel::relayout(Change&& change) {
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    std::vector<const Node*> held;
    held.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before) held.push_back(nodeOf(index));
    change();
    recount();
    QModelIndexList after;
    after.reserve(before.size());
    for (const Node* node : held) after.push_back(indexOf(node));
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void ShownModel::expandSubtree(Node* node) {
    if (node != nullptr && !isExpandable(node)) return;
    relayout([&] {
        if (node == nullptr) {
            folds_.clear();
            openAll(nullptr);
            return;
        }
        const int before = shownCount(node);
        makeFold(node->parent()).open[static_cast<std::size_t>(node->row())] = 1;
        // Folds of the subtree's nodes that Expand gives none again.
        for (auto it = folds_.begin(); it != folds_.end();) {
            bool inside = false;
            for (const Node* up = it->first; up != nullptr && !inside; up = up->parent())
                inside = up == node;
            it = inside ? folds_.erase(it) : std::next(it);
        }
        if (node->hasChildren()) openAll(node);
        changed(node, shownCount(node) - before);
    });
}

void ShownModel::expandNodes(const std::vector<Node*>& nodes) {
    if (nodes.empty()) return;
    relayout([&] {
        for (Node* node : nodes) {
            if (isExpanded(node) || !isExpandable(node)) continue;
            Fold& fold = makeFold(node->parent());
            fold.open[static_cast<std::size_t>(node->row())] = 1;
            changed(node, below(node));
        }
    });
}

void ShownModel::collapseEverything() {
    relayout([&] { folds_.clear(); });
}

// --- The document's notifications --------------------------------------------

void ShownModel::NodesAboutToBeAdded(Node* parent, int first, int last) {
    const int n = last - first + 1;
    if (auto it = folds_.find(parent); it != folds_.end()) {
        Fold& fold = it->second;
        fold.open.reserve(fold.open.size() + static_cast<std::size_t>(n));
        if (!fold.counts.empty()) {
            fold.counts.reserve(fold.counts.size() + static_cast<std::size_t>(n));
            fold.tree.reserve(fold.counts.size() + static_cast<std::size_t>(n) + 1);
        }
    }
    const bool open = parent == nullptr || isExpanded(parent);
    if (parent != nullptr && open) prepareChange(parent);
    announced_ = open && (parent == nullptr || isShown(parent));
    if (announced_) {
        const int at = (parent ? rowOf(parent) + 1 : 0) + prefix(parent, first);
        beginInsertRows({}, at, at + n - 1);
    }
}

void ShownModel::NodesAdded(Node* parent, int first, int last) {
    const int n = last - first + 1;
    if (auto it = folds_.find(parent); it != folds_.end()) {
        Fold& fold = it->second;
        const auto at = static_cast<std::ptrdiff_t>(first);
        fold.open.insert(fold.open.begin() + at, static_cast<std::size_t>(n), 0);
        if (!fold.counts.empty()) {
            fold.counts.insert(fold.counts.begin() + at, static_cast<std::size_t>(n), 1);
            rebuildTree(fold);
        }
    }
    if (parent != nullptr && isExpanded(parent)) changed(parent, n);
    recount();
    if (announced_) {
        announced_ = false;
        endInsertRows();
    } else if (parent != nullptr && parent->childCount() == n && isShown(parent)) {
        // The parent now has an expand button.
        const QModelIndex index = indexOf(parent);
        emit dataChanged(index, index);
    }
}

void ShownModel::NodeAboutToBeRemoved(Node* node) {
    removedCount_ = shownCount(node);
    announced_ = isShown(node);
    if (announced_) {
        const int at = rowOf(node);
        beginRemoveRows({}, at, at + removedCount_ - 1);
    }
    // The node's subtree goes, and with it what was kept of its nodes.
    for (auto it = folds_.begin(); it != folds_.end();) {
        bool inside = false;
        for (const Node* up = it->first; up != nullptr && !inside; up = up->parent())
            inside = up == node;
        it = inside ? folds_.erase(it) : std::next(it);
    }
}

void ShownModel::NodeRemoved(Node* parent, int row) {
    if (auto it = folds_.find(parent); it != folds_.end()) {
        Fold& fold = it->second;
        const auto at = static_cast<std::ptrdiff_t>(row);
        fold.open.erase(fold.open.begin() + at);
        if (!fold.counts.empty()) {
            fold.counts.erase(fold.counts.begin() + at);
            rebuildTree(fold);
        }
    }
    if (parent != nullptr && isExpanded(parent)) changed(parent, -removedCount_);
    recount();
    if (announced_) {
        announced_ = false;
        endRemoveRows();
    } else if (parent != nullptr && parent->childCount() == 0 && isShown(parent)) {
        // The parent lost its expand button.
        const QModelIndex index = indexOf(parent);
        emit dataChanged(index, index);
    }
}

void ShownModel::TreeAboutToBeReset() { beginResetModel(); }

void ShownModel::TreeReset() {
    folds_.clear();
    recount();
    endResetModel();
}

void ShownModel::TextsChanged(Node* parent, int first, int last) {
    // Rows below a collapsed node are not shown: nothing to announce.
    if (parent != nullptr && (!isExpanded(parent) || !isShown(parent))) return;
    const int top = rowOf(child(parent, first));
    const int bottom = first == last ? top : rowOf(child(parent, last));
    emit dataChanged(createIndex(top, 0), createIndex(bottom, 0), {Qt::DisplayRole, Qt::EditRole});
}

}  // namespace keyloft::ui
