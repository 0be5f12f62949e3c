// Prints the document tree as indented text on the default printer.
#pragma once

#include <QString>

namespace keyloft {
class Document;
}

namespace keyloft::ui {

// One job at a time, straight to the default printer: no dialog, no
// preview. The default printer is looked up when the first job opens and
// kept for the rest of the run.
class DocumentPrinter {
public:
    // Prints every node of `doc` in tree order, indented by two blanks per
    // level. Pending events run between pages, so the document may change or
    // a print be asked for meanwhile; what is printed is the document as it
    // was when the call began. Throws keyloft::Failure, before any job
    // started, with "Printing in progress" while a job is being laid out,
    // "There is no default printer currently selected", or "Printer selected
    // is not valid" when the printer cannot be used.
    void Print(const keyloft::Document& doc);
    bool IsPrinting() const { return printing_; }

private:
    QString printerName_;
    bool printing_ = false;
};

}  // namespace keyloft::ui
