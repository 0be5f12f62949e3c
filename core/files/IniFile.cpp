// Loading a file into the document and saving the document to a file.
#include "files/IniFile.h"

#include <algorithm>

#include "document/Document.h"
#include "fast/FastPaths.h"
#include "files/FileSystem.h"
#include "reading/Encoding.h"
#include "reading/IniReader.h"

namespace keyloft {

LoadResult LoadIniFile(Document& doc, const std::string& path) {
    FileBytes file = ReadWholeFile(path);
    IniReadingEnd end;
    LoadResult result;
    result.root = doc.ReadFile(FileNameOfPath(path), std::move(file.data), file.size, end);
    result.sectionCount = end.SectionCount;
    result.keyCount = end.KeyCount;
    return result;
}

std::string LoadReport(const LoadResult& result) {
    return "Loaded, " + std::to_string(result.keyCount) + " Keys in " +
           std::to_string(result.sectionCount) + " sections";
}

namespace {

// Collects the output and hands it on in large pieces; knows whether the
// output stands at the start of a line.
class Output {
public:
    Output(const std::function<void(std::string_view)>& write, std::string_view eol)
        : write_(write), eol_(eol) {}
    void Append(std::string_view bytes) {
        if (bytes.empty()) return;
        if (buffer_.size() + bytes.size() > kPiece) Flush();
        if (bytes.size() > kPiece) {
            write_(bytes);
        } else {
            buffer_.append(bytes);
        }
        lineStart_ = bytes.back() == '\n' || bytes.back() == '\r';
        lastCR_ = bytes.back() == '\r';
    }
    // Bytes that do not count as text of a line (the byte-order mark).
    void AppendMark(std::string_view bytes) {
        const bool lineStart = lineStart_;
        Append(bytes);
        lineStart_ = lineStart;
        lastCR_ = false;
    }
    // What follows starts a line of its own: a line that had no break (the
    // file's last) gets the document's break as soon as anything follows it.
    void StartLine() {
        if (!lineStart_) Append(eol_);
    }
    // Appends raw bytes kept from the file. A lone CR written as a line
    // break must not meet an LF that starts them: the two would read as one.
    void AppendRaw(std::string_view raw) {
        if (!raw.empty() && raw.front() == '\n' && lastCR_) Append("\n");
        Append(raw);
    }
    void Flush() {
        if (!buffer_.empty()) write_(buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t kPiece = 1 << 20;
    const std::function<void(std::string_view)>& write_;
    std::string_view eol_;
    std::string buffer_;
    bool lineStart_ = true;
    bool lastCR_ = false;
};

// Writes a node's line and its subtree: a line nobody changed exactly as it
// stood, a changed one as its text with its own break, a new one as its text
// with the document's break. Unchanged lines that follow each other in the
// file are written as one piece of it, with what was dropped between them.
class SubtreeWriter {
public:
    SubtreeWriter(const Document& doc, Output& out)
        : doc_(doc), out_(out), trailingOwner_(doc.TrailingOwner()) {}
    ~SubtreeWriter() = default;

    void Write(const Node* node, int depth) {
        if (depth > 0) WriteLine(node);
        node->forEachChild([&](const Node* child) {
            // Most children are lines with nothing after them to write.
            if (child->hasChildren() || child == trailingOwner_)
                Write(child, depth + 1);
            else
                WriteLine(child);
        });
        if (node == trailingOwner_) {
            Flush();
            out_.StartLine();
            out_.AppendRaw(doc_.Trailing());
        }
    }
    // Writes the pending run of unchanged lines.
    void Flush() {
        if (last_ == nullptr) return;
        const std::string_view line = last_->lineWithBreak();
        out_.Append({begin_, static_cast<std::size_t>(line.data() + line.size() - begin_)});
        last_ = nullptr;
    }

private:
    void WriteLine(const Node* node) {
        const bool unchanged = node->unchanged();
        if (unchanged && last_ != nullptr && node->followsInFile(last_)) {
            last_ = node;
            return;
        }
        Flush();
        const std::string_view leading = node->leading();
        if (!leading.empty()) {
            out_.StartLine();
            out_.AppendRaw(leading);
        }
        out_.StartLine();
        if (unchanged) {
            begin_ = node->fileLine().data();
            last_ = node;
        } else {
            out_.Append(node->changedLine());
            out_.Append(node->fileLine().empty() ? std::string_view(doc_.LineEnding())
                                                 : node->lineBreak());
        }
    }

    const Document& doc_;
    Output& out_;
    const Node* const trailingOwner_;
    const char* begin_ = nullptr;
    const Node* last_ = nullptr;
};

void SerializeText(const Document& doc, const std::function<void(std::string_view)>& write) {
    Output out(write, doc.LineEnding());
    if (doc.HasByteOrderMark()) out.AppendMark("\xEF\xBB\xBF");
    out.Append(doc.Head());
    SubtreeWriter writer(doc, out);
    for (int row = 0; row < doc.TopLevelCount(); ++row) writer.Write(doc.TopLevel(row), 0);
    writer.Flush();
    // What follows a NUL was never read: it stays at the very end, and what
    // was added stands before it, where the next load reads it.
    out.Append(doc.Tail());
    out.Flush();
}

}  // namespace

void SerializeDocument(const Document& doc, const std::function<void(std::string_view)>& write) {
    ClearUpperVectorHalves();
    const Utf16Order utf16 = doc.Utf16();
    if (utf16 != Utf16Order::None) {
        // The text is written as it would be in UTF-8, then encoded a piece
        // at a time; every piece holds whole lines.
        write(utf16 == Utf16Order::Big ? std::string_view("\xFE\xFF", 2)
                                       : std::string_view("\xFF\xFE", 2));
        std::string units;
        SerializeText(doc, [&](std::string_view piece) {
            units.clear();
            EncodeUtf16(piece, utf16, units);
            write(units);
        });
        write(doc.Utf16Tail());
        return;
    }
    SerializeText(doc, write);
}

std::string SerializeDocument(const Document& doc) {
    std::string text;
    SerializeDocument(doc, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

SaveResult SaveIniFile(const Document& doc, const std::string& path, bool backup) {
    SaveResult result;
    result.backupMade = ReplaceFileWithBackup(
        path,
        [&doc](const std::function<void(std::string_view)>& write) {
            SerializeDocument(doc, write);
        },
        backup ? Backup::Keep : Backup::None);
    return result;
}

std::string SaveReport(std::string_view name, const SaveResult& result) {
    std::string report = "INI File saved as " + std::string(name);
    if (result.backupMade) report += ", original file was backed up as *.in1";
    return report;
}

}  // namespace keyloft
