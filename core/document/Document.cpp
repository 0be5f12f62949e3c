// The document tree and its operations.
//
// Every operation that changes the tree takes what it needs (nodes, text
// storage, room in vectors) before it sends its first "about to" notification,
// so that running out of memory leaves the tree and its views as they were.
#include "document/Document.h"

#include <algorithm>
#include <new>
#include <optional>

#include "base/Failure.h"
#include "document/Rules.h"
#include "document/TreeObserver.h"
#include "fast/FastPaths.h"
#include "reading/Encoding.h"
#include "reading/IniReader.h"
#include "reading/LineScan.h"

namespace keyloft {

namespace {
// The bytes of a short section ("[Name1]" and "key=value1"): a file of
// such sections fills the room the load makes in the root's list, one of
// shorter ones grows it as usual.
constexpr std::size_t kBytesPerSectionAtLeast = 20;
}  // namespace

Document::Storage::Storage() : top(nodes.MakeTop()) {}

Document::Document() : s_(std::make_unique<Storage>()) {}

Document::~Document() = default;

std::size_t Document::Count() const { return s_->count; }
Node* Document::First() const { return s_->top->hasChildren() ? s_->top->child(0) : nullptr; }
int Document::TopLevelCount() const { return s_->top->childCount(); }
Node* Document::TopLevel(int row) const { return s_->top->child(row); }

Node* Document::AddRoot(std::string_view text) {
    Storage& s = *s_;
    Node* node = s.nodes.NewTopLevel(text);
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(nullptr, 0, 0);
    s.nodes.InsertTopLevel(node);
    ++s.count;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(nullptr, 0, 0);
    return node;
}

Node* Document::AddChild(Node* parent, std::string_view text) {
    Storage& s = *s_;
    Node* shownParent = parent == s.top ? nullptr : parent;
    NodeStore::PendingChild child = s.nodes.NewChild(parent, text);
    const int row = child.row;
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(shownParent, row, row);
    s.nodes.AppendChild(child);
    ++s.count;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(shownParent, row, row);
    return child.node;
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
    for (const Node* n = node;;) {
        const Node* up = NodeStore::Above(n);
        if (up == nullptr) return nullptr;
        if (n->row() + 1 < up->childCount()) return up->child(n->row() + 1);
        n = up;
    }
}

Node* Document::Prev(const Node* node) {
    Node* up = NodeStore::Above(node);
    if (up == nullptr) return nullptr;
    if (node->row() == 0) return node->parent();
    Node* n = up->child(node->row() - 1);
    while (n->hasChildren()) n = n->child(n->childCount() - 1);
    return n;
}

void Document::Delete(Node* node) {
    Storage& s = *s_;
    NodeStore& store = s.nodes;
    NodeStore::PendingRemoval removal = store.PrepareRemoval(node);
    Node* shownParent = removal.parent == s.top ? nullptr : removal.parent;
    const int row = node->row();
    // The trailing bytes go with their owner's subtree.
    bool ownsTrailing = false;
    for (const Node* n = s.trailingOwner; n != nullptr && !ownsTrailing; n = n->parent())
        ownsTrailing = n == node;
    for (TreeObserver* o : observers_) o->NodeAboutToBeRemoved(node);
    store.Unlink(removal);
    s.count -= store.FreeSubtree(node);
    if (ownsTrailing) {
        s.trailingOwner = nullptr;
        s.trailing = {};
    }
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodeRemoved(shownParent, row);
}

void Document::SetText(Node* node, std::string_view text) {
    if (node->storedText() == text) return;
    const std::optional<std::string> line =
        node->level() == 2 ? LineWithNewValue(node->savedLine(), node->storedText(), text)
                           : std::nullopt;
    NodeStore& store = s_->nodes;
    const NodeStore::TextChange change = store.StoreText(node, text, line ? &*line : nullptr);
    store.ReserveFor(&change, 1);
    store.ApplyText(change);
    const int row = node->row();
    NotifyTextsChanged(node->parent(), row, row);
}

void Document::NotifyTextsChanged(Node* parent, int first, int last) {
    for (TreeObserver* o : observers_) o->TextsChanged(parent, first, last);
}

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
    store.SetBytes(s.bytes.get());
    // Room for the sections of a file of short sections, so that the list
    // is not copied as it grows.
    Node* root = store.MakeRoot(rootText, size / kBytesPerSectionAtLeast);
    NodeStore::Builder builder(store, root);
    const std::string_view text(s.bytes.get(), size);
    IniScanner scanner(text);
    IniItem item;
    while (scanner.Next(item)) builder.Add(item);
    end = scanner.End();
    s.count = 1 + end.SectionCount + end.KeyCount;
    store.SetBytesEnd(end.Tail.data());
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

std::string Document::CheckInvariants() const {
    const Storage& s = *s_;
    std::string fault = s.nodes.Check(s.count);
    if (!fault.empty()) return fault;
    if (s.trailingOwner != nullptr) {
        // The owner is reached from the root through parents and rows.
        const Node* n = s.trailingOwner;
        while (n->parent() != nullptr && n->parent()->child(n->row()) == n) n = n->parent();
        if (n->parent() != nullptr || n->row() >= TopLevelCount() || TopLevel(n->row()) != n)
            return "the owner of the trailing bytes is not in the tree";
    } else if (!s.trailing.empty()) {
        return "trailing bytes without an owner";
    }
    return "";
}

void Document::AddObserver(TreeObserver* observer) { observers_.push_back(observer); }

void Document::RemoveObserver(TreeObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace keyloft
