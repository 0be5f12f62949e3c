// One node of the document tree: a line of text with its place in the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace keyloft {

class Document;

// Nodes are owned by their Document and live until deleted or cleared; the
// Document hands out plain pointers. The text is a view into storage the
// Document owns (the loaded file's bytes or its own arena), valid until the
// node's text is set again or the node is destroyed.
class Node {
public:
    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    std::string_view text() const { return text_; }
    // The node it hangs under, or nullptr for a top-level node.
    Node* parent() const { return parent_ != nullptr && !parent_->sentinel_ ? parent_ : nullptr; }
    // Number of ancestors: 0 for the root, 1 for a section, 2 for a key.
    int level() const;
    int childCount() const { return static_cast<int>(children_.size()); }
    bool hasChildren() const { return !children_.empty(); }
    Node* child(int row) const { return children_[static_cast<std::size_t>(row)]; }
    // Position among its siblings (or among the top-level nodes); O(1).
    int row() const { return static_cast<int>(row_); }
    const std::vector<Node*>& children() const { return children_; }

    // Raw bytes the reading dropped right before this node's line (blank
    // lines, plain comments), line breaks included. Save writes them back in
    // front of the node.
    std::string_view leading() const { return leading_; }
    // The line this node was read from, as it stood in the file (blanks
    // included, without its break); empty for a node made in the editor.
    std::string_view fileLine() const { return line_; }
    // That line's own break, right after it in the file's bytes; empty for a
    // made node and for a last line that had none.
    std::string_view lineBreak() const { return {line_.data() + line_.size(), breakSize_}; }
    // Whether the text is still the one the reading gave the file's line, so
    // that the line can be written back exactly as it stood.
    bool unchanged() const { return unchanged_; }

private:
    friend class Document;
    Node* parent_ = nullptr;
    std::vector<Node*> children_;
    std::string_view text_;
    std::string_view leading_;
    std::string_view line_;
    std::uint32_t row_ = 0;
    std::uint8_t breakSize_ = 0;
    bool unchanged_ = false;
    // The hidden node whose children are the top-level nodes.
    bool sentinel_ = false;
};

}  // namespace keyloft
