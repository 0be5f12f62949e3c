// keyloft-ini: the editor's core on the command line. Reads and changes INI
// files the way the editor does, and saves them through the editor's save.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// After a C library header, which says whether it is glibc.
#if defined(__GLIBC__)
#include <malloc.h>
#include <unistd.h>
#endif

#include "base/Failure.h"
#include "cli/MergeInput.h"
#include "cli/NewFile.h"
#include "cli/ShellFormat.h"
#include "cli/WriterLock.h"
#include "document/Document.h"
#include "fast/FastPaths.h"
#include "files/FileSystem.h"
#include "files/IniFile.h"
#include "print/Dump.h"
#include "reading/Encoding.h"
#include "reading/IniReader.h"
#include "tool/IniQuery.h"
#include "tool/Lint.h"
#include "tool/UnifiedDiff.h"

namespace {

using namespace keyloft;

constexpr const char* kUsage =
    R"(usage: keyloft-ini COMMAND [OPTIONS] FILE [SECTION [KEY [VALUE]]]

  keyloft-ini dump FILE                  print the tree the editor shows, indented
  keyloft-ini sections FILE              print the name of every plain section
  keyloft-ini keys FILE SECTION          print the key of each uncommented
                                         line with "=" of the sections named
                                         SECTION, in file order
  keyloft-ini get FILE SECTION [KEY]     print the key's value, or every line
                                         of the sections named SECTION
  keyloft-ini get --format=sh FILE SECTION
                                         print name='value' for each key, once,
                                         for a shell's eval
  keyloft-ini set [--existing] [--backup] [--dry-run] [--no-wait]
                  FILE SECTION KEY VALUE make the key's line KEY=VALUE, adding
                                         the key, the section or the file
  keyloft-ini merge [--existing] [--backup] [--dry-run] [--no-wait] FILE
                                         set every key of the INI text on
                                         standard input, in one save
  keyloft-ini del [--backup] [--dry-run] [--no-wait] FILE SECTION [KEY]
                                         remove the key's line, or every
                                         section named SECTION with its lines
  keyloft-ini comment [--backup] [--dry-run] [--no-wait] FILE SECTION [KEY]
  keyloft-ini uncomment [--backup] [--dry-run] [--no-wait] FILE SECTION [KEY]
                                         put ";" in front of the key, or of the
                                         sections and their keys; or take it off
  keyloft-ini lint [--strict] FILE       print FILE:LINE: message for each line
                                         that readers may take differently
  keyloft-ini --help | --version

Names are matched exactly, letter case counted. SECTION is the text between
a header's brackets, KEY the text before the first "=" of an uncommented line,
both without the blanks around them. Sections that share a name are searched
in file order; get, set and del work on the first line of that key.

What is printed: get prints the value without the blanks around it; get
without KEY each line as the editor shows it (blanks at the ends and around
the first "=" removed), not the file's bytes; dump the same lines, indented.
Each line ends with a line feed. get --format=sh gives each key the value get
prints (the first of equal keys), in single quotes; a key that is not a shell
name (letters, digits, "_", not a digit first) is left out with a warning,
and the exit status is then 1.

set refuses (exit 2) a SECTION or VALUE that begins or ends with a blank, an
empty KEY or one that begins or ends with a blank or begins with ";", a KEY
holding "=", a line break in any name or value, and a KEY=VALUE that would
read as a header. A missing FILE is created (mode 0666 less the umask) unless
--existing is given. A file without any line break gets LF line breaks.
merge reads "[section]" headers and "key=value" lines; lines beginning with
";" or "#" and blank lines are skipped; text before the first header or a
line without "=" is an error and nothing changes. Setting values a file
already has writes nothing. uncomment refuses a key of a commented section.

Lines the command does not change are written back byte for byte; set
changes only the value's bytes of an existing line, comment and uncomment
one ";". The file is replaced atomically, keeping its mode, owner and group,
through a symbolic link if it is one (written in place when it has other
hard links or a new file could not keep its owner and group). A file this
user may not write, or one that holds a NUL byte, is not changed. Options
may stand anywhere after the command word; "--" ends them.
  --existing  a missing file, section or key is an error instead of being added
  --backup    keep the old file as FILE.in1 (an existing FILE.in1 is an error)
  --dry-run   change nothing; print the change as a unified diff
  --no-wait   when another writer holds the lock, exit 1 at once
  --strict    lint also lines that begin with "#" (comments to most readers)

dump, sections, keys, get and lint read standard input for FILE "-", and
pipes. Writers on one file take turns: each holds an exclusive flock() on the
file from reading it to saving it, and after locking checks that the path
still names the locked file (device and inode); when another writer has
renamed its new file into place meanwhile, it locks again. A writer that has
waited a second for the lock says so once on standard error.

Exit status: 0 done; 1 not found, refused, lint findings, a key left out by
get --format=sh, a locked file with --no-wait, or a file error; 2 bad usage.
)";

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kBadUsage = 2;

