// keyloft-ini: the editor's core on the command line. Reads and changes INI
// files the way the editor does, and saves them through the editor's save.
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Document.h"
#include "Dump.h"
#include "Failure.h"
#include "FileSystem.h"
#include "IniFile.h"
#include "IniQuery.h"
#include "IniReader.h"
#include "Lint.h"
#include "UnifiedDiff.h"
#include "cli/WriterLock.h"

namespace {

using namespace keyloft;

constexpr const char* kUsage =
    R"(usage: keyloft-ini COMMAND [OPTIONS] FILE [SECTION [KEY [VALUE]]]

  keyloft-ini dump FILE                  print the tree the editor shows, indented
  keyloft-ini sections FILE              print the name of every section
  keyloft-ini get FILE SECTION [KEY]     print the key's value, or every line
                                         of the sections named SECTION
  keyloft-ini set [--existing] [--backup] [--dry-run] FILE SECTION KEY VALUE
                                         make the key's line KEY=VALUE, adding
                                         the key (and the section) if missing
  keyloft-ini del [--backup] [--dry-run] FILE SECTION [KEY]
                                         remove the key's line, or every
                                         section named SECTION with its lines
  keyloft-ini comment [--backup] [--dry-run] FILE SECTION [KEY]
  keyloft-ini uncomment [--backup] [--dry-run] FILE SECTION [KEY]
                                         put ";" in front of the key, or of the
                                         sections and their keys; or take it off
  keyloft-ini lint FILE                  print FILE:LINE: message for each line
                                         that readers may take differently
  keyloft-ini --help | --version

Names are matched exactly, letter case counted. SECTION is the text between
a header's brackets, KEY the text before the first "=" of an uncommented line,
both without the blanks around them. Sections that share a name are searched
in file order; get, set and del work on the first line of that key.

Lines the command does not change are written back byte for byte; set
changes only the value's bytes of an existing line, comment and uncomment
one ";". The file is replaced atomically, keeping its mode, owner and group,
through a symbolic link if it is one (written in place when it has other
hard links or a new file could not keep its owner and group). A file this
user may not write, or one that holds a NUL byte, is not changed. Options
may stand anywhere after the command word; "--" ends them.
  --existing  a missing section or key is an error instead of being added
  --backup    keep the old file as FILE.in1 (an existing FILE.in1 is an error)
  --dry-run   change nothing; print the change as a unified diff

dump, sections, get and lint read standard input for FILE "-", and pipes.
Writers on one file take turns: each holds an exclusive flock() on the file
from reading it to saving it, and after locking checks that the path still
names the locked file (device and inode); when another writer has renamed
its new file into place meanwhile, it locks again.

Exit status: 0 done; 1 not found, refused, lint findings, or a file error;
2 bad usage.
)";

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

struct Command {
    std::string word;
    bool existing = false;
    bool backup = false;
    bool dryRun = false;
    std::vector<std::string> operands;
};

struct UsageError {
    std::string message;
};

void Print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintLine(std::string_view text) {
    Print(text);
    std::fputc('\n', stdout);
}

void Error(std::string_view path, std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "keyloft-ini: %.*s: %.*s\n", static_cast<int>(path.size()), path.data(),
                 static_cast<int>(message.size()), message.data());
}

// Writes dump lines to standard output, gathered into large pieces: a
// million nodes would otherwise cost three locked stdio calls each.
class StdoutTextFile : public TextFile {
public:
    ~StdoutTextFile() override { Flush(); }
    void Write(std::string_view text) override { Append(text); }
    void WriteLineEnd() override { Append("\n"); }
    void WriteLine(std::string_view indent, std::string_view text) override {
        const std::size_t size = indent.size() + text.size() + 1;
        if (used_ + size > kPiece) {
            Flush();
            if (size > kPiece) {
                Print(indent);
                Print(text);
                Print("\n");
                return;
            }
        }
        // An empty view may have no data at all: std::copy takes that.
        char* at = std::copy(indent.begin(), indent.end(), buffer_.get() + used_);
        at = std::copy(text.begin(), text.end(), at);
        *at = '\n';
        used_ += size;
    }
    void Flush() {
        Print({buffer_.get(), used_});
        used_ = 0;
    }

private:
    void Append(std::string_view text) {
        if (used_ + text.size() > kPiece) {
            Flush();
            if (text.size() > kPiece) return Print(text);
        }
        std::copy(text.begin(), text.end(), buffer_.get() + used_);
        used_ += text.size();
    }

    static constexpr std::size_t kPiece = 64 * 1024;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kPiece);
    std::size_t used_ = 0;
};

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool HasBlankEnds(std::string_view text) {
    return !text.empty() && Trim(text).size() != text.size();
}

