// The document tree: tree order, node at index with its remembered position,
// deletes with their attached dropped lines, and the observer notifications.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "TestHelpers.h"
#include "document/Commenting.h"
#include "document/Document.h"
#include "document/Node.h"
#include "document/Rules.h"
#include "document/TextArena.h"
#include "document/TreeObserver.h"
#include "files/IniFile.h"

namespace keyloft {
namespace {
using namespace std::string_literals;

using test::BuildTree;
using test::DumpOf;
using test::LoadText;
using test::NodesInOrder;
using test::SectionShape;
using test::Utf16Be;
using test::Utf16Le;

template <class Nodes>
std::vector<std::string> Texts(const Nodes& nodes) {
    std::vector<std::string> out;
    for (const Node* n : nodes) out.emplace_back(n->storedText());
    return out;
}

// root, A (a1, a2), B: the tree of the Part's edge cases.
class SmallTree : public ::testing::Test {
protected:
    void SetUp() override { BuildTree(doc, "t.ini", {{"A", {"a1", "a2"}}, {"B", {}}}); }
    Node* At(std::size_t i) const { return doc.NodeAt(i); }
    Document doc;
};

TEST(DocumentEmpty, HasNoNodes) {
    Document doc;
    EXPECT_EQ(doc.Count(), 0u);
    EXPECT_EQ(doc.First(), nullptr);
    EXPECT_EQ(doc.TopLevelCount(), 0);
    EXPECT_FALSE(doc.ItemsChanged);
    EXPECT_EQ(doc.LineEnding(), "\r\n");
    EXPECT_FALSE(doc.HasByteOrderMark());
    EXPECT_TRUE(doc.Tail().empty());
    EXPECT_TRUE(doc.IsUtf8());
}

TEST_F(SmallTree, TreeOrderAndLevels) {
    EXPECT_EQ(doc.Count(), 5u);
    EXPECT_EQ(Texts(NodesInOrder(doc)), (std::vector<std::string>{"t.ini", "A", "a1", "a2", "B"}));
    EXPECT_EQ(At(0)->storedText(), "t.ini");
    EXPECT_EQ(At(3)->storedText(), "a2");
    EXPECT_EQ(At(4)->storedText(), "B");
    EXPECT_EQ(Document::Next(At(3)), At(4));
    EXPECT_EQ(Document::Next(At(4)), nullptr);
    EXPECT_EQ(Document::Prev(At(0)), nullptr);
    const int levels[] = {0, 1, 2, 2, 1};
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(At(i)->level(), levels[i]);
    }
    EXPECT_EQ(At(1)->childCount(), 2);
    EXPECT_EQ(At(4)->childCount(), 0);
    EXPECT_TRUE(At(0)->hasChildren());
    EXPECT_FALSE(At(4)->hasChildren());
    EXPECT_EQ(At(2)->parent(), At(1));
    EXPECT_EQ(At(0)->parent(), nullptr);
    EXPECT_EQ(At(3)->row(), 1);
    EXPECT_EQ(At(4)->row(), 1);
}

TEST_F(SmallTree, PrevIsTheInverseOfNext) {
    auto nodes = NodesInOrder(doc);
    for (std::size_t i = 1; i < nodes.size(); ++i) {
        SCOPED_TRACE(nodes[i]->storedText());
        EXPECT_EQ(Document::Prev(nodes[i]), nodes[i - 1]);
    }
}

TEST_F(SmallTree, NodeAtOutOfRangeIsInvalidIndex) {
    for (std::size_t bad : {std::size_t{5}, std::size_t{6}, static_cast<std::size_t>(-1)}) {
        SCOPED_TRACE(bad);
        try {
            doc.NodeAt(bad);
            ADD_FAILURE() << "no failure";
        } catch (const Failure& e) {
            EXPECT_STREQ(e.what(), "Invalid index");
        }
    }
    // The last valid index still answers after a failed one.
    EXPECT_EQ(At(4)->storedText(), "B");
    Document empty;
    EXPECT_THROW(empty.NodeAt(0), Failure);
}

TEST_F(SmallTree, DeletingASectionRemovesItsKeys) {
    doc.Delete(At(1));
    EXPECT_EQ(doc.Count(), 2u);
    EXPECT_EQ(Texts(NodesInOrder(doc)), (std::vector<std::string>{"t.ini", "B"}));
    EXPECT_EQ(At(1)->row(), 0);
    EXPECT_FALSE(doc.ItemsChanged);
}

TEST_F(SmallTree, DeletingTheLastKeyLeavesNoChildren) {
    Node* a = At(1);
    doc.Delete(At(2));
    EXPECT_TRUE(a->hasChildren());
    EXPECT_EQ(a->child(0)->row(), 0);
    doc.Delete(a->child(0));
    EXPECT_FALSE(a->hasChildren());
    EXPECT_EQ(doc.Count(), 3u);
    EXPECT_EQ(Document::Next(a), At(2));
}

TEST_F(SmallTree, DeletingTheRootEmptiesTheTree) {
    doc.Delete(At(0));
    EXPECT_EQ(doc.Count(), 0u);
    EXPECT_EQ(doc.First(), nullptr);
    EXPECT_THROW(doc.NodeAt(0), Failure);
}

TEST_F(SmallTree, ClearAndAddAgain) {
    doc.Clear();
    EXPECT_EQ(doc.Count(), 0u);
    EXPECT_EQ(doc.First(), nullptr);
    Node* root = doc.AddRoot("n.ini");
    doc.AddChild(root, "[x]");
    EXPECT_EQ(doc.Count(), 2u);
    EXPECT_EQ(At(1)->storedText(), "[x]");
}

TEST_F(SmallTree, SetTextKeepsPlaceAndAcceptsItsOwnText) {
    Node* a1 = At(2);
    doc.SetText(a1, "changed");
    EXPECT_EQ(At(2)->storedText(), "changed");
    // A view into the node's own text as the new text.
    doc.SetText(a1, a1->storedText().substr(2));
    EXPECT_EQ(a1->storedText(), "anged");
    doc.SetText(a1, "");
    EXPECT_EQ(a1->storedText(), "");
    EXPECT_FALSE(doc.ItemsChanged);
}

// Node at index against the list found by Next, walked in every way the
// commands and the view walk it.
TEST(NodeAt, AnyOrderOfIndicesGivesTheNodeAtThatPosition) {
    Document doc;
    std::vector<SectionShape> sections;
    for (int s = 0; s < 7; ++s) {
        SectionShape shape{"[s" + std::to_string(s) + "]", {}};
        for (int k = 0; k < s % 4; ++k) shape.keys.push_back("k" + std::to_string(k));
        sections.push_back(shape);
    }
    BuildTree(doc, "r.ini", sections);
    const auto nodes = NodesInOrder(doc);
    ASSERT_EQ(nodes.size(), doc.Count());

    for (std::size_t i = 0; i < nodes.size(); ++i) EXPECT_EQ(doc.NodeAt(i), nodes[i]) << i;
    for (std::size_t i = nodes.size(); i-- > 0;) EXPECT_EQ(doc.NodeAt(i), nodes[i]) << i;
    const std::size_t jumps[] = {5, 2, 3, 3, 4, 0, 1, 0, 13, 12, 14, 7, 7, 6, 1};
    for (std::size_t i : jumps) EXPECT_EQ(doc.NodeAt(i), nodes[i]) << i;
    std::mt19937 random(12345);
    for (int n = 0; n < 500; ++n) {
        std::size_t i = random() % nodes.size();
        ASSERT_EQ(doc.NodeAt(i), nodes[i]) << "step " << n << " index " << i;
    }
}

TEST(NodeAt, EveryAdditionForgetsTheRememberedPosition) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1"}}, {"B", {"b1"}}});
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "B");
    doc.AddChild(doc.NodeAt(1), "a2");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "a2");
    EXPECT_EQ(doc.NodeAt(4)->storedText(), "B");
    EXPECT_EQ(doc.NodeAt(5)->storedText(), "b1");
    EXPECT_EQ(doc.NodeAt(2)->storedText(), "a1");
    doc.AddChild(doc.NodeAt(1), "a3");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "a2");
    EXPECT_EQ(doc.NodeAt(1)->storedText(), "A");
    EXPECT_EQ(doc.NodeAt(4)->storedText(), "a3");
}

