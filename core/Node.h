// One node of the document tree, and the store that holds the nodes.
//
// Memory layout. A node is 20 bytes: five 32-bit words, no pointers.
//   parent  index of the parent node (index 0 is the hidden top node)
//   row     position among the siblings
//   kids    the children: a count when they are the run of nodes right after
//           this one (how a reading lays out a section's lines), or an entry
//           of the store's child lists once edited; for a node without
//           children it may instead be the arena reference of its text
//   start   low 32 bits of the offset of the node's line in the file's
//           bytes; for an extended node, its extra record
//   bits    the offset's high 8 bits, whether the node has a file line, the
//           unchanged mark, the extended mark, the kind of `kids` (2) and
//           the length of the dropped bytes right before the line (19)
// The line itself runs from its offset to the first line break, and its
// break is the bytes found there, so neither length is kept: when the next
// slot holds the next read line, the line ends before that line's dropped
// bytes and this one's break, and otherwise a search finds its end. A node read
// from a file costs those 20 bytes (a section 4 more in the root's child
// list) and nothing else: a text that is the line without its outer blanks
// is cut from the line on each call; any other text of a line ("a = b" reads
// as "a=b") is read again from the line the first time it is asked for and
// only then stored in the arena (its bytes, 2 more and a reference in
// `kids`). What does not fit (a section whose header text
// differs from its line, a changed node with children, lines of 64 KB and
// more, dropped runs of 512 KB and more, an edited line whose bytes differ
// from its text) goes to a 64-byte extra record.
// Nodes live in 64 KB chunks, aligned on 64 KB, each starting with a header
// naming the store: a Node* finds its store and its index from its own
// address, and addresses never move.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "FastPaths.h"
#include "IniReader.h"
#include "LargeBuffer.h"
#include "TextArena.h"

namespace keyloft {

class Document;
class NodeStore;

// Nodes are owned by their Document and live until deleted or cleared; the
// Document hands out plain pointers. The text is a view into storage the
// Document owns (the loaded file's bytes or its own arena), valid until the
// node's text is set again or the node is destroyed.
class Node {
public:
    class Children;

    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // The text. The first call on a line whose text differs from the line
    // stores that text, and may throw std::bad_alloc.
    std::string_view text() const;
    // The same without storing anything: built in `scratch` when it is not
    // stored, and then valid until `scratch` changes.
    std::string_view text(std::string& scratch) const;
    // The node it hangs under, or nullptr for a top-level node.
    Node* parent() const;
    // Number of ancestors: 0 for the root, 1 for a section, 2 for a key.
    int level() const;
    int childCount() const;
    bool hasChildren() const { return childCount() != 0; }
    Node* child(int row) const;
    // Position among its siblings (or among the top-level nodes); O(1).
    int row() const { return static_cast<int>(row_); }
    // The children in order, as a range of Node*.
    Children children() const;
    // Calls `visit(Node*)` for each child in order, walking a run of
    // children by address. `visit` must not change the tree.
    template <typename Visit>
    void forEachChild(Visit&& visit) const;

    // Raw bytes the reading dropped right before this node's line (blank
    // lines, plain comments), line breaks included. Save writes them back in
    // front of the node.
    std::string_view leading() const;
    // The line this node was read from, as it stood in the file (blanks
    // included, without its break); empty for a node made in the editor.
    std::string_view fileLine() const;
    // That line's own break, right after it in the file's bytes; empty for a
    // made node and for a last line that had none.
    std::string_view lineBreak() const;
    // The line and its break in one view.
    std::string_view lineWithBreak() const;
    // Whether this node's line comes right after the line of `previous` in
    // the file, with nothing between them but this node's dropped bytes:
    // both were read, one after the other, and are still in the document.
    bool followsInFile(const Node* previous) const;
    // Whether the text is still the one the reading gave the file's line, so
    // that the line can be written back exactly as it stood.
    bool unchanged() const { return (bits_ & kUnchanged) != 0; }
    // What a save writes for the node once it is not unchanged, without its
    // break: the line an edit left where the edit kept the line's own bytes
    // (Comment, Remove Comment, a new value), else the text.
    std::string_view changedLine() const;
    // The line as a save writes it: the file's line while unchanged, else
    // changedLine().
    std::string_view savedLine() const { return unchanged() ? fileLine() : changedLine(); }
    // Asks the processor to start fetching the start of the node's file line,
    // for a walk that reads it a little later.
    void prefetchLine() const;

private:
    friend class Document;
    friend class NodeStore;

