// Loading a file into the document and saving the document to a file.
#include "IniFile.h"

#include "Document.h"
#include "FileSystem.h"
#include "IniReader.h"

namespace keyloft {

std::string_view FileNameOfPath(std::string_view path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

LoadResult LoadIniFile(Document& doc, const std::string& path) {
    FileBytes file = ReadWholeFile(path);
    TextArena arena;
    const IniReading reading = ReadIni({file.data.get(), file.size}, arena);
    LoadResult result;
    result.sectionCount = reading.Sections.size();
    result.keyCount = reading.KeyCount;
    result.root = doc.Rebuild(FileNameOfPath(path), std::move(file.data), file.size,
                              std::move(arena), reading);
    return result;
}

std::string LoadReport(const LoadResult& result) {
    return "Loaded, " + std::to_string(result.keyCount) + " Keys in " +
           std::to_string(result.sectionCount) + " sections";
}

namespace {

// Appends raw bytes kept from the file. A lone CR written as a line break
// must not meet an LF that starts them: the two would read as one break.
void AppendRaw(std::string& out, std::string_view raw) {
    if (!raw.empty() && raw.front() == '\n' && !out.empty() && out.back() == '\r') out.push_back('\n');
    out.append(raw);
}

}  // namespace

std::string SerializeDocument(const Document& doc) {
    const std::string& eol = doc.LineEnding();
    std::string out;
    std::size_t size = 3 + doc.Head().size() + eol.size() + doc.Tail().size();
    for (const Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        size += node->leading().size() + node->text().size() + eol.size() + 1;
    }
    out.reserve(size);
    if (doc.HasByteOrderMark()) out.append("\xEF\xBB\xBF");
    out.append(doc.Head());
    const Node* first = doc.First();
    const bool hasLines = first != nullptr && first->hasChildren();
    // Lines added to a file without sections start on a line of their own.
    if (hasLines && !doc.Head().empty() && doc.Head().back() != '\n' && doc.Head().back() != '\r') {
        out.append(eol);
    }
    for (const Node* node = first; node != nullptr; node = Document::Next(node)) {
        if (node == first) continue;  // the root names the file; it is no line
        AppendRaw(out, node->leading());
        out.append(node->text());
        out.append(eol);
    }
    // A NUL cut the last line short in the file: it follows that line's text
    // directly, and a line break there would change the line on reading.
    if (doc.NulCutsLastLine() && hasLines) out.resize(out.size() - eol.size());
    AppendRaw(out, doc.Tail());
    return out;
}

SaveResult SaveIniFile(const Document& doc, const std::string& path) {
    SaveResult result;
    result.backupMade = ReplaceFileWithBackup(path, SerializeDocument(doc));
    return result;
}

std::string SaveReport(std::string_view name, const SaveResult& result) {
    std::string report = "INI File saved as " + std::string(name);
    if (result.backupMade) report += ", original file was backed up as *.in1";
    return report;
}

std::string BackupName(const std::string& path) { return path + ".in1"; }

}  // namespace keyloft