TEST(NodeAt, EveryDeletionForgetsTheRememberedPosition) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1", "a2"}}, {"B", {"b1"}}, {"C", {}}});
    // The remembered node itself is deleted, and its storage reused.
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "a2");
    doc.Delete(doc.NodeAt(3));
    doc.AddChild(doc.NodeAt(5), "c1");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "B");
    EXPECT_EQ(doc.NodeAt(4)->storedText(), "b1");
    EXPECT_EQ(doc.NodeAt(2)->storedText(), "a1");
    // A node before the remembered one goes.
    Node* a = doc.NodeAt(1);
    EXPECT_EQ(doc.NodeAt(4)->storedText(), "b1");
    doc.Delete(a);
    EXPECT_EQ(doc.Count(), 5u);
    EXPECT_EQ(doc.NodeAt(4)->storedText(), "c1");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "C");
    EXPECT_THROW(doc.NodeAt(5), Failure);
}

TEST(NodeAt, ClearAndLoadForgetTheRememberedPosition) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1", "a2"}}});
    EXPECT_EQ(doc.NodeAt(2)->storedText(), "a1");
    doc.Clear();
    EXPECT_THROW(doc.NodeAt(2), Failure);
    BuildTree(doc, "s.ini", {{"X", {"x1", "x2"}}});
    EXPECT_EQ(doc.NodeAt(2)->storedText(), "x1");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "x2");
    LoadText(doc, "[P]\np1\n[Q]\n");
    EXPECT_EQ(doc.NodeAt(3)->storedText(), "[Q]");
    EXPECT_EQ(doc.NodeAt(2)->storedText(), "p1");
}

