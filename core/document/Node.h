// One node of the document tree, and the store that holds the nodes.
//
// A node is 20 bytes, five 32-bit words and no pointers, in a 64 KB chunk of
// its NodeStore; its address never moves, and it finds its store and index
// from that address. A node read from a file keeps only where its line
// starts and the length of the dropped bytes before it; what does not fit
// goes to an extra record. Only NodeStore (and Node's own members) reads or
// writes a node's fields; the Document asks the store for every change.
// HACKING.md, "Node storage", describes the layout, the invariants the fast
// reads rely on, and NodeStore::Check, which verifies them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "base/ReserveMore.h"
#include "document/TextArena.h"
#include "fast/FastPaths.h"
#include "fast/LargeBuffer.h"
#include "reading/IniReader.h"

namespace keyloft {

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

    // The text, without storing anything: a text that is not kept (a line
    // read again, "a = b" as "a=b") is built in `scratch`, and the view is
    // then valid until `scratch` changes. Never allocates except in
    // `scratch`: what paint, Find, the dump and the tool's queries use.
    std::string_view text(std::string& scratch) const;
    // The text, stored in the document's arena the first time it is asked
    // for on a line whose text differs from the line, so that the view lives
    // as long as the node's text. May allocate and throw std::bad_alloc: for
    // the edits, which keep the texts they read.
    std::string_view storedText() const;
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
    // (Comment, Remove Comment, a new value), else the text (storedText(),
    // which stores nothing for a changed node).
    std::string_view changedLine() const;
    // The line as a save writes it: the file's line while unchanged, else
    // changedLine().
    std::string_view savedLine() const { return unchanged() ? fileLine() : changedLine(); }
    // Asks the processor to start fetching the start of the node's file line,
    // for a walk that reads it a little later.
    void prefetchLine() const;

private:
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
// file's bytes, the text arena, child lists and extra records. Every change
// of a node's fields is one of its operations; an operation that may run
// out of memory comes in two steps, one that takes everything it needs
// (and may throw std::bad_alloc) and one that cannot fail, so that the
// document can announce the change to its views in between.
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

    NodeStore();
    ~NodeStore();
    NodeStore(const NodeStore&) = delete;
    NodeStore& operator=(const NodeStore&) = delete;

    Node* At(std::uint32_t index) const {
        return reinterpret_cast<Node*>(chunks_[index / kNodesPerChunk] + kHeaderBytes) +
               index % kNodesPerChunk;
    }
    // The node `node` hangs under, the hidden top node included; nullptr for
    // the top node itself.
    static Node* Above(const Node* node);

    // --- the loaded file -----------------------------------------------
    // The loaded file's bytes, which compact nodes point into, from `base`
    // up to `end`, the end of what the reading read (no NUL comes before).
    void SetBytes(const char* base) { base_ = base; }
    void SetBytesEnd(const char* end) { end_ = end; }
    const char* BytesEnd() const { return end_; }
    // The file line that starts at `at`: up to its CR or LF.
    std::string_view LineAt(const char* at) const {
        return {at, static_cast<std::size_t>(FindLineEnd(at, end_) - at)};
    }
    // The hidden top node (index 0), parent of the top-level nodes, whose
    // children are a list. The first node of a store; throws bad_alloc.
    Node* MakeTop();
    // The loaded file's root: a top-level node named `text` whose children
    // are a list with room for `sectionsRoom` sections. Right after MakeTop;
    // throws bad_alloc.
    Node* MakeRoot(std::string_view text, std::size_t sectionsRoom);
    // Adds the kept lines of a reading under the root, in file order.
    class Builder;

    // --- texts -------------------------------------------------------------
    // A new text stored for a node, before the node takes it.
    struct TextChange {
        Node* node;
        std::string_view text;
        std::uint32_t ref;
        // The line a save writes, when it is neither the text nor the file's
        // line; no data otherwise.
        std::string_view written = {};
        // The node's file line is still what a save writes for it.
        bool keepsFileLine = true;
    };
    // Stores `text` for `node` (nullptr for a node still to be made), and
    // `line`, the line a save is to write, when it is given and needed;
    // throws bad_alloc.
    TextChange StoreText(Node* node, std::string_view text, const std::string* line = nullptr);
    // Makes room for the extra records `changes` need, so that ApplyText
    // cannot fail; throws bad_alloc.
    void ReserveFor(const TextChange* changes, std::size_t n);
    // Gives the node its new text, in its compact fields (the arena
    // reference) or in an extra record, and marks it unchanged exactly when
    // the text is the reading of the file line it still writes. Cannot fail
    // after ReserveFor.
    void ApplyText(const TextChange& change) noexcept;
    // Makes room for `n` more extra records; throws bad_alloc.
    void ReserveExtras(std::size_t n);
    // Moves a node's fields to an extra record with the text `text` and the
    // written line `written` (or replaces both in its record); cannot fail
    // after ReserveExtras(1).
    void MakeExtended(Node* node, std::string_view text, std::string_view written = {}) noexcept;

