// End-to-end print tests: the real window prints to a private CUPS server
// whose default queue writes a PDF; pdftotext reads back where each word
// landed.
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPrinter>
#include <QPrinterInfo>
#include <QtTest>
#include <algorithm>
#include <cmath>

#include "DocumentPrinter.h"
#include "IniTreeView.h"
#include "PrintTestSupport.h"
#include "WindowProbe.h"
#include "base/Failure.h"
#include "document/Document.h"
#include "frmMain.h"

using keyloft::test::DialogScript;
using keyloft::test::OpenWindow;
using keyloft::test::Outcome;
using keyloft::test::Run;
using keyloft::test::Trigger;
using printtest::PrintedLine;

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void printsEveryNodeIndentedByLevel();
    void keepsTheLineOfAnEmptyKey();
    void wrapsLongLinesAtTheLeftEdge();
    void fillsPagesByTheLineHeight();
    void decodesNodeTexts_data();
    void decodesNodeTexts();
    void laysOutRightToLeftLinesFromTheirIndentation();
    void printsTheDocumentAsItWasWhenAsked();
    void refusesASecondPrintWhileLayingOut();
    void emptyDocumentPrintsNothing();
    void reportsAFailedJob_data();
    void reportsAFailedJob();
    // Changes the server's queues: keep it last.
    void keepsTheFirstPrinterForTheRun();

private:
    using Pages = QList<QList<PrintedLine>>;

    // Triggers Print INI and waits for the server to finish the job: the
    // printed pages, or none when no job came out or a dialog showed.
    Pages PrintFrom(TForm1& window);
    Pages WaitForOutput(qsizetype jobsBefore);
    // Print INI, its dialogs answered by `answers`, with the action
    // `meanwhile` triggered from the first event the window handles during
    // it: between pages the window takes commands.
    struct Interleaved {
        Outcome print;
        bool meanwhileRan = false;  // triggered, and before the print returned
        qsizetype jobsBefore = 0;   // completed jobs before the print
    };
    static Interleaved PrintMeanwhile(TForm1& window, const char* meanwhile,
                                      const QStringList& answers);
    // A page's lines, each led by as many blanks as the room left of it
    // measures, or by "<N blanks>" when that is no whole number.
    QStringList Text(const QList<PrintedLine>& lines) const;
    static QString RootText(TForm1& window);

    QString output_;
    // Left edge of the printable area and width of a blank, in points.
    double left_ = 0;
    double blank_ = 0;
};

void TestPrint::initTestCase() {
    QVERIFY2(!qEnvironmentVariableIsEmpty("CUPS_SERVER"),
             "run through ctest: the print_server fixture provides the server");
    output_ = qEnvironmentVariable("KEYLOFT_PRINT_OUTPUT");
    QVERIFY(!output_.isEmpty());
    QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), QString("keyloft-pdf"));

    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    left_ = printer.pageLayout().paintRect(QPageLayout::Point).left();
    blank_ =
        QFontMetricsF(font, &printer).horizontalAdvance(QChar(' ')) * 72.0 / printer.resolution();
    QVERIFY(blank_ > 0.5);
}

void TestPrint::init() {
    QVERIFY(printtest::WaitUntilIdle());
    QFile::remove(output_);
}

QString TestPrint::RootText(TForm1& window) {
    const keyloft::Node* root = window.document().First();
    if (root == nullptr) return {};
    return QString::fromUtf8(root->storedText().data(),
                             static_cast<qsizetype>(root->storedText().size()));
}

TestPrint::Pages TestPrint::WaitForOutput(qsizetype jobsBefore) {
    if (!printtest::WaitUntilIdle()) return {};
    if (printtest::Jobs("completed").size() != jobsBefore + 1) return {};
    return printtest::PdfLines(output_);
}

TestPrint::Pages TestPrint::PrintFrom(TForm1& window) {
    const qsizetype jobsBefore = printtest::Jobs("completed").size();
    const Outcome out = Run(window, "actPrint");
    if (!out.finished || out.count() != 0) {
        qWarning() << "print:" << out.description;
        return {};
    }
    return WaitForOutput(jobsBefore);
}

TestPrint::Interleaved TestPrint::PrintMeanwhile(TForm1& window, const char* meanwhile,
                                                 const QStringList& answers) {
    Interleaved result;
    bool printReturned = false;
    QTimer::singleShot(0, &window, [&] {
        const bool duringPrint = !printReturned;
        result.meanwhileRan = Trigger(window, meanwhile) && duringPrint;
    });
    result.jobsBefore = printtest::Jobs("completed").size();
    result.print = Run(window, "actPrint", answers);
    printReturned = true;
    return result;
}

