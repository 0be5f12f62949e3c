// GUI tests of the main window: Open, Save INI, Close INI, Exit and the
// window's close, with the changed mark they drive and what they leave on
// disk; the command table with its menus and toolbar; caption and size limit;
// and that a test cannot trigger a missing or disabled action unnoticed.
// Every test drives a real TForm1 and answers its real dialogs.
#include <dirent.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "DocumentModel.h"
#include "IniTreeView.h"
#include "SpecialFiles.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::Document;
using keyloft::Node;
using keyloft::test::DialogLines;
using keyloft::test::DialogScript;
using keyloft::test::Outcome;
using keyloft::test::Run;
using keyloft::test::ShowWindow;
using keyloft::test::Tree;
using keyloft::test::Trigger;
using keyloft::test::WaitForListing;
using keyloft::test::WriteFile;

using FileMap = QMap<QString, QByteArray>;

namespace {

// The files every test starts with. a.ini is the one loaded; b.ini the one
// opened instead; taken.ini already has a backup, so saving over it fails.
const QByteArray kA = "[a]\r\nx=1\r\n";
const QByteArray kB = "[b]\ny=2\nz=3\n";
const QByteArray kTaken = "[t]\r\nold=1\r\n";
const QByteArray kTakenBackup = "[t]\r\nolder=1\r\n";
// a.ini after the key "added=1" was put into its section.
const QByteArray kChangedA = "[a]\r\nx=1\r\nadded=1\r\n";

const QString kLoadedA = "Loaded, 1 Keys in 1 sections";
const QString kLoadedB = "Loaded, 2 Keys in 1 sections";

const QString kOpenQuestion = "Confirm: Items where changed, save before opening ?";
const QString kClearQuestion = "Confirm: Items where changed, save before clear ?";
const QString kExitQuestion = "Confirm: Items where changed, save before exit ?";
const QString kOpenDialog = "Open INI File";
const QString kSaveDialog = "Save INI file";
const QString kBackupTaken = "INI Files editor: I/O error 17.";

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every file of the folder, hidden ones included (a leftover temporary file
// of a failed save shows here), with its bytes.
FileMap filesIn(const QString& folder) {
    FileMap files;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        files.insert(name, readFile(dir.filePath(name)));
    }
    return files;
}

// The names in a folder as the system has them (bytes), sorted.
QList<QByteArray> rawNames(const QString& folder) {
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(QFile::encodeName(folder).constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..") names << name;
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray readRaw(const QByteArray& path) {
    QByteArray bytes;
    if (FILE* file = std::fopen(path.constData(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, static_cast<qsizetype>(n));
        std::fclose(file);
    }
    return bytes;
}

// A session manager's commit request that allows interaction or not, and
// records whether it was asked and cancelled.
class FakeSessionRequest : public SessionRequest {
public:
    explicit FakeSessionRequest(bool interaction) : interaction_(interaction) {}
    bool allowsInteraction() override {
        ++asked;
        return interaction_;
    }
    void cancel() override { cancelled = true; }
    int asked = 0;
    bool cancelled = false;

private:
    bool interaction_;
};

// A shown window in a folder holding the standard files, with a.ini loaded
// and, when `changed`, the key "added=1" added to its section. What the tree
// and the folder hold once set up stays in `before` and `disk`.
struct Fixture {
    QTemporaryDir dir;
    TForm1 window;
    QStringList before;
    FileMap disk;
    QString path(const QString& name) const { return dir.filePath(name); }
    FileMap files() const { return filesIn(dir.path()); }
    // The folder as set up, with `written` added or replaced.
    FileMap diskWith(const FileMap& written) const {
        FileMap expected = disk;
        expected.insert(written);
        return expected;
    }

    bool setUp(bool load, bool changed) {
        if (!dir.isValid()) return false;
        if (!WriteFile(path("a.ini"), kA) || !WriteFile(path("b.ini"), kB) ||
            !WriteFile(path("taken.ini"), kTaken) ||
            !WriteFile(path("taken.ini.in1"), kTakenBackup)) {
            return false;
        }
        if (!ShowWindow(window)) return false;
        if (load) window.LoadIniFile(path("a.ini"));
        if (changed) {
            Document& doc = window.document();
            doc.AddChild(doc.NodeAt(1), "added=1");
            doc.ItemsChanged = true;
        }
        before = Tree(window);
        disk = files();
        return true;
    }

    // Triggers the action with its dialogs answered by `steps` (see
    // DialogScript::answer; file names are inside the folder).
    Outcome run(const char* action, const QStringList& steps) {
        return Run(window, action, steps, dir.path());
    }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();

    void open_data();
    void open();
    void openReadsTheFileAgain();
    void openDialogSettings();
    void openAFifo();
    void saveQuestionLook();

    void saveWithoutDocument();
    void saveProposesRootText_data();
    void saveProposesRootText();
    void saveKeepsTheOpenedName_data();
    void saveKeepsTheOpenedName();
    void save_data();
    void save();
    void secondSaveOverSameFileFails();
    void savedBytes_data();
    void savedBytes();

    void closeIni_data();
    void closeIni();
    void closeWindow_data();
    void closeWindow();

    void commandTable_data();
    void commandTable();
    void triggerNeedsAnEnabledAction_data();
    void triggerNeedsAnEnabledAction();
    void menus();
    void toolbar();
    void captionAndMinimumWidth();
};

void MainWindowTest::initTestCase() {
    // A window closed by a test must not end the test program's event loops.
    QApplication::setQuitOnLastWindowClosed(false);
}

// --- Open ----------------------------------------------------------------

void MainWindowTest::open_data() {
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QString>("root");  // a.ini: the document was kept
    QTest::addColumn<bool>("changedAfter");
    QTest::addColumn<QString>("status");
    QTest::addColumn<FileMap>("written");

    const QString fileNotFound = "INI Files editor: File not found.";
    QTest::newRow("unchanged: no question")
        << false << QStringList{"file:b.ini"} << QStringList{kOpenDialog} << "b.ini" << false
        << kLoadedB << FileMap{};
    QTest::newRow("unchanged: typed name gets the default extension")
        << false << QStringList{"file:b"} << QStringList{kOpenDialog} << "b.ini" << false
        << kLoadedB << FileMap{};
    QTest::newRow("unchanged: open dialog cancelled")
        << false << QStringList{"cancel"} << QStringList{kOpenDialog} << "a.ini" << false
        << kLoadedA << FileMap{};
    QTest::newRow("unchanged: missing file")
        << false << QStringList{"file:missing.ini", "OK"} << QStringList{kOpenDialog, fileNotFound}
        << "a.ini" << false << kLoadedA << FileMap{};
    QTest::newRow("No discards the changes")
        << true << QStringList{"No", "file:b.ini"} << QStringList{kOpenQuestion, kOpenDialog}
        << "b.ini" << false << kLoadedB << FileMap{};
    QTest::newRow("Escape answers No")
        << true << QStringList{"Escape", "file:b.ini"} << QStringList{kOpenQuestion, kOpenDialog}
        << "b.ini" << false << kLoadedB << FileMap{};
    QTest::newRow("Enter answers Yes")
        << true << QStringList{"Enter", "file:saved.ini", "file:b.ini"}
        << QStringList{kOpenQuestion, kSaveDialog, kOpenDialog} << "b.ini" << false << kLoadedB
        << FileMap{{"saved.ini", kChangedA}};
    QTest::newRow("No, open dialog cancelled: still changed")
        << true << QStringList{"No", "cancel"} << QStringList{kOpenQuestion, kOpenDialog} << "a.ini"
        << true << kLoadedA << FileMap{};
    QTest::newRow("No, missing file: still changed")
        << true << QStringList{"No", "file:missing.ini", "OK"}
        << QStringList{kOpenQuestion, kOpenDialog, fileNotFound} << "a.ini" << true << kLoadedA
        << FileMap{};
    QTest::newRow("close box ends the command")
        << true << QStringList{"close box"} << QStringList{kOpenQuestion} << "a.ini" << true
        << kLoadedA << FileMap{};
    QTest::newRow("Yes, saved, then opened")
        << true << QStringList{"Yes", "file:saved.ini", "file:b.ini"}
        << QStringList{kOpenQuestion, kSaveDialog, kOpenDialog} << "b.ini" << false << kLoadedB
        << FileMap{{"saved.ini", kChangedA}};
    QTest::newRow("Yes, saved, open dialog cancelled")
        << true << QStringList{"Yes", "file:saved.ini", "cancel"}
        << QStringList{kOpenQuestion, kSaveDialog, kOpenDialog} << "a.ini" << false
        << "INI File saved as saved.ini" << FileMap{{"saved.ini", kChangedA}};
    QTest::newRow("Yes, save dialog cancelled: no open dialog")
        << true << QStringList{"Yes", "cancel"} << QStringList{kOpenQuestion, kSaveDialog}
        << "a.ini" << true << kLoadedA << FileMap{};
    QTest::newRow("Yes, save fails: no open dialog")
        << true << QStringList{"Yes", "file:taken.ini", "OK"}
        << QStringList{kOpenQuestion, kSaveDialog, kBackupTaken} << "a.ini" << true << kLoadedA
        << FileMap{};
}

void MainWindowTest::open() {
    QFETCH(bool, changed);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, root);
    QFETCH(bool, changedAfter);
    QFETCH(QString, status);
    QFETCH(FileMap, written);

    Fixture f;
    QVERIFY(f.setUp(true, changed));
    const Outcome out = f.run("actOpen", steps);
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), dialogs);

    const Document& doc = f.window.document();
    if (root == "a.ini") {
        QCOMPARE(Tree(f.window), f.before);
    } else {
        QCOMPARE(Tree(f.window), (QStringList{"b.ini", "  [b]", "    y=2", "    z=3"}));
        QCOMPARE(f.window.selectedNode(), doc.First());
    }
    QCOMPARE(doc.ItemsChanged, changedAfter);
    QCOMPARE(f.window.statusText(), status);
    QCOMPARE(f.files(), f.diskWith(written));
}

void MainWindowTest::openReadsTheFileAgain() {
    Fixture f;
    QVERIFY(f.setUp(true, false));
    QVERIFY(WriteFile(f.path("a.ini"), "[a]\r\nx=2\r\n[c]\r\n"));

    const Outcome out = f.run("actOpen", {"file:a.ini"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), QStringList{kOpenDialog});
    QCOMPARE(Tree(f.window), (QStringList{"a.ini", "  [a]", "    x=2", "  [c]"}));
    QCOMPARE(f.window.statusText(), QString("Loaded, 1 Keys in 2 sections"));
}

void MainWindowTest::openDialogSettings() {
    Fixture f;
    QVERIFY(f.setUp(false, false));
    QString title, suffix;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptSave;
    QFileDialog::FileMode fileMode = QFileDialog::Directory;
    DialogScript script;
    script
        .then([&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            QVERIFY(files != nullptr);
            title = files->windowTitle();
            filters = files->nameFilters();
            suffix = files->defaultSuffix();
            mode = files->acceptMode();
            fileMode = files->fileMode();
            files->reject();
        })
        .chooseFile(f.path("b.ini"))
        .acceptOffered()  // the file chosen last time
        .then([](QWidget* dialog) {
            // Typed over the offered name, which is selected: it is replaced.
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name != nullptr);
            WaitForListing(qobject_cast<QFileDialog*>(dialog));
            QCOMPARE(name->selectedText(), name->text());
            QVERIFY(!name->text().isEmpty());
            QTest::keyClicks(name, "a.ini");
            QTest::keyClick(name, Qt::Key_Return);
        })
        .rejectUnexpected();
    script.start();
    QVERIFY(Trigger(f.window, "actOpen"));
    QCOMPARE(f.window.document().Count(), std::size_t{0});
    QVERIFY(Trigger(f.window, "actOpen"));
    QCOMPARE(Tree(f.window).value(0), QString("b.ini"));
    QVERIFY(WriteFile(f.path("b.ini"), "[b2]\n"));
    QVERIFY(Trigger(f.window, "actOpen"));
    QCOMPARE(Tree(f.window), (QStringList{"b.ini", "  [b2]"}));
    QVERIFY(Trigger(f.window, "actOpen"));
    QVERIFY2(script.finished(), qPrintable(script.describe()));
    QCOMPARE(DialogLines(script.seen()),
             (QStringList{kOpenDialog, kOpenDialog, kOpenDialog, kOpenDialog}));
    QCOMPARE(Tree(f.window), (QStringList{"a.ini", "  [a]", "    x=1"}));

