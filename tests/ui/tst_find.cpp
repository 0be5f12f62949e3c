// Find, Expand all and Collapse all on a shown main window, and the view's
// rule that collapsing a node whose subtree holds the selection moves the
// selection to that node.
#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "DialogScript.h"
#include "DocumentModel.h"
#include "IniTreeView.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

// Every allocation and release of the program counts here, the Qt
// libraries' included: the folding test reads how many the commands made.
namespace {
std::atomic<long long> gHeapCalls{0};
}  // namespace

void* operator new(std::size_t size) {
    gHeapCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    if (block != nullptr) gHeapCalls.fetch_add(1, std::memory_order_relaxed);
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept { operator delete(block); }

// The other forms go through the two above, so that a block made by one form
// and freed by another (as Qt does) meets the same allocator.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { operator delete(block); }
void operator delete[](void* block) noexcept { operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { operator delete(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { operator delete(block); }

using keyloft::Node;
using keyloft::test::DialogScript;
using keyloft::test::IsShown;
using keyloft::test::NodeNamed;
using keyloft::test::OpenWindow;
using keyloft::test::Outcome;
using keyloft::test::Run;
using keyloft::test::Select;
using keyloft::test::SelectedText;
using keyloft::test::Shown;
using keyloft::test::ShowWindow;
using keyloft::test::Tree;

namespace {

// The nodes with children that the view shows expanded, in tree order.
QStringList Expanded(TForm1& window) {
    QStringList expanded;
    for (const Node* node = window.document().First(); node != nullptr;
         node = keyloft::Document::Next(node)) {
        if (node->hasChildren() && window.treeView()->isExpanded(window.model()->indexOf(node))) {
            expanded << Shown(window, node);
        }
    }
    return expanded;
}

// The nodes with children, in tree order.
QStringList Parents(TForm1& window) {
    QStringList parents;
    for (const Node* node = window.document().First(); node != nullptr;
         node = keyloft::Document::Next(node)) {
        if (node->hasChildren()) parents << Shown(window, node);
    }
    return parents;
}

// The example of the Find command: two sections, three nodes hold "db".
const QByteArray kAppIni = "[DB]\r\ndbname=x\r\nport=1\r\n[UI]\r\nmydb=1\r\n";

// A wider document: commented lines, a node holding the same text twice, an
// accented word (UTF-8) and a section without a match for most searches.
const QByteArray kWide =
    "[DB]\r\ndbname=x\r\nport=1\r\n"
    "[UI]\r\nmydb=1\r\nname=Caf\xc3\xa9\r\n"
    "[Log]\r\nlevel=2\r\nmix=xx\r\n"
    ";[Old]\r\n;db=old\r\n"
    "[Empty]\r\n";

}  // namespace

class FindTest : public QObject {
    Q_OBJECT
private slots:
    void appIniExample();
    void matches_data();
    void matches();
    void latin1Document_data();
    void latin1Document();
    void notFound_data();
    void notFound();
    void findWithNothingSelected();
    void repeatedFindSelectsTheSameNode();

    void expandAndCollapseAll_data();
    void expandAndCollapseAll();
    void collapsingMovesTheSelectionUp_data();
    void collapsingMovesTheSelectionUp();
    void collapsingEverythingKeepsAnOpenEdit();
    void foldingWorkPerNode_data();
    void foldingWorkPerNode();

    void emptyDocument_data();
    void emptyDocument();
};

// --- Find ----------------------------------------------------------------------

void FindTest::appIniExample() {
    auto window = OpenWindow(kAppIni);
    QVERIFY(window);
    auto* view = window->treeView();
    // Something else in the window holds the focus before the search.
    auto* elsewhere = new QLineEdit(window.get());
    elsewhere->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    elsewhere->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), elsewhere);

    const Outcome out = Run(*window, "actfind", [](DialogScript& s) { s.typeAndAccept("db"); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Find"));
    QCOMPARE(out.seen[0].text, QString("String to find:"));

    QCOMPARE(window->statusText(), QString("3 matches found"));
    QCOMPARE(Expanded(*window), (QStringList{"app.ini", "[DB]", "[UI]"}));
    QCOMPARE(SelectedText(*window), QString("mydb=1"));
    QVERIFY(IsShown(*window, window->selectedNode()));
    // The window's focus widget is the one that gets the keys whenever the
    // window is active; some platforms do not reactivate it after a dialog.
    QCOMPARE(window->focusWidget(), static_cast<QWidget*>(view));
    if (window->isActiveWindow())
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view));
    QVERIFY(!window->document().ItemsChanged);
}

void FindTest::matches_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("selectedBefore");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("expanded");

    // Each search starts on a fully expanded tree with a key selected far
    // from the root: Find collapses first and always searches from the root.
    QTest::newRow("db, commented key last")
        << "db"
        << "level=2" << 4 << ";db=old" << QStringList{"app.ini", "[DB]", "[UI]", ";[Old]"};
    QTest::newRow("upper case search")
        << "DB"
        << "level=2" << 4 << ";db=old" << QStringList{"app.ini", "[DB]", "[UI]", ";[Old]"};
    QTest::newRow("mixed case search")
        << "mYdB"
        << "mydb=1" << 1 << "mydb=1" << QStringList{"app.ini", "[UI]"};
    QTest::newRow("root only") << "APP.i"
                               << "port=1" << 1 << "app.ini" << QStringList{};
    QTest::newRow("key of the first section")
        << "port"
        << "mix=xx" << 1 << "port=1" << QStringList{"app.ini", "[DB]"};
    QTest::newRow("sections match, stay collapsed")
        << "["
        << "dbname=x" << 5 << "[Empty]" << QStringList{"app.ini"};
    QTest::newRow("twice in one node counts once")
        << "x"
        << "port=1" << 2 << "mix=xx" << QStringList{"app.ini", "[DB]", "[Log]"};
    QTest::newRow("whole text") << "mix=xx"
                                << "port=1" << 1 << "mix=xx" << QStringList{"app.ini", "[Log]"};
    QTest::newRow("commented lines")
        << "old"
        << "port=1" << 2 << ";db=old" << QStringList{"app.ini", ";[Old]"};
    QTest::newRow("a to z folded, accent kept")
        << "CAF\u00e9"
        << "port=1" << 1 << "name=Caf\u00e9" << QStringList{"app.ini", "[UI]"};
    QTest::newRow("accented capital is another letter") << "caf\u00c9"
                                                        << "port=1" << 0 << "" << QStringList{};
    QTest::newRow("blank not trimmed") << " db"
                                       << "port=1" << 0 << "" << QStringList{};
    QTest::newRow("longer than every text") << "dbname=x and more"
                                            << "port=1" << 0 << "" << QStringList{};
}

void FindTest::matches() {
    QFETCH(QString, search);
    QFETCH(QString, selectedBefore);
    QFETCH(int, count);
    QFETCH(QString, selected);
    QFETCH(QStringList, expanded);

    auto window = OpenWindow(kWide);
    QVERIFY(window);
    window->treeView()->expandAll();
    window->selectNode(NodeNamed(*window, selectedBefore));
    QCOMPARE(SelectedText(*window), selectedBefore);
    window->document().ItemsChanged = true;
    const QStringList before = Tree(*window);

    const Outcome out = Run(*window, "actfind", [&](DialogScript& s) {
        s.typeAndAccept(search);
        if (count == 0) s.pressKey(Qt::Key_Return);
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), count == 0 ? 2 : 1);
    QCOMPARE(window->statusText(), QString("%1 matches found").arg(count));
    QCOMPARE(Expanded(*window), expanded);
    if (count == 0) {
        QCOMPARE(out.seen[1].title, QString("INI Files editor"));
        QCOMPARE(out.seen[1].text, QString("Not found!"));
        QCOMPARE(out.seen[1].icon, QMessageBox::NoIcon);
        QCOMPARE(SelectedText(*window), QString("app.ini"));
    } else {
        QCOMPARE(SelectedText(*window), selected);
        QVERIFY(IsShown(*window, window->selectedNode()));
    }
    QCOMPARE(Tree(*window), before);
    QVERIFY(window->document().ItemsChanged);
}

void FindTest::latin1Document_data() {
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("count");

    QTest::newRow("same letter") << "caf\u00e9" << 1;
    QTest::newRow("a to z folded") << "CAF\u00e9" << 1;
    QTest::newRow("accented capital") << "CAF\u00c9" << 0;
    QTest::newRow("euro sign") << "\u20ac" << 1;
    // No text of this document can hold it.
    QTest::newRow("letter outside the code page") << "caf\u0142" << 0;
}

void FindTest::latin1Document() {
    QFETCH(QString, search);
    QFETCH(int, count);

    // Not valid UTF-8: the texts are Windows-1252, one byte a letter.
    auto window = OpenWindow("[s]\r\nname=caf\xe9\r\nprice=3\x80\r\n", "latin.ini");
    QVERIFY(window);
    QCOMPARE(Shown(*window, NodeNamed(*window, "name=caf\u00e9")), QString("name=caf\u00e9"));

    const Outcome out = Run(*window, "actfind", [&](DialogScript& s) {
        s.typeAndAccept(search);
        if (count == 0) s.clickButton("OK");
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(window->statusText(), QString("%1 matches found").arg(count));
}

void FindTest::notFound_data() {
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("search");
    QTest::addColumn<QString>("selectedBefore");

    QTest::newRow("cancelled") << true << "db"
                               << "port=1";
    QTest::newRow("empty") << false << ""
                           << "mydb=1";
    QTest::newRow("no match") << false << "zzz"
                              << "[UI]";
    QTest::newRow("no match, root selected") << false << "zzz"
                                             << "app.ini";
}

void FindTest::notFound() {
    QFETCH(bool, cancel);
    QFETCH(QString, search);
    QFETCH(QString, selectedBefore);

    auto window = OpenWindow(kAppIni);
    QVERIFY(window);
    window->treeView()->expandAll();
    window->selectNode(NodeNamed(*window, selectedBefore));

    const Outcome out = Run(*window, "actfind", [&](DialogScript& s) {
        cancel ? s.typeAndCancel(search) : s.typeAndAccept(search);
        s.pressKey(Qt::Key_Return);
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 2);
    QCOMPARE(out.seen[1].title, QString("INI Files editor"));
    QCOMPARE(out.seen[1].text, QString("Not found!"));
    QCOMPARE(out.seen[1].icon, QMessageBox::NoIcon);
    QCOMPARE(window->statusText(), QString("0 matches found"));
    QCOMPARE(Expanded(*window), QStringList{});
    QCOMPARE(SelectedText(*window), QString("app.ini"));
}

void FindTest::findWithNothingSelected() {
    auto window = OpenWindow(kAppIni);
    QVERIFY(window);
    window->treeView()->expandAll();
    window->treeView()->selectionModel()->clearSelection();
    QCOMPARE(window->selectedNode(), nullptr);

    // "db" would match three nodes, but no node is examined.
    const Outcome out = Run(*window, "actfind", [](DialogScript& s) {
        s.typeAndAccept("db");
        s.clickButton("OK");
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 2);
    QCOMPARE(out.seen[1].text, QString("Not found!"));
    QCOMPARE(window->statusText(), QString("0 matches found"));
    QCOMPARE(Expanded(*window), QStringList{});
    QCOMPARE(window->selectedNode(), nullptr);
}

void FindTest::repeatedFindSelectsTheSameNode() {
    auto window = OpenWindow(kWide);
    QVERIFY(window);
    for (int round = 0; round < 2; ++round) {
        const Outcome out = Run(*window, "actfind", [](DialogScript& s) { s.typeAndAccept("db"); });
        QVERIFY2(out.finished && out.count() == 1, qPrintable(out.description));
        QCOMPARE(SelectedText(*window), QString(";db=old"));
        QCOMPARE(window->statusText(), QString("4 matches found"));
    }
}

// --- Expand all, Collapse all, collapsing in the view ----------------------------

void FindTest::expandAndCollapseAll_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("selectedBefore");  // empty: nothing selected
    QTest::addColumn<bool>("expandedBefore");

    QTest::newRow("expand from collapsed, key selected") << "actExpandAll"
                                                         << "port=1" << false;
    QTest::newRow("expand from collapsed, section selected") << "actExpandAll"
                                                             << "[Log]" << false;
    QTest::newRow("expand, nothing selected") << "actExpandAll"
                                              << "" << false;
    QTest::newRow("expand, already expanded") << "actExpandAll"
                                              << "mix=xx" << true;
    QTest::newRow("collapse, key selected") << "actCollapseAll"
                                            << ";db=old" << true;
    QTest::newRow("collapse, section selected") << "actCollapseAll"
                                                << "[UI]" << true;
    QTest::newRow("collapse, nothing selected") << "actCollapseAll"
                                                << "" << true;
}

void FindTest::expandAndCollapseAll() {
    QFETCH(QString, action);
    QFETCH(QString, selectedBefore);
    QFETCH(bool, expandedBefore);

    auto window = OpenWindow(kWide);
    QVERIFY(window);
    auto* view = window->treeView();
    // Selecting expands the node's ancestors; the rest stays as it is.
    if (expandedBefore) {
        view->expandAll();
    } else {
        view->collapseAll();
    }
    Select(*window, selectedBefore);
    QCOMPARE(SelectedText(*window), selectedBefore.isEmpty() ? QString("(none)") : selectedBefore);
    const QString status = window->statusText();
    const QStringList before = Tree(*window);

    const Outcome out = Run(*window, action.toLatin1().constData());
    QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));

    const bool expand = action == "actExpandAll";
    QCOMPARE(Expanded(*window), expand ? Parents(*window) : QStringList{});
    QCOMPARE(SelectedText(*window), QString("app.ini"));
    QCOMPARE(window->statusText(), status);
    QCOMPARE(Tree(*window), before);
    QVERIFY(!window->document().ItemsChanged);
    if (expand) QTRY_VERIFY(IsShown(*window, NodeNamed(*window, ";db=old")));
}

void FindTest::collapsingMovesTheSelectionUp_data() {
    QTest::addColumn<QString>("selectedBefore");
    QTest::addColumn<QString>("collapsed");
    QTest::addColumn<QString>("selected");

    QTest::newRow("key, its section") << "port=1"
                                      << "[DB]"
                                      << "[DB]";
    QTest::newRow("key, the root") << "mix=xx"
                                   << "app.ini"
                                   << "app.ini";
    QTest::newRow("section, the root") << "[UI]"
                                       << "app.ini"
                                       << "app.ini";
    QTest::newRow("key, another section") << "port=1"
                                          << "[UI]"
                                          << "port=1";
    QTest::newRow("the collapsed node itself") << "[DB]"
                                               << "[DB]"
                                               << "[DB]";
}

void FindTest::collapsingMovesTheSelectionUp() {
    QFETCH(QString, selectedBefore);
    QFETCH(QString, collapsed);
    QFETCH(QString, selected);

    auto window = OpenWindow(kWide);
    QVERIFY(window);
    auto* view = window->treeView();
    view->expandAll();
    window->selectNode(NodeNamed(*window, selectedBefore));

    // As a click on the node's expand button does.
    view->collapse(window->model()->indexOf(NodeNamed(*window, collapsed)));
    QCOMPARE(SelectedText(*window), selected);
    QVERIFY(IsShown(*window, window->selectedNode()));
    QCOMPARE(view->selectionModel()->selectedIndexes().size(), 1);
    QVERIFY(!window->document().ItemsChanged);
}

// Collapsing the whole tree while a line is being edited moves the selection
// to the root, which accepts the edit as leaving the line does.
void FindTest::collapsingEverythingKeepsAnOpenEdit() {
    auto window = OpenWindow(kWide);
    QVERIFY(window);
    auto* view = window->treeView();
    view->expandAll();
    Node* key = NodeNamed(*window, "port=1");
    window->selectNode(key);
    view->edit(window->model()->indexOf(key));
    QLineEdit* editor = nullptr;
    for (auto* e : view->findChildren<QLineEdit*>("nodeEditor"))
        if (e->isVisible()) editor = e;
    QVERIFY(editor != nullptr);
    editor->setText("port=2");

    view->collapseEverything();
    QTRY_COMPARE(Shown(*window, key), QString("port=2"));
    QVERIFY(window->document().ItemsChanged);
    QCOMPARE(Expanded(*window), QStringList{});
    QCOMPARE(SelectedText(*window), QString("app.ini"));
}

// Expand all and Collapse all keep no record per node beyond a bit: what
// they allocate and release grows with the rows on screen, not with the
// nodes of the file. (A persistent index per expanded node made and
// dropped about three blocks for each section.)
void FindTest::foldingWorkPerNode_data() {
    QTest::addColumn<int>("sections");
    QTest::addColumn<int>("keys");  // of each section
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("foldedBefore");  // Expand all and Collapse all ran after the load

    const struct {
        const char* name;
        int sections;
        int keys;
    } files[] = {{"one-key sections", 20'000, 1},
                 {"sections of twenty keys", 2'000, 20},
                 {"one large section", 1, 40'000}};
    for (const auto& f : files) {
        for (const char* action : {"actExpandAll", "actCollapseAll"}) {
            for (const bool folded : {false, true}) {
                QTest::addRow("%s, %s%s", f.name, action, folded ? ", after folding" : "")
                    << f.sections << f.keys << QString(action) << folded;
            }
        }
    }
}

void FindTest::foldingWorkPerNode() {
    QFETCH(int, sections);
    QFETCH(int, keys);
    QFETCH(QString, action);
    QFETCH(bool, foldedBefore);

    QByteArray bytes;
    for (int s = 0; s < sections; ++s) {
        bytes += "[s" + QByteArray::number(s) + "]\n";
        for (int k = 0; k < keys; ++k) bytes += "k" + QByteArray::number(k) + "=1\n";
    }
    auto window = OpenWindow(bytes);
    QVERIFY(window);
    QStringList before;
    if (foldedBefore)
        before << "actExpandAll"
               << "actCollapseAll";
    // Collapse all has something to collapse.
    if (action == "actCollapseAll") before << "actExpandAll";
    for (const QString& command : before) {
        const Outcome out = Run(*window, command.toLatin1().constData());
        QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));
    }
    QCoreApplication::processEvents();

    const long long start = gHeapCalls.load();
    const Outcome out = Run(*window, action.toLatin1().constData());
    QCoreApplication::processEvents();
    const long long calls = gHeapCalls.load() - start;
    QVERIFY2(out.finished && out.count() == 0, qPrintable(out.description));

    const Node* root = window->document().First();
    const bool expand = action == "actExpandAll";
    QCOMPARE(window->treeView()->isExpanded(window->model()->indexOf(root->child(0))), expand);
    QCOMPARE(SelectedText(*window), QString("app.ini"));
    // The same bound for every file, a tenth of a block per section at
    // most: what the command may allocate for the window's own work.
    const long long nodes = static_cast<long long>(window->document().Count());
    QVERIFY2(calls <= 2'000,
             qPrintable(QString("%1 allocations and releases for %2 nodes in %3 sections")
                            .arg(calls)
                            .arg(nodes)
                            .arg(sections)));
}

// --- The empty document ------------------------------------------------------------

void FindTest::emptyDocument_data() {
    QTest::addColumn<QString>("action");

    QTest::newRow("Find") << "actfind";
    QTest::newRow("Expand all") << "actExpandAll";
    QTest::newRow("Collapse all") << "actCollapseAll";
}

void FindTest::emptyDocument() {
    QFETCH(QString, action);

    TForm1 window;
    QVERIFY(ShowWindow(window));
    const Outcome out = Run(window, action.toLatin1().constData(), {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Information"));
    QCOMPARE(out.seen[0].text, QString("No INI file is loaded"));
    QCOMPARE(window.document().Count(), std::size_t{0});
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(!window.document().ItemsChanged);
}

QTEST_MAIN(FindTest)
#include "tst_find.moc"