QStringList TestPrint::Text(const QList<PrintedLine>& lines) const {
    QStringList texts;
    for (const PrintedLine& line : lines) {
        const double blanks = (line.x - left_) / blank_;
        const long whole = std::lround(blanks);
        if (whole < 0 || std::abs(blanks - static_cast<double>(whole)) > 0.1) {
            texts << QString("<%1 blanks>%2").arg(blanks).arg(line.text);
        } else {
            texts << QString(whole, ' ') + line.text;
        }
    }
    return texts;
}

void TestPrint::printsEveryNodeIndentedByLevel() {
    auto window = OpenWindow("[a]\r\nx=1\r\n[b]\r\n[c]\r\n;note\r\nkey=two words\r\n");
    QVERIFY(window);
    // Every section collapsed: what is hidden is printed all the same.
    QVERIFY(Trigger(*window, "actCollapseAll"));
    QVERIFY(!window->treeView()->isExpanded(window->treeView()->model()->index(0, 0)));

    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 1);
    const QStringList expected{
        RootText(*window), "  [a]", "    x=1", "  [b]", "  [c]", "    ;note", "    key=two words",
    };
    QCOMPARE(Text(pages[0]), expected);
    QVERIFY(!window->document().ItemsChanged);
}

// A key node whose text is empty still takes its line: the next line comes
// two line heights down. (Its blanks leave nothing pdftotext can see.)
void TestPrint::keepsTheLineOfAnEmptyKey() {
    auto window = OpenWindow("[a]\r\nx=1\r\n");
    QVERIFY(window);
    keyloft::Document& doc = window->document();
    keyloft::Node* section = doc.First()->child(0);
    doc.AddChild(section, "");
    doc.AddChild(section, "y=2");

    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 1);
    const QList<PrintedLine>& lines = pages[0];
    QCOMPARE(Text(lines), (QStringList{RootText(*window), "  [a]", "    x=1", "    y=2"}));
    const double line = lines[2].y - lines[1].y;
    QVERIFY(line > 0);
    QVERIFY(qAbs(lines[1].y - lines[0].y - line) < 0.01);
    QVERIFY2(qAbs(lines[3].y - lines[2].y - 2 * line) < 0.01,
             qPrintable(QString("%1 after a line of %2").arg(lines[3].y - lines[2].y).arg(line)));
}

void TestPrint::wrapsLongLinesAtTheLeftEdge() {
    QByteArray words;
    for (int i = 0; i < 60; ++i) words += "word" + QByteArray::number(i) + "_";
    auto window = OpenWindow("[long]\r\nkey=" + words + "\r\nafter=1\r\n");
    QVERIFY(window);

    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 1);
    const QStringList lines = Text(pages[0]);
    QVERIFY2(lines.size() >= 5, qPrintable(lines.join('\n')));
    QCOMPARE(lines[1], QString("  [long]"));
    QVERIFY2(lines[2].startsWith("    key=word0_"), qPrintable(lines[2]));
    // The continuation lines start at the left edge, and together the lines
    // hold the whole text in order.
    QString joined = lines[2].mid(4);
    qsizetype i = 3;
    for (; i < lines.size() - 1; ++i) {
        QVERIFY2(!lines[i].startsWith(' ') && !lines[i].startsWith('<'), qPrintable(lines[i]));
        joined += lines[i];
    }
    QVERIFY(i > 3);
    QCOMPARE(joined, "key=" + QString::fromLatin1(words));
    QCOMPARE(lines.last(), QString("    after=1"));
}

// Lines per page follow from the page height and the line height, the
// font's height + 2 device units: a line goes on the page while its top
// stays within the page less two lines.
void TestPrint::fillsPagesByTheLineHeight() {
    QPrinter printer(QPrinterInfo::defaultPrinter(), QPrinter::HighResolution);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    const int lineHeight = QFontMetrics(font, &printer).height() + 2;
    const int perPage = printer.height() / lineHeight - 1;
    QVERIFY(perPage > 10);

    // The root and one section, then keys to fill two pages and 5 lines.
    const int keys = 2 * perPage + 5 - 2;
    QByteArray ini = "[s]\r\n";
    for (int k = 0; k < keys; ++k) ini += "k" + QByteArray::number(k) + "=v\r\n";
    auto window = OpenWindow(ini);
    QVERIFY(window);

    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages[0].size(), perPage);
    QCOMPARE(pages[1].size(), perPage);
    QCOMPARE(pages[2].size(), 5);
    QCOMPARE(Text(pages[0]).first(), RootText(*window));
    QCOMPARE(Text(pages[1]).first(), "    k" + QString::number(perPage - 2) + "=v");
    QCOMPARE(Text(pages[2]).last(), "    k" + QString::number(keys - 1) + "=v");
    // Every page starts at the top of the printable area.
    QVERIFY(qAbs(pages[1].first().y - pages[0].first().y) < 0.01);
    QVERIFY(qAbs(pages[2].first().y - pages[0].first().y) < 0.01);
}