    QCOMPARE(title, QString("Open INI File"));
    QCOMPARE(filters, QStringList{"INI files (*.ini)"});
    QCOMPARE(suffix, QString("ini"));
    QCOMPARE(mode, QFileDialog::AcceptOpen);
    // A name that does not exist passes the dialog and reaches the load.
    QCOMPARE(fileMode, QFileDialog::AnyFile);
}

// A FIFO chosen in Open is refused at once, as a folder is; nothing is read
// from it. A load that waits on it is set free after a few seconds, and fails.
void MainWindowTest::openAFifo() {
    Fixture f;
    QVERIFY(f.setUp(true, false));
    const QByteArray fifo = QFile::encodeName(f.path("fifo.ini"));
    QVERIFY(keyloft::test::MakeFifo(fifo));
    keyloft::test::FifoGuard guard(fifo, std::chrono::seconds(3));
    const Outcome out = f.run("actOpen", {"file:fifo.ini", "OK"});
    QVERIFY(!guard.freedAReader());
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), (QStringList{kOpenDialog, "INI Files editor: File access denied."}));
    QCOMPARE(Tree(f.window), f.before);
    QCOMPARE(f.window.statusText(), kLoadedA);
}

void MainWindowTest::saveQuestionLook() {
    Fixture f;
    QVERIFY(f.setUp(true, true));
    QStringList buttons;
    QString defaultButton, focused;
    const Outcome out = Run(f.window, "actOpen", [&](DialogScript& s) {
        s.then([&](QWidget* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            QVERIFY(box != nullptr);
            for (QAbstractButton* button : box->buttons()) buttons << button->text();
            if (box->defaultButton() != nullptr) defaultButton = box->defaultButton()->text();
            if (auto* button = qobject_cast<QAbstractButton*>(box->focusWidget()))
                focused = button->text();
            box->close();
        });
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), QStringList{kOpenQuestion});
    QCOMPARE(out.seen[0].icon, QMessageBox::Question);
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"&No", "&Yes"}));
    QCOMPARE(defaultButton, QString("&Yes"));
    QCOMPARE(focused, QString("&Yes"));
}