    // What `kids_` holds: a run's count, a list, the arena reference of
    // the text, or nothing yet for a text read again from the line.
    enum Kids : std::uint32_t { kRun = 0, kList = 1, kArenaText = 2, kDerived = 3 };
    static constexpr std::uint32_t kHasLine = 1u << 8;
    static constexpr std::uint32_t kUnchanged = 1u << 9;
    static constexpr std::uint32_t kExtended = 1u << 10;
    static constexpr std::uint32_t kKidsShift = 11;
    static constexpr std::uint32_t kLeadShift = 13;
    static constexpr std::uint32_t kMaxLead = (1u << 19) - 1;
    // Longest line a compact node keeps: finding its end is a scan.
    static constexpr std::size_t kLongLine = 64 * 1024;

    NodeStore& Store() const;
    std::uint32_t Index() const;
    bool Extended() const { return (bits_ & kExtended) != 0; }
    Kids KidsKind() const { return static_cast<Kids>((bits_ >> kKidsShift) & 3u); }
    void SetKidsKind(Kids kind) {
        bits_ = (bits_ & ~(3u << kKidsShift)) | (static_cast<std::uint32_t>(kind) << kKidsShift);
    }
    std::uint64_t Offset() const {
        return start_ | (static_cast<std::uint64_t>(bits_ & 0xFFu) << 32);
    }
    std::uint32_t Lead() const { return bits_ >> kLeadShift; }
    // Reads the text again from the line and stores it.
    std::string_view Materialise() const;
    // The end of this compact node's line, which starts at `at`.
    const char* LineEnd(const NodeStore& store, const char* at) const;

    std::uint32_t parent_ = 0;
    std::uint32_t row_ = 0;
    std::uint32_t kids_ = 0;
    std::uint32_t start_ = 0;
    std::uint32_t bits_ = 0;
};

// The nodes of one document and what their compact fields refer to: the
// file's bytes, the text arena, child lists and extra records.
class NodeStore {
public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::size_t kChunkBytes = 64 * 1024;
    struct ChunkHeader {
        NodeStore* store;
        std::uint32_t first;  // index of the chunk's first node
    };
    static constexpr std::size_t kHeaderBytes = 16;
    static constexpr std::size_t kNodesPerChunk = (kChunkBytes - kHeaderBytes) / sizeof(Node);

    // What a node keeps when its fields do not fit the compact form.
    struct Extra {
        std::string_view text;
        std::string_view leading;
        std::string_view line;
        // The line a save writes for the changed node where an edit kept the
        // line's own bytes (a comment mark put in or taken out, a value
        // replaced); no data when it writes its text.
        std::string_view written = {};
    };

    NodeStore();
    ~NodeStore();
    NodeStore(const NodeStore&) = delete;
    NodeStore& operator=(const NodeStore&) = delete;

    Node* At(std::uint32_t index) const {
        return reinterpret_cast<Node*>(chunks_[index / kNodesPerChunk] + kHeaderBytes) +
               index % kNodesPerChunk;
    }
    // A fresh node (no line, no children, empty text) from the free list or
    // a chunk; throws bad_alloc.
    Node* NewNode(std::uint32_t parent, std::uint32_t row) {
        void* slot = freeNodes.empty() && fresh_ != freshEnd_ ? TakeFresh() : NewSlot();
        Node* node = new (slot) Node;
        node->parent_ = parent;
        node->row_ = row;
        return node;
    }
    // The index the next NewNode hands out.
    std::uint32_t PeekIndex() const { return freeNodes.empty() ? used_ : freeNodes.back(); }
    // Slots below this index hold nodes (live or freed); the others are raw.
    std::uint32_t Used() const { return used_; }