struct Command {
    std::string word;
    bool existing = false;
    bool backup = false;
    bool dryRun = false;
    bool noWait = false;
    bool strict = false;
    bool shellFormat = false;
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
        {"keys", 2, 2, false, false},     {"get", 2, 3, false, false},
        {"set", 4, 4, true, true},        {"merge", 1, 1, true, true},
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
            } else if (arg == "--no-wait" && shape->writes) {
                command.noWait = true;
            } else if (arg == "--strict" && command.word == "lint") {
                command.strict = true;
            } else if (arg == "--format=sh" && command.word == "get") {
                command.shellFormat = true;
            } else {
                throw UsageError{"no option " + arg + " for " + command.word +
                                 " (\"--\" before an operand that begins with \"-\")"};
            }
        } else {
            command.operands.push_back(arg);
        }
    }
    const std::size_t n = command.operands.size();
    if (n < shape->least || n > shape->most || (command.shellFormat && n != 2))
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
// `bytes` when asked. A file without any line break gives its new lines LF.
void Load(Document& doc, const std::string& path, FileBytes file, std::string* bytes) {
    if (bytes != nullptr) bytes->assign(file.data.get(), file.size);
    IniReadingEnd end;
    doc.ReadFile(FileNameOfPath(path), std::move(file.data), file.size, end);
    if (end.LineBreak.empty()) doc.SetLineEnding("\n");
}

// A text of `doc` as printed: UTF-8, a UTF-16 file's unpaired surrogates as
// U+FFFD.
std::string Printed(const Document& doc, std::string_view text) {
    if (doc.Utf16() == Utf16Order::None || IsValidUtf8(text)) return std::string(text);
    return ValidUtf8(text);
}

std::optional<std::string> OptionalKey(const Command& command) {
    if (command.operands.size() < 3) return std::nullopt;
    return command.operands[2];
}

// get --format=sh: each key of `sections` once, with the value get prints.
int PrintShell(const Document& doc, const std::string& path, const std::string& name,
               const std::vector<Node*>& sections) {
    int status = kDone;
    // The keys seen are copied: the texts are read without storing them.
    std::unordered_set<std::string> seen;
    std::string scratch;
    for (const Node* section : sections) {
        for (const Node* line : section->children()) {
            const std::string_view text = line->text(scratch);
            const auto key = KeyOfLine(text);
            if (!key || !seen.emplace(*key).second) continue;
            if (cli::IsShellName(*key)) {
                PrintLine(Printed(doc, cli::ShellAssignment(*key, ValueOfLine(text))));
            } else {
                Error(path, "key " + Printed(doc, *key) + " in [" + name +
                                "] is not a shell name: left out");
                status = kFailed;
            }
        }
    }
    return status;
}

