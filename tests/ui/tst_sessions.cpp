// Whole sessions played on the real window as a user plays them: each step a
// command or an edit in the tree, each dialog answered with key presses
// into its focused widget, and after every step the files of the test
// folder, the tree and the changed mark compared with the session model.
// Seeded random sessions run over the same model; scripts/explore.sh runs
// more of them.
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <random>

#include "Dialogs.h"
#include "IniTreeView.h"
#include "SessionPlayer.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::test::DialogScript;
using keyloft::test::FileMap;
using keyloft::test::RunRandomSession;
using keyloft::test::SessionPlayer;

namespace {

const QByteArray kSample = "[main]\nDepth=8\nName=x\n";
const QByteArray kOther = "[o]\nq=1\nr=2\n";
const QByteArray kInner = "[in]\ni=1\n";
const QByteArray kNone = "<none>";  // no such file

const FileMap kFolder = {{"sample.ini", kSample}, {"other.ini", kOther}, {"sub/inner.ini", kInner}};

}  // namespace

class SessionsTest : public QObject {
    Q_OBJECT
private slots:
    void sessions_data();
    void sessions();
    void refusedEditStopsTheCommand();
    void dialogsTakeTheNameField_data();
    void dialogsTakeTheNameField();
    void randomSessions_data();
    void randomSessions();
    void explore();
};

// Each row is a session started as `keyloft sample.ini` in a folder of
// kFolder (plus `extra`), played step by step; `expected` names files that
// must hold the given bytes at the end (kNone: must not exist).
void SessionsTest::sessions_data() {
    QTest::addColumn<FileMap>("extra");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<FileMap>("expected");

    // Save writes the file its dialog shows, whatever earlier commands left
    // in the dialog.
    QTest::newRow("Save after Open writes the opened file")
        << FileMap{}
        << QStringList{"actSaveINI | Enter", "rm sample.ini.in1", "actOpen | =other.ini Enter",
                       "actSaveINI | Enter"}
        << FileMap{{"sample.ini", kSample},
                   {"sample.ini.in1", kNone},
                   {"other.ini", kOther},
                   {"other.ini.in1", kOther}};
    QTest::newRow("Save after New INI writes the new file")
        << FileMap{}
        << QStringList{"actSaveINI | Enter", "rm sample.ini.in1", "actINI | =fresh Enter",
                       "actSaveINI | Enter"}
        << FileMap{{"sample.ini", kSample}, {"sample.ini.in1", kNone}, {"fresh.ini", ""}};
    QTest::newRow("Save after renaming the root twice writes the second name")
        << FileMap{} << QStringList{"actSaveINI | Enter",
                                    "rm sample.ini.in1",
                                    "F2 sample.ini | =first.ini Enter",
                                    "actSaveINI | Enter",
                                    "actSaveINI | Enter",
                                    "rm first.ini.in1",
                                    "F2 first.ini | =second.ini Enter",
                                    "actSaveINI | Enter"}
        << FileMap{{"sample.ini", kSample},
                   {"sample.ini.in1", kNone},
                   {"first.ini", kSample},
                   {"first.ini.in1", kNone},
                   {"second.ini", kSample}};
    QTest::newRow("Open's save question writes the opened file")
        << FileMap{}
        << QStringList{"actSaveINI | Enter", "rm sample.ini.in1", "actOpen | =other.ini Enter",
                       "F2 q=1 | =q=5 Enter", "actOpen | Enter | Enter | Escape"}
        << FileMap{{"sample.ini", kSample},
                   {"sample.ini.in1", kNone},
                   {"other.ini", "[o]\nq=5\nr=2\n"},
                   {"other.ini.in1", kOther}};
    QTest::newRow("New INI's save question writes the new file")
        << FileMap{}
        << QStringList{"actSaveINI | Enter", "rm sample.ini.in1", "actINI | =fresh Enter",
                       "actINI | Enter | Enter | =next Enter"}
        << FileMap{{"sample.ini", kSample}, {"sample.ini.in1", kNone}, {"fresh.ini", ""}};

    // Open offers the path last chosen in it; a save elsewhere or a
    // cancelled dialog does not move it.
    QTest::newRow("Open offers its own path after a save in another folder")
        << FileMap{}
        << QStringList{"actOpen | =sub Enter ^A =inner.ini Enter",
                       "actSaveINI | =.. Enter =elsewhere.ini Enter", "actOpen | Enter"}
        << FileMap{{"elsewhere.ini", kInner}, {"sub/inner.ini", kInner}};
    QTest::newRow("Open offers its own path after a save cancelled elsewhere")
        << FileMap{{"inner.ini", "[top]\n"}}
        << QStringList{"actOpen | =sub Enter ^A =inner.ini Enter", "actSaveINI | =.. Enter Escape",
                       "actOpen | Enter"}
        << FileMap{{"inner.ini", "[top]\n"}};
    QTest::newRow("a new document is saved where the last file was chosen")
        << FileMap{}
        << QStringList{"actOpen | =sub Enter ^A =inner.ini Enter", "actSaveINI | =.. Enter Escape",
                       "actINI | =fresh Enter", "actSaveINI | Enter"}
        << FileMap{{"sub/fresh.ini", ""}, {"fresh.ini", kNone}};

    // What the in-place editor shows is what the commands see.
    QTest::newRow("an open edit is finished before Close INI asks")
        << FileMap{} << QStringList{"F2 Depth=8 | =Depth=99", "actClearAll | Enter | Enter"}
        << FileMap{{"sample.ini", "[main]\nDepth=99\nName=x\n"}, {"sample.ini.in1", kSample}};
    QTest::newRow("an open edit is finished before Save")
        << FileMap{} << QStringList{"F2 Depth=8 | =Depth=99", "actSaveINI | Enter"}
        << FileMap{{"sample.ini", "[main]\nDepth=99\nName=x\n"}, {"sample.ini.in1", kSample}};
    QTest::newRow("an open edit is finished before Exit asks")
        << FileMap{} << QStringList{"F2 Name=x | =Name=y", "actExit | Enter | Enter"}
        << FileMap{{"sample.ini", "[main]\nDepth=8\nName=y\n"}};
    QTest::newRow("an unchanged editor asks nothing")
        << FileMap{} << QStringList{"F2 Depth=8 | -", "actClearAll", "actOpen | =other.ini Enter"}
        << FileMap{{"sample.ini", kSample}, {"sample.ini.in1", kNone}};
    QTest::newRow("Escape still cancels the edit")
        << FileMap{} << QStringList{"F2 Depth=8 | =Depth=1 Escape", "actExit"}
        << FileMap{{"sample.ini", kSample}};
}