TEST(NodeAt, WalksCostOneStepPerNode) {
    Document doc;
    std::vector<SectionShape> sections(20);
    for (std::size_t s = 0; s < sections.size(); ++s) {
        sections[s].header = "[s]";
        sections[s].keys.assign(100, "k=v");
    }
    BuildTree(doc, "big.ini", sections);
    ASSERT_EQ(doc.Count(), 1u + 20u + 2000u);
    const std::size_t before = doc.WalkSteps();
    std::size_t keys = 0;
    for (std::size_t i = 0; i < doc.Count(); ++i) keys += doc.NodeAt(i)->level() == 2;
    for (std::size_t i = doc.Count(); i-- > 0;) keys += doc.NodeAt(i)->level() == 2;
    EXPECT_EQ(keys, 4000u);
    // Forward and back each cost one step a node; a walk that started again
    // at the first node each time would take about Count² / 2.
    EXPECT_LE(doc.WalkSteps() - before, 2 * doc.Count());
}

// --- what a loaded document keeps besides the tree ---------------------------

TEST(DocumentFile, LoadedTextKeepsLineEndingMarkAndTrailingLines) {
    Document doc;
    LoadText(doc, "\xef\xbb\xbf[a]\nx=1\n\n; end\n");
    EXPECT_EQ(doc.LineEnding(), "\n");
    EXPECT_TRUE(doc.HasByteOrderMark());
    EXPECT_EQ(std::string(doc.Trailing()), "\n; end\n");
    EXPECT_EQ(doc.TrailingOwner(), doc.NodeAt(1));
    EXPECT_TRUE(doc.Tail().empty());
    EXPECT_EQ(DumpOf(doc), "t.ini\n  [a]\n    x=1\n");
}

TEST(DocumentFile, LineEndingOfTheFirstBreak) {
    struct Case {
        std::string text;
        std::string eol;
    };
    const Case cases[] = {
        {"[a]\r\nx=1\n", "\r\n"}, {"[a]\nx=1\r\n", "\n"}, {"[a]\rx=1\r\n", "\r"},
        {"[a]", "\r\n"},          {"", "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.text));
        Document doc;
        LoadText(doc, c.text);
        EXPECT_EQ(doc.LineEnding(), c.eol);
    }
}

TEST(DocumentFile, IsUtf8FollowsTheLoadedBytes) {
    Document doc;
    LoadText(doc, "[a]\nname=J\xc3\xbcrgen\n");
    EXPECT_TRUE(doc.IsUtf8());
    LoadText(doc, "[a]\nname=J\xfcrgen\n");
    EXPECT_FALSE(doc.IsUtf8());
    doc.Clear();
    EXPECT_TRUE(doc.IsUtf8());
}

TEST(DocumentFile, ClearForgetsTheLoadedFile) {
    Document doc;
    LoadText(doc, "\xef\xbb\xbf; top\n[a]\nx=1\n; end\n");
    doc.Clear();
    EXPECT_EQ(doc.LineEnding(), "\r\n");
    EXPECT_FALSE(doc.HasByteOrderMark());
    EXPECT_TRUE(doc.Tail().empty());
    BuildTree(doc, "n.ini", {{"[b]", {"y=2"}}});
    EXPECT_EQ(SerializeDocument(doc), "[b]\r\ny=2\r\n");
}

TEST(DocumentFile, RebuildReplacesTheWholeTree) {
    Document doc;
    BuildTree(doc, "old.ini", {{"[old]", {"o=1"}}});
    doc.ItemsChanged = true;
    Node* root = LoadText(doc, "[a]\nx=1\n[b]\n", "new.ini");
    EXPECT_EQ(root, doc.First());
    EXPECT_EQ(doc.TopLevelCount(), 1);
    EXPECT_EQ(DumpOf(doc), "new.ini\n  [a]\n    x=1\n  [b]\n");
    EXPECT_TRUE(doc.ItemsChanged);
}

// --- deletes take their attached dropped lines with them --------------------

struct DeleteCase {
    const char* what;
    std::string text;
    std::size_t index;  // node to delete
    std::string saved;
};

void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.what; }

