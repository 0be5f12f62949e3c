// The edited document: a tree of text nodes, the changed mark, and what the
// loaded file needs to be written back byte for byte.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "LargeBuffer.h"
#include "Node.h"
#include "TextArena.h"

namespace keyloft {

class TreeObserver;
struct IniReadingEnd;

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
    std::size_t Count() const { return count_; }
    // Node at position n in tree order (0 is the root). Remembers the last
    // answer so that walks by increasing or decreasing index cost one step
    // per node. Throws Failure("Invalid index") outside 0..Count()-1.
    Node* NodeAt(std::size_t n) const;
    Node* First() const { return top_.hasChildren() ? top_.child(0) : nullptr; }
    int TopLevelCount() const { return top_.childCount(); }
    Node* TopLevel(int row) const { return top_.child(row); }
    // Next and previous node in tree order, or nullptr.
    static Node* Next(const Node* node);
    static Node* Prev(const Node* node);
    static int Level(const Node* node) { return node->level(); }
    static int ChildCount(const Node* node) { return node->childCount(); }
    static bool HasChildren(const Node* node) { return node->hasChildren(); }
    static std::string_view Text(const Node* node) { return node->text(); }
    // Removes the node with its whole subtree and the dropped lines attached
    // to them.
    void Delete(Node* node);
    // Replaces the node's text; setting the text it already has does nothing.
    void SetText(Node* node, std::string_view text);
    // Sets the texts of children first..last of `parent` to what `rule`
    // returns for each, with one notification for the whole range. `rule`
    // returns false to leave a child as it is.
    template <class Rule>
    void RewriteChildren(Node* parent, int first, int last, Rule rule);

    // --- the file behind the document -------------------------------------
    // Line break written after every line: the loaded file's first one, CR LF
    // for a new document or a file without any.
    const std::string& LineEnding() const { return eol_; }
    // Whether the loaded file began with a UTF-8 byte-order mark.
    bool HasByteOrderMark() const { return bom_; }
    // Raw bytes of a file without sections, written before every node.
    std::string_view Head() const { return head_; }
    // Raw bytes after the last node's line that the reading dropped.
    std::string_view Tail() const { return tail_; }
    // Whether the Tail begins with a NUL that ended the last line's text.
    bool NulCutsLastLine() const { return nulCutsLastLine_; }
    // Whether the loaded file's bytes are valid UTF-8 (true for a new one).
    bool IsUtf8() const { return utf8_; }

    // Replaces the whole tree by a root named `rootText` and the reading of
    // the file's bytes, built as the reading goes. Notifies one reset.
    // Returns the root; `end` receives the reading's counts and extras.
    Node* ReadFile(std::string_view rootText, LargeBytes bytes, std::size_t size, IniReadingEnd& end);

    // --- observers --------------------------------------------------------
    void AddObserver(TreeObserver* observer);
    void RemoveObserver(TreeObserver* observer);

private:
    Node* NewNode(Node* parent, std::string_view text, std::size_t row);
    void FreeSubtree(Node* node);
    void ForgetPosition() const { cachedNode_ = nullptr; }
    void NotifyTextsChanged(Node* parent, int first, int last);
    std::string_view Store(std::string_view text) { return arena_.Store(text); }

    // Hidden parent of the top-level nodes, so that every node has a parent
    // and walks need no special case.
    Node top_;
    std::size_t count_ = 0;

    // Node storage: nodes are taken from chunks and recycled through a free
    // list, so a load of millions of lines makes a few large allocations.
    struct Chunk {
        LargeBytes memory;
        std::size_t capacity = 0;
        std::size_t used = 0;  // constructed nodes, from the start
        Node* nodes() const { return reinterpret_cast<Node*>(memory.get()); }
    };
    void AddChunk(std::size_t capacity);
    void ReleaseNodes();
    void StartRebuild(std::string_view rootText, LargeBytes bytes);
    void FinishRebuild(std::size_t size, const IniReadingEnd& end);
    class Builder;
    std::vector<Chunk> chunks_;
    std::vector<Node*> free_;

    LargeBytes bytes_;
    TextArena arena_;
    std::string eol_ = "\r\n";
    bool bom_ = false;
    bool utf8_ = true;
    bool nulCutsLastLine_ = false;
    std::string_view head_;
    std::string_view tail_;

    std::vector<TreeObserver*> observers_;

    mutable const Node* cachedNode_ = nullptr;
    mutable std::size_t cachedIndex_ = 0;
};

template <class Rule>
void Document::RewriteChildren(Node* parent, int first, int last, Rule rule) {
    if (first > last) return;
    std::string scratch;
    bool any = false;
    for (int row = first; row <= last; ++row) {
        Node* node = parent->child(row);
        scratch.assign(node->text_);
        if (rule(scratch) && scratch != node->text_) {
            node->text_ = Store(scratch);
            any = true;
        }
    }
    if (any) NotifyTextsChanged(parent, first, last);
}

}  // namespace keyloft