    // The loaded file's bytes, which compact nodes point into, up to the
    // end of what the reading read.
    const char* base = nullptr;
    const char* end = nullptr;
    // The file line that starts at `at`: up to its CR or LF (no NUL comes
    // before `end`).
    std::string_view LineAt(const char* at) const {
        return {at, static_cast<std::size_t>(FindLineEnd(at, end) - at)};
    }
    TextArena arena;
    std::vector<std::vector<std::uint32_t>> lists;
    std::vector<Extra> extras;
    std::vector<std::uint32_t> freeNodes, freeLists, freeExtras;

private:
    void* TakeFresh() {
        ++used_;
        return fresh_++;
    }
    // A slot from the free list, or the first of a new chunk.
    void* NewSlot();
    void Grow();

    // The current chunk's slots not handed out yet.
    Node* fresh_ = nullptr;
    Node* freshEnd_ = nullptr;
    std::vector<char*> chunks_;
    std::vector<char*> small_;  // chunks of their own, freed one by one
    std::vector<LargeBytes> slabs_;
    std::uint32_t used_ = 0;
};

// The children of a node as a range of Node*.
class Node::Children {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Node*;
        using difference_type = std::ptrdiff_t;
        using pointer = Node* const*;
        using reference = Node*;
        iterator() = default;
        iterator(const Node* parent, int row) : parent_(parent), row_(row) {}
        Node* operator*() const { return parent_->child(row_); }
        iterator& operator++() {
            ++row_;
            return *this;
        }
        iterator operator++(int) {
            iterator old = *this;
            ++row_;
            return old;
        }
        bool operator==(const iterator& other) const { return row_ == other.row_; }

    private:
        const Node* parent_ = nullptr;
        int row_ = 0;
    };
    explicit Children(const Node* parent) : parent_(parent) {}
    iterator begin() const { return {parent_, 0}; }
    iterator end() const { return {parent_, parent_->childCount()}; }
    std::size_t size() const { return static_cast<std::size_t>(parent_->childCount()); }
    bool empty() const { return size() == 0; }

private:
    const Node* parent_;
};

inline NodeStore& Node::Store() const {
    const auto chunk = reinterpret_cast<std::uintptr_t>(this) & ~(NodeStore::kChunkBytes - 1);
    return *reinterpret_cast<const NodeStore::ChunkHeader*>(chunk)->store;
}

inline std::uint32_t Node::Index() const {
    const auto at = reinterpret_cast<std::uintptr_t>(this);
    const auto chunk = at & ~(NodeStore::kChunkBytes - 1);
    const auto* header = reinterpret_cast<const NodeStore::ChunkHeader*>(chunk);
    return header->first +
           static_cast<std::uint32_t>((at - chunk - NodeStore::kHeaderBytes) / sizeof(Node));
}

inline Node* Node::parent() const {
    return parent_ == 0 || parent_ == NodeStore::kNone ? nullptr : Store().At(parent_);
}

inline int Node::level() const {
    // Every node of the walk is in this node's store: it is found once.
    const NodeStore& store = Store();
    int level = 0;
    for (const Node* n = this; n->parent_ != 0 && n->parent_ != NodeStore::kNone;
         n = store.At(n->parent_))
        ++level;
    return level;
}

inline int Node::childCount() const {
    switch (KidsKind()) {
        case kRun:
            return static_cast<int>(kids_);
        case kList:
            return static_cast<int>(Store().lists[kids_].size());
        default:
            return 0;
    }
}

inline Node* Node::child(int row) const {
    const NodeStore& store = Store();
    if (KidsKind() == kList) return store.At(store.lists[kids_][static_cast<std::size_t>(row)]);
    return store.At(Index() + 1 + static_cast<std::uint32_t>(row));
}

inline bool Node::followsInFile(const Node* previous) const {
    // Nodes are made in the order of the reading, so consecutive indexes of
    // read nodes are consecutive kept lines; a deleted node breaks the chain
    // since a reused index holds a node made in the editor.
    const bool read = (bits_ & kHasLine) != 0 || (Extended() && !fileLine().empty());
    const bool previousRead = (previous->bits_ & kHasLine) != 0 ||
                              (previous->Extended() && !previous->fileLine().empty());
    // The next slot of the same chunk is the next index; only a node that
    // starts a chunk needs its index worked out.
    return read && previousRead &&
           (this == previous + 1 ||
            (&Store() == &previous->Store() && Index() == previous->Index() + 1));
}