class DeleteWithDroppedLines : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(DeleteWithDroppedLines, SavedBytes) {
    const DeleteCase& c = GetParam();
    Document doc;
    LoadText(doc, c.text);
    doc.Delete(doc.NodeAt(c.index));
    EXPECT_EQ(SerializeDocument(doc), c.saved);
}

const DeleteCase kDeletes[] = {
    {"a key takes the comment above it", "[a]\nx=1\n; c1\ny=2\n; c2\nz=3\n", 3,
     "[a]\nx=1\n; c2\nz=3\n"},
    {"what came before the first header stays first", "; top\nv=0\n[a]\nx=1\n\n; c\n[b]\ny=2\n", 1,
     "; top\nv=0\n\n; c\n[b]\ny=2\n"},
    {"a section takes its keys' dropped lines", "[a]\n\nx=1\n; k\ny=2\n[b]\n\nz=3\n", 1,
     "[b]\n\nz=3\n"},
    {"the last section takes the lines that end it", "[a]\nx=1\n\n[b]\n; k\ny=2\n\n; end\n", 3,
     "[a]\nx=1\n"},
    {"what follows a NUL stays", "[a]\nx=1\n[b]\ny=2\0junk"s, 3, "[a]\nx=1\n\0junk"s},
    {"a key keeps the next key's comment", "[a]\r\nx=1\r\n; c\r\ny=2\r\n", 2,
     "[a]\r\n; c\r\ny=2\r\n"},
};
INSTANTIATE_TEST_SUITE_P(Document, DeleteWithDroppedLines, ::testing::ValuesIn(kDeletes),
                         test::NameFromWhat<DeleteCase>);

// --- every byte where the user left it ---------------------------------------

// An edit, then the saved bytes: lines nobody changed come back as they stood
// (blanks, their own break, or none), changed lines keep their own break, new
// lines take the break most lines use, and the file's head, the lines ending
// the last section and what follows a NUL stay where they were.
struct EditCase {
    const char* what;
    std::string text;
    std::function<void(Document&)> edit;
    std::string saved;
    // The tree after the edit where it holds a text the reading drops, so
    // that the reload cannot show it.
    const char* dropped = nullptr;
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.what; }

class EditsKeepBytes : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditsKeepBytes, SavedBytes) {
    const EditCase& c = GetParam();
    Document doc;
    LoadText(doc, c.text);
    c.edit(doc);
    const std::string saved = SerializeDocument(doc);
    EXPECT_EQ(saved, c.saved);
    // What was saved reads back as the edited tree and saves to itself.
    Document again;
    LoadText(again, saved);
    if (c.dropped != nullptr)
        EXPECT_EQ(DumpOf(doc), c.dropped);
    else
        EXPECT_EQ(DumpOf(again), DumpOf(doc));
    EXPECT_EQ(SerializeDocument(again), saved);
}

auto Nothing() {
    return [](Document&) {};
}
auto SetTextAt(std::size_t index, std::string text) {
    return [index, text](Document& doc) { doc.SetText(doc.NodeAt(index), text); };
}
auto DeleteAt(std::size_t index) {
    return [index](Document& doc) { doc.Delete(doc.NodeAt(index)); };
}
auto AddSection(std::string text) {
    return [text](Document& doc) { doc.AddChild(doc.First(), text); };
}
auto AddKey(std::size_t section, std::string text) {
    return [section, text](Document& doc) { doc.AddChild(doc.NodeAt(section), text); };
}

