// Page layout of the printer text file.
#include "print/PrinterLayout.h"

#include <algorithm>
#include <cstring>

namespace keyloft {

namespace {

constexpr char kTab = 9;
constexpr char kLineFeed = 10;
constexpr char kFormFeed = 12;
constexpr char kCarriageReturn = 13;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

PrinterLayout::PrinterLayout(PrintSurface& surface, TextEncoding encoding)
    : surface_(surface),
      encoding_(encoding),
      pageWidth_(surface.PageWidth()),
      pageHeight_(surface.PageHeight()),
      // A font without a width would make every tab stop the same place.
      tabWidth_(std::max(1, 8 * surface.AverageCharWidth())),
      charHeight_(surface.CharHeight()) {}

void PrinterLayout::Write(std::string_view text) {
    while (!text.empty()) {
        const std::size_t n = std::min(kBufferSize - used_, text.size());
        std::memcpy(buffer_.data() + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
        if (used_ == kBufferSize) DrawBuffer(false);
    }
}

void PrinterLayout::WriteLineEnd() {
    Write(std::string_view(&kLineFeed, 1));
    DrawBuffer(true);
}

void PrinterLayout::Close() { DrawBuffer(true); }

// `all` false: a full buffer. A UTF-8 character cut by the buffer's end stays
// behind to be drawn with the rest of its bytes.
void PrinterLayout::DrawBuffer(bool all) {
    const std::string_view bytes(buffer_.data(), used_);
    const std::size_t keep = all ? 0 : IncompleteTail(bytes);
    const std::string_view text = bytes.substr(0, used_ - keep);

    std::size_t runStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != kTab && c != kLineFeed && c != kFormFeed && c != kCarriageReturn) continue;
        DrawRun(text.substr(runStart, i - runStart));
        runStart = i + 1;
        if (c == kTab) {
            Tab();
        } else if (c == kLineFeed) {
            AdvanceLine();
        } else if (c == kFormFeed) {
            NewPage();
        }
    }
    DrawRun(text.substr(runStart));

    std::memmove(buffer_.data(), buffer_.data() + text.size(), keep);
    used_ = keep;
}

void PrinterLayout::DrawRun(std::string_view run) {
    while (!run.empty()) {
        std::size_t fit = run.size();
        Extent extent = surface_.Measure(run);
        while (fit > 0 && penX_ + extent.width > pageWidth_) {
            fit = PreviousCharStart(run, fit);
            extent = surface_.Measure(run.substr(0, fit));
        }
        if (fit == 0) {
            if (penX_ > 0) {
                AdvanceLine();
                continue;
            }
            // Not even one character fits a whole line: it goes out clipped
            // rather than being carried from line to line for ever.
            fit = 1;
            if (encoding_ == TextEncoding::Utf8) {
                while (fit < run.size() && IsContinuationByte(run[fit])) ++fit;
            }
            extent = surface_.Measure(run.substr(0, fit));
        }
        if (extent.height > lineHeight_) lineHeight_ = extent.height + 2;
        surface_.Draw(penX_, penY_, run.substr(0, fit));
        if (fit < run.size()) {
            AdvanceLine();
            run.remove_prefix(fit);
        } else {
            penX_ += extent.width;
            run = {};
        }
    }
}

// The first multiple of the tab width greater than pen x + 1.
void PrinterLayout::Tab() {
    const int t = tabWidth_;
    penX_ = penX_ + t - ((penX_ + t + 1) % t) + 1;
    if (penX_ > pageWidth_) AdvanceLine();
}

void PrinterLayout::AdvanceLine() {
    penX_ = 0;
    penY_ += lineHeight_ > 0 ? lineHeight_ : charHeight_;
    if (penY_ > pageHeight_ - 2 * lineHeight_) NewPage();
    lineHeight_ = 0;
}

void PrinterLayout::NewPage() {
    penX_ = 0;
    penY_ = 0;
    surface_.NewPage();
}

std::size_t PrinterLayout::PreviousCharStart(std::string_view run, std::size_t end) const {
    std::size_t start = end - 1;
    if (encoding_ == TextEncoding::Utf8) {
        for (int steps = 0; steps < 3 && start > 0 && IsContinuationByte(run[start]); ++steps) {
            --start;
        }
    }
    return start;
}

std::size_t PrinterLayout::IncompleteTail(std::string_view text) const {
    if (encoding_ != TextEncoding::Utf8) return 0;
    for (std::size_t back = 1; back <= std::min<std::size_t>(3, text.size()); ++back) {
        const auto lead = static_cast<unsigned char>(text[text.size() - back]);
        if ((lead & 0xC0) == 0x80) continue;
        if (lead < 0xC0) return 0;
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        return length > back ? back : 0;
    }
    return 0;
}

}  // namespace keyloft