    // --- structure ---------------------------------------------------------
    // A new top-level node with the text `text`, not yet in the tree; room
    // is made for InsertTopLevel. Throws bad_alloc.
    Node* NewTopLevel(std::string_view text);
    // Puts the node of NewTopLevel in front of the top-level nodes.
    void InsertTopLevel(Node* node) noexcept;

    // A new last child of a parent, made and given its text but not yet
    // among the parent's children.
    struct PendingChild {
        Node* parent = nullptr;
        Node* node = nullptr;
        int row = 0;
        enum class How { ExtendRun, ToList, AppendToList } how = How::ExtendRun;
        std::vector<std::uint32_t> list;  // the parent's new list, for ToList
    };
    // Makes the child with the text `text` and everything AppendChild needs:
    // a parent whose children are a run keeps it when the new node's index
    // continues it, any other gets a list; a parent without children whose
    // text lives where children go moves it to an extra record. Throws
    // bad_alloc, and then nothing changed.
    PendingChild NewChild(Node* parent, std::string_view text);
    // Makes the pending child its parent's last child.
    void AppendChild(PendingChild& child) noexcept;

    // A node about to be removed with its subtree, and what that needs.
    struct PendingRemoval {
        Node* node = nullptr;
        Node* parent = nullptr;  // the hidden top node for a top-level node
        enum class How { Shorten, ToList, EraseFromList } how = How::Shorten;
        std::vector<std::uint32_t> list;  // the siblings left, for ToList
    };
    // Makes room for everything the removal of `node` gives back to the free
    // lists, and for a list of the siblings left when they were a run and
    // the node is not its last. Throws bad_alloc, and then nothing changed.
    PendingRemoval PrepareRemoval(Node* node);
    // Takes the node out of its parent's children (shortening a run, turning
    // it into a list, or erasing from a list) and renumbers the rows after it.
    void Unlink(PendingRemoval& removal) noexcept;
    // Frees an unlinked node and its subtree: their slots, lists and extra
    // records go to the free lists. Returns the number of nodes freed.
    std::size_t FreeSubtree(Node* node) noexcept;

    // --- checks --------------------------------------------------------
    // What is wrong with the store, or "" when nothing: the invariants the
    // fast reads rely on (HACKING.md, "Node storage"). `count` is the number
    // of nodes the document says its tree holds, the hidden top excluded.
    // Reads every node; stores nothing.
    std::string Check(std::size_t count) const;

private:
    friend class Node;

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

    // A fresh node (no line, no children, empty text) from the free list or
    // a chunk; throws bad_alloc.
    Node* NewNode(std::uint32_t parent, std::uint32_t row) {
        void* slot = freeNodes_.empty() && fresh_ != freshEnd_ ? TakeFresh() : NewSlot();
        Node* node = new (slot) Node;
        node->parent_ = parent;
        node->row_ = row;
        return node;
    }
    // The index the next NewNode hands out.
    std::uint32_t PeekIndex() const { return freeNodes_.empty() ? used_ : freeNodes_.back(); }
    // Slots below this index hold nodes (live or freed); the others are raw.
    std::uint32_t Used() const { return used_; }
    void* TakeFresh() {
        ++used_;
        return fresh_++;
    }
    // A slot from the free list, or the first of a new chunk.
    void* NewSlot();
    void Grow();
    // Puts `kids` into a free entry of the child lists, or a new one at the
    // end, and returns its id. The caller has made room.
    std::uint32_t AddList(std::vector<std::uint32_t>&& kids) noexcept;

    const char* base_ = nullptr;
    const char* end_ = nullptr;
    TextArena arena_;
    std::vector<std::vector<std::uint32_t>> lists_;
    std::vector<Extra> extras_;
    std::vector<std::uint32_t> freeNodes_, freeLists_, freeExtras_;
    // The current chunk's slots not handed out yet.
    Node* fresh_ = nullptr;
    Node* freshEnd_ = nullptr;
    std::vector<char*> chunks_;
    std::vector<char*> small_;  // chunks of their own, freed one by one
    std::vector<LargeBytes> slabs_;
    std::uint32_t used_ = 0;
};

