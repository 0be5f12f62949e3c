// The document tree and its operations.
//
// Every operation that changes the tree takes what it needs (nodes, text
// storage, room in vectors) before it sends its first "about to" notification,
// so that running out of memory leaves the tree and its views as they were.
#include "Document.h"

#include <algorithm>
#include <new>
#include <optional>

#include "Encoding.h"
#include "Failure.h"
#include "IniReader.h"
#include "LineScan.h"
#include "ReserveMore.h"
#include "Rules.h"
#include "TreeObserver.h"
#include "VectorState.h"

namespace keyloft {

namespace {

// Makes room for one more entry, so that the push_back that follows cannot
// throw.
template <class T>
void ReserveOne(std::vector<T>& v) {
    ReserveMore(v, 1);
}

// The bytes of a short section ("[Name1]" and "key=value1"): a file of
// such sections fills the room the load makes in the root's list, one of
// shorter ones grows it as usual.
constexpr std::size_t kBytesPerSectionAtLeast = 20;

// What deleting a subtree gives back.
struct SubtreeCounts {
    std::size_t nodes = 0, extras = 0, lists = 0;
};
}  // namespace

Document::Storage::Storage() {
    top = nodes.NewNode(NodeStore::kNone, 0);
    nodes.lists.emplace_back();
    top->SetKidsKind(Node::kList);
    top->kids_ = 0;
}

Document::Document() : s_(std::make_unique<Storage>()) {}

Document::~Document() = default;

std::size_t Document::Count() const { return s_->count; }
Node* Document::First() const { return s_->top->hasChildren() ? s_->top->child(0) : nullptr; }
int Document::TopLevelCount() const { return s_->top->childCount(); }
Node* Document::TopLevel(int row) const { return s_->top->child(row); }

namespace {
// The written line of a node whose line is empty but whose text is not: a
// view with data, which tells it from no written line.
constexpr char kEmptyLine[] = "";
}  // namespace

Document::TextChange Document::StoreText(Node* node, std::string_view text,
                                         const std::string* line) {
    TextArena& arena = s_->nodes.arena;
    const std::string_view stored = arena.Store(text);
    TextChange change{node, stored, arena.RefOfLast(stored)};
    if (line == nullptr) return change;
    const std::string_view fileLine = node != nullptr ? node->fileLine() : std::string_view();
    change.keepsFileLine = !fileLine.empty() && *line == fileLine;
    const bool unchanged = change.keepsFileLine && ReadsAs(fileLine, text);
    if (!unchanged && *line != text)
        change.written = line->empty() ? std::string_view(kEmptyLine, 0) : arena.Store(*line);
    return change;
}

namespace {
// Whether a node can keep `ref` in its `kids` field: it has no children and
// the text has a reference.
bool FitsCompact(const Node* node, std::uint32_t ref, bool extended) {
    return !extended && ref != TextArena::kNoRef && !node->hasChildren();
}
}  // namespace

void Document::ReserveFor(const TextChange* changes, std::size_t n) {
    std::size_t extras = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const TextChange& c = changes[i];
        if (c.written.data() != nullptr || !FitsCompact(c.node, c.ref, c.node->Extended()))
            ++extras;
    }
    NodeStore& store = s_->nodes;
    if (extras > store.freeExtras.size()) ReserveMore(store.extras, extras);
}

void Document::MakeExtended(Node* node, std::string_view text, std::string_view written) noexcept {
    NodeStore& store = s_->nodes;
    if (node->Extended()) {
        store.extras[node->start_].text = text;
        store.extras[node->start_].written = written;
        return;
    }
    const NodeStore::Extra extra{text, node->leading(), node->fileLine(), written};
    std::uint32_t id;
    if (!store.freeExtras.empty()) {
        id = store.freeExtras.back();
        store.freeExtras.pop_back();
        store.extras[id] = extra;
    } else {
        id = static_cast<std::uint32_t>(store.extras.size());
        store.extras.push_back(extra);  // room was made beforehand
    }
    if (node->KidsKind() == Node::kArenaText || node->KidsKind() == Node::kDerived) {
        node->SetKidsKind(Node::kRun);
        node->kids_ = 0;
    }
    node->bits_ |= Node::kExtended;
    node->start_ = id;
}

