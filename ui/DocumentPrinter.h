// Prints the document tree as indented text on the default printer.
#pragma once

#include <QString>

class QPainter;
class QPrinter;

namespace keyloft {
class Document;
}

namespace keyloft::ui {

// One job at a time, straight to the default printer: no dialog, no
// preview. The default printer is looked up when the first job opens and
// kept for the rest of the run.
class DocumentPrinter {
public:
    virtual ~DocumentPrinter() = default;

    // Prints every node of `doc` in tree order, indented by two blanks per
    // level, each as the tree shows it. Pending events run between pages, so the document may
    // change or a print be asked for meanwhile; what is printed is the document as it was when the
    // call began. Throws keyloft::Failure, before any job started, with "Printing in progress"
    // while a job is being laid out, "There is no default printer currently selected", or "Printer
    // selected is not valid" when the printer cannot be used, and with "Printing failed" when the
    // printing system refuses a page or the end of the job (the job is then abandoned where the
    // system allows it).
    void Print(const keyloft::Document& doc);
    bool IsPrinting() const { return printing_; }

protected:
    // The two calls that hand the work to the printing system: the next page
    // (QPrinter::newPage) and the end of the job (QPainter::end). Each
    // returns false when the system refused.
    virtual bool StartNextPage(QPrinter& printer);
    virtual bool EndJob(QPainter& painter);

private:
    QString printerName_;
    bool printing_ = false;
};

}  // namespace keyloft::ui
