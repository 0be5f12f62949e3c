// Prints the document tree as indented text on the default printer.
#include "DocumentPrinter.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <string_view>

#include "Document.h"
#include "Dump.h"
#include "Failure.h"
#include "PrinterLayout.h"
#include "QtPrintSurface.h"

namespace keyloft::ui {

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
    const auto encoding =
        doc.IsUtf8() ? keyloft::TextEncoding::Utf8 : keyloft::TextEncoding::SingleByte;

    QPainter painter;
    if (!painter.begin(&printer)) throw keyloft::Failure("Printer selected is not valid");
    printing_ = true;
    // Ends the job however the layout ends.
    struct JobEnd {
        QPainter& painter;
        bool& printing;
        ~JobEnd() {
            painter.end();
            printing = false;
        }
    } jobEnd{painter, printing_};

    QtPrintSurface surface(printer, painter, encoding, [] { QCoreApplication::processEvents(); });
    keyloft::PrinterLayout layout(surface, encoding);
    // Line by line, as the dump writes them: every line starts a fresh buffer.
    std::string_view text = dump.text();
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        layout.Write(text.substr(0, end));
        if (end == std::string_view::npos) break;
        layout.WriteLineEnd();
        text.remove_prefix(end + 1);
    }
    layout.Close();
}

}  // namespace keyloft::ui