// --- Save INI ------------------------------------------------------------

void MainWindowTest::saveWithoutDocument() {
    Fixture f;
    QVERIFY(f.setUp(false, false));
    const Outcome out = f.run("actSaveINI", {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), QStringList{"Information: No INI file is loaded"});
    QCOMPARE(f.window.statusText(), QString("Ready"));
}

void MainWindowTest::saveProposesRootText_data() {
    QTest::addColumn<QString>("rootText");  // empty: as loaded
    QTest::newRow("as loaded") << QString();
    QTest::newRow("after editing the root") << "renamed.ini";
}

void MainWindowTest::saveProposesRootText() {
    QFETCH(QString, rootText);
    Fixture f;
    QVERIFY(f.setUp(true, false));
    if (!rootText.isEmpty()) {
        // As an accepted in-place edit of the root.
        QVERIFY(f.window.model()->setData(f.window.model()->index(0, 0), rootText));
        QVERIFY(f.window.document().ItemsChanged);
    }
    QString proposed, selected, folder, title, suffix;
    QStringList filters;
    bool asksBeforeOverwrite = true;
    const Outcome out = Run(f.window, "actSaveINI", [&](DialogScript& s) {
        s.then([&](QWidget* dialog) {
            auto* files = qobject_cast<QFileDialog*>(dialog);
            QVERIFY(files != nullptr);
            auto* name = files->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name != nullptr);
            proposed = name->text();
            selected = name->selectedText();
            folder = files->directory().absolutePath();
            title = files->windowTitle();
            filters = files->nameFilters();
            suffix = files->defaultSuffix();
            asksBeforeOverwrite = !files->testOption(QFileDialog::DontConfirmOverwrite);
            files->reject();
        });
    });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(proposed, rootText.isEmpty() ? QString("a.ini") : rootText);
    // Selected, so that typing replaces it, in the loaded file's folder
    // (the tests run elsewhere).
    QCOMPARE(selected, proposed);
    QCOMPARE(folder, QDir(f.dir.path()).absolutePath());
    QVERIFY(QDir::currentPath() != folder);
    QCOMPARE(title, QString("Save INI file"));
    QCOMPARE(filters, QStringList{"INI Files (*.ini)"});
    QCOMPARE(suffix, QString("ini"));
    QVERIFY(!asksBeforeOverwrite);
}

