// The item model the window shows over its document: stays consistent under
// every kind of document change (QAbstractItemModelTester watches it), hands
// out indexes that round-trip to their nodes, sends the one signal each
// change calls for, and shows the texts of UTF-8 and Windows-1252 files.
// The flat model of the rows the view shows stays consistent too, and its
// rows are the nodes whose ancestors are expanded, in tree order.
#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <random>

#include "../core/FailingNew.h"
#include "DocumentModel.h"
#include "IniTreeView.h"
#include "ShownModel.h"
#include "WindowProbe.h"
#include "document/Commenting.h"
#include "document/Document.h"
#include "document/TreeObserver.h"
#include "fast/LargeBuffer.h"
#include "files/IniFile.h"
#include "frmMain.h"
#include "reading/IniReader.h"

using keyloft::Document;
using keyloft::Node;
using keyloft::ui::DocumentModel;
using keyloft::ui::IniTreeView;
using keyloft::ui::ShownModel;

namespace {

// Observes first, before the model: the document's first notification ends
// the failing of allocations, so that only the document's own (which all come
// before it) can fail, never the model's or Qt's.
class Disarm : public keyloft::TreeObserver {
public:
    void NodesAboutToBeAdded(Node*, int, int) override { keyloft::test::StopFailing(); }
    void NodesAdded(Node*, int, int) override {}
    void NodeAboutToBeRemoved(Node*) override { keyloft::test::StopFailing(); }
    void NodeRemoved(Node*, int) override {}
    void TreeAboutToBeReset() override { keyloft::test::StopFailing(); }
    void TreeReset() override {}
    void TextsChanged(Node*, int, int) override { keyloft::test::StopFailing(); }
};

// What the model shows, one row a line, indented by two blanks a level.
void dumpModel(const QAbstractItemModel& model, const QModelIndex& parent, int depth,
               QStringList& lines) {
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        lines << QString(2 * depth, ' ') + index.data().toString();
        dumpModel(model, index, depth + 1, lines);
    }
}

QStringList dumpModel(const QAbstractItemModel& model) {
    QStringList lines;
    dumpModel(model, {}, 0, lines);
    return lines;
}

// The document in tree order, texts read as UTF-8.
QStringList dumpDocument(const Document& doc) {
    QStringList lines;
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        const std::string_view text = node->storedText();
        lines << QString(2 * node->level(), ' ') +
                     QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    }
    return lines;
}

// The first way in which an index fails to lead back to its node, or whose
// row, parent and counts are not the node's own; empty when there is none.
QString roundTripProblem(const DocumentModel& model, const Document& doc) {
    if (model.rowCount() != doc.TopLevelCount()) return "top-level row count";
    if (model.index(model.rowCount(), 0).isValid()) return "index past the last top-level row";
    if (model.index(0, 1).isValid()) return "index in a second column";
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        const QString at =
            " at \"" + QString::fromStdString(std::string(node->storedText())) + "\"";
        const QModelIndex index = model.indexOf(node);
        if (!index.isValid() || model.nodeOf(index) != node) return "indexOf/nodeOf" + at;
        if (index.row() != node->row() || index.column() != 0) return "row or column" + at;
        const QModelIndex parent = model.parent(index);
        if (parent != model.indexOf(node->parent()) || model.nodeOf(parent) != node->parent())
            return "parent" + at;
        if (model.index(index.row(), 0, parent) != index) return "index(row, 0, parent)" + at;
        if (model.rowCount(index) != node->childCount()) return "rowCount" + at;
        if (model.hasChildren(index) != node->hasChildren()) return "hasChildren" + at;
        if (model.index(node->childCount(), 0, index).isValid())
            return "index past the last child" + at;
        if (model.index(-1, 0, index).isValid()) return "index before the first child" + at;
        if (model.index(0, 1, index).isValid()) return "index in a second column" + at;
        if (!model.flags(index).testFlag(Qt::ItemIsEditable)) return "not editable" + at;
    }
    return {};
}