void TestPrint::decodesNodeTexts_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");  // of the file: the root, printed as shown
    const QString name = QString::fromUtf8("\xC3\xA9t\xC3\xA9.ini");
    QTest::newRow("utf-8") << QByteArray("[s]\r\nname=caf\xC3\xA9\xE2\x82\xAC\r\n")
                           << QString::fromUtf8("    name=caf\xC3\xA9\xE2\x82\xAC") << name;
    QTest::newRow("windows-1252") << QByteArray("[s]\r\nname=caf\xE9\x80\r\n")
                                  << QString::fromUtf8("    name=caf\xC3\xA9\xE2\x82\xAC") << name;
}

void TestPrint::decodesNodeTexts() {
    QFETCH(QByteArray, file);
    QFETCH(QString, key);
    QFETCH(QString, name);
    auto window = OpenWindow(file, name);
    QVERIFY(window);
    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(Text(pages[0]), (QStringList{name, "  [s]", key}));
}

// A line whose first letter reads right to left starts at its indentation,
// as in the tree; its right-to-left run reads from right to left within it.
// pdftotext gives such a run's letters one by one, left to right as printed.
void TestPrint::laysOutRightToLeftLinesFromTheirIndentation() {
    const QString key = QString(
        "\u05E2\u05D1\u05E8\u05D9\u05EA=\u05E9\u05DC\u05D5\u05DD "
        "\u05E2\u05D5\u05DC\u05DD");
    auto window = OpenWindow(("[s]\r\n" + key + "\r\nafter=1\r\n").toUtf8());
    QVERIFY(window);
    const Pages pages = PrintFrom(*window);
    QCOMPARE(pages.size(), 1);
    const QStringList lines = Text(pages[0]);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], QString("  [s]"));
    QCOMPARE(lines[3], QString("    after=1"));
    QString printed = lines[2];
    QVERIFY2(printed.startsWith("    ") && !printed.startsWith("     "), qPrintable(printed));
    printed.remove(' ');
    QString visual = key;
    visual.remove(' ');
    std::reverse(visual.begin(), visual.end());
    QCOMPARE(printed, visual);
}

// Between pages the window takes commands: Close INI clears the tree while
// the job is being laid out, and the job still prints the whole document.
void TestPrint::printsTheDocumentAsItWasWhenAsked() {
    QByteArray ini;
    for (int s = 0; s < 40; ++s) {
        ini += "[section" + QByteArray::number(s) + "]\r\n";
        for (int k = 0; k < 9; ++k)
            ini += "key" + QByteArray::number(k) + "=" + QByteArray::number(s) + "\r\n";
    }
    auto window = OpenWindow(ini);
    QVERIFY(window);
    const QString root = RootText(*window);

    const Interleaved printed = PrintMeanwhile(*window, "actClearAll", {});
    QVERIFY2(printed.print.finished && printed.print.count() == 0,
             qPrintable(printed.print.description));
    QVERIFY(printed.meanwhileRan);
    QCOMPARE(window->document().Count(), std::size_t{0});

    const Pages pages = WaitForOutput(printed.jobsBefore);
    QVERIFY(pages.size() >= 2);
    QStringList lines;
    for (const auto& page : pages) lines += Text(page);
    QCOMPARE(lines.size(), 1 + 40 * 10);
    QCOMPARE(lines.first(), root);
    QCOMPARE(lines[1], QString("  [section0]"));
    QCOMPARE(lines.last(), QString("    key8=39"));
}

// A print asked for between pages fails with the error dialog; the running
// job goes on to its end.
void TestPrint::refusesASecondPrintWhileLayingOut() {
    QByteArray ini;
    for (int k = 0; k < 300; ++k)
        ini += k % 10 == 0 ? "[s" + QByteArray::number(k) + "]\r\n" : "k=v\r\n";
    auto window = OpenWindow(ini);
    QVERIFY(window);

    const Interleaved printed = PrintMeanwhile(*window, "actPrint", {"OK"});
    const Outcome& out = printed.print;
    QVERIFY(printed.meanwhileRan);
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("INI Files editor"));
    QCOMPARE(out.seen[0].text, QString("Printing in progress."));
    QCOMPARE(out.seen[0].icon, QMessageBox::Critical);

    const Pages pages = WaitForOutput(printed.jobsBefore);
    QVERIFY(pages.size() >= 2);
    qsizetype lines = 0;
    for (const auto& page : pages) lines += page.size();
    QCOMPARE(lines, 1 + 300);
    // Once the job is done, the next print goes through, asking nothing.
    QCOMPARE(PrintFrom(*window).size(), pages.size());
}