// The root names the file as the system decodes file names, whatever the
// file's content; saved as offered, an edited file goes back under the very
// bytes it was opened by, with its backup beside it, and nowhere else.
void MainWindowTest::saveKeepsTheOpenedName_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a name that is not UTF-8")
        << QByteArray("caf\xE9.ini") << QString("caf") + QChar(0xFFFD) + ".ini";
    QTest::newRow("a UTF-8 name over Windows-1252 content")
        << QByteArray("caf\xC3\xA9.ini") << QString("caf") + QChar(0xE9) + ".ini";
}

void MainWindowTest::saveKeepsTheOpenedName() {
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.path()) + "/" + name;
    const QByteArray content = "[s]\r\nk=caf\xE9\r\n";
    FILE* file = std::fopen(path.constData(), "wb");
    QVERIFY(file != nullptr);
    std::fwrite(content.constData(), 1, static_cast<std::size_t>(content.size()), file);
    std::fclose(file);
    auto removeRaw = qScopeGuard([&] {
        for (const QByteArray& raw : rawNames(dir.path()))
            ::unlink((QFile::encodeName(dir.path()) + "/" + raw).constData());
    });

    TForm1 window(QList<QByteArray>{path});
    QVERIFY(ShowWindow(window));
    Document& doc = window.document();
    QVERIFY(doc.Count() > 1);
    QCOMPARE(window.model()->displayText(doc.First()), shown);
    doc.AddChild(doc.NodeAt(1), "added=1");
    doc.ItemsChanged = true;

    const Outcome out = Run(window, "actSaveINI", [](DialogScript& s) { s.acceptOffered(); });
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), QStringList{kSaveDialog});
    QCOMPARE(window.statusText(),
             "INI File saved as " + shown + ", original file was backed up as *.in1");
    QCOMPARE(rawNames(dir.path()), (QList<QByteArray>{name, name + ".in1"}));
    QCOMPARE(readRaw(path), content + "added=1\r\n");
    QCOMPARE(readRaw(path + ".in1"), content);

    // Find sees the root as shown.
    window.selectNode(doc.First());
    const QString needle = "AF" + shown.mid(3, 1) + ".INI";
    QVERIFY(window.GetNodeByText(window.treeView(), needle, false) == doc.First());
    QCOMPARE(window.statusText(), QString("1 matches found"));
}

