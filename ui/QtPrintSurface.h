// The print surface over a QPainter that is drawing on a QPrinter.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <functional>
#include <string_view>

#include "PrintSurface.h"

class QPainter;
class QPrinter;

namespace keyloft::ui {

// Measures and draws node texts in the default user-interface font at
// 8 points, in the printer's device units. The painter must be active on the
// printer for the surface's whole life; the surface sets the painter's font.
class QtPrintSurface : public keyloft::PrintSurface {
public:
    // `pageDone` runs after each page is handed to the printer and a new one
    // is started.
    QtPrintSurface(QPrinter& printer, QPainter& painter, keyloft::TextEncoding encoding,
                   std::function<void()> pageDone);

    int PageWidth() const override { return pageWidth_; }
    int PageHeight() const override { return pageHeight_; }
    int AverageCharWidth() const override;
    int CharHeight() const override;
    keyloft::Extent Measure(std::string_view run) const override;
    void Draw(int x, int y, std::string_view run) override;
    void NewPage() override;

private:
    // Node texts are bytes: UTF-8 for a UTF-8 document, Windows-1252 otherwise.
    QString Decode(std::string_view run) const;

    QPrinter& printer_;
    QPainter& painter_;
    keyloft::TextEncoding encoding_;
    std::function<void()> pageDone_;
    QFont font_;
    QFontMetrics metrics_;
    int pageWidth_;
    int pageHeight_;
};

}  // namespace keyloft::ui