// The first way in which the view's rows differ from the nodes whose
// ancestors are all expanded, in tree order, or fail to lead back to them;
// empty when there is none.
QString shownRowsProblem(const IniTreeView& view, const Document& doc) {
    const ShownModel& shown = *view.shownModel();
    const DocumentModel& nodes = *view.documentModel();
    int row = 0;
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        const QString at =
            " at \"" + QString::fromStdString(std::string(node->storedText())) + "\"";
        bool visible = true;
        for (const Node* up = node->parent(); up != nullptr; up = up->parent())
            visible = visible && view.isExpanded(nodes.indexOf(up));
        const QModelIndex index = shown.indexOf(node);
        if (!visible) {
            if (index.isValid()) return "a row for a hidden node" + at;
            continue;
        }
        if (index.row() != row) return QString("row %1, not %2").arg(index.row()).arg(row) + at;
        const QModelIndex byRow = shown.index(row, 0);
        if (shown.nodeOf(byRow) != node) return "nodeOf(index(row))" + at;
        if (byRow.data().toString() != nodes.displayText(node)) return "text" + at;
        if (shown.rowCount(byRow) != 0 || shown.parent(byRow).isValid()) return "not flat" + at;
        ++row;
    }
    if (shown.rowCount() != row)
        return QString("%1 rows for %2 shown nodes").arg(shown.rowCount()).arg(row);
    if (shown.index(row, 0).isValid()) return "index past the last row";
    return {};
}

// The model's signals as text: "inserted <parent> first..last" and so on,
// the parent named by its text ("top" for the top level).
class SignalLog : public QObject {
public:
    explicit SignalLog(QAbstractItemModel& model) {
        const auto name = [](const QModelIndex& parent) {
            return parent.isValid() ? parent.data().toString() : QString("top");
        };
        const auto range = [](int first, int last) {
            return QString("%1..%2").arg(first).arg(last);
        };
        connect(&model, &QAbstractItemModel::rowsInserted, this,
                [=, this](const QModelIndex& p, int f, int l) {
                    events << "inserted " + name(p) + " " + range(f, l);
                });
        connect(&model, &QAbstractItemModel::rowsRemoved, this,
                [=, this](const QModelIndex& p, int f, int l) {
                    events << "removed " + name(p) + " " + range(f, l);
                });
        connect(&model, &QAbstractItemModel::modelReset, this, [this] { events << "reset"; });
        connect(&model, &QAbstractItemModel::layoutChanged, this, [this] { events << "layout"; });
        connect(&model, &QAbstractItemModel::rowsMoved, this, [this] { events << "moved"; });
        connect(&model, &QAbstractItemModel::dataChanged, this,
                [=, this](const QModelIndex& from, const QModelIndex& to) {
                    events << "changed " + name(from.parent()) + " " + range(from.row(), to.row());
                });
    }
    QStringList events;
};

enum class Op {
    AddSection,
    AddKey,
    AddRootToEmptyTree,
    DeleteFirstKey,
    DeleteSection,
    DeleteRoot,
    Clear,
    Load,
    SetText,
    SetSameText,
    RewriteChildren,
    RewriteNothing
};

}  // namespace

Q_DECLARE_METATYPE(Op)

class ModelTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void changeSequence();
    void signalsOfEachChange_data();
    void signalsOfEachChange();
    void selectionFollowsRemovedRows();
    void texts_data();
    void texts();
    void editStoresFileEncoding_data();
    void editStoresFileEncoding();
    void failedCommandsLeaveTheModelAsItWas();
    void shownRowsFollowEveryChange_data();
    void shownRowsFollowEveryChange();

private:
    bool load(const QByteArray& bytes, const QString& name = "t.ini");

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<TForm1> window_;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    std::unique_ptr<QAbstractItemModelTester> shownTester_;
};

