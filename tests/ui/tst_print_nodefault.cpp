// Printing when there is no default printer: a private CUPS server without
// any queue. The error dialog shows and nothing is printed.
#include <QPrinterInfo>
#include <QtTest>

#include "DocumentPrinter.h"
#include "PrintTestSupport.h"
#include "WindowProbe.h"
#include "base/Failure.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::test::DialogScript;
using keyloft::test::Outcome;

class TestPrintNoDefault : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void windowShowsTheErrorAndKeepsTheDocument();
    void printerFailsBeforeAnyJob();
};

void TestPrintNoDefault::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CUPS_SERVER"),
             "run through ctest: the print_server_empty fixture provides the server");
    // The server answers, and has no queue.
    QCOMPARE(printtest::Run("lpstat", {"-r"}).value_or("").trimmed(),
             QString("scheduler is running"));
    QVERIFY(QPrinterInfo::availablePrinterNames().isEmpty());
    QVERIFY(QPrinterInfo::defaultPrinter().isNull());
}

void TestPrintNoDefault::windowShowsTheErrorAndKeepsTheDocument() {
    auto window = keyloft::test::OpenWindow("[a]\r\nx=1\r\n[b]\r\n", "settings.ini");
    QVERIFY(window);
    keyloft::Document& doc = window->document();
    QCOMPARE(doc.Count(), std::size_t{4});

    // Twice: a failed lookup is not kept, the next print looks again.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Outcome out = keyloft::test::Run(*window, "actPrint", {"OK"});
        QVERIFY2(out.finished, qPrintable(out.description));
        QCOMPARE(out.count(), 1);
        QCOMPARE(out.seen[0].title, QString("INI Files editor"));
        QCOMPARE(out.seen[0].text, QString("There is no default printer currently selected."));
        QCOMPARE(out.seen[0].icon, QMessageBox::Critical);
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
