// Derived values of a node. The store's chunks, operations and checker are in
// NodeStore.cpp.
#include "document/Node.h"

#include <string>

#include "reading/IniReader.h"
#include "reading/LineScan.h"

namespace keyloft {

static_assert(sizeof(Node) == 20, "the layout HACKING.md describes (Node storage)");

namespace {
// Length of the break right after `line` in the store's bytes.
std::size_t BreakAfter(const NodeStore& store, std::string_view line) {
    return BreakLength(line.data() + line.size(), store.BytesEnd());
}
}  // namespace

std::string_view Node::lineBreak() const {
    const std::string_view line = fileLine();
    if (line.data() == nullptr) return {};
    return {line.data() + line.size(), BreakAfter(Store(), line)};
}

std::string_view Node::lineWithBreak() const {
    const std::string_view line = fileLine();
    if (line.data() == nullptr) return {};
    return {line.data(), line.size() + BreakAfter(Store(), line)};
}

std::string_view Node::Materialise() const {
    NodeStore& store = Store();
    std::string scratch;
    const std::string_view stored = store.arena_.Store(ReadKeyText(fileLine(), scratch));
    const std::uint32_t ref = store.arena_.RefOfLast(stored);
    // The node's fields change, not its text: nothing the document tells its
    // observers about.
    Node* self = const_cast<Node*>(this);
    if (ref != TextArena::kNoRef) {
        self->SetKidsKind(kArenaText);
        self->kids_ = ref;
        return stored;
    }
    store.extras_.push_back({stored, leading(), fileLine()});
    self->SetKidsKind(kRun);
    self->kids_ = 0;
    self->bits_ |= kExtended;
    self->start_ = static_cast<std::uint32_t>(store.extras_.size() - 1);
    return stored;
}

}  // namespace keyloft
