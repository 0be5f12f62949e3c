// Structural notifications of the document tree, for views kept over it.
#pragma once

namespace keyloft {

class Node;

// A parent of nullptr means the top level. Every "about to" call is followed
// by its matching "done" call before the Document returns to its caller.
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
