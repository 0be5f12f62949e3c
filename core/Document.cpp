// The document tree and its operations.
//
// Every operation that changes the tree takes what it needs (nodes, text
// storage, room in vectors) before it sends its first "about to" notification,
// so that running out of memory leaves the tree and its views as they were.
#include "Document.h"

#include <algorithm>
#include <new>

#include "Encoding.h"
#include "Failure.h"
#include "IniReader.h"
#include "TreeObserver.h"

namespace keyloft {

namespace {
constexpr std::size_t kFirstChunkNodes = 64;
constexpr std::size_t kLargestChunkNodes = 64 * 1024;

// Makes room for one more child, so that the push_back that follows cannot
// throw.
void ReserveChild(std::vector<Node*>& children) {
    if (children.size() == children.capacity()) children.reserve(std::max<std::size_t>(4, 2 * children.size()));
}

std::size_t SubtreeSize(const Node* node) {
    std::size_t n = 1;
    for (const Node* child : node->children()) n += SubtreeSize(child);
    return n;
}
}  // namespace

Document::Storage::Storage() { top.sentinel_ = true; }

Document::Storage::~Storage() {
    top.children_.clear();
    for (Chunk& chunk : chunks) {
        for (std::size_t i = 0; i < chunk.used; ++i) chunk.nodes()[i].~Node();
    }
}

Node* Document::Storage::NewNode(Node* parent, std::string_view text, std::size_t row) {
    Node* node;
    if (!free.empty()) {
        node = free.back();
        free.pop_back();
    } else {
        if (chunks.empty() || chunks.back().used == chunks.back().capacity) {
            // Chunks grow with the document, so small documents stay small.
            const std::size_t last = chunks.empty() ? 0 : chunks.back().capacity;
            const std::size_t capacity = std::clamp(2 * last, kFirstChunkNodes, kLargestChunkNodes);
            Chunk chunk;
            chunk.memory = AllocateLarge(capacity * sizeof(Node));
            if (!chunk.memory) throw std::bad_alloc();
            chunk.capacity = capacity;
            chunks.push_back(std::move(chunk));
        }
        Chunk& chunk = chunks.back();
        node = new (chunk.nodes() + chunk.used) Node;
        ++chunk.used;
    }
    node->parent_ = parent;
    node->text_ = text;
    node->leading_ = {};
    node->line_ = {};
    node->breakSize_ = 0;
    node->unchanged_ = false;
    node->row_ = static_cast<std::uint32_t>(row);
    return node;
}

Document::Document() : s_(std::make_unique<Storage>()) {}

Document::~Document() = default;

std::size_t Document::Count() const { return s_->count; }
Node* Document::First() const { return s_->top.hasChildren() ? s_->top.child(0) : nullptr; }
int Document::TopLevelCount() const { return s_->top.childCount(); }
Node* Document::TopLevel(int row) const { return s_->top.child(row); }

std::string_view Document::Store(std::string_view text) { return s_->arena.Store(text); }

Node* Document::AddRoot(std::string_view text) {
    Storage& s = *s_;
    const std::string_view stored = Store(text);
    ReserveChild(s.top.children_);
    Node* node = s.NewNode(&s.top, stored, 0);
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(nullptr, 0, 0);
    s.top.children_.insert(s.top.children_.begin(), node);
    for (std::size_t i = 1; i < s.top.children_.size(); ++i) s.top.children_[i]->row_ = static_cast<std::uint32_t>(i);
    ++s.count;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(nullptr, 0, 0);
    return node;
}

Node* Document::AddChild(Node* parent, std::string_view text) {
    Storage& s = *s_;
    const int row = parent->childCount();
    Node* shownParent = parent->sentinel_ ? nullptr : parent;
    const std::string_view stored = Store(text);
    ReserveChild(parent->children_);
    Node* node = s.NewNode(parent, stored, static_cast<std::size_t>(row));
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(shownParent, row, row);
    parent->children_.push_back(node);
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
    } else {
        // Walking on from the remembered node answers every later index in
        // steps proportional to the distance; earlier ones start over.
        std::size_t at = 0;
        node = First();
        if (cachedNode_ != nullptr && n > cachedIndex_) {
            at = cachedIndex_;
            node = cachedNode_;
        }
        for (; node != nullptr && at < n; ++at) node = Next(node);
    }
    if (node == nullptr) throw Failure("Invalid index");
    cachedNode_ = node;
    cachedIndex_ = n;
    return const_cast<Node*>(node);
}