void MainWindowTest::save_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<QString>("status");  // empty: unchanged
    QTest::addColumn<bool>("changedAfter");
    QTest::addColumn<FileMap>("written");

    QTest::newRow("new name: no backup")
        << QStringList{"file:new.ini"} << QStringList{kSaveDialog} << "INI File saved as new.ini"
        << false << FileMap{{"new.ini", kChangedA}};
    QTest::newRow("typed without extension")
        << QStringList{"file:new"} << QStringList{kSaveDialog} << "INI File saved as new.ini"
        << false << FileMap{{"new.ini", kChangedA}};
    QTest::newRow("existing file: backed up as .in1")
        << QStringList{"file:b.ini"} << QStringList{kSaveDialog}
        << "INI File saved as b.ini, original file was backed up as *.in1" << false
        << FileMap{{"b.ini", kChangedA}, {"b.ini.in1", kB}};
    QTest::newRow("over the loaded file")
        << QStringList{"file:a.ini"} << QStringList{kSaveDialog}
        << "INI File saved as a.ini, original file was backed up as *.in1" << false
        << FileMap{{"a.ini", kChangedA}, {"a.ini.in1", kA}};
    QTest::newRow("backup name taken: nothing changes")
        << QStringList{"file:taken.ini", "OK"} << QStringList{kSaveDialog, kBackupTaken}
        << QString() << true << FileMap{};
    QTest::newRow("dialog cancelled: nothing changes")
        << QStringList{"cancel"} << QStringList{kSaveDialog} << QString() << true << FileMap{};
}

void MainWindowTest::save() {
    QFETCH(QStringList, steps);
    QFETCH(QStringList, dialogs);
    QFETCH(QString, status);
    QFETCH(bool, changedAfter);
    QFETCH(FileMap, written);

    Fixture f;
    QVERIFY(f.setUp(true, true));
    const Outcome out = f.run("actSaveINI", steps);
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), dialogs);

    QCOMPARE(f.window.statusText(), status.isEmpty() ? kLoadedA : status);
    QCOMPARE(f.window.document().ItemsChanged, changedAfter);
    QCOMPARE(Tree(f.window), f.before);
    QCOMPARE(f.files(), f.diskWith(written));
}

void MainWindowTest::secondSaveOverSameFileFails() {
    Fixture f;
    QVERIFY(f.setUp(true, true));
    {
        const Outcome first = f.run("actSaveINI", {"file:b.ini"});
        QVERIFY2(first.finished, qPrintable(first.description));
    }
    const QString firstReport = "INI File saved as b.ini, original file was backed up as *.in1";
    QCOMPARE(f.window.statusText(), firstReport);
    const FileMap afterFirst = f.files();
    QCOMPARE(afterFirst.value("b.ini.in1"), kB);

    Document& doc = f.window.document();
    doc.AddChild(doc.NodeAt(1), "more=1");
    doc.ItemsChanged = true;
    const Outcome second = f.run("actSaveINI", {"file:b.ini", "OK"});
    QVERIFY2(second.finished, qPrintable(second.description));
    QCOMPARE(second.lines(), (QStringList{kSaveDialog, kBackupTaken}));
    QCOMPARE(f.files(), afterFirst);
    QVERIFY(doc.ItemsChanged);
    QCOMPARE(f.window.statusText(), firstReport);
}

enum class Change { None, AddKey, DeleteLastSection, NewDocument, RootOnly };
Q_DECLARE_METATYPE(Change)

void MainWindowTest::savedBytes_data() {
    QTest::addColumn<QByteArray>("file");  // loaded first, unless the change builds a new document
    QTest::addColumn<Change>("change");
    QTest::addColumn<QByteArray>("saved");

    const QByteArray lf = "; head\n\n[a]\nx = 1\n\n; note\n[b]\ny=2\n";
    QTest::newRow("LF file, unchanged: the same bytes") << lf << Change::None << lf;
    QTest::newRow("LF file, key added: LF and the dropped lines kept")
        << lf << Change::AddKey
        << QByteArray("; head\n\n[a]\nx = 1\nadded=1\n\n; note\n[b]\ny=2\n");
    QByteArray crlf = lf;
    crlf.replace("\n", "\r\n");
    QTest::newRow("CRLF file, key added")
        << crlf << Change::AddKey
        << QByteArray("; head\r\n\r\n[a]\r\nx = 1\r\nadded=1\r\n\r\n; note\r\n[b]\r\ny=2\r\n");
    QTest::newRow("CRLF file, last section deleted with its comment")
        << crlf << Change::DeleteLastSection << QByteArray("; head\r\n\r\n[a]\r\nx = 1\r\n");
    QTest::newRow("CR file keeps CR")
        << QByteArray("[a]\rx=1\r") << Change::AddKey << QByteArray("[a]\rx=1\radded=1\r");
    QTest::newRow("new document: CR LF")
        << QByteArray() << Change::NewDocument << QByteArray("[s]\r\n;k=v\r\n\r\n");
    QTest::newRow("root only: empty file") << QByteArray() << Change::RootOnly << QByteArray();
}