inline Node::Children Node::children() const { return Children(this); }

template <typename Visit>
void Node::forEachChild(Visit&& visit) const {
    const NodeStore& store = Store();
    if (KidsKind() == kList) {
        for (const std::uint32_t index : store.lists[kids_]) visit(store.At(index));
        return;
    }
    if (KidsKind() != kRun) return;
    // A run may cross from one chunk into the next.
    std::uint32_t index = Index() + 1;
    for (std::uint32_t left = kids_; left != 0;) {
        const std::uint32_t inChunk = std::min<std::uint32_t>(
            left, static_cast<std::uint32_t>(NodeStore::kNodesPerChunk -
                                             index % NodeStore::kNodesPerChunk));
        Node* node = store.At(index);
        for (Node* const stop = node + inChunk; node != stop; ++node) visit(node);
        index += inChunk;
        left -= inChunk;
    }
}

inline const char* Node::LineEnd(const NodeStore& store, const char* at) const {
    // Read nodes are made in the order of their lines, so when the slot
    // after this one holds a compact read node, the bytes between the two
    // lines are this line's break and that node's dropped bytes: the break
    // ends where those begin, and no search is needed.
    const auto self = reinterpret_cast<std::uintptr_t>(this);
    const auto chunk = self & ~(NodeStore::kChunkBytes - 1);
    if (self + 2 * sizeof(Node) > chunk + NodeStore::kChunkBytes || Index() + 1 >= store.Used())
        return FindLineEnd(at, store.end);
    const Node* next = this + 1;
    if ((next->bits_ & (kHasLine | kExtended)) == kHasLine) {
        const char* end = store.base + next->Offset() - next->Lead();
        // A line holds at least one byte besides its break, and no CR or LF.
        if (end - at >= 2) {
            if (end[-1] == '\n') {
                --end;
                if (end - at >= 2 && end[-1] == '\r') --end;
                return end;
            }
            if (end[-1] == '\r') return end - 1;
        }
    }
    return FindLineEnd(at, store.end);
}

inline std::string_view Node::fileLine() const {
    const NodeStore& store = Store();
    if (Extended()) return store.extras[start_].line;
    if ((bits_ & kHasLine) == 0) return {};
    const char* at = store.base + Offset();
    return {at, static_cast<std::size_t>(LineEnd(store, at) - at)};
}

inline void Node::prefetchLine() const {
    if (!Extended() && (bits_ & kHasLine) != 0) PrefetchForRead(Store().base + Offset());
}

inline std::string_view Node::leading() const {
    if (Extended()) return Store().extras[start_].leading;
    if ((bits_ & kHasLine) == 0) return {};
    return {Store().base + Offset() - Lead(), Lead()};
}

namespace detail {
// Trim(line), without the call for a line that has no outer blanks.
inline std::string_view TrimLine(std::string_view line) {
    return !line.empty() && !IsBlank(line.front()) && !IsBlank(line.back()) ? line : Trim(line);
}
}  // namespace detail

inline std::string_view Node::text() const {
    const NodeStore& store = Store();
    if (Extended()) return store.extras[start_].text;
    switch (KidsKind()) {
        case kArenaText:
            return store.arena.At(kids_);
        case kDerived:
            return Materialise();
        default:
            return (bits_ & kHasLine) == 0 ? std::string_view() : detail::TrimLine(fileLine());
    }
}

inline std::string_view Node::changedLine() const {
    if (Extended()) {
        const NodeStore::Extra& extra = Store().extras[start_];
        if (extra.written.data() != nullptr) return extra.written;
    }
    return text();
}

inline std::string_view Node::text(std::string& scratch) const {
    if (!Extended()) {
        switch (KidsKind()) {
            case kDerived:
                return ReadKeyText(fileLine(), scratch);
            case kArenaText:
                return Store().arena.At(kids_);
            default:
                return (bits_ & kHasLine) == 0 ? std::string_view() : detail::TrimLine(fileLine());
        }
    }
    return text();
}

}  // namespace keyloft
