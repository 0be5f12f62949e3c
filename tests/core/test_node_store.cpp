// The compact node store: what a node keeps of its file line, and its place
// in the tree, after loads and after edits that turn a section's run of keys
// into a list, extend the run, or give a key children.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Document.h"
#include "IniFile.h"
#include "IniReader.h"
#include "TestHelpers.h"

namespace keyloft {
namespace {

using test::DumpOf;
using test::LoadText;
using test::NameFromWhat;
using test::NodesInOrder;
using test::SplitLines;

// What is wrong with the tree, or "" when nothing: every node is found again
// through its parent and row; a read node's dropped bytes, line and break
// stand next to each other in the file; an unchanged node's text is the
// reading of its line, with or without storing it.
std::string Inconsistency(const Document& doc) {
    std::size_t count = 0;
    std::string scratch;
    for (const Node* node : NodesInOrder(doc)) {
        ++count;
        const Node* up = node->parent();
        const Node* again = up != nullptr ? up->child(node->row()) : doc.TopLevel(node->row());
        const std::string where =
            "node " + std::to_string(count) + " \"" + std::string(node->text()) + "\": ";
        if (again != node) return where + "not its parent's child at its row";
        const std::string_view line = node->fileLine();
        if (line.empty()) continue;
        if (!node->leading().empty() &&
            node->leading().data() + node->leading().size() != line.data())
            return where + "dropped bytes not right before the line";
        if (node->lineBreak().data() != line.data() + line.size())
            return where + "break not after the line";
        if (FindLineEnd(line.data(), doc.Tail().data()) != line.data() + line.size())
            return where + "line does not end at its first break";
        if (node->unchanged() &&
            (node->text(scratch) != ReadText(line, scratch) || node->text() != node->text(scratch)))
            return where + "text is not the reading of the line";
    }
    if (count != doc.Count())
        return "Count() is " + std::to_string(doc.Count()) + ", the walk finds " +
               std::to_string(count);
    return "";
}

struct LoadCase {
    const char* what;
    std::string bytes;
};

class NodeStoreLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(NodeStoreLoad, KeepsEveryLineWhereItStands) {
    Document doc;
    LoadText(doc, GetParam().bytes);
    EXPECT_EQ(Inconsistency(doc), "");
    EXPECT_EQ(SerializeDocument(doc), GetParam().bytes);
}

const LoadCase kLoads[] = {
    {"blanks around the equals sign", "[a]\n k = v \nx=1\n\t;c = d\n"},
    {"a header text that differs from its line", "[ a ]\r\nk=v\r\n  [b]  \r\n"},
    {"lone CRs and a last line without a break", "[a]\rk=v\r\rz = 1"},
    {"a NUL ends the reading",
     std::string("[a]\nk = v\nw\0[b]\nx=1\n", sizeof("[a]\nk = v\nw\0[b]\nx=1\n") - 1)},
    {"dropped bytes too long for a compact node", "[a]\n" + std::string(600'000, ';') + "\nk=v\n"},
    {"a line too long for a compact node", "[a]\nk=" + std::string(70'000, 'v') + "\ny = 2\n"},
    {"a read-again text too long for the arena", "[a]\nk = " + std::string(70'000, 'v') + "\n"},
    {"every break, with dropped lines between kept ones",
     "[a]\r\nk=1\r\n\r\n;c\r\nj=2\n\nm=3\r\r\nn=4\r;x\rq=5\r\n[b]\n\r"},
    {"more nodes than one chunk holds",
     [] {
         std::string bytes = "[a]\n";
         const char* breaks[] = {"\n", "\r\n", "\r", "\n;dropped\r\n", "\r\n\r\n"};
         for (int i = 0; i < 10'000; ++i)
             bytes += (i % 97 == 0 ? "[s" : "k") + std::to_string(i) + (i % 97 == 0 ? "]" : "=v") +
                      breaks[i % 5];
         return bytes;
     }()},
};

INSTANTIATE_TEST_SUITE_P(Shapes, NodeStoreLoad, ::testing::ValuesIn(kLoads),
                         NameFromWhat<LoadCase>);

struct EditCase {
    const char* what;
    std::function<void(Document&)> edit;
    std::vector<std::string> dump;
};

// Section [a] holds x, y, z; [b] holds w and is the last one read.
constexpr std::string_view kLoaded = "[a]\nx = 1\ny=2\nz=3\n[b]\nw=4\n";

Node* Key(Document& doc, int section, int row) { return doc.First()->child(section)->child(row); }

class NodeStoreEdit : public ::testing::TestWithParam<EditCase> {};

TEST_P(NodeStoreEdit, KeepsTheTreeWhole) {
    Document doc;
    LoadText(doc, kLoaded);
    GetParam().edit(doc);
    EXPECT_EQ(Inconsistency(doc), "");
    EXPECT_EQ(SplitLines(DumpOf(doc)), GetParam().dump);
}

const EditCase kEdits[] = {
    {"a key added to a section that is not the last",
     [](Document& doc) { doc.AddChild(doc.First()->child(0), "n=5"); },
     {"t.ini", "  [a]", "    x=1", "    y=2", "    z=3", "    n=5", "  [b]", "    w=4"}},
    {"keys added to the last section",
     [](Document& doc) {
         doc.AddChild(doc.First()->child(1), "n=5");
         doc.AddChild(doc.First()->child(1), "m=6");
     },
     {"t.ini", "  [a]", "    x=1", "    y=2", "    z=3", "  [b]", "    w=4", "    n=5", "    m=6"}},
    {"a key deleted from the middle",
     [](Document& doc) { doc.Delete(Key(doc, 0, 1)); },
     {"t.ini", "  [a]", "    x=1", "    z=3", "  [b]", "    w=4"}},
    {"the last key deleted, then one added in its place",
     [](Document& doc) {
         doc.Delete(Key(doc, 0, 2));
         doc.AddChild(doc.First()->child(0), "q=9");
         doc.Delete(Key(doc, 0, 0));
     },
     {"t.ini", "  [a]", "    y=2", "    q=9", "  [b]", "    w=4"}},
    {"a key given children",
     [](Document& doc) { doc.AddChild(Key(doc, 0, 0), "deep"); },
     {"t.ini", "  [a]", "    x=1", "      deep", "    y=2", "    z=3", "  [b]", "    w=4"}},
    {"a section renamed, then a key added",
     [](Document& doc) {
         doc.SetText(doc.First()->child(0), "[c]");
         doc.AddChild(doc.First()->child(0), "n=5");
         doc.Delete(doc.First()->child(1));
     },
     {"t.ini", "  [c]", "    x=1", "    y=2", "    z=3", "    n=5"}},
};

INSTANTIATE_TEST_SUITE_P(Edits, NodeStoreEdit, ::testing::ValuesIn(kEdits), NameFromWhat<EditCase>);

TEST(NodeStore, ATextSetBackWritesTheLineAsItStood) {
    Document doc;
    LoadText(doc, kLoaded);
    Node* x = Key(doc, 0, 0);
    doc.SetText(x, "x=2");
    EXPECT_FALSE(x->unchanged());
    doc.SetText(x, "x=1");
    EXPECT_TRUE(x->unchanged());
    EXPECT_EQ(SerializeDocument(doc), kLoaded);
}

}  // namespace
}  // namespace keyloft