void MainWindowTest::savedBytes() {
    QFETCH(QByteArray, file);
    QFETCH(Change, change);
    QFETCH(QByteArray, saved);

    Fixture f;
    QVERIFY(f.setUp(false, false));
    Document& doc = f.window.document();
    if (change == Change::NewDocument || change == Change::RootOnly) {
        Node* root = doc.AddRoot("new.ini");
        if (change == Change::NewDocument) {
            Node* section = doc.AddChild(root, "[s]");
            doc.AddChild(section, ";k=v");
            doc.AddChild(section, "");
        }
    } else {
        QVERIFY(WriteFile(f.path("in.ini"), file));
        f.window.LoadIniFile(f.path("in.ini"));
        if (change == Change::AddKey) doc.AddChild(doc.NodeAt(1), "added=1");
        if (change == Change::DeleteLastSection)
            doc.Delete(doc.First()->child(doc.First()->childCount() - 1));
    }

    const Outcome out = f.run("actSaveINI", {"file:out.ini"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(readFile(f.path("out.ini")), saved);
}

// --- Close INI -------------------------------------------------------------

void MainWindowTest::closeIni_data() {
    QTest::addColumn<int>("state");  // 0 empty tree, 1 unchanged, 2 changed
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<bool>("cleared");
    QTest::addColumn<QString>("status");
    QTest::addColumn<FileMap>("written");

    QTest::newRow("empty tree: no question")
        << 0 << QStringList{} << QStringList{} << true << "Ready" << FileMap{};
    QTest::newRow("unchanged: no question")
        << 1 << QStringList{} << QStringList{} << true << "Ready" << FileMap{};
    QTest::newRow("No clears") << 2 << QStringList{"No"} << QStringList{kClearQuestion} << true
                               << "Ready" << FileMap{};
    QTest::newRow("Escape answers No") << 2 << QStringList{"Escape"} << QStringList{kClearQuestion}
                                       << true << "Ready" << FileMap{};
    QTest::newRow("Yes, saved, then cleared")
        << 2 << QStringList{"Yes", "file:saved.ini"} << QStringList{kClearQuestion, kSaveDialog}
        << true << "Ready" << FileMap{{"saved.ini", kChangedA}};
    QTest::newRow("Yes, save dialog cancelled: kept")
        << 2 << QStringList{"Yes", "cancel"} << QStringList{kClearQuestion, kSaveDialog} << false
        << kLoadedA << FileMap{};
    QTest::newRow("close box: kept") << 2 << QStringList{"close box"} << QStringList{kClearQuestion}
                                     << false << kLoadedA << FileMap{};
    QTest::newRow("Yes, save fails: kept")
        << 2 << QStringList{"Yes", "file:taken.ini", "OK"}
        << QStringList{kClearQuestion, kSaveDialog, kBackupTaken} << false << kLoadedA << FileMap{};
}

void MainWindowTest::closeIni() {
    QFETCH(int, state);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, dialogs);
    QFETCH(bool, cleared);
    QFETCH(QString, status);
    QFETCH(FileMap, written);

    Fixture f;
    QVERIFY(f.setUp(state > 0, state == 2));
    const Outcome out = f.run("actClearAll", steps);
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.lines(), dialogs);

    const Document& doc = f.window.document();
    if (cleared) {
        QCOMPARE(doc.Count(), std::size_t{0});
        QCOMPARE(f.window.model()->rowCount(), 0);
        QVERIFY(!doc.ItemsChanged);
    } else {
        QCOMPARE(Tree(f.window), f.before);
        QVERIFY(doc.ItemsChanged);
    }
    QCOMPARE(f.window.statusText(), status);
    QCOMPARE(f.files(), f.diskWith(written));
}

// --- Exit and the window's close ---------------------------------------------

void MainWindowTest::closeWindow_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("dialogs");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<FileMap>("written");

    // A log-off: the session manager's commit request, then the close that
    // ends the session; a row that keeps the window open cancels the log-off.
    QTest::newRow("log-off without leave to ask: nothing asked or saved")
        << "log-off, no interaction" << true << QStringList{} << QStringList{} << true << FileMap{};
    for (const char* way : {"Exit", "close button", "log-off"}) {
        const QString how = QString::fromLatin1(way);
        const QByteArray prefix = QByteArray(way) + ", ";
        QTest::newRow(prefix + "unchanged: closes at once")
            << how << false << QStringList{} << QStringList{} << true << FileMap{};
        QTest::newRow(prefix + "No closes")
            << how << true << QStringList{"No"} << QStringList{kExitQuestion} << true << FileMap{};
        QTest::newRow(prefix + "Escape answers No")
            << how << true << QStringList{"Escape"} << QStringList{kExitQuestion} << true
            << FileMap{};
        QTest::newRow(prefix + "Yes, saved, closes")
            << how << true << QStringList{"Yes", "file:saved.ini"}
            << QStringList{kExitQuestion, kSaveDialog} << true << FileMap{{"saved.ini", kChangedA}};
        QTest::newRow(prefix + "Yes, save dialog cancelled: stays open")
            << how << true << QStringList{"Yes", "cancel"}
            << QStringList{kExitQuestion, kSaveDialog} << false << FileMap{};
        QTest::newRow(prefix + "close box: stays open")
            << how << true << QStringList{"close box"} << QStringList{kExitQuestion} << false
            << FileMap{};
        QTest::newRow(prefix + "Yes, save fails: stays open")
            << how << true << QStringList{"Yes", "file:taken.ini", "OK"}
            << QStringList{kExitQuestion, kSaveDialog, kBackupTaken} << false << FileMap{};
    }
}