// Adds the kept lines of a reading to a store being built aside. A
// section's lines are made right after it, so its children are the run that
// follows it; the root's children are a list.
class NodeStore::Builder {
public:
    Builder(NodeStore& store, Node* root)
        : store_(store), rootIndex_(root->Index()), roots_(store.lists_[root->kids_]) {}
    void Add(const IniItem& item) {
        if (item.header) {
            ReserveMore(roots_, 1);
            section_ = Make(rootIndex_, roots_.size(), item);
            roots_.push_back(section_->Index());
        } else {
            Make(section_->Index(), section_->kids_, item);
            ++section_->kids_;
        }
    }
    Node* LastSection() const { return section_; }

private:
    // A node keeps where its line starts and the length of the dropped
    // bytes before it. Its text is not kept when it is the line without its
    // outer blanks; a line's other text is read again when first asked for.
    // Anything else gets an extra record.
    Node* Make(std::uint32_t parent, std::size_t row, const IniItem& item) {
        const std::string_view line = item.bytes.line;
        const std::size_t lead = item.bytes.leading.size();
        const auto offset = static_cast<std::uint64_t>(line.data() - store_.base_);
        const bool fits =
            offset >> 40 == 0 && line.size() < Node::kLongLine && lead <= Node::kMaxLead;
        if (fits && (item.plain || !item.header)) {
            Node* node = store_.NewNode(parent, static_cast<std::uint32_t>(row));
            node->start_ = static_cast<std::uint32_t>(offset);
            node->bits_ = Node::kUnchanged | Node::kHasLine |
                          static_cast<std::uint32_t>(offset >> 32) |
                          static_cast<std::uint32_t>(lead) << Node::kLeadShift;
            if (!item.plain) node->SetKidsKind(Node::kDerived);
            return node;
        }
        const std::string_view text =
            item.plain ? Trim(line) : store_.arena_.Store(ReadText(line, scratch_));
        ReserveMore(store_.extras_, 1);
        Node* node = store_.NewNode(parent, static_cast<std::uint32_t>(row));
        node->bits_ = Node::kUnchanged | Node::kExtended;
        node->start_ = static_cast<std::uint32_t>(store_.extras_.size());
        store_.extras_.push_back({text, item.bytes.leading, line});
        return node;
    }

    NodeStore& store_;
    std::uint32_t rootIndex_;
    std::vector<std::uint32_t>& roots_;
    Node* section_ = nullptr;
    std::string scratch_;
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

inline Node* NodeStore::Above(const Node* node) {
    return node->parent_ == kNone ? nullptr : node->Store().At(node->parent_);
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
            return static_cast<int>(Store().lists_[kids_].size());
        default:
            return 0;
    }
}

inline Node* Node::child(int row) const {
    const NodeStore& store = Store();
    if (KidsKind() == kList) return store.At(store.lists_[kids_][static_cast<std::size_t>(row)]);
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
        for (const std::uint32_t index : store.lists_[kids_]) visit(store.At(index));
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
        return FindLineEnd(at, store.end_);
    const Node* next = this + 1;
    if ((next->bits_ & (kHasLine | kExtended)) == kHasLine) {
        const char* end = store.base_ + next->Offset() - next->Lead();
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
    return FindLineEnd(at, store.end_);
}

inline std::string_view Node::fileLine() const {
    const NodeStore& store = Store();
    if (Extended()) return store.extras_[start_].line;
    if ((bits_ & kHasLine) == 0) return {};
    const char* at = store.base_ + Offset();
    return {at, static_cast<std::size_t>(LineEnd(store, at) - at)};
}

inline void Node::prefetchLine() const {
    if (!Extended() && (bits_ & kHasLine) != 0) PrefetchForRead(Store().base_ + Offset());
}

inline std::string_view Node::leading() const {
    if (Extended()) return Store().extras_[start_].leading;
    if ((bits_ & kHasLine) == 0) return {};
    return {Store().base_ + Offset() - Lead(), Lead()};
}

namespace detail {
// Trim(line), without the call for a line that has no outer blanks.
inline std::string_view TrimLine(std::string_view line) {
    return !line.empty() && !IsBlank(line.front()) && !IsBlank(line.back()) ? line : Trim(line);
}
}  // namespace detail

inline std::string_view Node::storedText() const {
    const NodeStore& store = Store();
    if (Extended()) return store.extras_[start_].text;
    switch (KidsKind()) {
        case kArenaText:
            return store.arena_.At(kids_);
        case kDerived:
            return Materialise();
        default:
            return (bits_ & kHasLine) == 0 ? std::string_view() : detail::TrimLine(fileLine());
    }
}

inline std::string_view Node::changedLine() const {
    if (Extended()) {
        const NodeStore::Extra& extra = Store().extras_[start_];
        if (extra.written.data() != nullptr) return extra.written;
    }
    return storedText();
}

inline std::string_view Node::text(std::string& scratch) const {
    if (!Extended()) {
        switch (KidsKind()) {
            case kDerived:
                return ReadKeyText(fileLine(), scratch);
            case kArenaText:
                return Store().arena_.At(kids_);
            default:
                return (bits_ & kHasLine) == 0 ? std::string_view() : detail::TrimLine(fileLine());
        }
    }
    return Store().extras_[start_].text;
}

}  // namespace keyloft