const EditCase kEdits[] = {
    {"no edit: blanks, tabs and mixed breaks stay", "[a]\r\n\tk = v \n  [ b ]\rx\t=\t1", Nothing(),
     "[a]\r\n\tk = v \n  [ b ]\rx\t=\t1"},
    {"an edited line keeps its own break", "[a]\r\nx = 1\ny=2\r\n", SetTextAt(2, "z=5"),
     "[a]\r\nz=5\ny=2\r\n"},
    {"a new value replaces only the value's bytes", "[a]\n\tk =\nj = v  \ni\t=\t1\n",
     [](Document& doc) {
         doc.SetText(doc.NodeAt(2), "k=5");
         doc.SetText(doc.NodeAt(3), "j=w");
         doc.SetText(doc.NodeAt(4), "i=2");
     },
     "[a]\n\tk =5\nj = w  \ni\t=\t2\n"},
    {"a new value after a comment keeps both", "[a]\n  k = v\n",
     [](Document& doc) {
         SetCommented(doc, doc.NodeAt(2), true);
         doc.SetText(doc.NodeAt(2), ";k=w");
     },
     "[a]\n  ;k = w\n"},
    {"Comment keeps the blanks around \"=\" and the continuation",
     "[options]\npackage_dir =\n    = src\n  name = demo   ; inline\n",
     [](Document& doc) { SetCommented(doc, doc.NodeAt(1), true); },
     ";[options]\n;package_dir =\n    ;= src\n  ;name = demo   ; inline\n"},
    {"Comment after a byte-order mark", "\xef\xbb\xbf[a]\nk=1\n",
     [](Document& doc) { SetCommented(doc, doc.NodeAt(1), true); }, "\xef\xbb\xbf;[a]\n;k=1\n"},
    {"Remove Comment shows what the reading reads", "[s]\n;= x\n;[ Old ]\n;k = 1\n",
     [](Document& doc) {
         SetCommented(doc, doc.NodeAt(2), false);
         SetCommented(doc, doc.NodeAt(3), false);
     },
     "[s]\n= x\n[ Old ]\nk = 1\n"},
    {"Comment of an empty key shows \";\", which the reading drops", "[s]\n",
     [](Document& doc) {
         doc.AddChild(doc.NodeAt(1), "");
         SetCommented(doc, doc.NodeAt(2), true);
     },
     "[s]\n;\n", "t.ini\n  [s]\n    ;\n"},
    {"the same text again writes the line as it stood", "[a]\nk = v\n", SetTextAt(2, "k=v"),
     "[a]\nk = v\n"},
    {"comment then uncomment gives the line back", "[a]\n  k = v\n",
     [](Document& doc) {
         doc.SetText(doc.NodeAt(2), ";k=v");
         doc.SetText(doc.NodeAt(2), "k=v");
     },
     "[a]\n  k = v\n"},
    {"a new key takes the break most lines use", "[a]\r\nk=1\r\n; note\n[b]\r\nx=1\r\n",
     AddKey(3, "y=2"), "[a]\r\nk=1\r\n; note\n[b]\r\nx=1\r\ny=2\r\n"},
    {"a last line without a break gets one when a line follows", "[a]\nx=1", AddKey(1, "y=2"),
     "[a]\nx=1\ny=2\n"},
    {"an edited last line stays without a break", "[a]\nx=1", SetTextAt(2, "x=2"), "[a]\nx=2"},
    {"the head stays first when the first section goes",
     "; Settings for app X - do not remove\nversion=3\n\n[first]\na=1\n[second]\nb=2\n",
     DeleteAt(1), "; Settings for app X - do not remove\nversion=3\n\n[second]\nb=2\n"},
    {"a file without a header keeps its text before new sections", "v=1", AddSection("[new]"),
     "v=1\r\n[new]\r\n"},
    {"a new section goes after the lines ending the last one", "[a]\nx=1\n;; disabled=1\n\n",
     AddSection("[new]"), "[a]\nx=1\n;; disabled=1\n\n[new]\n"},
    {"a new key of the last section goes before them", "[a]\nx=1\n;; disabled=1\n\n",
     AddKey(1, "y=2"), "[a]\nx=1\ny=2\n;; disabled=1\n\n"},
    {"trailing comment without a break", "[a]\nx=1\n; end", AddSection("[new]"),
     "[a]\nx=1\n; end\n[new]\n"},
    {"what follows a NUL stays last", "[a]\nx=1\0junk\n[b]"s, AddSection("[new]"),
     "[a]\nx=1\n[new]\n\0junk\n[b]"s},
    {"a NUL-cut line edited keeps the NUL after it", "[a]\nx=1\0junk"s, SetTextAt(2, "x=2"),
     "[a]\nx=2\0junk"s},
    {"a lone CR does not join a kept LF", "[a]\rk1=1\rk2=2\n\nk3=3\n", DeleteAt(3),
     "[a]\rk1=1\r\n\nk3=3\n"},
    {"a byte-order mark stays in front of the head", "\xef\xbb\xbf; top\n[a]\nx=1\n", DeleteAt(1),
     "\xef\xbb\xbf; top\n"},
    // A UTF-16 file: its units count, never single bytes.
    {"UTF-16: edits and new lines in the file's units and majority break",
     Utf16Le(u"; top\r\n[a]\r\nk = \u00e9\r\nx=1\n"),
     [](Document& doc) {
         doc.SetText(doc.NodeAt(2), "k=\xC3\x9F");
         doc.AddChild(doc.NodeAt(1), "\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87=\xE5\x80\xBC");
         doc.AddChild(doc.First(), "[\xF0\x9F\x98\x80]");
     },
     Utf16Le(u"; top\r\n[a]\r\nk = \u00df\r\nx=1\n\u043a\u043b\u044e\u0447=\u503c\r\n"
             u"[\U0001F600]\r\n")},
    {"UTF-16: an unpaired surrogate's line comes back while another is edited",
     Utf16Be(u"[s]\nbad=\xD800\nx=1\nrev=\xDE00\xD83D"), SetTextAt(3, "x=2"),
     Utf16Be(u"[s]\nbad=\xD800\nx=2\nrev=\xDE00\xD83D")},
    {"UTF-16: what follows U+0000 and an odd byte stay last",
     Utf16Le(u"[a]\nx=1\0junk\n[b]"s) + "A", AddSection("[new]"),
     Utf16Le(u"[a]\nx=1\n[new]\n\0junk\n[b]"s) + "A"},
    {"UTF-16: bytes of a character are no break and no NUL",
     Utf16Be(u"[a]\nk=\u0a0a\u0d0a\u0100\n"), AddKey(1, "j=2"),
     Utf16Be(u"[a]\nk=\u0a0a\u0d0a\u0100\nj=2\n")},
    {"UTF-16: a UTF-8 mark after the UTF-16 one stays", Utf16Le(u"\ufeff[a]\nk=1\n"),
     SetTextAt(2, "k=2"), Utf16Le(u"\ufeff[a]\nk=2\n")},
};
INSTANTIATE_TEST_SUITE_P(Document, EditsKeepBytes, ::testing::ValuesIn(kEdits),
                         test::NameFromWhat<EditCase>);