void ModelTest::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    window_ = std::make_unique<TForm1>();
    QVERIFY(keyloft::test::ShowWindow(*window_));
    tester_ = std::make_unique<QAbstractItemModelTester>(
        window_->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    shownTester_ = std::make_unique<QAbstractItemModelTester>(
        window_->treeView()->shownModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
}

void ModelTest::cleanup() {
    shownTester_.reset();
    tester_.reset();
    window_.reset();
    dir_.reset();
}

bool ModelTest::load(const QByteArray& bytes, const QString& name) {
    const QString path = dir_->filePath(name);
    if (!keyloft::test::WriteFile(path, bytes)) return false;
    window_->LoadIniFile(path);
    return true;
}

// One document taken through every kind of change with the tester watching;
// after each, the model shows exactly the document and its indexes hold.
void ModelTest::changeSequence() {
    Document& doc = window_->document();
    DocumentModel& model = *window_->model();
    // After each step the model shows exactly the document, and its
    // indexes hold; the first step that breaks them ends the test.
    const auto check = [&](const char* step) {
        const QString problem = roundTripProblem(model, doc);
        QVERIFY2(problem.isEmpty(), qPrintable(QString("%1: %2").arg(step, problem)));
        const QString rows = shownRowsProblem(*window_->treeView(), doc);
        QVERIFY2(rows.isEmpty(), qPrintable(QString("%1: the view's rows: %2").arg(step, rows)));
        const QStringList shown = dumpModel(model);
        const QStringList held = dumpDocument(doc);
        QVERIFY2(shown == held,
                 qPrintable(QString("%1: the model shows\n%2\nthe document holds\n%3")
                                .arg(step, shown.join('\n'), held.join('\n'))));
    };
#define CHECK_STEP(step)                        \
    do {                                        \
        check(step);                            \
        if (QTest::currentTestFailed()) return; \
    } while (false)

    const QString sample = QStringLiteral(KEYLOFT_SOURCE_DIR "/examples/sample.ini");
    window_->LoadIniFile(sample);
    CHECK_STEP("loading the sample");
    QVERIFY(doc.Count() > 20);

    Node* root = doc.First();
    Node* added = doc.AddChild(root, "[Added]");
    for (int i = 0; i < 5; ++i) doc.AddChild(added, "k" + std::to_string(i) + "=v");
    CHECK_STEP("adding a section with keys");
    window_->treeView()->expandAll();
    doc.AddChild(added, "late=1");
    CHECK_STEP("adding a key to an expanded section");

    doc.Delete(added->child(2));
    doc.Delete(added->child(0));
    doc.Delete(added->child(added->childCount() - 1));
    CHECK_STEP("deleting keys first, middle and last");
    doc.Delete(root->child(1));
    CHECK_STEP("deleting a section with its keys");

    doc.SetText(root, "renamed.ini");
    doc.SetText(added->child(0), "");
    CHECK_STEP("setting texts");
    doc.RewriteChildren(root->child(0), 0, root->child(0)->childCount() - 1, [](std::string& text) {
        text.insert(0, 1, ';');
        return true;
    });
    CHECK_STEP("rewriting the children of a section");

    window_->treeView()->collapseEverything();
    doc.Delete(root->child(0));
    CHECK_STEP("deleting a collapsed section");

    doc.Clear();
    CHECK_STEP("clearing");
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.hasChildren());

    Node* fresh = doc.AddRoot("new.ini");
    Node* section = doc.AddChild(fresh, "[s]");
    doc.AddChild(section, "a=1");
    CHECK_STEP("building a new document");

    QVERIFY(load("[x]\ny=1\n[z]\n"));
    CHECK_STEP("loading over a document");
    QCOMPARE(dumpModel(model), (QStringList{"t.ini", "  [x]", "    y=1", "  [z]"}));

    doc.Delete(doc.First());
    CHECK_STEP("deleting the root");
    QCOMPARE(model.rowCount(), 0);
#undef CHECK_STEP
}

void ModelTest::signalsOfEachChange_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("add section") << Op::AddSection << QStringList{"inserted t.ini 2..2"};
    QTest::newRow("add key") << Op::AddKey << QStringList{"inserted [a] 3..3"};
    QTest::newRow("add root to empty tree")
        << Op::AddRootToEmptyTree << QStringList{"reset", "inserted top 0..0"};
    QTest::newRow("delete first key") << Op::DeleteFirstKey << QStringList{"removed [a] 0..0"};
    QTest::newRow("delete section") << Op::DeleteSection << QStringList{"removed t.ini 0..0"};
    QTest::newRow("delete root") << Op::DeleteRoot << QStringList{"removed top 0..0"};
    QTest::newRow("clear") << Op::Clear << QStringList{"reset"};
    QTest::newRow("load") << Op::Load << QStringList{"reset"};
    QTest::newRow("set text") << Op::SetText << QStringList{"changed [a] 1..1"};
    QTest::newRow("set the same text") << Op::SetSameText << QStringList{};
    QTest::newRow("rewrite children") << Op::RewriteChildren << QStringList{"changed [a] 0..2"};
    QTest::newRow("rewrite changing nothing") << Op::RewriteNothing << QStringList{};
}

