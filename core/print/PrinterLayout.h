// The printer text file: lays written text out on printer pages (pen,
// line advance, tabs, wrapping, page breaks) through a measuring and
// drawing surface, so the arithmetic stays free of any printing system.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "print/Dump.h"
#include "print/PrintSurface.h"

namespace keyloft {

// A TextFile whose lines go to a PrintSurface. The page is already open when
// the layout is made; Close draws what is still buffered, and ending the
// page and the job is left to the surface's owner.
class PrinterLayout : public TextFile {
public:
    static constexpr std::size_t kBufferSize = 128;

    // Takes the page size and font figures from `surface` once, now.
    PrinterLayout(PrintSurface& surface, TextEncoding encoding);

    // Appends to the buffer; a full buffer is drawn at once.
    void Write(std::string_view text) override;
    // Appends a line feed and draws everything buffered.
    void WriteLineEnd() override;
    // Draws what is still buffered.
    void Close();

    int PenX() const { return penX_; }
    int PenY() const { return penY_; }
    int LineHeight() const { return lineHeight_; }

private:
    void DrawBuffer(bool all);
    void DrawRun(std::string_view run);
    void Tab();
    void AdvanceLine();
    void NewPage();
    // Start of the character that ends at `end` in `run` (end > 0).
    std::size_t PreviousCharStart(std::string_view run, std::size_t end) const;
    // Bytes at the end of `text` that begin a character not yet complete.
    std::size_t IncompleteTail(std::string_view text) const;

    PrintSurface& surface_;
    TextEncoding encoding_;
    int pageWidth_;
    int pageHeight_;
    int tabWidth_;
    int charHeight_;
    int penX_ = 0;
    int penY_ = 0;
    int lineHeight_ = 0;
    std::array<char, kBufferSize> buffer_{};
    std::size_t used_ = 0;
};

}  // namespace keyloft
