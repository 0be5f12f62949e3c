// Shared helpers of the core tests: temporary folders, file bytes, forked
// children, and checks that report the line of the test that called them.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <new>
#include <source_location>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Failure.h"
#include "document/Document.h"
#include "document/TextArena.h"
#include "fast/LargeBuffer.h"
#include "print/Dump.h"
#include "reading/IniReader.h"

extern char** environ;

namespace keyloft::test {

namespace fs = std::filesystem;

inline std::string DataPath(std::string_view name) {
    return std::string(KEYLOFT_TEST_DATA) + "/" + std::string(name);
}

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes. Permissions that tests took away are given back
// first so that the removal cannot fail half-way.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "keyloft-test-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr) {
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        }
        path_ = buffer.data();
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
            }
        }
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// Names in a folder, sorted; shows what a save left behind.
inline std::vector<std::string> FolderEntries(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

inline struct stat StatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        throw std::runtime_error("lstat " + path + ": " + std::strerror(errno));
    }
    return st;
}

// Sets a file's access and change times to a fixed moment in the past, so
// that a later write would show however fast it follows.
inline void SetOldTimes(const std::string& path) {
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        throw std::runtime_error("utimensat " + path);
    }
}

inline bool SameMtime(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

inline std::string DumpOf(const Document& doc) {
    StringTextFile out;
    DumpTreeviewToTextfile(doc, out);
    return out.text();
}

// UTF-16 units as the bytes of a file in that order, its byte-order mark
// first; written out here so that tests need not trust the editor's encoder.
inline std::string Utf16Bytes(std::u16string_view units, bool big) {
    std::string out = big ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t u : units) {
        const char hi = static_cast<char>(u >> 8);
        const char lo = static_cast<char>(u & 0xFF);
        out.push_back(big ? hi : lo);
        out.push_back(big ? lo : hi);
    }
    return out;
}
inline std::string Utf16Le(std::u16string_view units) { return Utf16Bytes(units, false); }
inline std::string Utf16Be(std::u16string_view units) { return Utf16Bytes(units, true); }

// Replaces the document by the reading of `text`, as a load of a file with
// that content and the name `rootText` would.
inline Node* LoadText(Document& doc, std::string_view text, std::string_view rootText = "t.ini") {
    LargeBytes bytes = AllocateLarge(text.size() + 1);
    if (!bytes) throw std::bad_alloc();
    std::memcpy(bytes.get(), text.data(), text.size());
    IniReadingEnd end;
    return doc.ReadFile(rootText, std::move(bytes), text.size(), end);
}

struct SectionShape {
    std::string header;
    std::vector<std::string> keys;
};

// Builds a new document by the tree operations alone: root, sections, keys.
inline Node* BuildTree(Document& doc, std::string_view rootText,
                       const std::vector<SectionShape>& sections) {
    Node* root = doc.AddRoot(rootText);
    for (const auto& section : sections) {
        Node* node = doc.AddChild(root, section.header);
        for (const auto& key : section.keys) doc.AddChild(node, key);
    }
    return root;
}

