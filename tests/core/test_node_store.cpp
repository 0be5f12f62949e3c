// The compact node store: what a node keeps of its file line, and its place
// in the tree, after loads and after edits that turn a section's run of keys
// into a list, extend the run, or give a key children.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestHelpers.h"
#include "document/Document.h"
#include "document/TreeObserver.h"
#include "files/IniFile.h"

namespace keyloft {
namespace {

using test::DumpOf;
using test::LoadText;
using test::NameFromWhat;
using test::SplitLines;

// Runs the store's checker (Document::CheckInvariants) after every change
// the document announces as done, the load's reset included, and keeps the
// first fault with the change it followed.
class CheckAfterEachChange : public TreeObserver {
public:
    explicit CheckAfterEachChange(Document& doc) : doc_(doc) { doc_.AddObserver(this); }
    ~CheckAfterEachChange() override { doc_.RemoveObserver(this); }
    CheckAfterEachChange(const CheckAfterEachChange&) = delete;
    CheckAfterEachChange& operator=(const CheckAfterEachChange&) = delete;

    void NodesAboutToBeAdded(Node*, int, int) override {}
    void NodesAdded(Node*, int, int) override { Check("an addition"); }
    void NodeAboutToBeRemoved(Node*) override {}
    void NodeRemoved(Node*, int) override { Check("a removal"); }
    void TreeAboutToBeReset() override {}
    void TreeReset() override { Check("a load"); }
    void TextsChanged(Node*, int, int) override { Check("a new text"); }

    // The first fault, and the check at the end of the test (which also
    // sees what no notification announces, a text stored on reading).
    std::string Fault() {
        Check("the last step");
        return fault_;
    }
    int Checks() const { return checks_; }

private:
    void Check(const char* after) {
        ++checks_;
        if (!fault_.empty()) return;
        const std::string fault = doc_.CheckInvariants();
        if (!fault.empty())
            fault_ = "after change " + std::to_string(checks_) + ", " + after + ": " + fault;
    }

    Document& doc_;
    std::string fault_;
    int checks_ = 0;
};

struct LoadCase {
    const char* what;
    std::string bytes;
};

class NodeStoreLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(NodeStoreLoad, KeepsEveryLineWhereItStands) {
    Document doc;
    CheckAfterEachChange check(doc);
    LoadText(doc, GetParam().bytes);
    EXPECT_EQ(check.Fault(), "");
    EXPECT_EQ(SerializeDocument(doc), GetParam().bytes);
    // Reading every text stores those read again from their lines.
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node))
        static_cast<void>(node->storedText());
    EXPECT_EQ(check.Fault(), "");
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
    CheckAfterEachChange check(doc);
    LoadText(doc, kLoaded);
    const int loadChecks = check.Checks();
    GetParam().edit(doc);
    EXPECT_GT(check.Checks(), loadChecks) << "no change was checked";
    EXPECT_EQ(check.Fault(), "");
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
    CheckAfterEachChange check(doc);
    LoadText(doc, kLoaded);
    Node* x = Key(doc, 0, 0);
    doc.SetText(x, "x=2");
    EXPECT_FALSE(x->unchanged());
    doc.SetText(x, "x=1");
    EXPECT_TRUE(x->unchanged());
    EXPECT_EQ(check.Fault(), "");
    EXPECT_EQ(SerializeDocument(doc), kLoaded);
}

}  // namespace
}  // namespace keyloft
