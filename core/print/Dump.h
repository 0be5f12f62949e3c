// The indented text dump of the document tree, used for printing.
#pragma once

#include <string>
#include <string_view>

namespace keyloft {

class Document;

// A sink of text lines, such as a file, a string or the printer.
class TextFile {
public:
    virtual ~TextFile() = default;
    virtual void Write(std::string_view text) = 0;
    virtual void WriteLineEnd() = 0;
    // One whole line: `indent`, `text`, a line end. Sinks that gather text
    // in memory take it in one call.
    virtual void WriteLine(std::string_view indent, std::string_view text) {
        Write(indent);
        Write(text);
        WriteLineEnd();
    }
};

// Collects the text in memory, lines ending in LF.
class StringTextFile : public TextFile {
public:
    void Write(std::string_view text) override { text_.append(text); }
    void WriteLineEnd() override { text_.push_back('\n'); }
    void WriteLine(std::string_view indent, std::string_view text) override {
        text_.append(indent).append(text).push_back('\n');
    }
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

// Writes every node in tree order, root included: 2 x level blanks, the
// node's text, a line end. A failure of the sink ends the dump with it.
void DumpTreeviewToTextfile(const Document& doc, TextFile& out);

}  // namespace keyloft
