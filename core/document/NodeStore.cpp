// The node store declared in Node.h: the chunks nodes live in, the
// operations that change nodes, and the checker of its invariants.
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "base/ReserveMore.h"
#include "document/Node.h"
#include "document/TextArena.h"
#include "fast/LargeBuffer.h"
#include "reading/IniReader.h"

namespace keyloft {

namespace {
// Small documents take chunks one by one; larger ones take 2 MB slabs of 32
// chunks, which the large-block allocator backs with huge pages.
constexpr std::size_t kSmallChunks = 8;
constexpr std::size_t kSlabBytes = 2 * 1024 * 1024;
constexpr std::size_t kChunksPerSlab = kSlabBytes / NodeStore::kChunkBytes;
constexpr std::align_val_t kChunkAlign{NodeStore::kChunkBytes};
}  // namespace

static_assert(sizeof(NodeStore::ChunkHeader) <= NodeStore::kHeaderBytes);

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
    if (!freeNodes_.empty()) {
        const std::uint32_t index = freeNodes_.back();
        freeNodes_.pop_back();
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

// --- the loaded file ------------------------------------------------------

Node* NodeStore::MakeTop() {
    ReserveMore(lists_, 1);
    Node* top = NewNode(kNone, 0);
    lists_.emplace_back();
    top->SetKidsKind(Node::kList);
    top->kids_ = static_cast<std::uint32_t>(lists_.size() - 1);
    return top;
}

Node* NodeStore::MakeRoot(std::string_view text, std::size_t sectionsRoom) {
    // A made node whose children are a list.
    Node* top = At(0);
    Node* root = NewNode(0, 0);
    lists_[top->kids_].push_back(root->Index());
    lists_.emplace_back();
    root->SetKidsKind(Node::kList);
    root->kids_ = static_cast<std::uint32_t>(lists_.size() - 1);
    extras_.push_back({arena_.Store(text), {}, {}});
    root->bits_ |= Node::kExtended;
    root->start_ = static_cast<std::uint32_t>(extras_.size() - 1);
    // Pages of the room nobody writes cost no memory.
    lists_[root->kids_].reserve(sectionsRoom);
    return root;
}

// --- texts ----------------------------------------------------------------

namespace {
// The written line of a node whose line is empty but whose text is not: a
// view with data, which tells it from no written line.
constexpr char kEmptyLine[] = "";
}  // namespace

NodeStore::TextChange NodeStore::StoreText(Node* node, std::string_view text,
                                           const std::string* line) {
    const std::string_view stored = arena_.Store(text);
    TextChange change{node, stored, arena_.RefOfLast(stored)};
    if (line == nullptr) return change;
    const std::string_view fileLine = node != nullptr ? node->fileLine() : std::string_view();
    change.keepsFileLine = !fileLine.empty() && *line == fileLine;
    const bool unchanged = change.keepsFileLine && ReadsAs(fileLine, text);
    if (!unchanged && *line != text)
        change.written = line->empty() ? std::string_view(kEmptyLine, 0) : arena_.Store(*line);
    return change;
}

namespace {
// Whether a node can keep `ref` in its `kids` field: it has no children and
// the text has a reference.
bool FitsCompact(const Node* node, std::uint32_t ref, bool extended) {
    return !extended && ref != TextArena::kNoRef && !node->hasChildren();
}
}  // namespace

void NodeStore::ReserveFor(const TextChange* changes, std::size_t n) {
    std::size_t extras = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TextChange& c = changes[i];
        if (c.written.data() != nullptr || !FitsCompact(c.node, c.ref, c.node->Extended()))
            ++extras;
    }
    ReserveExtras(extras);
}

void NodeStore::ReserveExtras(std::size_t n) {
    if (n > freeExtras_.size()) ReserveMore(extras_, n);
}

void NodeStore::MakeExtended(Node* node, std::string_view text, std::string_view written) noexcept {
    if (node->Extended()) {
        extras_[node->start_].text = text;
        extras_[node->start_].written = written;
        return;
    }
    const Extra extra{text, node->leading(), node->fileLine(), written};
    std::uint32_t id;
    if (!freeExtras_.empty()) {
        id = freeExtras_.back();
        freeExtras_.pop_back();
        extras_[id] = extra;
    } else {
        id = static_cast<std::uint32_t>(extras_.size());
        extras_.push_back(extra);  // room was made beforehand
    }
    if (node->KidsKind() == Node::kArenaText || node->KidsKind() == Node::kDerived) {
        node->SetKidsKind(Node::kRun);
        node->kids_ = 0;
    }
    node->bits_ |= Node::kExtended;
    node->start_ = id;
}

void NodeStore::ApplyText(const TextChange& change) noexcept {
    Node* node = change.node;
    const bool written = change.written.data() != nullptr;
    if (!written && FitsCompact(node, change.ref, node->Extended())) {
        node->SetKidsKind(Node::kArenaText);
        node->kids_ = change.ref;
    } else {
        MakeExtended(node, change.text, change.written);
    }
    const std::string_view line = node->fileLine();
    if (!written && change.keepsFileLine && !line.empty() && ReadsAs(line, change.text))
        node->bits_ |= Node::kUnchanged;
    else
        node->bits_ &= ~Node::kUnchanged;
}

// --- structure ------------------------------------------------------------

Node* NodeStore::NewTopLevel(std::string_view text) {
    TextChange change = StoreText(nullptr, text);
    ReserveMore(lists_[At(0)->kids_], 1);
    ReserveMore(extras_, 1);
    change.node = NewNode(0, 0);
    ApplyText(change);
    return change.node;
}

void NodeStore::InsertTopLevel(Node* node) noexcept {
    std::vector<std::uint32_t>& tops = lists_[At(0)->kids_];
    tops.insert(tops.begin(), node->Index());  // room was made beforehand
    for (std::size_t i = 1; i < tops.size(); ++i) At(tops[i])->row_ = static_cast<std::uint32_t>(i);
}

std::uint32_t NodeStore::AddList(std::vector<std::uint32_t>&& kids) noexcept {
    if (!freeLists_.empty()) {
        const std::uint32_t id = freeLists_.back();
        freeLists_.pop_back();
        lists_[id] = std::move(kids);
        return id;
    }
    lists_.push_back(std::move(kids));  // room was made beforehand
    return static_cast<std::uint32_t>(lists_.size() - 1);
}

NodeStore::PendingChild NodeStore::NewChild(Node* parent, std::string_view text) {
    PendingChild child;
    child.parent = parent;
    const int row = parent->childCount();
    child.row = row;
    // A parent without children may keep its text where its children go: it
    // moves to an extra record, read first.
    const bool leafText =
        parent->KidsKind() == Node::kArenaText || parent->KidsKind() == Node::kDerived;
    const std::string_view parentText = leafText ? parent->storedText() : std::string_view();
    TextChange change = StoreText(nullptr, text);
    // Room for the new node's extra record and the parent's, should either
    // need one.
    ReserveMore(extras_, 2);
    // The new node takes the index NewNode hands out next. A parent whose
    // children are a run keeps it when that index continues the run; any
    // other gets a list.
    const std::uint32_t parentIndex = parent->Index();
    const std::uint32_t index = PeekIndex();
    if (parent->KidsKind() == Node::kList) {
        child.how = PendingChild::How::AppendToList;
        ReserveMore(lists_[parent->kids_], 1);
    } else if (index == parentIndex + 1 + static_cast<std::uint32_t>(row)) {
        child.how = PendingChild::How::ExtendRun;
    } else {
        child.how = PendingChild::How::ToList;
        child.list.reserve(static_cast<std::size_t>(row) + 1);
        for (int i = 0; i < row; ++i)
            child.list.push_back(parentIndex + 1 + static_cast<std::uint32_t>(i));
        child.list.push_back(index);
        if (freeLists_.empty()) ReserveMore(lists_, 1);
    }
    child.node = NewNode(parentIndex, static_cast<std::uint32_t>(row));
    change.node = child.node;
    ApplyText(change);
    if (leafText) MakeExtended(parent, parentText);
    return child;
}

void NodeStore::AppendChild(PendingChild& child) noexcept {
    Node* parent = child.parent;
    switch (child.how) {
        case PendingChild::How::AppendToList:
            lists_[parent->kids_].push_back(child.node->Index());  // room was made beforehand
            break;
        case PendingChild::How::ExtendRun:
            ++parent->kids_;
            break;
        case PendingChild::How::ToList:
            parent->SetKidsKind(Node::kList);
            parent->kids_ = AddList(std::move(child.list));
            break;
    }
}

NodeStore::PendingRemoval NodeStore::PrepareRemoval(Node* node) {
    PendingRemoval removal;
    removal.node = node;
    Node* up = Above(node);
    removal.parent = up;
    const std::size_t row = node->row_;
    const int siblings = up->childCount();
    // Room for everything the subtree gives back.
    std::size_t nodes = 0, extras = 0, lists = 0;
    auto count = [&](auto& self, const Node* n) -> void {
        ++nodes;
        if (n->Extended()) ++extras;
        if (n->KidsKind() == Node::kList) ++lists;
        for (const Node* child : n->children()) self(self, child);
    };
    count(count, node);
    ReserveMore(freeNodes_, nodes);
    ReserveMore(freeExtras_, extras);
    ReserveMore(freeLists_, lists);
    if (up->KidsKind() == Node::kList) {
        removal.how = PendingRemoval::How::EraseFromList;
    } else if (static_cast<int>(row) == siblings - 1) {
        removal.how = PendingRemoval::How::Shorten;
    } else {
        removal.how = PendingRemoval::How::ToList;
        removal.list.reserve(static_cast<std::size_t>(siblings) - 1);
        for (int i = 0; i < siblings; ++i) {
            if (i != static_cast<int>(row))
                removal.list.push_back(up->Index() + 1 + static_cast<std::uint32_t>(i));
        }
        if (freeLists_.empty()) ReserveMore(lists_, 1);
    }
    return removal;
}

void NodeStore::Unlink(PendingRemoval& removal) noexcept {
    Node* up = removal.parent;
    const std::size_t row = removal.node->row_;
    switch (removal.how) {
        case PendingRemoval::How::EraseFromList: {
            std::vector<std::uint32_t>& kids = lists_[up->kids_];
            kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(row));
            break;
        }
        case PendingRemoval::How::Shorten:
            --up->kids_;
            return;
        case PendingRemoval::How::ToList:
            // Gives a free list id to the parent before the subtree returns
            // its own.
            up->SetKidsKind(Node::kList);
            up->kids_ = AddList(std::move(removal.list));
            break;
    }
    const std::vector<std::uint32_t>& kids = lists_[up->kids_];
    for (std::size_t i = row; i < kids.size(); ++i)
        At(kids[i])->row_ = static_cast<std::uint32_t>(i);
}

