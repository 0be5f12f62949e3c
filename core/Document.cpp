// The document tree and its operations.
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
}  // namespace

Document::Document() { top_.sentinel_ = true; }

Document::~Document() {
    top_.children_.clear();
    ReleaseNodes();
}

void Document::AddChunk(std::size_t capacity) {
    Chunk chunk;
    chunk.memory = AllocateLarge(capacity * sizeof(Node));
    if (!chunk.memory) throw std::bad_alloc();
    chunk.capacity = capacity;
    chunks_.push_back(std::move(chunk));
}

void Document::ReleaseNodes() {
    for (Chunk& chunk : chunks_) {
        for (std::size_t i = 0; i < chunk.used; ++i) chunk.nodes()[i].~Node();
    }
    chunks_.clear();
    free_.clear();
}

Node* Document::NewNode(Node* parent, std::string_view text, std::size_t row) {
    Node* node;
    if (!free_.empty()) {
        node = free_.back();
        free_.pop_back();
    } else {
        if (chunks_.empty() || chunks_.back().used == chunks_.back().capacity) {
            // Chunks grow with the document, so small documents stay small.
            const std::size_t last = chunks_.empty() ? 0 : chunks_.back().capacity;
            AddChunk(std::clamp(2 * last, kFirstChunkNodes, kLargestChunkNodes));
        }
        Chunk& chunk = chunks_.back();
        node = new (chunk.nodes() + chunk.used) Node;
        ++chunk.used;
    }
    node->parent_ = parent;
    node->text_ = text;
    node->leading_ = {};
    node->row_ = static_cast<std::uint32_t>(row);
    return node;
}

// Returns the subtree's nodes to the free list; returns how many.
void Document::FreeSubtree(Node* node) {
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* n = pending.back();
        pending.pop_back();
        pending.insert(pending.end(), n->children_.begin(), n->children_.end());
        std::vector<Node*>().swap(n->children_);
        n->parent_ = nullptr;
        n->text_ = {};
        n->leading_ = {};
        free_.push_back(n);
        --count_;
    }
}

Node* Document::AddRoot(std::string_view text) {
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(nullptr, 0, 0);
    Node* node = NewNode(&top_, Store(text), 0);
    top_.children_.insert(top_.children_.begin(), node);
    for (std::size_t i = 1; i < top_.children_.size(); ++i) top_.children_[i]->row_ = static_cast<std::uint32_t>(i);
    ++count_;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(nullptr, 0, 0);
    return node;
}

Node* Document::AddChild(Node* parent, std::string_view text) {
    const int row = parent->childCount();
    Node* shownParent = parent->sentinel_ ? nullptr : parent;
    for (TreeObserver* o : observers_) o->NodesAboutToBeAdded(shownParent, row, row);
    Node* node = NewNode(parent, Store(text), static_cast<std::size_t>(row));
    parent->children_.push_back(node);
    ++count_;
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodesAdded(shownParent, row, row);
    return node;
}

void Document::Clear() {
    for (TreeObserver* o : observers_) o->TreeAboutToBeReset();
    top_.children_.clear();
    ReleaseNodes();
    count_ = 0;
    bytes_.reset();
    arena_.Clear();
    eol_ = "\r\n";
    bom_ = false;
    utf8_ = true;
    nulCutsLastLine_ = false;
    head_ = {};
    tail_ = {};
    ForgetPosition();
    for (TreeObserver* o : observers_) o->TreeReset();
}

Node* Document::NodeAt(std::size_t n) const {
    if (n >= count_) throw Failure("Invalid index");
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
    Node* up = node->parent_;
    Node* shownParent = up->sentinel_ ? nullptr : up;
    const std::size_t row = node->row_;
    for (TreeObserver* o : observers_) o->NodeAboutToBeRemoved(node);
    up->children_.erase(up->children_.begin() + static_cast<std::ptrdiff_t>(row));
    for (std::size_t i = row; i < up->children_.size(); ++i) up->children_[i]->row_ = static_cast<std::uint32_t>(i);
    FreeSubtree(node);
    ForgetPosition();
    for (TreeObserver* o : observers_) o->NodeRemoved(shownParent, static_cast<int>(row));
}

void Document::SetText(Node* node, std::string_view text) {
    if (node->text_ == text) return;
    node->text_ = Store(text);
    const int row = node->row();
    NotifyTextsChanged(node->parent(), row, row);
}

void Document::NotifyTextsChanged(Node* parent, int first, int last) {
    for (TreeObserver* o : observers_) o->TextsChanged(parent, first, last);
}

void Document::StartRebuild(std::string_view rootText, LargeBytes bytes) {
    for (TreeObserver* o : observers_) o->TreeAboutToBeReset();
    top_.children_.clear();
    ReleaseNodes();
    count_ = 0;
    arena_.Clear();
    bytes_ = std::move(bytes);
    ForgetPosition();
    top_.children_.push_back(NewNode(&top_, Store(rootText), 0));
    count_ = 1;
}

void Document::FinishRebuild(std::size_t size, const IniReadingEnd& end) {
    eol_ = end.FirstLineBreak.empty() ? std::string("\r\n") : std::string(end.FirstLineBreak);
    bom_ = end.ByteOrderMark;
    head_ = end.Head;
    tail_ = end.Tail;
    nulCutsLastLine_ = end.NulCutsLastLine;
    utf8_ = IsValidUtf8({bytes_.get(), size});
    for (TreeObserver* o : observers_) o->TreeReset();
}

// Adds the nodes of a reading as it goes.
class Document::Builder : public IniReadHandler {
public:
    explicit Builder(Document& doc) : doc_(doc), root_(doc.First()) {}
    void Section(std::string_view header, std::string_view, std::string_view leading) override {
        section_ = doc_.NewNode(root_, header, root_->children_.size());
        section_->leading_ = leading;
        root_->children_.push_back(section_);
        ++doc_.count_;
    }
    void Line(std::string_view text, std::string_view leading) override {
        Node* key = doc_.NewNode(section_, text, section_->children_.size());
        key->leading_ = leading;
        section_->children_.push_back(key);
        ++doc_.count_;
    }

private:
    Document& doc_;
    Node* root_;
    Node* section_ = nullptr;
};

Node* Document::ReadFile(std::string_view rootText, LargeBytes bytes, std::size_t size,
                         IniReadingEnd& end) {
    StartRebuild(rootText, std::move(bytes));
    Builder builder(*this);
    end = ReadIniInto({bytes_.get(), size}, arena_, builder);
    FinishRebuild(size, end);
    return First();
}

void Document::AddObserver(TreeObserver* observer) { observers_.push_back(observer); }

void Document::RemoveObserver(TreeObserver* observer) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

}  // namespace keyloft
