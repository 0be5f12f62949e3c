// What the printer text file needs of a printer: text measured and drawn in
// one font, and page breaks.
#pragma once

#include <string_view>

namespace keyloft {

struct Extent {
    int width = 0;
    int height = 0;
};

// What the layout needs of a printer. Every figure is in device units of the
// printable area, whose top-left corner is (0, 0) on each page; the surface
// measures and draws in one font, chosen before the layout starts.
class PrintSurface {
public:
    virtual ~PrintSurface() = default;
    virtual int PageWidth() const = 0;
    virtual int PageHeight() const = 0;
    virtual int AverageCharWidth() const = 0;
    virtual int CharHeight() const = 0;
    // Size of a run as drawn. An empty run still has the font's height.
    virtual Extent Measure(std::string_view run) const = 0;
    // Draws a run with its top-left corner at (x, y).
    virtual void Draw(int x, int y, std::string_view run) = 0;
    // Ends the current page and starts the next one.
    virtual void NewPage() = 0;
};

// How the bytes form characters: wrapping never splits one.
enum class TextEncoding {
    SingleByte,  // every byte is a character
    Utf8,        // a lead byte and its continuation bytes are one character
};

}  // namespace keyloft