void ModelTest::signalsOfEachChange() {
    QFETCH(Op, op);
    QFETCH(QStringList, events);

    QVERIFY(load("[a]\nk0=0\nk1=1\nk2=2\n[b]\n"));
    Document& doc = window_->document();
    Node* root = doc.First();
    Node* a = root->child(0);
    SignalLog log(*window_->model());
    switch (op) {
        case Op::AddSection:
            doc.AddChild(root, "[c]");
            break;
        case Op::AddKey:
            doc.AddChild(a, "k3=3");
            break;
        case Op::AddRootToEmptyTree:
            doc.Clear();
            doc.AddRoot("new.ini");
            break;
        case Op::DeleteFirstKey:
            doc.Delete(a->child(0));
            break;
        case Op::DeleteSection:
            doc.Delete(a);
            break;
        case Op::DeleteRoot:
            doc.Delete(root);
            break;
        case Op::Clear:
            doc.Clear();
            break;
        case Op::Load:
            QVERIFY(load("[other]\n"));
            break;
        case Op::SetText:
            doc.SetText(a->child(1), "k1=changed");
            break;
        case Op::SetSameText:
            doc.SetText(a->child(1), "k1=1");
            break;
        case Op::RewriteChildren:
            doc.RewriteChildren(a, 0, 2, [](std::string& text) {
                text += "!";
                return true;
            });
            break;
        case Op::RewriteNothing:
            doc.RewriteChildren(a, 0, 2, [](std::string&) { return false; });
            break;
    }
    QCOMPARE(log.events, events);
}

// Rows removed in front of the selected node move the selection's index
// with its node; removing the selected node's section drops the selection.
void ModelTest::selectionFollowsRemovedRows() {
    QVERIFY(load("[a]\nk0=0\nk1=1\nk2=2\n[b]\nm=1\n"));
    Document& doc = window_->document();
    Node* a = doc.First()->child(0);
    Node* b = doc.First()->child(1);
    Node* k2 = a->child(2);
    window_->selectNode(k2);
    QCOMPARE(window_->selectedNode(), k2);

    doc.Delete(a->child(0));
    QCOMPARE(window_->selectedNode(), k2);
    QCOMPARE(window_->treeView()->selectedIndex().row(), 1);

    window_->selectNode(b->child(0));
    doc.Delete(a);
    QCOMPARE(window_->selectedNode(), b->child(0));
    QCOMPARE(window_->treeView()->selectedIndex().parent().row(), 0);

    doc.Delete(b);
    QVERIFY(window_->selectedNode() != b);
    QVERIFY(window_->selectedNode() == nullptr || window_->selectedNode() == doc.First());
}

void ModelTest::texts_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("shown");

    const QStringList cafe{"t.ini", QString::fromUtf8("  [Caf\u00e9]"),
                           QString::fromUtf8("    price=5\u20ac")};
    QTest::newRow("UTF-8") << QByteArray("[Caf\xC3\xA9]\nprice=5\xE2\x82\xAC\n") << cafe;
    QTest::newRow("Windows-1252") << QByteArray("[Caf\xE9]\nprice=5\x80\n") << cafe;
    QTest::newRow("Windows-1252 quotes and no-break space")
        << QByteArray("[q]\nk=\x93x\x94\xA0y\n")
        << QStringList{"t.ini", "  [q]", QString::fromUtf8("    k=\u201cx\u201d\u00a0y")};
    QTest::newRow("one invalid byte makes the whole file Windows-1252")
        << QByteArray("[a]\nk=\xC3\xA9\nl=\xE9\n")
        << QStringList{"t.ini", "  [a]", QString::fromUtf8("    k=\u00c3\u00a9"),
                       QString::fromUtf8("    l=\u00e9")};
    QTest::newRow("ASCII") << QByteArray("[a]\nk=v\n") << QStringList{"t.ini", "  [a]", "    k=v"};
    // UTF-16 LE: [Caf\u00e9] and a key whose value is an unpaired surrogate.
    QTest::newRow("UTF-16 with an unpaired surrogate")
        << QByteArray("\xFF\xFE[\0C\0a\0f\0\xE9\0]\0\n\0k\0=\0\x00\xD8\n\0", 24)
        << QStringList{"t.ini", QString::fromUtf8("  [Caf\u00e9]"),
                       QString::fromUtf8("    k=\ufffd")};
}