// The fixtures in the test data folder that have an expected dump beside
// them (NAME.dump), sorted.
inline std::vector<std::string> FixtureNames() {
    std::vector<std::string> names;
    const std::string suffix = ".dump";
    for (const auto& entry : fs::directory_iterator(KEYLOFT_TEST_DATA)) {
        std::string name = entry.path().filename().string();
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            names.push_back(name.substr(0, name.size() - suffix.size()));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A test name made of a case's `what`: letters and digits, the rest "_".
template <class Case>
std::string NameFromWhat(const ::testing::TestParamInfo<Case>& info) {
    std::string name = info.param.what;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

// Every node in tree order, found by Next from the first node.
inline std::vector<Node*> NodesInOrder(const Document& doc) {
    std::vector<Node*> nodes;
    for (Node* node = doc.First(); node != nullptr; node = Document::Next(node)) {
        nodes.push_back(node);
    }
    return nodes;
}

// Runs `action`, which must throw FileError with `code` and `message`.
// Returns an empty text when it did, else what went wrong; usable in a forked
// child, where GoogleTest assertions must not run.
template <class Action>
std::string FileErrorMismatch(Action&& action, int code, std::string_view message) {
    try {
        action();
    } catch (const FileError& e) {
        std::ostringstream why;
        if (e.code() != code) why << "code " << e.code() << " instead of " << code << "; ";
        if (std::string_view(e.what()) != message) {
            why << "message \"" << e.what() << "\" instead of \"" << message << "\"";
        }
        return why.str();
    } catch (const std::exception& e) {
        return std::string("threw a non-file failure: ") + e.what();
    }
    return "threw nothing";
}

template <class Action>
void ExpectFileError(Action&& action, int code, std::string_view message,
                     std::source_location where = std::source_location::current()) {
    ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()),
                                 "expected a FileError here");
    EXPECT_EQ(FileErrorMismatch(std::forward<Action>(action), code, message), "");
}

inline void ExpectFileBytes(const std::string& path, std::string_view expected,
                            std::source_location where = std::source_location::current()) {
    ::testing::ScopedTrace trace(where.file_name(), static_cast<int>(where.line()), path);
    EXPECT_EQ(ReadBytes(path), expected);
}

// What a forked child reported: "ok" when all its checks held, "SKIP: why"
// when the machine cannot run it, else the first check that failed.
struct ChildReport {
    std::string text;
    int status = 0;
    bool Skipped() const { return text.rfind("SKIP:", 0) == 0; }
};

// Runs `body` in a forked child and collects the text it returns. The child
// ends with _exit, so nothing of the parent's test state runs twice.
inline ChildReport RunInChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed", -1};
    std::fflush(stdout);
    std::fflush(stderr);
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return {"fork failed", -1};
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string report;
        try {
            report = body();
        } catch (const std::exception& e) {
            report = std::string("uncaught exception: ") + e.what();
        } catch (...) {
            report = "uncaught exception";
        }
        std::size_t done = 0;
        while (done < report.size()) {
            ssize_t n = ::write(fds[1], report.data() + done, report.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    ChildReport result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        result.text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    ::waitpid(pid, &result.status, 0);
    if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
        result.text += " (child ended abnormally, status " + std::to_string(result.status) + ")";
    }
    return result;
}

// In a forked child: gives up root rights for those of "nobody", so that file
// permissions apply. Returns an empty text on success.
inline std::string DropRootRights() {
    if (::geteuid() != 0) return "";
    if (::setgroups(0, nullptr) != 0) return std::string("setgroups: ") + std::strerror(errno);
    if (::setgid(65534) != 0) return std::string("setgid: ") + std::strerror(errno);
    if (::setuid(65534) != 0) return std::string("setuid: ") + std::strerror(errno);
    return "";
}

// --- running programs ---------------------------------------------------------

// A started program whose output and errors go to files in its own folder.
class StartedProgram {
public:
    // Starts `argv` (the program found on PATH unless argv[0] holds "/").
    // With `input`, standard input is a pipe that carries those bytes and
    // then ends; otherwise it is the caller's.
    explicit StartedProgram(const std::vector<std::string>& argv,
                            const std::string* input = nullptr) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int pipeFds[2] = {-1, -1};
        if (input != nullptr) {
            // The tests' inputs fit in the pipe's buffer: written before the start.
            if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
            const ssize_t n = ::write(pipeFds[1], input->data(), input->size());
            ::close(pipeFds[1]);
            if (n != static_cast<ssize_t>(input->size()))
                throw std::runtime_error("input too long for a pipe");
            posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
        }
        std::vector<std::string> args = argv;
        std::vector<char*> raw;
        for (auto& a : args) raw.push_back(a.data());
        raw.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, raw[0], &actions, nullptr, raw.data(), ::environ);
        posix_spawn_file_actions_destroy(&actions);
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    }
    StartedProgram(const StartedProgram&) = delete;
    StartedProgram& operator=(const StartedProgram&) = delete;

    struct Result {
        int exitCode = -1;  // -1 when it did not exit normally
        std::string out, err;
    };
    Result Wait() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadBytes(dir_ / "out"),
                ReadBytes(dir_ / "err")};
    }

private:
    TempDir dir_;
    pid_t pid_ = -1;
};

using ToolRun = StartedProgram::Result;

// Runs keyloft-ini with `args` and waits for it.
inline ToolRun RunTool(std::vector<std::string> args, const std::string* input = nullptr) {
    args.insert(args.begin(), KEYLOFT_INI_EXE);
    return StartedProgram(args, input).Wait();
}

// Files that are not regular files, made in a test's folder. Each returns an
// empty text, or "SKIP: why" when this machine does not allow it.
inline std::string MakeFifo(const std::string& path) {
    if (::mkfifo(path.c_str(), 0644) != 0) return std::string("mkfifo: ") + std::strerror(errno);
    return "";
}

// A local socket's file; nobody listens on it.
inline std::string MakeSocketFile(const std::string& path) {
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return "SKIP: socket path too long";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int bound =
        ::bind(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
    const int err = errno;
    ::close(fd);
    return bound == 0 ? "" : std::string("bind: ") + std::strerror(err);
}

// A character device like /dev/null, made in the test's folder so that a
// save that wrongly replaced it would harm nothing else.
inline std::string MakeNullDevice(const std::string& path) {
    if (::mknod(path.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
        return std::string("SKIP: mknod: ") + std::strerror(errno);
    }
    return "";
}

// Cuts text into lines as the reading does (CR LF, CR, LF; a final break
// makes no extra line), without the NUL rule: used to compare files line by
// line independently of the code under test.
inline std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

}  // namespace keyloft::test