void MainWindowTest::closeWindow() {
    QFETCH(QString, how);
    QFETCH(bool, changed);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, dialogs);
    QFETCH(bool, closed);
    QFETCH(FileMap, written);

    Fixture f;
    QVERIFY(f.setUp(true, changed));
    DialogScript script;
    script.answer(steps, f.dir.path()).rejectUnexpected().start();
    if (how == "Exit") {
        QVERIFY(Trigger(f.window, "actExit"));
    } else if (how.startsWith("log-off")) {
        FakeSessionRequest request(how == "log-off");
        f.window.commitDataRequest(request);
        QCOMPARE(request.asked, changed ? 1 : 0);
        QCOMPARE(request.cancelled, !closed);
        // The close that ends the session asks nothing more.
        if (!request.cancelled) f.window.close();
    } else {
        // As the title bar's close button: a close request from the platform.
        QVERIFY(f.window.windowHandle() != nullptr);
        f.window.windowHandle()->close();
    }
    QVERIFY2(script.finished(), qPrintable(script.describe()));
    QCOMPARE(DialogLines(script.seen()), dialogs);
    QTRY_COMPARE(f.window.isVisible(), !closed);
    if (!closed) {
        QCOMPARE(Tree(f.window), f.before);
        QVERIFY(f.window.document().ItemsChanged);
        QCOMPARE(f.window.statusText(), kLoadedA);
    }
    QCOMPARE(f.files(), f.diskWith(written));
}

// --- Command table, menus, toolbar -----------------------------------------

void MainWindowTest::commandTable_data() {
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("toolbarPosition");

    QTest::newRow("actOpen") << "Open INI file..."
                             << "File"
                             << "Open INI..." << 1;
    QTest::newRow("actNewSection") << "Add a section..."
                                   << "Edit"
                                   << "New Section..." << 6;
    QTest::newRow("actNewValue") << "Add a key..."
                                 << "Edit"
                                 << "New Key..." << 7;
    QTest::newRow("actremove") << "Remove section or key"
                               << "Edit"
                               << "Delete Section or Key..." << 8;
    QTest::newRow("actExpandAll") << "Expand all"
                                  << "View"
                                  << "Expand all" << 9;
    QTest::newRow("actCollapseAll") << "Collapse all"
                                    << "View"
                                    << "Collapse All" << 10;
    QTest::newRow("actfind") << "Find text string..."
                             << "Search"
                             << "Find..." << 11;
    QTest::newRow("actINI") << "Start a new INI file..."
                            << "File"
                            << "New INI..." << 3;
    QTest::newRow("actSaveINI") << "Save INI as..."
                                << "File"
                                << "Save INI..." << 2;
    QTest::newRow("actClearAll") << "Close INI"
                                 << "File"
                                 << "Close INI" << 4;
    QTest::newRow("actPrint") << "Print INI"
                              << "File"
                              << "Print INI" << 14;
    QTest::newRow("actAbout") << "About Keyloft..."
                              << "Help"
                              << "About..." << 15;
    QTest::newRow("actExit") << "Exit Keyloft"
                             << "File"
                             << "Exit" << 16;
    QTest::newRow("actRemark") << "Comment a line"
                               << "Edit"
                               << "Comment Line" << 12;
    QTest::newRow("actRemoveComment") << "Remove comment from line"
                                      << "Edit"
                                      << "Remove Comment" << 13;
    QTest::newRow("actEditLine") << "Edit line"
                                 << "Edit"
                                 << "Edit Line" << 5;
}

void MainWindowTest::commandTable() {
    QFETCH(QString, hint);
    QFETCH(QString, menu);
    QFETCH(QString, caption);
    QFETCH(int, toolbarPosition);

    Fixture f;
    QVERIFY(f.setUp(false, false));
    TForm1& window = f.window;
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    auto* action = window.findChild<QAction*>(name, Qt::FindDirectChildrenOnly);
    QVERIFY(action != nullptr);
    QCOMPARE(action->toolTip(), hint);
    QCOMPARE(action->statusTip(), hint);
    QCOMPARE(action->text(), caption);
    QVERIFY(action->shortcuts().isEmpty());
    QVERIFY(action->isEnabled());
    QVERIFY(!action->icon().isNull());
    QVERIFY(!action->isIconVisibleInMenu());

    int menusHoldingIt = 0;
    for (QAction* top : window.menuBar()->actions()) {
        if (top->menu() == nullptr || !top->menu()->actions().contains(action)) continue;
        ++menusHoldingIt;
        QCOMPARE(top->text(), menu);
    }
    QCOMPARE(menusHoldingIt, 1);

    // Enabled whatever the document and the selection.
    window.LoadIniFile(f.path("a.ini"));
    window.selectNode(window.document().NodeAt(2));
    QVERIFY(action->isEnabled());

    auto* toolbar = window.findChild<QToolBar*>("acttb1");
    QVERIFY(toolbar != nullptr);
    QCOMPARE(toolbar->actions().indexOf(action), toolbarPosition - 1);
    QWidget* button = toolbar->widgetForAction(action);
    QVERIFY(button != nullptr);
    QCOMPARE(button->toolTip(), hint);
    QVERIFY(button->isEnabled());
}

