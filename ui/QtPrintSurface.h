// The print surface over a QPainter that is drawing on a QPrinter.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <functional>
#include <string_view>

#include "print/PrintSurface.h"

class QPainter;
class QPrinter;

namespace keyloft::ui {

// Measures and draws node texts in the default user-interface font at
// 8 points, in the printer's device units. The painter must be active on the
// printer for the surface's whole life; the surface sets the painter's font.
class QtPrintSurface : public keyloft::PrintSurface {
public:
    // `nextPage` hands the page to the printer and starts a new one; it
    // returns false when the printing system refused, and NewPage then throws
    // keyloft::Failure("Printing failed").
    QtPrintSurface(QPrinter& printer, QPainter& painter, keyloft::TextEncoding encoding,
                   std::function<bool()> nextPage);

    int PageWidth() const override { return pageWidth_; }
    int PageHeight() const override { return pageHeight_; }
    int AverageCharWidth() const override;
    int CharHeight() const override;
    keyloft::Extent Measure(std::string_view run) const override;
    void Draw(int x, int y, std::string_view run) override;
    void NewPage() override;

private:
    // A run of node bytes as shown: UTF-8, or Windows-1252 for single bytes.
    QString Decode(std::string_view run) const;

    QPainter& painter_;
    keyloft::TextEncoding encoding_;
    std::function<bool()> nextPage_;
    QFont font_;
    QFontMetrics metrics_;
    int pageWidth_;
    int pageHeight_;
};

}  // namespace keyloft::ui
