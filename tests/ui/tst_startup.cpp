// Start-up of the main window: which command lines load a file, how the
// root names it, and that a run leaves nothing behind in the home folder.
#include <unistd.h>

#include <QAction>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>

#include "DialogScript.h"
#include "SpecialFiles.h"
#include "WindowProbe.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::test::DialogScript;
using keyloft::test::Run;

namespace {

// The editor's run: HOME and XDG_CONFIG_HOME point here from before Qt
// starts, for this whole test program and the editors it starts.
QString gHome;

QByteArray Bytes(const QString& path) { return QFile::encodeName(path); }

// Every entry under `folder`, hidden ones included, as paths relative to it.
QStringList EntriesUnder(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) entries << QDir(folder).relativeFilePath(it.next());
    return entries;
}

// Titles of the top-level windows on the X display that carry a class, as
// every window the user sees does (Qt's hidden helper windows have none).
QStringList WindowTitles() {
    QProcess process;
    process.start("xwininfo", {"-root", "-tree"});
    if (!process.waitForFinished(10000)) return {"<xwininfo failed>"};
    QStringList titles;
    static const QRegularExpression title("^\\s*0x[0-9a-f]+ \"(.*)\": \\(\"");
    for (const QString& line :
         QString::fromLocal8Bit(process.readAllStandardOutput()).split('\n')) {
        const auto match = title.match(line);
        if (match.hasMatch()) titles << match.captured(1);
    }
    return titles;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandLine_data();
    void commandLine();
    void bareNameInCurrentFolder();
    void failedStartupLoadShowsErrorFirst();
    void argumentsAsTyped_data();
    void argumentsAsTyped();
    void keepsNothingBetweenRuns();

private:
    // Holds "my settings.ini", and "my" so that the first half of that name
    // is an existing file too.
    QTemporaryDir dir_;
};

void StartupTest::initTestCase() {
    QVERIFY(dir_.isValid());
    const QString sample = QStringLiteral(KEYLOFT_SOURCE_DIR "/examples/sample.ini");
    QVERIFY(QFile::copy(sample, dir_.filePath("my settings.ini")));
    QVERIFY(QFile::copy(sample, dir_.filePath("my")));
    QVERIFY(QFile::copy(sample, dir_.filePath("bare.cfg")));
    QVERIFY(keyloft::test::MakeFifo(Bytes(dir_.filePath("fifo.ini"))));
    QVERIFY(keyloft::test::MakeSocket(Bytes(dir_.filePath("socket.ini"))));
    // A Latin-1 name (not valid UTF-8), and a UTF-8 name over Windows-1252
    // content.
    const QByteArray latin1Path = Bytes(dir_.path()) + "/caf\xE9.ini";
    const QByteArray utf8Path = Bytes(dir_.path()) + "/caf\xC3\xA9.ini";
    for (const QByteArray& path : {latin1Path, utf8Path}) {
        FILE* file = std::fopen(path.constData(), "wb");
        QVERIFY(file != nullptr);
        std::fputs("[s]\r\nk=caf\xE9\r\n", file);
        std::fclose(file);
    }
    // Files that fail to load, for any user: reading a process's memory
    // from address 0 gives EIO. Their error dialog shows they were taken.
    QVERIFY(QFile::link("/proc/self/mem", dir_.filePath("-reverse")));
    QVERIFY(QFile::link("/proc/self/mem", dir_.filePath("unreadable")));
}

void StartupTest::cleanupTestCase() {
    // QTemporaryDir cannot name a file whose name is not valid UTF-8.
    QCOMPARE(::unlink((Bytes(dir_.path()) + "/caf\xE9.ini").constData()), 0);
}

void StartupTest::commandLine_data() {
    QTest::addColumn<QList<QByteArray>>("arguments");
    QTest::addColumn<QByteArray>("root");  // the root's bytes; empty: nothing loaded
    QTest::addColumn<QString>("shown");    // the root as the tree shows it

    const QByteArray sample = KEYLOFT_SOURCE_DIR "/examples/sample.ini";
    const QByteArray dir = Bytes(dir_.path());
    using Args = QList<QByteArray>;
    QTest::newRow("no argument") << Args{} << QByteArray() << QString();
    QTest::newRow("one file") << Args{sample} << QByteArray("sample.ini") << "sample.ini";
    QTest::newRow("a folder") << Args{KEYLOFT_SOURCE_DIR} << QByteArray() << QString();
    QTest::newRow("missing file") << Args{sample + ".missing"} << QByteArray() << QString();
    QTest::newRow("two arguments") << Args{sample, sample} << QByteArray() << QString();
    QTest::newRow("path with a blank as one argument")
        << Args{dir + "/my settings.ini"} << QByteArray("my settings.ini") << "my settings.ini";
    QTest::newRow("path with a blank as two arguments")
        << Args{dir + "/my", "settings.ini"} << QByteArray() << QString();
    QTest::newRow("a FIFO") << Args{dir + "/fifo.ini"} << QByteArray() << QString();
    QTest::newRow("a device") << Args{"/dev/null"} << QByteArray() << QString();
    QTest::newRow("a socket") << Args{dir + "/socket.ini"} << QByteArray() << QString();
    QTest::newRow("a name that is not UTF-8")
        << Args{dir + "/caf\xE9.ini"} << QByteArray("caf\xE9.ini")
        << QString("caf") + QChar(0xFFFD) + ".ini";
    QTest::newRow("a UTF-8 name over Windows-1252 content")
        << Args{dir + "/caf\xC3\xA9.ini"} << QByteArray("caf\xC3\xA9.ini")
        << QString("caf") + QChar(0xE9) + ".ini";
}