void ModelTest::texts() {
    QFETCH(QByteArray, file);
    QFETCH(QStringList, shown);
    QVERIFY(load(file));
    QCOMPARE(dumpModel(*window_->model()), shown);
    // The edit role offers the same text to the in-place editor.
    const Document& doc = window_->document();
    const Node* key = doc.NodeAt(doc.Count() - 1);
    const QModelIndex index = window_->model()->indexOf(key);
    QCOMPARE(index.data(Qt::EditRole), index.data(Qt::DisplayRole));
}

void ModelTest::editStoresFileEncoding_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("UTF-8 file") << QByteArray("[a]\nk=\xC3\xA9\n") << QString::fromUtf8("k=5\u20ac")
                                << QByteArray("k=5\xE2\x82\xAC");
    QTest::newRow("Windows-1252 file")
        << QByteArray("[a]\nk=\xE9\n") << QString::fromUtf8("k=5\u20ac\u00e9")
        << QByteArray("k=5\x80\xE9");
    // Every character: the text is held as UTF-8 whatever the file holds.
    QTest::newRow("UTF-16 file with an unpaired surrogate")
        << QByteArray("\xFF\xFE[\0a\0]\0\n\0k\0=\0\x00\xD8\n\0", 18)
        << QString::fromUtf8("k=5\u20ac\u0142") << QByteArray("k=5\xE2\x82\xAC\xC5\x82");
    // Accepted as shown, the line keeps its surrogate instead of U+FFFD.
    QTest::newRow("UTF-16 text accepted as shown")
        << QByteArray("\xFF\xFE[\0a\0]\0\n\0k\0=\0\x00\xD8\n\0", 18)
        << QString::fromUtf8("k=\ufffd") << QByteArray("k=\xED\xA0\x80");
}

void ModelTest::editStoresFileEncoding() {
    QFETCH(QByteArray, file);
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    QVERIFY(load(file));
    Document& doc = window_->document();
    Node* key = doc.First()->child(0)->child(0);
    QVERIFY(window_->model()->setData(window_->model()->indexOf(key), typed));
    QCOMPARE(QByteArray(key->storedText().data(), static_cast<qsizetype>(key->storedText().size())),
             stored);
    QCOMPARE(window_->model()->indexOf(key).data().toString(), typed);
    QVERIFY(doc.ItemsChanged);
}

