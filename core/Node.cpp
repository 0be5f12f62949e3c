// Derived values of a node.
#include "Node.h"

namespace keyloft {

int Node::level() const {
    int level = 0;
    for (const Node* up = parent(); up != nullptr; up = up->parent()) ++level;
    return level;
}

}  // namespace keyloft