TEST(DocumentFile, SetTextKeepsTheDroppedLinesInFront) {
    Document doc;
    LoadText(doc, "[a]\n\n; about x\nx=1\n");
    doc.SetText(doc.NodeAt(2), ";x=1");
    EXPECT_EQ(SerializeDocument(doc), "[a]\n\n; about x\n;x=1\n");
}

TEST(DocumentFile, AddedNodesUseTheLoadedLineEnding) {
    Document doc;
    LoadText(doc, "[a]\rx=1\r");
    Node* b = doc.AddChild(doc.First(), "[b]");
    doc.AddChild(b, "y=2");
    doc.AddChild(doc.NodeAt(1), "w=0");
    EXPECT_EQ(SerializeDocument(doc), "[a]\rx=1\rw=0\r[b]\ry=2\r");
}

// A file without any header keeps all its text as dropped bytes. Once the
// user adds a section, that text still stood before the first header: saved
// behind the new header it would read back as the section's keys.
TEST(DocumentFile, TextBeforeAnyHeaderStaysBeforeTheFirstOne) {
    using namespace std::string_literals;
    struct Case {
        const char* what;
        std::string text;
        std::string kept;  // bytes the saved file must still hold
    };
    const Case cases[] = {
        {"keys without a section", "a=1\nb=2\n", "a=1\nb=2\n"},
        {"a header with a comment after it", "; c\n[Main] ; old\nx=1", "[Main] ; old\nx=1"},
        {"text then a NUL", "a=1\0junk"s, "\0junk"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc;
        LoadText(doc, c.text);
        ASSERT_EQ(doc.Count(), 1u);
        Node* section = doc.AddChild(doc.First(), "[new]");
        doc.AddChild(section, "k=v");
        const std::string saved = SerializeDocument(doc);
        EXPECT_NE(saved.find(c.kept), std::string::npos) << ::testing::PrintToString(saved);
        Document again;
        LoadText(again, saved);
        EXPECT_EQ(DumpOf(again), "t.ini\n  [new]\n    k=v\n") << ::testing::PrintToString(saved);
    }
}

// --- observer notifications -----------------------------------------------

// Records every notification with the tree's state at that moment, so that
// the order and the rows a view relies on can be checked.
class Recorder : public TreeObserver {
public:
    explicit Recorder(const Document& doc) : doc_(doc) {}

    void NodesAboutToBeAdded(Node* parent, int first, int last) override {
        Log("about-add " + Name(parent) + " " + Rows(first, last) + " had " + Children(parent));
    }
    void NodesAdded(Node* parent, int first, int last) override {
        std::string texts;
        for (int r = first; r <= last; ++r) texts += " " + Name(Child(parent, r));
        Log("added " + Name(parent) + " " + Rows(first, last) + texts);
    }
    void NodeAboutToBeRemoved(Node* node) override {
        Node* parent = node->parent();
        bool inPlace = Child(parent, node->row()) == node;
        Log("about-remove " + Name(node) + " row " + std::to_string(node->row()) +
            (inPlace ? "" : " NOT IN PLACE"));
    }
    void NodeRemoved(Node* parent, int row) override {
        Log("removed " + Name(parent) + " row " + std::to_string(row) + " left " +
            Children(parent));
    }
    void TreeAboutToBeReset() override { Log("about-reset"); }
    void TreeReset() override { Log("reset count " + std::to_string(doc_.Count())); }
    void TextsChanged(Node* parent, int first, int last) override {
        std::string texts;
        for (int r = first; r <= last; ++r) texts += " " + Name(Child(parent, r));
        Log("texts " + Name(parent) + " " + Rows(first, last) + texts);
    }

    std::vector<std::string> log;

private:
    void Log(std::string entry) { log.push_back(std::move(entry)); }
    Node* Child(Node* parent, int row) const {
        if (parent == nullptr) return row < doc_.TopLevelCount() ? doc_.TopLevel(row) : nullptr;
        return row < parent->childCount() ? parent->child(row) : nullptr;
    }
    std::string Children(Node* parent) const {
        return std::to_string(parent == nullptr ? doc_.TopLevelCount() : parent->childCount());
    }
    static std::string Name(const Node* node) {
        return node == nullptr ? "<top>" : "'" + std::string(node->storedText()) + "'";
    }
    static std::string Rows(int first, int last) {
        return std::to_string(first) + ".." + std::to_string(last);
    }
    const Document& doc_;
};

using Log = std::vector<std::string>;

TEST(Observer, AdditionsAreAnnouncedWithTheirRows) {
    Document doc;
    Recorder rec(doc);
    doc.AddObserver(&rec);
    Node* root = doc.AddRoot("r.ini");
    Node* a = doc.AddChild(root, "A");
    doc.AddChild(a, "a1");
    doc.AddChild(a, "a2");
    doc.AddChild(root, "B");
    EXPECT_EQ(rec.log, (Log{
                           "about-add <top> 0..0 had 0",
                           "added <top> 0..0 'r.ini'",
                           "about-add 'r.ini' 0..0 had 0",
                           "added 'r.ini' 0..0 'A'",
                           "about-add 'A' 0..0 had 0",
                           "added 'A' 0..0 'a1'",
                           "about-add 'A' 1..1 had 1",
                           "added 'A' 1..1 'a2'",
                           "about-add 'r.ini' 1..1 had 1",
                           "added 'r.ini' 1..1 'B'",
                       }));
}

TEST(Observer, DeleteAnnouncesTheNodeWhileItIsStillInPlace) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1", "a2"}}, {"B", {"b1"}}});
    Recorder rec(doc);
    doc.AddObserver(&rec);
    doc.Delete(doc.NodeAt(3));  // a2
    doc.Delete(doc.NodeAt(1));  // A with a1
    EXPECT_EQ(rec.log, (Log{
                           "about-remove 'a2' row 1",
                           "removed 'A' row 1 left 1",
                           "about-remove 'A' row 0",
                           "removed 'r.ini' row 0 left 1",
                       }));
    EXPECT_EQ(doc.NodeAt(1)->row(), 0);
}