// The harness's trigger: a missing or disabled action runs nothing, and the
// check of the trigger fails, where a silent no-op would let a test go on to
// check a command that never ran.
void MainWindowTest::triggerNeedsAnEnabledAction_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("disabled");
    QTest::addColumn<bool>("runs");

    QTest::newRow("enabled") << QByteArray("actOpen") << false << true;
    QTest::newRow("disabled") << QByteArray("actOpen") << true << false;
    QTest::newRow("missing") << QByteArray("actNoSuchCommand") << false << false;
}

void MainWindowTest::triggerNeedsAnEnabledAction() {
    QFETCH(QByteArray, name);
    QFETCH(bool, disabled);
    QFETCH(bool, runs);

    Fixture f;
    QVERIFY(f.setUp(true, false));
    if (disabled) f.window.findChild<QAction*>(name)->setEnabled(false);
    // Open shows its dialog only when it runs.
    const QStringList opened = runs ? QStringList{kOpenDialog} : QStringList{};
    {
        DialogScript script;
        script.cancel().rejectUnexpected().start();
        QCOMPARE(Trigger(f.window, name.constData()), runs);
        QCOMPARE(DialogLines(script.seen()), opened);
    }
    const Outcome out = f.run(name.constData(), {"cancel"});
    QCOMPARE(out.finished, runs);
    QCOMPARE(out.lines(), opened);
    if (!runs) QVERIFY2(out.description.contains(name), qPrintable(out.description));
    QCOMPARE(f.window.statusText(), kLoadedA);
}

void MainWindowTest::menus() {
    TForm1 window;
    QStringList menuTitles;
    QMap<QString, QStringList> items;
    for (QAction* top : window.menuBar()->actions()) {
        menuTitles << top->text();
        QVERIFY(top->menu() != nullptr);
        for (QAction* item : top->menu()->actions()) {
            items[top->text()] << (item->isSeparator() ? "-" + item->objectName()
                                                       : item->objectName());
        }
    }
    QCOMPARE(menuTitles, (QStringList{"File", "Edit", "View", "Search", "Help"}));
    QCOMPARE(items["File"], (QStringList{"actOpen", "actINI", "actSaveINI", "actClearAll", "-N2",
                                         "actPrint", "-N1", "actExit"}));
    QCOMPARE(items["Edit"], (QStringList{"actEditLine", "actNewSection", "actNewValue", "actremove",
                                         "-N3", "actRemark", "actRemoveComment"}));
    QCOMPARE(items["View"], (QStringList{"actExpandAll", "actCollapseAll"}));
    QCOMPARE(items["Search"], QStringList{"actfind"});
    QCOMPARE(items["Help"], QStringList{"actAbout"});
}

void MainWindowTest::toolbar() {
    TForm1 window;
    QVERIFY(ShowWindow(window));
    auto* toolbar = window.findChild<QToolBar*>("acttb1");
    QVERIFY(toolbar != nullptr);
    QStringList order;
    for (QAction* action : toolbar->actions())
        order << (action->isSeparator() ? "-" : action->objectName());
    QCOMPARE(order, (QStringList{"actOpen", "actSaveINI", "actINI", "actClearAll", "actEditLine",
                                 "actNewSection", "actNewValue", "actremove", "actExpandAll",
                                 "actCollapseAll", "actfind", "actRemark", "actRemoveComment",
                                 "actPrint", "actAbout", "actExit"}));
    QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonIconOnly);
    QCOMPARE(toolbar->iconSize(), QSize(32, 32));
    // One row, every button shown.
    for (QAction* action : toolbar->actions()) {
        QWidget* button = toolbar->widgetForAction(action);
        QVERIFY(button != nullptr);
        QVERIFY2(button->isVisible(), qPrintable(action->objectName()));
        QCOMPARE(button->y(), toolbar->widgetForAction(toolbar->actions().constFirst())->y());
    }
}

void MainWindowTest::captionAndMinimumWidth() {
    Fixture f;
    QVERIFY(f.setUp(false, false));
    TForm1& window = f.window;
    QCOMPARE(window.windowTitle(), QString("Keyloft 1.0"));
    window.LoadIniFile(f.path("a.ini"));
    QCOMPARE(window.windowTitle(), QString("Keyloft 1.0"));

    // 670 pixels, or the screen's available width where that is less (the
    // test runs again at a scaling that makes the screen narrower).
    window.resize(200, 300);
    const int least = std::min(670, window.screen()->availableGeometry().width());
    QTRY_COMPARE(window.frameGeometry().width(), least);
    // Only the width is limited.
    QTRY_COMPARE(window.height(), 300);
    window.resize(900, 300);
    QTRY_COMPARE(window.width(), 900);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