std::size_t NodeStore::FreeSubtree(Node* node) noexcept {
    // The free list itself is the queue of the walk over the subtree; room
    // was made beforehand.
    const std::size_t first = freeNodes_.size();
    std::size_t next = first;
    freeNodes_.push_back(node->Index());
    while (next < freeNodes_.size()) {
        Node* n = At(freeNodes_[next++]);
        for (const Node* child : n->children()) freeNodes_.push_back(child->Index());
        if (n->KidsKind() == Node::kList) {
            std::vector<std::uint32_t>().swap(lists_[n->kids_]);
            freeLists_.push_back(n->kids_);
        }
        if (n->Extended()) {
            extras_[n->start_] = {};
            freeExtras_.push_back(n->start_);
        }
        n->parent_ = kNone;
        n->bits_ = 0;
        n->kids_ = 0;
        n->start_ = 0;
    }
    return freeNodes_.size() - first;
}

// --- checks ---------------------------------------------------------------

namespace {
std::string NodeName(std::uint32_t index) { return "node " + std::to_string(index) + ": "; }
}  // namespace

std::string NodeStore::Check(std::size_t count) const {
    if (used_ == 0) return "no top node";
    const auto range = [](std::uint32_t id, std::size_t size) { return id < size; };
    // What each slot, list and extra record is: free, or reached once.
    std::vector<char> slotFree(used_, 0), listFree(lists_.size(), 0), extraFree(extras_.size(), 0);
    for (const std::uint32_t index : freeNodes_) {
        if (!range(index, used_)) return "free slot " + std::to_string(index) + " out of range";
        if (slotFree[index]++ != 0) return "slot " + std::to_string(index) + " freed twice";
        const Node* n = At(index);
        if (n->bits_ != 0 || n->kids_ != 0 || n->start_ != 0 || n->parent_ != kNone)
            return "free slot " + std::to_string(index) + " keeps its fields";
    }
    for (const std::uint32_t id : freeLists_) {
        if (!range(id, lists_.size())) return "free list " + std::to_string(id) + " out of range";
        if (listFree[id]++ != 0) return "list " + std::to_string(id) + " freed twice";
    }
    for (const std::uint32_t id : freeExtras_) {
        if (!range(id, extras_.size()))
            return "free extra record " + std::to_string(id) + " out of range";
        if (extraFree[id]++ != 0) return "extra record " + std::to_string(id) + " freed twice";
    }

    // The walk from the top, each node checked where its parent names it.
    std::vector<char> reached(used_, 0), listUsed(lists_.size(), 0), extraUsed(extras_.size(), 0);
    std::vector<std::uint32_t> stack{0};
    reached[0] = 1;
    if (At(0)->parent_ != kNone) return "the top node has a parent";
    std::size_t walked = 0;
    std::string scratch, reading;
    while (!stack.empty()) {
        const std::uint32_t index = stack.back();
        stack.pop_back();
        ++walked;
        const Node* n = At(index);
        const auto where = [index] { return NodeName(index); };
        if (n->Extended()) {
            if (!range(n->start_, extras_.size())) return where() + "extra record out of range";
            if (extraFree[n->start_] != 0) return where() + "extra record on the free list";
            if (extraUsed[n->start_]++ != 0) return where() + "extra record shared";
        }
        // The children: a run of the slots right after the node, or a list.
        std::vector<std::uint32_t> run;
        const std::vector<std::uint32_t>* kids = nullptr;
        switch (n->KidsKind()) {
            case Node::kList:
                if (!range(n->kids_, lists_.size())) return where() + "child list out of range";
                if (listFree[n->kids_] != 0) return where() + "child list on the free list";
                if (listUsed[n->kids_]++ != 0) return where() + "child list shared";
                kids = &lists_[n->kids_];
                break;
            case Node::kRun:
                if (n->kids_ > used_ - index - 1) return where() + "run of children out of range";
                for (std::uint32_t i = 0; i < n->kids_; ++i) run.push_back(index + 1 + i);
                kids = &run;
                break;
            case Node::kArenaText:
                if (n->Extended()) return where() + "arena text beside an extra record";
                if (!arena_.Holds(n->kids_)) return where() + "arena reference out of range";
                break;
            case Node::kDerived:
                if (n->Extended() || (n->bits_ & Node::kHasLine) == 0 || !n->unchanged())
                    return where() + "text read again from a line it does not have";
                break;
        }
        if (kids != nullptr) {
            for (std::size_t row = 0; row < kids->size(); ++row) {
                const std::uint32_t kid = (*kids)[row];
                const auto entry = [&] { return where() + "child " + std::to_string(row) + " "; };
                if (!range(kid, used_)) return entry() + "out of range";
                if (slotFree[kid] != 0) return entry() + "is a free slot";
                if (reached[kid]++ != 0) return entry() + "has two places in the tree";
                const Node* child = At(kid);
                if (child->parent_ != index) return entry() + "names another parent";
                if (child->row_ != row) return entry() + "has row " + std::to_string(child->row_);
                stack.push_back(kid);
            }
        }
        // A compact node's line: the dropped bytes right before it, the line
        // up to its first break, the break right after it.
        if (index == 0) continue;
        const std::string_view line = n->fileLine();
        if (!n->Extended() && (n->bits_ & Node::kHasLine) != 0) {
            const char* at = base_ + n->Offset();
            if (at - n->Lead() < base_ || at >= end_) return where() + "line outside the bytes";
            if (line.data() + line.size() != FindLineEnd(at, end_))
                return where() + "line does not end at its first break";
            if (n->leading().data() + n->leading().size() != line.data())
                return where() + "dropped bytes not right before the line";
        }
        if (!line.empty() && n->lineBreak().data() != line.data() + line.size())
            return where() + "break not after the line";
        if (n->unchanged()) {
            if (line.empty()) return where() + "unchanged without a line";
            if (n->text(scratch) != ReadText(line, reading))
                return where() + "unchanged, and the text is not the reading of its line";
        }
    }
    if (walked != used_ - freeNodes_.size())
        return "the walk finds " + std::to_string(walked) + " nodes, " +
               std::to_string(used_ - freeNodes_.size()) + " slots are in use";
    if (walked != count + 1)
        return "the document counts " + std::to_string(count) + " nodes, the walk finds " +
               std::to_string(walked - 1);

    // Read nodes in the order of their indexes are the kept lines in file
    // order: two read nodes in consecutive slots are two consecutive kept
    // lines, with only the later one's dropped bytes between them. A slot
    // reused for a made node holds no line.
    const Node* previous = nullptr;
    for (std::uint32_t index = 1; index < used_; ++index) {
        const Node* n = At(index);
        const bool read = slotFree[index] == 0 && !n->fileLine().empty();
        if (read && previous != nullptr) {
            const std::string_view before = previous->lineWithBreak();
            if (before.data() + before.size() + n->leading().size() > n->fileLine().data())
                return NodeName(index) + "line not after the line of an earlier slot";
            if (previous == At(index - 1) &&
                before.data() + before.size() + n->leading().size() != n->fileLine().data())
                return NodeName(index) + "line not right after the line of the slot before";
        }
        if (read) previous = n;
    }
    return "";
}

}  // namespace keyloft