// Each allocation of each command fails in turn: the command then changes
// nothing, and the model (with the tester watching) shows the document as it
// was.
void ModelTest::failedCommandsLeaveTheModelAsItWas() {
    const QByteArray text = "; head\r\n[a]\r\n x = 1\r\ny=2\r\n[b]\r\nz = 3\r\n";
    const std::pair<const char*, std::function<void(Document&)>> commands[] = {
        {"load",
         [](Document& doc) {
             keyloft::LargeBytes bytes = keyloft::AllocateLarge(8);
             if (!bytes) throw std::bad_alloc();
             std::memcpy(bytes.get(), "[n]\nk=1\n", 8);
             keyloft::IniReadingEnd end;
             doc.ReadFile("n.ini", std::move(bytes), 8, end);
         }},
        {"add section", [](Document& doc) { doc.AddChild(doc.First(), "[new]"); }},
        {"add key", [](Document& doc) { doc.AddChild(doc.First()->child(0), "k=v"); }},
        {"edit line", [](Document& doc) { doc.SetText(doc.First()->child(0)->child(0), "x=2"); }},
        {"delete section", [](Document& doc) { doc.Delete(doc.First()->child(0)); }},
        {"comment section",
         [](Document& doc) { keyloft::SetCommented(doc, doc.First()->child(0), true); }},
        {"clear", [](Document& doc) { doc.Clear(); }},
    };
    for (const auto& [what, run] : commands) {
        bool completed = false;
        for (long n = 0; !completed && n < 1000; ++n) {
            Document doc;
            Disarm disarm;
            doc.AddObserver(&disarm);
            DocumentModel model(doc);
            QAbstractItemModelTester tester(&model,
                                            QAbstractItemModelTester::FailureReportingMode::QtTest);
            const QString path = dir_->filePath("m.ini");
            QVERIFY(keyloft::test::WriteFile(path, text));
            keyloft::LoadIniFile(doc, path.toStdString());
            const QStringList before = dumpModel(model);

            keyloft::test::FailAllocation(n);
            try {
                run(doc);
                completed = true;
            } catch (const std::bad_alloc&) {
            }
            keyloft::test::StopFailing();
            if (!completed) {
                QVERIFY2(dumpModel(model) == before, what);
                QCOMPARE(roundTripProblem(model, doc), QString());
            }
            QCOMPARE(dumpModel(model), dumpDocument(doc));
            doc.RemoveObserver(&disarm);
        }
        QVERIFY2(completed, what);
    }
}

// Seeded random folding and changes on a tree of any depth (the document
// lets a key have children): after each step the view's rows are exactly the
// shown nodes, with the tester watching the flat model.
void ModelTest::shownRowsFollowEveryChange_data() {
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 16; ++seed) QTest::addRow("seed %u", seed) << seed;
}

void ModelTest::shownRowsFollowEveryChange() {
    QFETCH(unsigned, seed);
    std::mt19937 random(seed);
    QVERIFY(load("[a]\nk=1\n[b]\n[c]\nx=1\ny=2\n"));
    Document& doc = window_->document();
    IniTreeView& view = *window_->treeView();
    const DocumentModel& nodes = *window_->model();
    const auto below = [&](unsigned n) { return static_cast<unsigned>(random()) % n; };
    for (int step = 0; step < 400; ++step) {
        if (doc.Count() == 0) doc.AddRoot("r.ini");
        Node* node = doc.NodeAt(below(static_cast<unsigned>(doc.Count())));
        const QModelIndex index = nodes.indexOf(node);
        const std::string text = "n" + std::to_string(step);
        QString what;
        switch (below(12)) {
            case 0:
            case 1:
                view.expand(index);
                what = "expanding";
                break;
            case 2:
                view.collapse(index);
                what = "collapsing";
                break;
            case 3:
            case 4:
                doc.AddChild(node, text);
                what = "adding a child";
                break;
            case 5:
                if (doc.Count() < 40) {
                    doc.AddChild(node, text);
                    doc.AddChild(node, text + "b");
                }
                doc.Delete(node);
                what = "deleting";
                break;
            case 6:
                doc.SetText(node, text);
                what = "setting a text";
                break;
            case 7:
                view.selectIndex(index);
                what = "selecting";
                break;
            case 8:
                doc.AddRoot(text);
                what = "adding a top-level node";
                break;
            case 9:
                if (below(4) == 0) {
                    view.expandAll();
                } else {
                    view.expandAncestors(index);
                }
                what = "expanding all or the ancestors";
                break;
            case 10:
                if (below(4) == 0) {
                    view.collapseEverything();
                } else if (node->hasChildren()) {
                    doc.RewriteChildren(node, 0, node->childCount() - 1, [](std::string& t) {
                        t += "'";
                        return true;
                    });
                }
                what = "collapsing all or rewriting children";
                break;
            default:
                view.setExpanded(index, !view.isExpanded(index));
                what = "toggling";
                break;
        }
        if (QTest::currentTestFailed()) return;
        const QString problem = shownRowsProblem(view, doc);
        QVERIFY2(problem.isEmpty(),
                 qPrintable(QString("step %1, %2: %3").arg(step).arg(what, problem)));
    }
}

QTEST_MAIN(ModelTest)
#include "tst_model.moc"