void SessionsTest::sessions() {
    QFETCH(FileMap, extra);
    QFETCH(QStringList, steps);
    QFETCH(FileMap, expected);
    FileMap files = kFolder;
    files.insert(extra);
    SessionPlayer session(files, "sample.ini");
    QVERIFY(session.valid());
    for (const QString& step : steps) {
        const QString failure = session.Play(step);
        QVERIFY2(failure.isEmpty(), qPrintable(step + ": " + failure));
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(session.model().disk.value(it.key(), kNone), it.value());
}

// A typed text the document's encoding cannot hold is refused when the
// edit is finished: the warning shows, and neither the command nor the
// window's close goes on.
void SessionsTest::refusedEditStopsTheCommand() {
    const QByteArray latin = "[main]\nName=caf\xe9\n";
    SessionPlayer session(FileMap{{"latin.ini", latin}}, "latin.ini");
    QVERIFY(session.valid());
    TForm1& window = session.window();
    const QStringList tree = keyloft::test::Tree(window);
    for (const char* close : {"actClearAll", "close"}) {
        window.selectNode(keyloft::test::NodeNamed(window, "Name=caf\u00e9"));
        QTest::keyClick(window.treeView(), Qt::Key_F2);
        QLineEdit* editor = nullptr;
        for (auto* line : window.treeView()->findChildren<QLineEdit*>())
            if (line->isVisible()) editor = line;
        QVERIFY(editor != nullptr);
        keyloft::test::Type(editor, "\u0142=1");
        DialogScript script;
        script.pressKey(Qt::Key_Return).rejectUnexpected().start();
        if (QString(close) == "close") {
            window.close();
        } else {
            QVERIFY(keyloft::test::Trigger(window, close));
        }
        QVERIFY2(script.finished(), qPrintable(script.describe()));
        QCOMPARE(keyloft::test::DialogLines(script.seen()).size(), 1);
        QCOMPARE(script.seen()[0].title, QString("Warning"));
        QVERIFY(window.isVisible());
        QCOMPARE(keyloft::test::Tree(window), tree);
        QVERIFY(!window.document().ItemsChanged);
    }
    QCOMPARE(keyloft::test::FilesBelow(QDir::currentPath()), (FileMap{{"latin.ini", latin}}));
}

// A dialog returns the file its name field names even when its listing
// still has another file selected: shown again after choosing sample.ini,
// with "other" put into the field before it has the focus, it returns
// other.ini (QFileDialog itself would return sample.ini).
void SessionsTest::dialogsTakeTheNameField_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("dlgSave1") << true;
    QTest::newRow("dlgOpen1") << false;
}