void TestPrint::emptyDocumentPrintsNothing() {
    TForm1 window;
    const QStringList jobsBefore = printtest::Jobs("all");
    const Outcome out = Run(window, "actPrint", {"OK"});

    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("Information"));
    QCOMPARE(out.seen[0].text, QString("No INI file is loaded"));
    QCOMPARE(printtest::Jobs("all"), jobsBefore);
    QVERIFY(!QFile::exists(output_));
}

namespace {

// A printer whose printing system refuses the next page or the end of the
// job; the end is still handed over, so the server is left without a job.
class RefusingPrinter : public keyloft::ui::DocumentPrinter {
public:
    enum class Refuses { NextPage, End };
    explicit RefusingPrinter(Refuses refuses) : refuses_(refuses) {}

protected:
    bool StartNextPage(QPrinter& printer) override {
        return refuses_ == Refuses::NextPage ? false : DocumentPrinter::StartNextPage(printer);
    }
    bool EndJob(QPainter& painter) override {
        const bool ended = DocumentPrinter::EndJob(painter);
        return refuses_ == Refuses::End ? false : ended;
    }

private:
    Refuses refuses_;
};

}  // namespace

Q_DECLARE_METATYPE(RefusingPrinter::Refuses)

// A page or an end of job the printing system refuses is reported as the
// failure of the command, once, and the status line says nothing of a print.
void TestPrint::reportsAFailedJob_data() {
    QTest::addColumn<RefusingPrinter::Refuses>("refuses");
    QTest::newRow("next page") << RefusingPrinter::Refuses::NextPage;
    QTest::newRow("end of the job") << RefusingPrinter::Refuses::End;
}

void TestPrint::reportsAFailedJob() {
    QFETCH(RefusingPrinter::Refuses, refuses);
    QByteArray ini;
    for (int k = 0; k < 300; ++k)
        ini += k % 10 == 0 ? "[s" + QByteArray::number(k) + "]\r\n" : "k=v\r\n";
    auto window = OpenWindow(ini);
    QVERIFY(window);
    window->usePrinter(std::make_unique<RefusingPrinter>(refuses));
    const QString status = window->statusText();

    const Outcome out = Run(*window, "actPrint", {"OK"});
    QVERIFY2(out.finished, qPrintable(out.description));
    QCOMPARE(out.count(), 1);
    QCOMPARE(out.seen[0].title, QString("INI Files editor"));
    QCOMPARE(out.seen[0].text, QString("Printing failed."));
    QCOMPARE(out.seen[0].icon, QMessageBox::Critical);
    QCOMPARE(window->statusText(), status);
    QVERIFY(printtest::WaitUntilIdle());
}

// The printer found by the first job stays the printer: once it is gone,
// printing fails even though another default printer exists.
void TestPrint::keepsTheFirstPrinterForTheRun() {
    QVERIFY(printtest::Run("lpadmin", {"-p", "keyloft-gone", "-E", "-v", "file:///dev/null"}));
    QVERIFY(printtest::Run("lpadmin", {"-d", "keyloft-gone"}));
    auto restoreDefault = qScopeGuard([] {
        printtest::Run("lpadmin", {"-x", "keyloft-gone"});
        printtest::Run("lpadmin", {"-d", "keyloft-pdf"});
    });

    keyloft::Document doc;
    doc.AddRoot("r.ini");
    keyloft::ui::DocumentPrinter printer;
    const qsizetype jobsBefore = printtest::Jobs("completed").size();
    printer.Print(doc);
    QVERIFY(printtest::WaitUntilIdle());
    QCOMPARE(printtest::Jobs("completed").size(), jobsBefore + 1);
    QVERIFY(!QFile::exists(output_));

    QVERIFY(printtest::Run("lpadmin", {"-x", "keyloft-gone"}));
    QVERIFY(printtest::Run("lpadmin", {"-d", "keyloft-pdf"}));
    restoreDefault.dismiss();
    QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), QString("keyloft-pdf"));
    const QStringList jobsLeft = printtest::Jobs("all");
    try {
        printer.Print(doc);
        QFAIL("printed on a printer that is gone");
    } catch (const keyloft::Failure& failure) {
        QCOMPARE(QString(failure.what()), QString("Printer selected is not valid"));
    }
    QVERIFY(!printer.IsPrinting());
    QCOMPARE(printtest::Jobs("all"), jobsLeft);
    QVERIFY(!QFile::exists(output_));
}

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
