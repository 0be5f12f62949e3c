// The rows the tree view shows: every node whose ancestors are all expanded,
// in tree order, as one flat list.
#pragma once

#include <QAbstractItemModel>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "document/TreeObserver.h"

namespace keyloft {
class Document;
class Node;
}  // namespace keyloft

namespace keyloft::ui {

class DocumentModel;

// The view keeps which nodes are expanded here, a bit per node, instead of
// a persistent index per expanded node: Expand all and Collapse all then
// cost a few instructions per node and one relayout of the shown rows.
//
// Row r is the r-th shown node in tree order. Each node with children keeps
// the expanded bits of its children and, once one of them shows more than
// its own row, a Fenwick tree over the rows each child shows beyond its own; a row maps to
// its node and a node to its row in O(depth x log n). An index carries only
// its row, so laying out millions of rows touches no node.
//
// The document's notifications become insertions and removals of the shown
// rows and changes of their data; a change below a collapsed node announces
// nothing. Data and edits go through the document model, which stays the
// view of the whole tree that the commands name nodes by.
class ShownModel : public QAbstractItemModel, private TreeObserver {
    Q_OBJECT
public:
    explicit ShownModel(DocumentModel& nodes, QObject* parent = nullptr);
    ~ShownModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    DocumentModel& nodes() const { return nodes_; }
    Node* nodeOf(const QModelIndex& index) const;
    // The row of a shown node; the invalid index for a hidden one.
    QModelIndex indexOf(const Node* node) const;

    bool isExpanded(const Node* node) const;
    // Whether every ancestor of the node is expanded.
    bool isShown(const Node* node) const;
    // Whether the view would expand the node: keys without children never
    // have any to show.
    static bool isExpandable(const Node* node);
    // Expands or collapses one node, inserting or removing the rows of its
    // shown descendants; false when nothing changed.
    bool setExpanded(Node* node, bool expanded);
    // Expands every node given, as one layout change.
    void expandNodes(const std::vector<Node*>& nodes);
    // Every expandable node below `node` (every node for nullptr) expanded,
    // `node` itself too; the shown rows change as one layout change.
    void expandSubtree(Node* node);
    // Every node collapsed, as one layout change.
    void collapseEverything();

    // The node whose rows are being removed because the document deletes
    // it, from the removal's announcement to its end; nullptr otherwise (a
    // collapse removes rows too).
    const Node* removing() const { return removing_; }

    // How many indexes index() has handed out since the model was made: the
    // rows the view has visited.
    quint64 indexLookups() const { return indexLookups_; }
    // How many persistent indexes the model keeps up to date for its views.
    int persistentIndexCount() const { return static_cast<int>(persistentIndexList().size()); }

private:
    // The children of one node (or of the top level).
    struct Fold {
        std::vector<std::uint8_t> open;  // per child: expanded
        // Fenwick tree (1-based) over the rows each child shows beyond its
        // own; empty while no child shows more than its own row.
        std::vector<int> tree;
        int extra = 0;  // the sum of those rows
    };

    Document& doc() const;
    int childCount(const Node* parent) const;
    Node* child(const Node* parent, int row) const;
    const Fold* foldOf(const Node* parent) const;
    Fold& makeFold(const Node* parent);
    // Makes the Fenwick tree of the fold, all children showing one row.
    static void keepTree(Fold& fold);
    // The tree into the values it sums and back, in place.
    static void treeToValues(std::vector<int>& tree);
    static void valuesToTree(std::vector<int>& tree);
    static void insertChildren(Fold& fold, int first, int count);
    static void removeChild(Fold& fold, int row);
    // Rows the children of `node` show (whether or not `node` is expanded).
    int below(const Node* node) const;
    // Rows `node` shows: itself and, when expanded, what its children show.
    int shownCount(const Node* node) const;
    // Rows the children of `parent` before `row` show.
    int prefix(const Node* parent, int row) const;
    int rowOf(const Node* node) const;
    Node* nodeAtRow(int row) const;
    // Makes room so that changing the rows `node` shows allocates nothing.
    void prepareChange(const Node* node);
    // The rows `node` shows changed by `delta`; updates its ancestors.
    void changed(const Node* node, int delta);
    // Runs `change` on the bits as one layout change of the shown rows:
    // every persistent index follows its node, or goes when it is hidden.
    template <typename Change>
    void relayout(Change&& change);
    void openAll(const Node* parent);
    // Caches the row count after a change of the shown rows.
    void recount();

    void NodesAboutToBeAdded(Node* parent, int first, int last) override;
    void NodesAdded(Node* parent, int first, int last) override;
    void NodeAboutToBeRemoved(Node* node) override;
    void NodeRemoved(Node* parent, int row) override;
    void TreeAboutToBeReset() override;
    void TreeReset() override;
    void TextsChanged(Node* parent, int first, int last) override;

    DocumentModel& nodes_;
    std::unordered_map<const Node*, Fold> folds_;
    int rows_ = 0;
    // What an add or a removal under way announced.
    bool announced_ = false;
    int removedCount_ = 0;
    const Node* removing_ = nullptr;
    mutable quint64 indexLookups_ = 0;
};

}  // namespace keyloft::ui
