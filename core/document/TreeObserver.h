// Structural notifications of the document tree, for views kept over it.
#pragma once

namespace keyloft {

class Node;

// A parent of nullptr means the top level.
//
// Guarantees of the Document to its observers:
// - Every "about to" call is followed by its matching "done" call before the
//   Document returns to its caller, also when the operation fails: an
//   operation takes all it needs (nodes, text storage, room in its lists)
//   before its first "about to" call, so nothing between the two can throw.
// - An operation that fails (std::bad_alloc) sends no notification and
//   leaves the tree exactly as it was. A load builds the new tree aside and
//   only then swaps it in between one reset's two calls; a rewrite of several
//   texts stores all of them before it changes any.
class TreeObserver {
public:
    virtual ~TreeObserver() = default;
    virtual void NodesAboutToBeAdded(Node* parent, int first, int last) = 0;
    virtual void NodesAdded(Node* parent, int first, int last) = 0;
    virtual void NodeAboutToBeRemoved(Node* node) = 0;
    virtual void NodeRemoved(Node* parent, int row) = 0;
    // Clear and load replace the whole tree.
    virtual void TreeAboutToBeReset() = 0;
    virtual void TreeReset() = 0;
    // Texts of the children first..last of parent changed (one node when
    // first == last).
    virtual void TextsChanged(Node* parent, int first, int last) = 0;
};

}  // namespace keyloft
