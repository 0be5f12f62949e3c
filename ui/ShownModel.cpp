// The shown rows of the document tree as a flat model.
#include "ShownModel.h"

#include <bit>

#include "DocumentModel.h"
#include "document/Document.h"

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

// The child whose rows hold the row `rows` rows after the children's first,
// and how far into that child's rows it lies. Each child shows one row and
// the extra rows `tree` sums.
std::pair<int, int> TreeFind(const std::vector<int>& tree, int rows) {
    const auto n = static_cast<unsigned>(tree.size() - 1);
    unsigned at = 0;
    for (unsigned step = n == 0 ? 0 : std::bit_floor(n); step != 0; step >>= 1) {
        if (at + step <= n && tree[at + step] + static_cast<int>(step) <= rows) {
            at += step;
            rows -= tree[at] + static_cast<int>(step);
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
    rows_ = doc().TopLevelCount() + (fold != nullptr ? fold->extra : 0);
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

void ShownModel::valuesToTree(std::vector<int>& tree) {
    const std::size_t n = tree.size() - 1;
    for (std::size_t i = 1; i <= n; ++i) {
        const std::size_t up = i + (i & (~i + 1));
        if (up <= n) tree[up] += tree[i];
    }
}

void ShownModel::treeToValues(std::vector<int>& tree) {
    const std::size_t n = tree.size() - 1;
    for (std::size_t i = n; i >= 1; --i) {
        const std::size_t up = i + (i & (~i + 1));
        if (up <= n) tree[up] -= tree[i];
    }
}

void ShownModel::keepTree(Fold& fold) {
    if (fold.tree.empty()) fold.tree.assign(fold.open.size() + 1, 0);
}

void ShownModel::insertChildren(Fold& fold, int first, int count) {
    const auto at = static_cast<std::ptrdiff_t>(first);
    const bool last = static_cast<std::size_t>(first) == fold.open.size();
    fold.open.insert(fold.open.begin() + at, static_cast<std::size_t>(count), 0);
    if (fold.tree.empty()) return;
    if (last) {
        // New last children: each entry sums the range it covers, of which
        // only the new child (no extra rows) is not yet in the tree.
        for (int k = 0; k < count; ++k) {
            const int i = static_cast<int>(fold.tree.size());
            fold.tree.push_back(TreePrefix(fold.tree, i - 1) - TreePrefix(fold.tree, i - (i & -i)));
        }
        return;
    }
    treeToValues(fold.tree);
    fold.tree.insert(fold.tree.begin() + at + 1, static_cast<std::size_t>(count), 0);
    valuesToTree(fold.tree);
}

void ShownModel::removeChild(Fold& fold, int row) {
    const auto at = static_cast<std::ptrdiff_t>(row);
    fold.open.erase(fold.open.begin() + at);
    if (fold.tree.empty()) return;
    fold.extra -= TreePrefix(fold.tree, row + 1) - TreePrefix(fold.tree, row);
    if (static_cast<std::size_t>(row) + 2 == fold.tree.size()) {
        // The last child: no other entry covers it.
        fold.tree.pop_back();
        return;
    }
    treeToValues(fold.tree);
    fold.tree.erase(fold.tree.begin() + at + 1);
    valuesToTree(fold.tree);
}

bool ShownModel::isExpandable(const Node* node) { return node->hasChildren() || node->level() < 2; }

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
    return childCount(node) + (fold != nullptr ? fold->extra : 0);
}

int ShownModel::shownCount(const Node* node) const {
    return 1 + (isExpanded(node) ? below(node) : 0);
}

int ShownModel::prefix(const Node* parent, int row) const {
    const Fold* fold = foldOf(parent);
    return row + (fold != nullptr && !fold->tree.empty() ? TreePrefix(fold->tree, row) : 0);
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
        if (fold != nullptr && !fold->tree.empty()) std::tie(at, into) = TreeFind(fold->tree, row);
        if (at < 0 || at >= childCount(parent)) return nullptr;
        Node* node = child(parent, at);
        if (into == 0) return node;
        row = into - 1;
        parent = node;
    }
}

void ShownModel::prepareChange(const Node* node) {
    for (const Node* at = node; at != nullptr; at = at->parent()) {
        keepTree(makeFold(at->parent()));
        if (!isExpanded(at->parent())) return;
    }
}

void ShownModel::changed(const Node* node, int delta) {
    if (delta == 0) return;
    for (const Node* at = node; at != nullptr; at = at->parent()) {
        Fold& fold = makeFold(at->parent());
        keepTree(fold);
        TreeAdd(fold.tree, at->row(), delta);
        fold.extra += delta;
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

int ShownModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

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
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemNeverHasChildren;
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
    std::vector<int> tree;  // the extra rows of each child, then their tree
    const int n = childCount(parent);
    for (int row = 0; row < n; ++row) {
        const Node* node = child(parent, row);
        int extra = 0;
        const bool hasChildren = node->hasChildren();
        if (hasChildren || level < 2) {
            if (fold == nullptr) {
                fold = &makeFold(parent);
                tree.reserve(static_cast<std::size_t>(n) + 1);
                tree.assign(static_cast<std::size_t>(row) + 1, 0);
            }
            fold->open[static_cast<std::size_t>(row)] = 1;
            if (hasChildren) {
                openAll(node);
                extra = below(node);
            }
        }
        if (fold != nullptr) tree.push_back(extra);
        if (extra != 0) uniform = false;
    }
    if (fold != nullptr && !uniform) {
        fold->extra = 0;
        for (const int extra : tree) fold->extra += extra;
        valuesToTree(tree);
        fold->tree = std::move(tree);
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
        if (!fold.tree.empty()) fold.tree.reserve(fold.tree.size() + static_cast<std::size_t>(n));
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
        insertChildren(it->second, first, n);
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
        removing_ = node;
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
        removeChild(it->second, row);
    }
    if (parent != nullptr && isExpanded(parent)) changed(parent, -removedCount_);
    recount();
    if (announced_) {
        announced_ = false;
        endRemoveRows();
        removing_ = nullptr;
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