TEST(Observer, TextChangesAreAnnouncedOnce) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1", "a2"}}});
    Recorder rec(doc);
    doc.AddObserver(&rec);
    doc.SetText(doc.NodeAt(3), "x");
    doc.SetText(doc.NodeAt(3), "x");  // the same text again: nothing
    doc.SetText(doc.First(), "s.ini");
    EXPECT_EQ(rec.log, (Log{"texts 'A' 1..1 'x'", "texts <top> 0..0 's.ini'"}));
}

TEST(Observer, ClearAndLoadAreOneReset) {
    Document doc;
    BuildTree(doc, "r.ini", {{"A", {"a1"}}});
    Recorder rec(doc);
    doc.AddObserver(&rec);
    doc.Clear();
    LoadText(doc, "[a]\nx=1\n[b]\n");
    EXPECT_EQ(rec.log, (Log{"about-reset", "reset count 0", "about-reset", "reset count 4"}));
}

TEST(Observer, RemovedObserverHearsNothing) {
    Document doc;
    Recorder rec(doc), other(doc);
    doc.AddObserver(&rec);
    doc.AddObserver(&other);
    doc.RemoveObserver(&rec);
    doc.AddRoot("r.ini");
    EXPECT_TRUE(rec.log.empty());
    EXPECT_EQ(other.log.size(), 2u);
}