Command Parse(int argc, char** argv) {
    Command command;
    command.word = argv[1];
    struct Shape {
        const char* word;
        std::size_t least, most;
        bool writes, existing;
    };
    static const Shape shapes[] = {
        {"dump", 1, 1, false, false},     {"sections", 1, 1, false, false},
        {"get", 2, 3, false, false},      {"set", 4, 4, true, true},
        {"del", 2, 3, true, false},       {"comment", 2, 3, true, false},
        {"uncomment", 2, 3, true, false}, {"lint", 1, 1, false, false},
    };
    const Shape* shape = nullptr;
    for (const Shape& s : shapes) {
        if (command.word == s.word) shape = &s;
    }
    if (shape == nullptr) throw UsageError{"unknown command \"" + command.word + "\""};

    bool options = true;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options && arg == "--") {
            options = false;
        } else if (options && arg.size() > 1 && arg.front() == '-') {
            if (arg == "--existing" && shape->existing) {
                command.existing = true;
            } else if (arg == "--backup" && shape->writes) {
                command.backup = true;
            } else if (arg == "--dry-run" && shape->writes) {
                command.dryRun = true;
            } else {
                throw UsageError{"no option " + arg + " for " + command.word +
                                 " (\"--\" before an operand that begins with \"-\")"};
            }
        } else {
            command.operands.push_back(arg);
        }
    }
    const std::size_t n = command.operands.size();
    if (n < shape->least || n > shape->most)
        throw UsageError{"wrong number of operands for " + command.word};
    if (shape->writes && command.operands[0] == "-") {
        throw UsageError{command.word + " changes a file: standard input cannot be one"};
    }
    for (std::size_t i = 1; i < n; ++i) {
        if (HasLineBreak(command.operands[i]))
            throw UsageError{"a name or value holds a line break"};
    }
    if (n >= 3 && command.operands[2].find('=') != std::string::npos) {
        throw UsageError{"KEY holds \"=\""};
    }
    if (command.word == "set") {
        // The line written must read back as that key with that value.
        const std::string& section = command.operands[1];
        const std::string& key = command.operands[2];
        const std::string& value = command.operands[3];
        if (HasBlankEnds(section)) throw UsageError{"SECTION begins or ends with a blank"};
        if (Trim(key).empty() || HasBlankEnds(key))
            throw UsageError{"KEY is empty or begins or ends with a blank"};
        if (key.front() == ';') throw UsageError{"KEY begins with \";\", which comments the line"};
        if (HasBlankEnds(value)) throw UsageError{"VALUE begins or ends with a blank"};
        if (key.front() == '[' && !value.empty() && value.back() == ']') {
            throw UsageError{"KEY=VALUE would read as a section header"};
        }
    }
    return command;
}

// Reads FILE into `doc` as a load would; keeps a copy of the bytes in
// `bytes` when asked.
void Load(Document& doc, const std::string& path, FileBytes file, std::string* bytes) {
    if (bytes != nullptr) bytes->assign(file.data.get(), file.size);
    IniReadingEnd end;
    doc.ReadFile(FileNameOfPath(path), std::move(file.data), file.size, end);
}

std::optional<std::string> OptionalKey(const Command& command) {
    if (command.operands.size() < 3) return std::nullopt;
    return command.operands[2];
}

int Read(const Command& command) {
    const std::string& path = command.operands[0];
    if (command.word == "lint") {
        const FileBytes file = ReadWholeInput(path);
        const auto findings = LintIni({file.data.get(), file.size});
        for (const LintFinding& f : findings)
            PrintLine(path + ":" + std::to_string(f.line) + ": " + f.message);
        return findings.empty() ? kDone : kFailed;
    }
    Document doc;
    Load(doc, path, ReadWholeInput(path), nullptr);
    if (command.word == "dump") {
        StdoutTextFile out;
        DumpTreeviewToTextfile(doc, out);
        out.Flush();
        return kDone;
    }
    if (command.word == "sections") {
        for (const Node* section : doc.First()->children()) {
            if (const auto name = PlainSectionName(section->text())) PrintLine(*name);
        }
        return kDone;
    }
    const std::string& name = command.operands[1];
    const std::vector<Node*> sections = SectionsNamed(doc, name);
    if (sections.empty()) {
        Error(path, "no section [" + name + "]");
        return kFailed;
    }
    if (const auto key = OptionalKey(command)) {
        const Node* line = FirstKeyNamed(sections, *key);
        if (line == nullptr) {
            Error(path, "no key " + *key + " in [" + name + "]");
            return kFailed;
        }
        PrintLine(ValueOfLine(line->text()));
        return kDone;
    }
    for (const Node* section : sections) {
        for (const Node* line : section->children()) PrintLine(line->text());
    }
    return kDone;
}

