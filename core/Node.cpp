// Derived values of a node, and the chunks nodes live in.
#include "Node.h"

#include <new>

namespace keyloft {

namespace {
// Small documents take chunks one by one; larger ones take 2 MB slabs of 32
// chunks, which the large-block allocator backs with huge pages.
constexpr std::size_t kSmallChunks = 8;
constexpr std::size_t kSlabBytes = 2 * 1024 * 1024;
constexpr std::size_t kChunksPerSlab = kSlabBytes / NodeStore::kChunkBytes;
constexpr std::align_val_t kChunkAlign{NodeStore::kChunkBytes};
}  // namespace

static_assert(sizeof(Node) == 24, "the layout described in Node.h");
static_assert(sizeof(NodeStore::ChunkHeader) <= NodeStore::kHeaderBytes);

int Node::level() const {
    int level = 0;
    for (const Node* up = parent(); up != nullptr; up = up->parent()) ++level;
    return level;
}

NodeStore::NodeStore() = default;

NodeStore::~NodeStore() {
    for (char* chunk : small_) ::operator delete(chunk, kChunkAlign);
}

void NodeStore::Grow() {
    const bool slab = small_.size() >= kSmallChunks;
    chunks_.reserve(chunks_.size() + kChunksPerSlab);
    small_.reserve(small_.size() + 1);
    slabs_.reserve(slabs_.size() + 1);
    std::vector<char*> fresh;
    if (slab) {
        LargeBytes memory = AllocateLarge(kSlabBytes);
        if (!memory) throw std::bad_alloc();
        for (std::size_t i = 0; i < kChunksPerSlab; ++i)
            chunks_.push_back(memory.get() + i * kChunkBytes);
        slabs_.push_back(std::move(memory));
    } else {
        auto* chunk = static_cast<char*>(::operator new(kChunkBytes, kChunkAlign, std::nothrow));
        if (chunk == nullptr) throw std::bad_alloc();
        small_.push_back(chunk);
        chunks_.push_back(chunk);
    }
}

Node* NodeStore::NewNode(std::uint32_t parent, std::uint32_t row) {
    std::uint32_t index;
    if (!freeNodes.empty()) {
        index = freeNodes.back();
        freeNodes.pop_back();
    } else {
        if (used_ == kNone - 1) throw std::bad_alloc();
        const std::size_t chunk = used_ / kNodesPerChunk;
        if (chunk == chunks_.size()) Grow();
        if (used_ % kNodesPerChunk == 0) {
            auto* header = reinterpret_cast<ChunkHeader*>(chunks_[chunk]);
            header->store = this;
            header->first = used_;
        }
        index = used_++;
    }
    Node* node = new (At(index)) Node;
    node->parent_ = parent;
    node->row_ = row;
    return node;
}

}  // namespace keyloft