TEST(RewriteChildren, OneNotificationForTheRange) {
    Document doc;
    BuildTree(doc, "r.ini", {{"[s]", {"a=1", ";b=2", "c", "d=4"}}});
    Node* section = doc.NodeAt(1);
    Recorder rec(doc);
    doc.AddObserver(&rec);
    doc.RewriteChildren(section, 0, 2, [](std::string& text) {
        if (IsCommented(text)) return false;
        text.insert(0, ";");
        return true;
    });
    EXPECT_EQ(Texts(section->children()), (std::vector<std::string>{";a=1", ";b=2", ";c", "d=4"}));
    EXPECT_EQ(rec.log, (Log{"texts '[s]' 0..2 ';a=1' ';b=2' ';c'"}));
}

TEST(RewriteChildren, NothingChangedMeansNoNotification) {
    Document doc;
    BuildTree(doc, "r.ini", {{"[s]", {";a=1", ";b"}}});
    Node* section = doc.NodeAt(1);
    Recorder rec(doc);
    doc.AddObserver(&rec);
    doc.RewriteChildren(section, 0, 1, [](std::string&) { return false; });
    doc.RewriteChildren(section, 0, 1, [](std::string&) { return true; });
    EXPECT_TRUE(rec.log.empty());
    EXPECT_EQ(Texts(section->children()), (std::vector<std::string>{";a=1", ";b"}));
}

TEST(RewriteChildren, KeepsDroppedLinesAndSerializesTheNewTexts) {
    Document doc;
    LoadText(doc, "[s]\n; about a\na=1\n\nb=2\n");
    doc.RewriteChildren(doc.NodeAt(1), 0, 1, [](std::string& text) {
        text.insert(0, ";");
        return true;
    });
    EXPECT_EQ(SerializeDocument(doc), "[s]\n; about a\n;a=1\n\n;b=2\n");
}

// --- the arena behind edited texts -----------------------------------------

TEST(TextArena, StoredTextsStayValidAndUnmoved) {
    TextArena arena;
    std::vector<std::string_view> views;
    std::vector<std::string> originals;
    for (int i = 0; i < 20000; ++i) {
        originals.push_back(
            std::string(static_cast<std::size_t>(i % 97), static_cast<char>('a' + i % 26)) +
            std::to_string(i));
        views.push_back(arena.Store(originals.back()));
    }
    const std::string big(3 * 1024 * 1024, 'b');
    views.push_back(arena.Store(big));
    originals.push_back(big);
    views.push_back(arena.Store(""));
    originals.emplace_back();
    const char* first = views.front().data();
    TextArena moved = std::move(arena);
    EXPECT_EQ(views.front().data(), first);
    for (std::size_t i = 0; i < views.size(); ++i) ASSERT_EQ(views[i], originals[i]) << i;
}

}  // namespace
}  // namespace keyloft