// The line of `bytes` that holds the byte at `at`, counted from 1 as the
// reading cuts lines (CR LF, a lone CR, a lone LF).
std::size_t LineOf(const char* bytes, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at; ++i) {
        if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= at || bytes[i + 1] != '\n'))) ++line;
    }
    return line;
}

int Write(const Command& command) {
    const std::string& path = command.operands[0];
    const cli::WriterLock lock(path);
    Document doc;
    std::string before;
    FileBytes file = ReadWholeFile(path);
    const char* const bytes = file.data.get();
    Load(doc, path, std::move(file), command.dryRun ? &before : nullptr);
    // The reading stops at a NUL: a change written before it would be the
    // only one other readers do not see.
    if (!doc.Tail().empty()) {
        const std::size_t at = static_cast<std::size_t>(doc.Tail().data() - bytes);
        Error(path, "line " + std::to_string(LineOf(bytes, at)) +
                        " holds a NUL byte: the file is not changed");
        return kFailed;
    }

    const std::string& section = command.operands[1];
    EditResult result;
    if (command.word == "set") {
        result =
            SetKeyValue(doc, section, command.operands[2], command.operands[3], command.existing);
    } else if (command.word == "del") {
        result = DeleteEntry(doc, section, OptionalKey(command));
    } else {
        result = CommentEntry(doc, section, OptionalKey(command), command.word == "comment");
    }
    if (result.outcome == EditOutcome::NotFound || result.outcome == EditOutcome::Refused) {
        Error(path, result.message);
        return kFailed;
    }
    if (result.outcome == EditOutcome::Unchanged) return kDone;
    if (command.dryRun) {
        // What the save would refuse, a dry run refuses too.
        CheckMayReplace(path, command.backup ? Backup::Keep : Backup::None);
        Print(UnifiedDiff(before, SerializeDocument(doc), path));
    } else {
        SaveIniFile(doc, path, command.backup);
    }
    return kDone;
}

// The tool lives for one command, and a large file's tree is built from
// many small blocks on the heap, each page of which costs a fault when first
// touched. The heap is grown once by a pad that is marked for huge pages, as
// the core's large blocks are; untouched pages of it cost nothing. Later
// growth is the allocator's usual one, so a machine that counts every
// reservation (strict overcommit) is asked for the pad once at most.
void PrepareHeap() {
    constexpr std::size_t kHugePage = 2 * 1024 * 1024;
    constexpr int kPad = 128 * static_cast<int>(kHugePage);
    constexpr int kUsualPad = 128 * 1024;
    if (mallopt(M_TRIM_THRESHOLD, 2 * kPad) == 0 || mallopt(M_TOP_PAD, kPad) == 0) return;
    // Blocks under the mmap threshold come from the heap's top; a few of
    // them make it grow, by the pad.
    const auto start = reinterpret_cast<std::uintptr_t>(sbrk(0));
    void* blocks[4] = {};
    for (void*& block : blocks) {
        if (reinterpret_cast<std::uintptr_t>(sbrk(0)) != start) break;
        block = std::malloc(120 * 1024);
    }
    const auto end = reinterpret_cast<std::uintptr_t>(sbrk(0));
    const std::uintptr_t from = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (end != static_cast<std::uintptr_t>(-1) && end > from) {
        madvise(reinterpret_cast<void*>(from), end - from, MADV_HUGEPAGE);
    }
    for (void* block : blocks) std::free(block);
    mallopt(M_TOP_PAD, kUsualPad);
}

// Standard output written out: `status`, or a failure when it could not be.
int Flushed(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "keyloft-ini: cannot write the output: %s\n", std::strerror(errno));
        return kFailed;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    const bool info = first == "--help" || first == "--version";
    if (argc == 2 && info) {
        if (first == "--help")
            Print(kUsage);
        else
            PrintLine("keyloft-ini 1.0");
        return Flushed(kDone);
    }
    Command command;
    try {
        if (argc < 2) throw UsageError{"no command"};
        if (info) throw UsageError{first + " takes no further arguments"};
        command = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "keyloft-ini: %s\nTry \"keyloft-ini --help\".\n", e.message.c_str());
        return kBadUsage;
    }
    PrepareHeap();
    int status;
    try {
        const bool writes = command.word == "set" || command.word == "del" ||
                            command.word == "comment" || command.word == "uncomment";
        status = writes ? Write(command) : Read(command);
    } catch (const Failure& failure) {
        Error(command.operands[0], FailureReportText(failure.what()));
        return kFailed;
    }
    return Flushed(status);
}