void StartupTest::commandLine() {
    QFETCH(QList<QByteArray>, arguments);
    QFETCH(QByteArray, root);
    QFETCH(QString, shown);
    // A FIFO is never opened; a start-up that waits on it is set free after
    // a few seconds, and fails.
    keyloft::test::FifoGuard guard(Bytes(dir_.filePath("fifo.ini")), std::chrono::seconds(3));
    DialogScript script;
    script.rejectUnexpected().start();
    TForm1 window(arguments);
    QVERIFY(!guard.freedAReader());
    QVERIFY2(script.seen().empty(), qPrintable(script.describe()));
    QCOMPARE(window.windowTitle(), QString("Keyloft 1.0"));
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(!window.document().ItemsChanged);
    if (root.isEmpty()) {
        QCOMPARE(window.document().Count(), std::size_t{0});
        return;
    }
    QVERIFY(window.document().Count() > 1);
    const std::string_view text = window.document().First()->storedText();
    QCOMPARE(QByteArray(text.data(), static_cast<qsizetype>(text.size())), root);
    QCOMPARE(keyloft::test::Shown(window, window.document().First()), shown);
    QCOMPARE(window.selectedNode(), window.document().First());
}

void StartupTest::bareNameInCurrentFolder() {
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    TForm1 window(QList<QByteArray>{"bare.cfg"});
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(window.document().Count() > 1);
    QCOMPARE(QString::fromStdString(std::string(window.document().First()->storedText())),
             QString("bare.cfg"));
}

void StartupTest::failedStartupLoadShowsErrorFirst() {
    DialogScript script;
    script.clickButton("OK").start();
    // An existing file whose reading fails, for any user: reading a process's
    // memory from address 0 gives EIO.
    TForm1 window(QList<QByteArray>{"/proc/self/mem"});
    QVERIFY2(script.finished(), qPrintable(script.describe()));
    QCOMPARE(script.seen().front().title, QString("INI Files editor"));
    QCOMPARE(script.seen().front().text, QString("I/O error 5."));
    QCOMPARE(window.statusText(), QString());
    QCOMPARE(window.document().Count(), std::size_t{0});
}

// The real editor, started in the test folder: an argument is a file name
// even when it looks like one of the toolkit's options. Whether it was taken
// shows in the first window that appears: the failure report of a file that
// fails to load, or the main window when nothing was loaded.
void StartupTest::argumentsAsTyped_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("firstWindow");
    QTest::newRow("a file named -reverse") << QStringList{"-reverse"} << "INI Files editor";
    QTest::newRow("a toolkit option and a file: three arguments")
        << QStringList{"-style", "fusion", "unreadable"} << "Keyloft 1.0";
    QTest::newRow("one file") << QStringList{"unreadable"} << "INI Files editor";
}

void StartupTest::argumentsAsTyped() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, firstWindow);
    const QStringList before = WindowTitles();
    QProcess editor;
    editor.setWorkingDirectory(dir_.path());
    editor.start(KEYLOFT_EXE, arguments);
    QVERIFY(editor.waitForStarted());
    // The failure report wins: its parent's window exists while it shows.
    const auto firstShown = [&before] {
        QStringList titles = WindowTitles();
        for (const QString& title : before) titles.removeOne(title);
        for (const QString& title : {QString("INI Files editor"), QString("Keyloft 1.0")}) {
            if (titles.contains(title)) return title;
        }
        return QString();
    };
    QString appeared;
    const bool shown =
        keyloft::test::WaitFor([&] { return !(appeared = firstShown()).isEmpty(); }, 20000);
    // A new window is named after the application for a moment before its
    // title is set, and a report about to show will have shown: look again.
    QTest::qWait(500);
    appeared = firstShown();
    editor.kill();
    editor.waitForFinished();
    // The X server drops the windows of a killed client a moment later.
    keyloft::test::WaitFor([&] { return firstShown().isEmpty(); }, 5000);
    QVERIFY2(shown, "no window of the editor appeared");
    QCOMPARE(appeared, firstWindow);
}

// Nothing of a run is kept for the next one: opening and accepting both
// file dialogs, then closing the window, leaves the home folder empty.
void StartupTest::keepsNothingBetweenRuns() {
    QVERIFY(!gHome.isEmpty());
    QCOMPARE(EntriesUnder(gHome), QStringList{});
    QTemporaryDir work;
    QVERIFY(work.isValid());
    QVERIFY(QFile::copy(QStringLiteral(KEYLOFT_SOURCE_DIR "/examples/sample.ini"),
                        work.filePath("state.ini")));
    {
        TForm1 window;
        QVERIFY(keyloft::test::ShowWindow(window));
        const auto open = Run(window, "actOpen",
                              [&](DialogScript& s) { s.chooseFile(work.filePath("state.ini")); });
        QVERIFY2(open.finished && open.count() == 1, qPrintable(open.description));
        QCOMPARE(window.document().First()->storedText(), std::string_view("state.ini"));
        const auto save = Run(window, "actSaveINI", [](DialogScript& s) { s.acceptOffered(); });
        QVERIFY2(save.finished && save.count() == 1, qPrintable(save.description));
        QVERIFY(QFile::exists(work.filePath("state.ini.in1")));
        window.close();
    }
    QCOMPARE(EntriesUnder(gHome), QStringList{});
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid()) return 1;
    gHome = home.path();
    qputenv("HOME", QFile::encodeName(gHome));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(gHome + "/.config"));
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    StartupTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
