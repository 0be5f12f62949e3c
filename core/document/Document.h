// The edited document: a tree of text nodes, the changed mark, and what the
// loaded file needs to be written back byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/ReserveMore.h"
#include "document/Node.h"
#include "document/TextArena.h"
#include "fast/LargeBuffer.h"
#include "reading/Encoding.h"

namespace keyloft {

class TreeObserver;
struct IniReadingEnd;

// A node's new text and, with `ownLine`, the line a save writes for it: an
// edit that keeps the bytes of the node's line (a comment mark put in or
// taken out) gives the new line, which may differ from the text.
struct LineChange {
    std::string text;
    std::string line;
    bool ownLine = false;
};

class Document {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // The changed mark. Nothing in the Document sets or clears it: the
    // window's commands drive it.
    bool ItemsChanged = false;

    // --- tree operations -------------------------------------------------
    // Adds a top-level node in front of any existing one.
    Node* AddRoot(std::string_view text);
    // Adds a node as the last child of `parent`.
    Node* AddChild(Node* parent, std::string_view text);
    // Removes every node and forgets the loaded file (line ending, byte-order
    // mark, dropped lines): afterwards the document is a new one.
    void Clear();
    // Nodes in the whole tree, all levels.
    std::size_t Count() const;
    // Node at position n in tree order (0 is the root). Remembers the last
    // answer so that walks by increasing or decreasing index cost one step
    // per node. Throws Failure("Invalid index") outside 0..Count()-1.
    Node* NodeAt(std::size_t n) const;
    // How many nodes NodeAt has stepped over so far: the cost of the walks
    // it answered.
    std::size_t WalkSteps() const { return walkSteps_; }
    Node* First() const;
    int TopLevelCount() const;
    Node* TopLevel(int row) const;
    // Next and previous node in tree order, or nullptr.
    static Node* Next(const Node* node);
    static Node* Prev(const Node* node);
    // Removes the node with its whole subtree and the dropped lines attached
    // to them.
    void Delete(Node* node);
    // Replaces the node's text; setting the text it already has does nothing.
    // A text equal to the reading of the node's file line makes the line
    // unchanged again: it is written back as it stood. A key's new text that
    // keeps its key and changes its value changes only the value's bytes of
    // the line (LineWithNewValue); any other text is written as it stands.
    void SetText(Node* node, std::string_view text);
    // Sets the texts of children first..last of `parent` to what `rule`
    // returns for each, with one notification for the whole range. `rule`
    // returns false to leave a child as it is.
    template <class Rule>
    void RewriteChildren(Node* parent, int first, int last, Rule rule);
    // The same for `node` itself and all its children at once: either every
    // text changes or, when memory runs out, none.
    template <class Rule>
    void RewriteWithChildren(Node* node, Rule rule);
    // The same with lines: `rule(const Node*, LineChange&)` gets the node's
    // text in `change.text` and may set the line a save writes for it.
    template <class Rule>
    void RewriteLinesWithChildren(Node* node, Rule rule);

    // --- the file behind the document -------------------------------------
    // Line break of lines made in the editor: the one most lines of the
    // loaded file end with (the first on a tie), CR LF for a new document or
    // a file without any.
    const std::string& LineEnding() const { return s_->eol; }
    // Makes `eol` the line break of lines made from now on: the command-line
    // tool's LF for a file without any.
    void SetLineEnding(std::string_view eol) { s_->eol = eol; }
    // Whether the loaded file began with a UTF-8 byte-order mark.
    bool HasByteOrderMark() const { return s_->bom; }
    // Raw bytes before the file's first section header (all its readable
    // text when it has none): written first, whatever happens to sections.
    std::string_view Head() const { return s_->head; }
    // Raw bytes the reading dropped after the last kept line, and the node
    // whose end they are (the last section of the loaded file): written
    // after that node's subtree. Deleting the node deletes them.
    std::string_view Trailing() const { return s_->trailing; }
    const Node* TrailingOwner() const { return s_->trailingOwner; }
    // Everything from a NUL byte on, which the reading never reads: written
    // last.
    std::string_view Tail() const { return s_->tail; }
    // Whether the loaded file's bytes are valid UTF-8 (true for a new one),
    // or the file is UTF-16, whose text is held as (generalized) UTF-8.
    bool IsUtf8() const { return s_->utf8; }
    // The UTF-16 order of a file that began with a UTF-16 byte-order mark,
    // None for any other. The text of such a file (every view above, the
    // nodes' texts and lines) is its generalized UTF-8; a save encodes it
    // back.
    Utf16Order Utf16() const { return s_->utf16; }
    // The bytes of a UTF-16 file from its first unit U+0000 on (or its odd
    // last byte), which the reading never reads: written last, as they stood.
    std::string_view Utf16Tail() const { return s_->utf16Tail; }
    // The text that was read: the file's bytes, or a UTF-16 file's decoded
    // text.
    std::string_view Text() const { return {s_->bytes.get(), s_->size}; }

