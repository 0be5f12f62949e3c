// Loading a file into the document and saving the document to a file.
#include "IniFile.h"

#include "Document.h"
#include "FileSystem.h"
#include "IniReader.h"

#include <algorithm>

namespace keyloft {

std::string_view FileNameOfPath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

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

// Collects the output and hands it on in large pieces.
class Output {
public:
    explicit Output(const std::function<void(std::string_view)>& write) : write_(write) {
        buffer_.reserve(kPiece + 4096);
    }
    void Append(std::string_view bytes) {
        if (buffer_.size() + bytes.size() > kPiece) Flush();
        if (bytes.size() > kPiece) {
            write_(bytes);
            last_ = bytes.empty() ? last_ : bytes.back();
            return;
        }
        buffer_.append(bytes);
        if (!bytes.empty()) last_ = bytes.back();
    }
    // Appends raw bytes kept from the file. A lone CR written as a line
    // break must not meet an LF that starts them: the two would read as one.
    void AppendRaw(std::string_view raw) {
        if (!raw.empty() && raw.front() == '\n' && last_ == '\r') Append("\n");
        Append(raw);
    }
    void DropLast(std::size_t n) {  // only what is still buffered
        buffer_.resize(buffer_.size() - std::min(n, buffer_.size()));
        last_ = buffer_.empty() ? '\0' : buffer_.back();
    }
    void Flush() {
        if (!buffer_.empty()) write_(buffer_);
        buffer_.clear();
    }

private:
    static constexpr std::size_t kPiece = 1 << 20;
    const std::function<void(std::string_view)>& write_;
    std::string buffer_;
    char last_ = '\0';
};

}  // namespace

void SerializeDocument(const Document& doc, const std::function<void(std::string_view)>& write) {
    const std::string& eol = doc.LineEnding();
    Output out(write);
    if (doc.HasByteOrderMark()) out.Append("\xEF\xBB\xBF");
    out.Append(doc.Head());
    const Node* first = doc.First();
    const bool hasLines = first != nullptr && first->hasChildren();
    // Lines added to a file without sections start on a line of their own.
    if (hasLines && !doc.Head().empty() && doc.Head().back() != '\n' && doc.Head().back() != '\r') {
        out.Append(eol);
    }
    for (const Node* node = first; node != nullptr; node = Document::Next(node)) {
        if (node == first) continue;  // the root names the file; it is no line
        out.AppendRaw(node->leading());
        out.Append(node->text());
        out.Append(eol);
    }
    // A NUL cut the last line short in the file: it follows that line's text
    // directly, and a line break there would change the line on reading.
    if (doc.NulCutsLastLine() && hasLines) out.DropLast(eol.size());
    out.AppendRaw(doc.Tail());
    out.Flush();
}

std::string SerializeDocument(const Document& doc) {
    std::string text;
    SerializeDocument(doc, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

SaveResult SaveIniFile(const Document& doc, const std::string& path, bool backup) {
    SaveResult result;
    result.backupMade = ReplaceFileWithBackup(
        path, [&doc](const std::function<void(std::string_view)>& write) { SerializeDocument(doc, write); },
        backup ? Backup::Keep : Backup::None);
    return result;
}

std::string SaveReport(std::string_view name, const SaveResult& result) {
    std::string report = "INI File saved as " + std::string(name);
    if (result.backupMade) report += ", original file was backed up as *.in1";
    return report;
}

std::string BackupName(const std::string& path) { return path + ".in1"; }

}  // namespace keyloft
