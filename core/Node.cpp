// Derived values of a node, and the chunks nodes live in.
#include "Node.h"

#include <algorithm>
#include <new>
#include <string>

#include "LineScan.h"
#include "ReserveMore.h"

namespace keyloft {

namespace {
// Small documents take chunks one by one; larger ones take 2 MB slabs of 32
// chunks, which the large-block allocator backs with huge pages.
constexpr std::size_t kSmallChunks = 8;
constexpr std::size_t kSlabBytes = 2 * 1024 * 1024;
constexpr std::size_t kChunksPerSlab = kSlabBytes / NodeStore::kChunkBytes;
constexpr std::align_val_t kChunkAlign{NodeStore::kChunkBytes};
}  // namespace

static_assert(sizeof(Node) == 20, "the layout described in Node.h");
static_assert(sizeof(NodeStore::ChunkHeader) <= NodeStore::kHeaderBytes);

namespace {
// Length of the break right after `line` in the store's bytes.
std::size_t BreakAfter(const NodeStore& store, std::string_view line) {
    return BreakLength(line.data() + line.size(), store.end);
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
    const std::string_view stored = store.arena.Store(ReadKeyText(fileLine(), scratch));
    const std::uint32_t ref = store.arena.RefOfLast(stored);
    // The node's fields change, not its text: nothing the document tells its
    // observers about.
    Node* self = const_cast<Node*>(this);
    if (ref != TextArena::kNoRef) {
        self->SetKidsKind(kArenaText);
        self->kids_ = ref;
        return stored;
    }
    store.extras.push_back({stored, leading(), fileLine()});
    self->SetKidsKind(kRun);
    self->kids_ = 0;
    self->bits_ |= kExtended;
    self->start_ = static_cast<std::uint32_t>(store.extras.size() - 1);
    return stored;
}

NodeStore::NodeStore() = default;

NodeStore::~NodeStore() {
    for (char* chunk : small_) ::operator delete(chunk, kChunkAlign);
}

void NodeStore::Grow() {
    const bool slab = small_.size() >= kSmallChunks;
    ReserveMore(chunks_, kChunksPerSlab);
    ReserveMore(small_, 1);
    ReserveMore(slabs_, 1);
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

void* NodeStore::NewSlot() {
    if (!freeNodes.empty()) {
        const std::uint32_t index = freeNodes.back();
        freeNodes.pop_back();
        return At(index);
    }
    // The current chunk is full (or there is none yet): the next one starts
    // at `used_`, a multiple of the chunk's size.
    if (used_ >= kNone - 1) throw std::bad_alloc();
    const std::size_t chunk = used_ / kNodesPerChunk;
    if (chunk == chunks_.size()) Grow();
    auto* header = reinterpret_cast<ChunkHeader*>(chunks_[chunk]);
    header->store = this;
    header->first = used_;
    fresh_ = At(used_);
    // The last index stays kNone: no node may take it.
    freshEnd_ = fresh_ + std::min<std::size_t>(kNodesPerChunk, kNone - 1 - used_);
    return TakeFresh();
}

}  // namespace keyloft
