// What the print tests share: the private print server's tools and the
// printed PDF read back as lines with their places.
// The server comes from CUPS_SERVER (set by tests/ui/print.cmake).
#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QTest>
#include <QXmlStreamReader>
#include <optional>

namespace printtest {

// Runs a command-line tool to its end; its standard output, or nothing when
// it could not run or failed.
inline std::optional<QString> Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(' ')
                             << "failed:" << process.readAllStandardError();
        return std::nullopt;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The server's jobs: `which` is "completed", "not-completed" or "all".
inline QStringList Jobs(const QString& which) {
    return Run("lpstat", {"-W", which, "-o"}).value_or("?").split('\n', Qt::SkipEmptyParts);
}

// Waits until the server has no job left to do.
inline bool WaitUntilIdle(int timeoutMs = 60000) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (Jobs("not-completed").isEmpty()) return true;
        QTest::qWait(100);
    }
    return false;
}

// One printed line as pdftotext finds it: the left edge of its first word
// and its top, in points from the page's top-left corner, and its words
// joined by single blanks.
struct PrintedLine {
    double x = 0;
    double y = 0;
    QString text;
};

// The lines of a PDF, page by page, top to bottom.
inline QList<QList<PrintedLine>> PdfLines(const QString& path) {
    QList<QList<PrintedLine>> pages;
    QXmlStreamReader xml(Run("pdftotext", {"-bbox", path, "-"}).value_or(QString()));
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (xml.name() == u"page") {
            pages.append(QList<PrintedLine>());
        } else if (xml.name() == u"word" && !pages.isEmpty()) {
            const double x = xml.attributes().value("xMin").toDouble();
            const double y = xml.attributes().value("yMin").toDouble();
            const QString word = xml.readElementText();
            QList<PrintedLine>& lines = pages.last();
            if (!lines.isEmpty() && qAbs(lines.last().y - y) < 0.01) {
                lines.last().text += ' ' + word;
            } else {
                lines.append({x, y, word});
            }
        }
    }
    return pages;
}

}  // namespace printtest