void Document::ApplyText(const TextChange& change) noexcept {
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

Node* Document::AddRoot(std::string_view text) {
    Storage& s = *s_;
    NodeStore& store = s.nodes;
    TextChange change = StoreText(nullptr, text);
    std::vector<std::uint32_t>& tops = store.lists[s.top->kids_];
    ReserveOne(tops);
    ReserveMore(store.extras, 1);
    Node* node = store.NewNode(0, 0);
    change.node = node;
    ApplyText(change);
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(nullptr, 0, 0);
    tops.insert(tops.begin(), node->Index());
    for (std::size_t i = 1; i < tops.size(); ++i)
        store.At(tops[i])->row_ = static_cast<std::uint32_t>(i);
    ++s.count;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(nullptr, 0, 0);
    return node;
}

namespace {
// Puts `kids` into a free entry of the store's child lists, or a new one at
// the end, and returns its id. The caller has made room, so it cannot throw.
std::uint32_t AddList(NodeStore& store, std::vector<std::uint32_t>&& kids) {
    if (!store.freeLists.empty()) {
        const std::uint32_t id = store.freeLists.back();
        store.freeLists.pop_back();
        store.lists[id] = std::move(kids);
        return id;
    }
    store.lists.push_back(std::move(kids));
    return static_cast<std::uint32_t>(store.lists.size() - 1);
}
}  // namespace

Node* Document::AddChild(Node* parent, std::string_view text) {
    Storage& s = *s_;
    NodeStore& store = s.nodes;
    const int row = parent->childCount();
    Node* shownParent = parent == s.top ? nullptr : parent;
    // A parent without children may keep its text where its children go: it
    // moves to an extra record, read first.
    const bool leafText =
        parent->KidsKind() == Node::kArenaText || parent->KidsKind() == Node::kDerived;
    const std::string_view parentText = leafText ? parent->text() : std::string_view();
    TextChange change = StoreText(nullptr, text);
    // Room for the new node's extra record and the parent's, should either
    // need one.
    ReserveMore(store.extras, 2);
    // The new node takes the index NewNode hands out next. A parent whose
    // children are a run keeps it when that index continues the run; any
    // other gets a list.
    const std::uint32_t parentIndex = parent->Index();
    const std::uint32_t index = store.PeekIndex();
    const bool list = parent->KidsKind() == Node::kList;
    const bool run = !list && index == parentIndex + 1 + static_cast<std::uint32_t>(row);
    std::vector<std::uint32_t> fresh;
    if (list) {
        ReserveOne(store.lists[parent->kids_]);
    } else if (!run) {
        fresh.reserve(static_cast<std::size_t>(row) + 1);
        for (int i = 0; i < row; ++i)
            fresh.push_back(parentIndex + 1 + static_cast<std::uint32_t>(i));
        fresh.push_back(index);
        if (store.freeLists.empty()) ReserveOne(store.lists);
    }
    Node* node = store.NewNode(parentIndex, static_cast<std::uint32_t>(row));
    change.node = node;
    ApplyText(change);
    if (leafText) MakeExtended(parent, parentText);
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(shownParent, row, row);
    if (list) {
        store.lists[parent->kids_].push_back(index);
    } else if (run) {
        ++parent->kids_;
    } else {
        parent->SetKidsKind(Node::kList);
        parent->kids_ = AddList(store, std::move(fresh));
    }
    ++s.count;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(shownParent, row, row);
    return node;
}

void Document::Replace(std::unique_ptr<Storage> fresh) {
    for (TreeObserver* o : observers_) o->TreeAboutToBeReset();
    s_.swap(fresh);
    ForgetPosition();
    for (TreeObserver* o : observers_) o->TreeReset();
    // `fresh` now holds the old tree and is freed here, after the views let
    // go of it.
}

void Document::Clear() { Replace(std::make_unique<Storage>()); }

Node* Document::NodeAt(std::size_t n) const {
    if (n >= s_->count) throw Failure("Invalid index");
    const Node* node = nullptr;
    if (cachedNode_ != nullptr && n == cachedIndex_) {
        node = cachedNode_;
    } else if (cachedNode_ != nullptr && n + 1 == cachedIndex_) {
        node = Prev(cachedNode_);
        ++walkSteps_;
    } else {
        // Walking on from the remembered node answers every later index in
        // steps proportional to the distance; earlier ones start over.
        std::size_t at = 0;
        node = First();
        if (cachedNode_ != nullptr && n > cachedIndex_) {
            at = cachedIndex_;
            node = cachedNode_;
        }
        for (; node != nullptr && at < n; ++at) {
            node = Next(node);
            ++walkSteps_;
        }
    }
    if (node == nullptr) throw Failure("Invalid index");
    cachedNode_ = node;
    cachedIndex_ = n;
    return const_cast<Node*>(node);
}

Node* Document::Next(const Node* node) {
    if (node->hasChildren()) return node->child(0);
    const NodeStore& store = node->Store();
    for (const Node* n = node; n->parent_ != NodeStore::kNone;) {
        const Node* up = store.At(n->parent_);
        if (static_cast<int>(n->row_) + 1 < up->childCount())
            return up->child(static_cast<int>(n->row_) + 1);
        n = up;
    }
    return nullptr;
}

Node* Document::Prev(const Node* node) {
    if (node->parent_ == NodeStore::kNone) return nullptr;
    Node* up = node->Store().At(node->parent_);
    if (node->row_ == 0) return node->parent_ == 0 ? nullptr : up;
    Node* n = up->child(static_cast<int>(node->row_) - 1);
    while (n->hasChildren()) n = n->child(n->childCount() - 1);
    return n;
}

void Document::Delete(Node* node) {
    Storage& s = *s_;
    NodeStore& store = s.nodes;
    Node* up = store.At(node->parent_);
    Node* shownParent = up == s.top ? nullptr : up;
    const std::size_t row = node->row_;
    const int siblings = up->childCount();
    // Room for everything the subtree gives back, and for a list of the
    // siblings left when they were a run and the node is not its last.
    SubtreeCounts counts;
    auto count = [&counts](auto& self, const Node* n) -> void {
        ++counts.nodes;
        if (n->Extended()) ++counts.extras;
        if (n->KidsKind() == Node::kList) ++counts.lists;
        for (const Node* child : n->children()) self(self, child);
    };
    count(count, node);
    ReserveMore(store.freeNodes, counts.nodes);
    ReserveMore(store.freeExtras, counts.extras);
    ReserveMore(store.freeLists, counts.lists);
    const bool list = up->KidsKind() == Node::kList;
    const bool shorten = !list && static_cast<int>(row) == siblings - 1;
    std::vector<std::uint32_t> fresh;
    if (!list && !shorten) {
        fresh.reserve(static_cast<std::size_t>(siblings) - 1);
        for (int i = 0; i < siblings; ++i) {
            if (i != static_cast<int>(row))
                fresh.push_back(up->Index() + 1 + static_cast<std::uint32_t>(i));
        }
        if (store.freeLists.empty()) ReserveOne(store.lists);
    }
    for (TreeObserver* o : observers_) o->NodeAboutToBeRemoved(node);
    if (list) {
        std::vector<std::uint32_t>& kids = store.lists[up->kids_];
        kids.erase(kids.begin() + static_cast<std::ptrdiff_t>(row));
    } else if (shorten) {
        --up->kids_;
    } else {
        // Gives a free list id to the parent before the subtree returns its own.
        up->SetKidsKind(Node::kList);
        up->kids_ = AddList(store, std::move(fresh));
    }
    if (!shorten) {
        const std::vector<std::uint32_t>& kids = store.lists[up->kids_];
        for (std::size_t i = row; i < kids.size(); ++i)
            store.At(kids[i])->row_ = static_cast<std::uint32_t>(i);
    }
    // The free list itself is the queue of the walk over the subtree.
    std::size_t next = store.freeNodes.size();
    store.freeNodes.push_back(node->Index());
    while (next < store.freeNodes.size()) {
        Node* n = store.At(store.freeNodes[next++]);
        for (const Node* child : n->children()) store.freeNodes.push_back(child->Index());
        if (n->KidsKind() == Node::kList) {
            std::vector<std::uint32_t>().swap(store.lists[n->kids_]);
            store.freeLists.push_back(n->kids_);
        }
        if (n->Extended()) {
            store.extras[n->start_] = {};
            store.freeExtras.push_back(n->start_);
        }
        if (n == s.trailingOwner) {
            s.trailingOwner = nullptr;
            s.trailing = {};
        }
        n->parent_ = NodeStore::kNone;
        n->bits_ = 0;
        n->kids_ = 0;
        n->start_ = 0;
        --s.count;
    }
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodeRemoved(shownParent, static_cast<int>(row));
}

void Document::SetText(Node* node, std::string_view text) {
    if (node->text() == text) return;
    const std::optional<std::string> line =
        node->level() == 2 ? LineWithNewValue(node->savedLine(), node->text(), text) : std::nullopt;
    const TextChange change = StoreText(node, text, line ? &*line : nullptr);
    ReserveFor(&change, 1);
    ApplyText(change);
    const int row = node->row();
    NotifyTextsChanged(node->parent(), row, row);
}

void Document::NotifyTextsChanged(Node* parent, int first, int last) {
    for (TreeObserver* o : observers_) o->TextsChanged(parent, first, last);
}

// Adds the nodes of a reading to a storage being built aside. A section's
// lines are made right after it, so its children are the run that follows
// it; the root's children are a list.
class Document::Builder {
public:
    Builder(Storage& s, Node* root)
        : store_(s.nodes), rootIndex_(root->Index()), roots_(store_.lists[root->kids_]) {}
    void Add(const IniItem& item) {
        if (item.header) {
            ReserveOne(roots_);
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
        const auto offset = static_cast<std::uint64_t>(line.data() - store_.base);
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
            item.plain ? Trim(line) : store_.arena.Store(ReadText(line, scratch_));
        ReserveOne(store_.extras);
        Node* node = store_.NewNode(parent, static_cast<std::uint32_t>(row));
        node->bits_ = Node::kUnchanged | Node::kExtended;
        node->start_ = static_cast<std::uint32_t>(store_.extras.size());
        store_.extras.push_back({text, item.bytes.leading, line});
        return node;
    }

    NodeStore& store_;
    std::uint32_t rootIndex_;
    std::vector<std::uint32_t>& roots_;
    Node* section_ = nullptr;
    std::string scratch_;
};

Node* Document::ReadFile(std::string_view rootText, LargeBytes bytes, std::size_t size,
                         IniReadingEnd& end) {
    ClearUpperVectorHalves();
    auto fresh = std::make_unique<Storage>();
    Storage& s = *fresh;
    NodeStore& store = s.nodes;
    s.utf16 = Utf16OrderOf({bytes.get(), size});
    if (s.utf16 != Utf16Order::None) {
        // The reading and everything after it work on the decoded text.
        LargeBytes text = AllocateLarge(std::max<std::size_t>(Utf16DecodedRoom(size - 2), 1));
        if (!text) throw std::bad_alloc();
        const Utf16Decoded decoded = DecodeUtf16(bytes.get() + 2, size - 2, s.utf16, text.get());
        s.utf16Tail.assign(bytes.get() + 2 + decoded.consumed, size - 2 - decoded.consumed);
        bytes = std::move(text);
        size = decoded.written;
    }
    s.bytes = std::move(bytes);
    s.size = size;
    store.base = s.bytes.get();
    // The root: a made node whose children are a list.
    Node* root = store.NewNode(0, 0);
    store.lists[0].push_back(root->Index());
    store.lists.emplace_back();
    root->SetKidsKind(Node::kList);
    root->kids_ = static_cast<std::uint32_t>(store.lists.size() - 1);
    store.extras.push_back({store.arena.Store(rootText), {}, {}});
    root->bits_ |= Node::kExtended;
    root->start_ = 0;

    // Room for the sections of a file of short sections, so that the list
    // is not copied as it grows; pages of it nobody writes cost no memory.
    store.lists[root->kids_].reserve(size / kBytesPerSectionAtLeast);
    Builder builder(s, root);
    const std::string_view text(s.bytes.get(), size);
    IniScanner scanner(text);
    IniItem item;
    while (scanner.Next(item)) builder.Add(item);
    end = scanner.End();
    s.count = 1 + end.SectionCount + end.KeyCount;
    store.end = end.Tail.data();
    s.eol = end.LineBreak.empty() ? std::string("\r\n") : std::string(end.LineBreak);
    s.bom = end.ByteOrderMark;
    s.head = end.Head;
    s.trailing = end.Trailing;
    s.trailingOwner = end.Trailing.empty() ? nullptr : builder.LastSection();
    s.tail = end.Tail;
    // The bytes before the tail were all seen by the reading.
    s.utf8 = s.utf16 != Utf16Order::None ||
             (scanner.Ascii() ? IsValidUtf8(end.Tail) : IsValidUtf8(text));

    Replace(std::move(fresh));
    return First();
}

void Document::AddObserver(TreeObserver* observer) { observers_.push_back(observer); }

void Document::RemoveObserver(TreeObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace keyloft