int Read(const Command& command) {
    const std::string& path = command.operands[0];
    if (command.word == "lint") {
        const FileBytes file = ReadWholeInput(path);
        const std::string_view bytes(file.data.get(), file.size);
        // A UTF-16 file's text is linted as what the editor reads of it.
        const bool utf16 = Utf16OrderOf(bytes) != Utf16Order::None;
        const std::string text = utf16 ? DecodeUtf16File(bytes) : std::string();
        const auto findings = LintIni(utf16 ? std::string_view(text) : bytes, command.strict);
        for (const LintFinding& f : findings) {
            const std::string message = utf16 ? ValidUtf8(f.message) : f.message;
            PrintLine(path + ":" + std::to_string(f.line) + ": " + message);
        }
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
    // Texts are read without storing them.
    std::string scratch;
    if (command.word == "sections") {
        for (const Node* section : doc.First()->children()) {
            if (const auto name = PlainSectionName(section->text(scratch)))
                PrintLine(Printed(doc, *name));
        }
        return kDone;
    }
    const std::string& name = command.operands[1];
    const std::vector<Node*> sections = SectionsNamed(doc, name);
    if (sections.empty()) {
        Error(path, "no section [" + name + "]");
        return kFailed;
    }
    if (command.word == "keys") {
        for (const Node* section : sections) {
            for (const Node* line : section->children()) {
                if (const auto key = KeyOfLine(line->text(scratch))) PrintLine(Printed(doc, *key));
            }
        }
        return kDone;
    }
    if (command.shellFormat) return PrintShell(doc, path, name, sections);
    if (const auto key = OptionalKey(command)) {
        const Node* line = FirstKeyNamed(sections, *key);
        if (line == nullptr) {
            Error(path, "no key " + *key + " in [" + name + "]");
            return kFailed;
        }
        PrintLine(Printed(doc, ValueOfLine(line->text(scratch))));
        return kDone;
    }
    for (const Node* section : sections) {
        for (const Node* line : section->children()) PrintLine(Printed(doc, line->text(scratch)));
    }
    return kDone;
}

void SayWaiting(const std::string& path) {
    Error(path, "waiting for another writer to release its lock");
}

// Whether `path` names nothing at all, not even a dangling link.
bool NothingAt(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
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
    std::vector<cli::Setting> settings;
    if (command.word == "merge") {
        const FileBytes input = ReadWholeInput("-");
        std::string error;
        settings = cli::ReadSettings({input.data.get(), input.size}, error);
        if (!error.empty()) {
            Error(path, error);
            return kFailed;
        }
    } else if (command.word == "set") {
        settings.push_back({command.operands[1], command.operands[2], command.operands[3]});
    }
    const bool sets = command.word == "set" || command.word == "merge";
    const bool create = sets && !command.existing;

    // The lock is declared first so that it is released last: a file this
    // command created and then failed to fill is removed while it holds it.
    std::optional<cli::WriterLock> lock;
    std::optional<cli::NewFile> created;
    Document doc;
    std::string before;
    if (create && command.dryRun && NothingAt(path)) {
        Load(doc, path, FileBytes{}, nullptr);  // the change from nothing
    } else {
        if (create && !command.dryRun) created.emplace(path);
        lock.emplace(path, !command.noWait, SayWaiting);
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
        // The same for the character U+0000 of a UTF-16 file (an odd last
        // byte is no character: it stays last).
        if (doc.Utf16Tail().size() >= 2) {
            const std::string_view text = doc.Text();
            Error(path, "line " + std::to_string(LineOf(text.data(), text.size())) +
                            " holds a NUL character: the file is not changed");
            return kFailed;
        }
        // Names and values are matched and written as the file's text, which
        // for a UTF-16 file is UTF-8: bytes that are no UTF-8 have no UTF-16.
        if (doc.Utf16() != Utf16Order::None) {
            auto valid = [](const std::string& text) { return IsValidUtf8(text); };
            bool allValid =
                std::all_of(command.operands.begin() + 1, command.operands.end(), valid);
            for (const cli::Setting& s : settings)
                allValid = allValid && valid(s.section) && valid(s.key) && valid(s.value);
            if (!allValid) {
                Error(path,
                      "the file is UTF-16 and a name or value given is not UTF-8: the file "
                      "is not changed");
                return kFailed;
            }
        }
    }

    EditResult result;
    if (sets) {
        for (const cli::Setting& s : settings) {
            const EditResult one = SetKeyValue(doc, s.section, s.key, s.value, command.existing);
            if (one.outcome != EditOutcome::Unchanged) result = one;
            if (one.outcome != EditOutcome::Changed && one.outcome != EditOutcome::Unchanged) break;
        }
    } else if (command.word == "del") {
        result = DeleteEntry(doc, command.operands[1], OptionalKey(command));
    } else {
        result =
            CommentEntry(doc, command.operands[1], OptionalKey(command), command.word == "comment");
    }
    if (result.outcome == EditOutcome::NotFound || result.outcome == EditOutcome::Refused) {
        Error(path, result.message);
        return kFailed;
    }
    if (result.outcome == EditOutcome::Unchanged) return kDone;
    if (command.dryRun) {
        // What the save would refuse, a dry run refuses too.
        CheckMayReplace(path, command.backup ? Backup::Keep : Backup::None);
        const Utf16Order utf16 = doc.Utf16();
        if (utf16 == Utf16Order::None) {
            Print(UnifiedDiff(before, SerializeDocument(doc), path));
        } else {
            // The diff of the texts, in UTF-8, said to be of a UTF-16 file.
            PrintLine(path + " is UTF-16 " + (utf16 == Utf16Order::Big ? "BE" : "LE") +
                      "; the diff shows its text in UTF-8:");
            Print(UnifiedDiff(ValidUtf8(DecodeUtf16File(before)),
                              ValidUtf8(DecodeUtf16File(SerializeDocument(doc))), path));
        }
    } else {
        SaveIniFile(doc, path, command.backup);
        if (created) created->Keep();
    }
    return kDone;
}

// Standard output written out: `status`, or a failure when it could not be.
int Flushed(int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "keyloft-ini: cannot write the output: %s\n", std::strerror(errno));
        return kFailed;
    }
    return status;
}

// keyloft-ini's heap policy, set first thing in its main. The tool lives
// for one command, and a large file's tree is built from many small blocks
// on the heap, each page of which costs a fault when first touched. The
// heap is grown once by a pad that is marked for huge pages, as the core's
// large blocks are; untouched pages of it cost nothing. Later growth is the
// allocator's usual one, so a machine that counts every reservation (strict
// overcommit) is asked for the pad once at most. Other C libraries keep
// their own ways.
void GrowHeapOnHugePages() {
#if defined(__GLIBC__)
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
        AdviseHugePages(reinterpret_cast<void*>(from), end - from);
    }
    for (void* block : blocks) std::free(block);
    mallopt(M_TOP_PAD, kUsualPad);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    GrowHeapOnHugePages();
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
    int status;
    try {
        const bool writes = command.word == "set" || command.word == "merge" ||
                            command.word == "del" || command.word == "comment" ||
                            command.word == "uncomment";
        status = writes ? Write(command) : Read(command);
    } catch (const Failure& failure) {
        Error(command.operands[0], FailureReportText(failure.what()));
        return kFailed;
    } catch (const cli::LockedByOther& locked) {
        Error(command.operands[0], locked.what());
        return kFailed;
    }
    return Flushed(status);
}
