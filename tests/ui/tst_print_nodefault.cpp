// Printing when there is no default printer: a private CUPS server without
// any queue. The error dialog shows and nothing is printed.
#include <QAction>
#include <QFile>
#include <QPrinterInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "Document.h"
#include "DocumentPrinter.h"
#include "Failure.h"
#include "PrintTestSupport.h"
#include "frmMain.h"

class TestPrintNoDefault : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowShowsTheErrorAndKeepsTheDocument();
    void printerFailsBeforeAnyJob();

private:
    QTemporaryDir dir_;
};

void TestPrintNoDefault::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CUPS_SERVER"),
             "run through ctest: the print_server_empty fixture provides the server");
    QVERIFY(dir_.isValid());
    // The server answers, and has no queue.
    QCOMPARE(printtest::Run("lpstat", {"-r"}).value_or("").trimmed(),
             QString("scheduler is running"));
    QVERIFY(QPrinterInfo::availablePrinterNames().isEmpty());
    QVERIFY(QPrinterInfo::defaultPrinter().isNull());
}

void TestPrintNoDefault::windowShowsTheErrorAndKeepsTheDocument() {
    const QString path = dir_.filePath("settings.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[a]\r\nx=1\r\n[b]\r\n");
    file.close();
    TForm1 window(QList<QByteArray>{QFile::encodeName(path)});
    keyloft::Document& doc = window.document();
    QCOMPARE(doc.Count(), std::size_t{4});
    auto* print = window.findChild<QAction*>("actPrint");
    QVERIFY(print != nullptr);

    // Twice: a failed lookup is not kept, the next print looks again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        printtest::DialogAnswerer answerer;
        print->trigger();
        QCOMPARE(answerer.seen.size(), 1);
        QCOMPARE(answerer.seen[0].title, QString("INI Files editor"));
        QCOMPARE(answerer.seen[0].text, QString("There is no default printer currently selected."));
        QCOMPARE(answerer.seen[0].icon, QMessageBox::Critical);
    }
    QCOMPARE(doc.Count(), std::size_t{4});
    QVERIFY(!doc.ItemsChanged);
    QVERIFY(printtest::Jobs("all").isEmpty());
}

void TestPrintNoDefault::printerFailsBeforeAnyJob() {
    keyloft::Document doc;
    doc.AddRoot("r.ini");
    keyloft::ui::DocumentPrinter printer;
    try {
        printer.Print(doc);
        QFAIL("printed without a default printer");
    } catch (const keyloft::Failure& failure) {
        QCOMPARE(QString(failure.what()),
                 QString("There is no default printer currently selected"));
    }
    QVERIFY(!printer.IsPrinting());
    QVERIFY(printtest::Jobs("all").isEmpty());
}

QTEST_MAIN(TestPrintNoDefault)
#include "tst_print_nodefault.moc"
