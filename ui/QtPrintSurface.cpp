// The print surface over a QPainter that is drawing on a QPrinter.
#include "QtPrintSurface.h"

#include <QFontDatabase>
#include <QPainter>
#include <QPrinter>
#include <utility>

#include "DocumentText.h"
#include "base/Failure.h"

namespace keyloft::ui {

namespace {

QFont PrintFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

}  // namespace

// Metrics taken for the printer turn the font's points into device units at
// the printer's resolution.
QtPrintSurface::QtPrintSurface(QPrinter& printer, QPainter& painter, keyloft::TextEncoding encoding,
                               std::function<bool()> nextPage)
    : painter_(painter),
      encoding_(encoding),
      nextPage_(std::move(nextPage)),
      font_(PrintFont()),
      metrics_(font_, &printer),
      pageWidth_(printer.width()),
      pageHeight_(printer.height()) {
    painter_.setFont(font_);
    // Every line is laid out left to right from its indentation, as the tree
    // shows it, whatever its first letter: a line that starts with a
    // right-to-left word would otherwise begin at the right, its indentation
    // after it. Right-to-left words keep their own order within the line.
    painter_.setLayoutDirection(Qt::LeftToRight);
}

int QtPrintSurface::AverageCharWidth() const { return metrics_.averageCharWidth(); }

int QtPrintSurface::CharHeight() const { return metrics_.height(); }

keyloft::Extent QtPrintSurface::Measure(std::string_view run) const {
    return {metrics_.horizontalAdvance(Decode(run)), metrics_.height()};
}

void QtPrintSurface::Draw(int x, int y, std::string_view run) {
    painter_.drawText(x, y + metrics_.ascent(), Decode(run));
}

void QtPrintSurface::NewPage() {
    if (!nextPage_()) throw keyloft::Failure("Printing failed");
}

QString QtPrintSurface::Decode(std::string_view run) const {
    return LineText(run, encoding_ == keyloft::TextEncoding::Utf8);
}

}  // namespace keyloft::ui