    // Replaces the whole tree by a root named `rootText` and the reading of
    // the file's bytes. The new tree is built aside: when building fails
    // (memory), the document and its views are exactly as before. Notifies
    // one reset. Returns the root; `end` receives the reading's counts.
    Node* ReadFile(std::string_view rootText, LargeBytes bytes, std::size_t size,
                   IniReadingEnd& end);

    // What is wrong with the tree's storage, or "" when nothing: the node
    // store's invariants (NodeStore::Check), and the owner of the trailing
    // bytes is a node of the tree. Reads every node; stores nothing.
    std::string CheckInvariants() const;

    // --- observers --------------------------------------------------------
    void AddObserver(TreeObserver* observer);
    void RemoveObserver(TreeObserver* observer);

private:
    // Everything a document holds besides its observers, so that a load can
    // build a whole new one aside and swap it in. The nodes' store lives
    // here, on the heap, so that its address (which every node's chunk
    // names) survives the swap.
    struct Storage {
        Storage();
        NodeStore nodes;
        // Hidden parent of the top-level nodes (index 0), so that every node
        // has a parent and walks need no special case.
        Node* top = nullptr;
        std::size_t count = 0;
        LargeBytes bytes;
        std::size_t size = 0;
        std::string eol = "\r\n";
        bool bom = false;
        bool utf8 = true;
        Utf16Order utf16 = Utf16Order::None;
        std::string utf16Tail;
        std::string_view head;
        std::string_view trailing;
        const Node* trailingOwner = nullptr;
        std::string_view tail;
    };
    template <class Rule>
    void Rewrite(Node* parent, bool withParent, int first, int last, Rule rule);
    // Swaps in a whole new storage between one reset's notifications.
    void Replace(std::unique_ptr<Storage> fresh);
    void ForgetPosition() const { cachedNode_ = nullptr; }
    void NotifyTextsChanged(Node* parent, int first, int last);

    std::unique_ptr<Storage> s_;
    std::vector<TreeObserver*> observers_;

    mutable const Node* cachedNode_ = nullptr;
    mutable std::size_t cachedIndex_ = 0;
    mutable std::size_t walkSteps_ = 0;
};

template <class Rule>
void Document::RewriteChildren(Node* parent, int first, int last, Rule rule) {
    Rewrite(parent, false, first, last,
            [&rule](const Node*, LineChange& change) { return rule(change.text); });
}

template <class Rule>
void Document::RewriteWithChildren(Node* node, Rule rule) {
    Rewrite(node, true, 0, node->childCount() - 1,
            [&rule](const Node*, LineChange& change) { return rule(change.text); });
}

template <class Rule>
void Document::RewriteLinesWithChildren(Node* node, Rule rule) {
    Rewrite(node, true, 0, node->childCount() - 1, rule);
}

template <class Rule>
void Document::Rewrite(Node* parent, bool withParent, int first, int last, Rule rule) {
    // Every new text is stored before any node changes, so that running out
    // of memory half-way leaves all of them as they were.
    NodeStore& store = s_->nodes;
    std::vector<NodeStore::TextChange> changes;
    LineChange change;
    auto consider = [&](Node* node) {
        change.text.assign(node->storedText());
        change.ownLine = false;
        if (!rule(static_cast<const Node*>(node), change)) return;
        const bool sameText = change.text == node->storedText();
        if (sameText && (!change.ownLine || change.line == node->savedLine())) return;
        ReserveMore(changes, 1);
        changes.push_back(
            store.StoreText(node, change.text, change.ownLine ? &change.line : nullptr));
    };
    if (withParent) consider(parent);
    const bool parentChanged = !changes.empty();
    for (int row = first; row <= last; ++row) consider(parent->child(row));
    if (changes.empty()) return;
    store.ReserveFor(changes.data(), changes.size());
    for (const NodeStore::TextChange& change : changes) store.ApplyText(change);
    if (parentChanged) NotifyTextsChanged(parent->parent(), parent->row(), parent->row());
    if (changes.size() > (parentChanged ? 1u : 0u)) NotifyTextsChanged(parent, first, last);
}

}  // namespace keyloft
