// Prints the document tree as indented text on the default printer.
#include "DocumentPrinter.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <algorithm>
#include <string>
#include <string_view>

#include "DocumentText.h"
#include "QtPrintSurface.h"
#include "base/Failure.h"
#include "document/Document.h"
#include "print/Dump.h"
#include "print/PrinterLayout.h"

namespace keyloft::ui {

namespace {

// The dump as the tree shows it, in UTF-8. Its first line is the root's
// text alone (level 0 has no indent), a file name; the other lines are in
// the document's encoding.
std::string ShownDump(const keyloft::Document& doc, std::string_view dump) {
    const keyloft::Node* root = doc.First();
    std::string scratch;
    const std::size_t rootEnd =
        root == nullptr ? 0 : std::min(root->text(scratch).size(), dump.size());
    std::string shown = FileNameText(dump.substr(0, rootEnd)).toStdString();
    const std::string_view rest = dump.substr(rootEnd);
    shown += LineTextUtf8(rest, doc.IsUtf8());
    return shown;
}

}  // namespace

bool DocumentPrinter::StartNextPage(QPrinter& printer) { return printer.newPage(); }

bool DocumentPrinter::EndJob(QPainter& painter) { return painter.end(); }

void DocumentPrinter::Print(const keyloft::Document& doc) {
    if (printing_) throw keyloft::Failure("Printing in progress");
    if (printerName_.isEmpty()) {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull()) throw keyloft::Failure("There is no default printer currently selected");
        printerName_ = info.printerName();
    }
    // A QPrinter asked for a printer that is gone quietly takes another one,
    // or a PDF file: only the printer found by the first job will do.
    const QPrinterInfo info = QPrinterInfo::printerInfo(printerName_);
    QPrinter printer(info, QPrinter::HighResolution);
    if (info.isNull() || printer.outputFormat() != QPrinter::NativeFormat ||
        printer.printerName() != printerName_) {
        throw keyloft::Failure("Printer selected is not valid");
    }

    // The commands that run between pages may change or clear the tree, so
    // the job prints a copy of the dump.
    keyloft::StringTextFile dump;
    keyloft::DumpTreeviewToTextfile(doc, dump);
    const std::string shown = ShownDump(doc, dump.text());
    const auto encoding = keyloft::TextEncoding::Utf8;

    QPainter painter;
    if (!painter.begin(&printer)) throw keyloft::Failure("Printer selected is not valid");
    printing_ = true;
    // A job that fails is abandoned, as far as the printing system allows,
    // and ended.
    struct JobEnd {
        QPrinter& printer;
        QPainter& painter;
        bool& printing;
        ~JobEnd() {
            if (painter.isActive()) {
                printer.abort();
                painter.end();
            }
            printing = false;
        }
    } jobEnd{printer, painter, printing_};

    QtPrintSurface surface(printer, painter, encoding, [this, &printer] {
        if (!StartNextPage(printer)) return false;
        QCoreApplication::processEvents();
        return true;
    });
    keyloft::PrinterLayout layout(surface, encoding);
    // Line by line, as the dump writes them: every line starts a fresh buffer.
    std::string_view text = shown;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        layout.Write(text.substr(0, end));
        if (end == std::string_view::npos) break;
        layout.WriteLineEnd();
        text.remove_prefix(end + 1);
    }
    layout.Close();
    if (!EndJob(painter)) throw keyloft::Failure("Printing failed");
}

}  // namespace keyloft::ui
