// Start-up of the main window: which command lines load a file.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "DialogScript.h"
#include "Document.h"
#include "frmMain.h"

using keyloft::test::DialogScript;

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void bareNameInCurrentFolder();
    void failedStartupLoadShowsErrorFirst();

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
}

void StartupTest::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("root");  // empty: nothing loaded

    const QString sample = QStringLiteral(KEYLOFT_SOURCE_DIR "/examples/sample.ini");
    QTest::newRow("no argument") << QStringList{} << QString();
    QTest::newRow("one file") << QStringList{sample} << "sample.ini";
    QTest::newRow("a folder") << QStringList{QStringLiteral(KEYLOFT_SOURCE_DIR)} << QString();
    QTest::newRow("missing file") << QStringList{sample + ".missing"} << QString();
    QTest::newRow("two arguments") << QStringList{sample, sample} << QString();
    QTest::newRow("path with a blank as one argument")
        << QStringList{dir_.filePath("my settings.ini")} << "my settings.ini";
    QTest::newRow("path with a blank as two arguments")
        << QStringList{dir_.filePath("my"), "settings.ini"} << QString();
}

void StartupTest::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, root);
    TForm1 window(arguments);
    QCOMPARE(window.windowTitle(), QString("Keyloft 1.0"));
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(!window.document().ItemsChanged);
    if (root.isEmpty()) {
        QCOMPARE(window.document().Count(), std::size_t{0});
        return;
    }
    QVERIFY(window.document().Count() > 1);
    QCOMPARE(QString::fromStdString(std::string(window.document().First()->text())), root);
    QCOMPARE(window.selectedNode(), window.document().First());
}

void StartupTest::bareNameInCurrentFolder() {
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    TForm1 window(QStringList{"bare.cfg"});
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(window.statusText(), QString("Ready"));
    QVERIFY(window.document().Count() > 1);
    QCOMPARE(QString::fromStdString(std::string(window.document().First()->text())),
             QString("bare.cfg"));
}

void StartupTest::failedStartupLoadShowsErrorFirst() {
    // An existing file whose reading fails, for any user: reading a process's
    // memory from address 0 gives EIO.
    const QString path = "/proc/self/mem";
    DialogScript script;
    script.clickButton("OK").start();
    TForm1 window(QStringList{path});
    QVERIFY2(script.finished(), qPrintable(script.describe()));
    QCOMPARE(script.seen().front().title, QString("INI Files editor"));
    QCOMPARE(script.seen().front().text, QString("I/O error 5."));
    QCOMPARE(window.statusText(), QString());
    QCOMPARE(window.document().Count(), std::size_t{0});
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