void SessionsTest::dialogsTakeTheNameField() {
    QFETCH(bool, save);
    QTemporaryDir dir;
    QVERIFY(keyloft::test::WriteFile(dir.filePath("sample.ini"), kSample));
    QVERIFY(keyloft::test::WriteFile(dir.filePath("other.ini"), kOther));
    QWidget parent;
    const auto dialog =
        save ? keyloft::ui::NewSaveDialog(&parent) : keyloft::ui::NewOpenDialog(&parent);
    QCOMPARE(dialog->objectName(), QString(save ? "dlgSave1" : "dlgOpen1"));
    auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(name != nullptr);
    QStringList chosen;
    for (const QString typed : {"sample.ini", "other"}) {
        dialog->setDirectory(dir.path());
        name->setText(typed);
        DialogScript script;
        script.acceptOffered().rejectUnexpected().start();
        if (dialog->exec() == QDialog::Accepted) chosen << dialog->selectedFiles();
        QVERIFY2(script.finished(), qPrintable(script.describe()));
    }
    QCOMPARE(chosen, (QStringList{dir.filePath("sample.ini"), dir.filePath("other.ini")}));
}

void SessionsTest::randomSessions_data() {
    QTest::addColumn<unsigned>("seed");
    for (unsigned seed = 1; seed <= 16; ++seed) QTest::addRow("seed %u", seed) << seed;
}

void SessionsTest::randomSessions() {
    QFETCH(unsigned, seed);
    const QString failure = RunRandomSession(seed);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

// Runs random sessions for KEYLOFT_EXPLORE_SECONDS seconds, from seed
// KEYLOFT_EXPLORE_SEED on, and prints every failing one.
void SessionsTest::explore() {
    const int seconds = qEnvironmentVariableIntValue("KEYLOFT_EXPLORE_SECONDS");
    if (seconds <= 0) QSKIP("KEYLOFT_EXPLORE_SECONDS is not set");
    unsigned seed = static_cast<unsigned>(qEnvironmentVariableIntValue("KEYLOFT_EXPLORE_SEED"));
    if (seed == 0) seed = std::random_device()();
    QElapsedTimer clock;
    clock.start();
    int sessions = 0;
    int steps = 0;
    QStringList failures;
    // A dialog that failed the test leaves it failed: the sessions after it
    // would tell nothing.
    while (clock.elapsed() < seconds * 1000LL && !QTest::currentTestFailed()) {
        const QString failure = RunRandomSession(seed, &steps);
        ++sessions;
        if (!failure.isEmpty()) {
            failures << failure;
            qInfo("%s", qPrintable(failure));
        }
        ++seed;
    }
    qInfo("explored %d sessions, %d steps, %lld failing", sessions, steps,
          static_cast<long long>(failures.size()));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join('\n')));
}

QTEST_MAIN(SessionsTest)
#include "tst_sessions.moc"