Node* Document::Next(const Node* node) {
    if (node->hasChildren()) return node->children_.front();
    for (const Node* n = node; n->parent_ != nullptr; n = n->parent_) {
        const Node* up = n->parent_;
        if (n->row_ + 1 < up->children_.size()) return up->children_[n->row_ + 1];
    }
    return nullptr;
}

Node* Document::Prev(const Node* node) {
    const Node* up = node->parent_;
    if (up == nullptr) return nullptr;
    if (node->row_ == 0) return up->sentinel_ ? nullptr : const_cast<Node*>(up);
    Node* n = up->children_[node->row_ - 1];
    while (n->hasChildren()) n = n->children_.back();
    return n;
}

void Document::Delete(Node* node) {
    Storage& s = *s_;
    Node* up = node->parent_;
    Node* shownParent = up->sentinel_ ? nullptr : up;
    const std::size_t row = node->row_;
    // The free list gets room for the whole subtree before anything changes.
    s.ReserveFree(SubtreeSize(node));
    for (TreeObserver* o : observers_) o->NodeAboutToBeRemoved(node);
    up->children_.erase(up->children_.begin() + static_cast<std::ptrdiff_t>(row));
    for (std::size_t i = row; i < up->children_.size(); ++i) up->children_[i]->row_ = static_cast<std::uint32_t>(i);
    // The free list itself is the queue of the walk over the subtree.
    std::size_t next = s.free.size();
    s.free.push_back(node);
    while (next < s.free.size()) {
        Node* n = s.free[next++];
        s.free.insert(s.free.end(), n->children_.begin(), n->children_.end());
        std::vector<Node*>().swap(n->children_);
        if (n == s.trailingOwner) {
            s.trailingOwner = nullptr;
            s.trailing = {};
        }
        n->parent_ = nullptr;
        n->text_ = {};
        n->leading_ = {};
        n->line_ = {};
        --s.count;
    }
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodeRemoved(shownParent, static_cast<int>(row));
}

void Document::SetTextOf(Node* node, std::string_view stored) {
    node->text_ = stored;
    node->unchanged_ = !node->line_.empty() && ReadsAs(node->line_, stored);
}

void Document::SetText(Node* node, std::string_view text) {
    if (node->text_ == text) return;
    SetTextOf(node, Store(text));
    const int row = node->row();
    NotifyTextsChanged(node->parent(), row, row);
}

void Document::NotifyTextsChanged(Node* parent, int first, int last) {
    for (TreeObserver* o : observers_) o->TextsChanged(parent, first, last);
}

// Adds the nodes of a reading to a storage being built aside.
class Document::Builder : public IniReadHandler {
public:
    Builder(Storage& s, Node* root) : s_(s), root_(root) {}
    void Section(std::string_view header, std::string_view, const IniLineBytes& bytes) override {
        ReserveChild(root_->children_);
        section_ = Add(root_, header, bytes);
    }
    void Line(std::string_view text, const IniLineBytes& bytes) override {
        ReserveChild(section_->children_);
        Add(section_, text, bytes);
    }
    Node* LastSection() const { return section_; }

private:
    Node* Add(Node* parent, std::string_view text, const IniLineBytes& bytes) {
        Node* node = s_.NewNode(parent, text, parent->children_.size());
        node->leading_ = bytes.leading;
        node->line_ = bytes.line;
        node->breakSize_ = static_cast<std::uint8_t>(bytes.lineBreak.size());
        node->unchanged_ = true;
        parent->children_.push_back(node);
        ++s_.count;
        return node;
    }

    Storage& s_;
    Node* root_;
    Node* section_ = nullptr;
};

Node* Document::ReadFile(std::string_view rootText, LargeBytes bytes, std::size_t size,
                         IniReadingEnd& end) {
    auto fresh = std::make_unique<Storage>();
    Storage& s = *fresh;
    s.bytes = std::move(bytes);
    ReserveChild(s.top.children_);
    Node* root = s.NewNode(&s.top, s.arena.Store(rootText), 0);
    s.top.children_.push_back(root);
    s.count = 1;

    Builder builder(s, root);
    const std::string_view text(s.bytes.get(), size);
    end = ReadIniInto(text, s.arena, builder);
    s.eol = end.LineBreak.empty() ? std::string("\r\n") : std::string(end.LineBreak);
    s.bom = end.ByteOrderMark;
    s.head = end.Head;
    s.trailing = end.Trailing;
    s.trailingOwner = end.Trailing.empty() ? nullptr : builder.LastSection();
    s.tail = end.Tail;
    s.utf8 = IsValidUtf8(text);

    Replace(std::move(fresh));
    return First();
}

void Document::AddObserver(TreeObserver* observer) { observers_.push_back(observer); }

void Document::RemoveObserver(TreeObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace keyloft
