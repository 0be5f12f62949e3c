// File errors reached through the real system calls: each failure must carry
// the editor's code and message, and a failed save must leave no trace.
#include <grp.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestHelpers.h"
#include "base/Failure.h"
#include "document/Document.h"
#include "files/FileSystem.h"
#include "files/IniFile.h"

namespace keyloft {
namespace {

namespace fs = std::filesystem;
using test::BuildTree;
using test::ChildReport;
using test::DropRootRights;
using test::ExpectFileError;
using test::FileErrorMismatch;
using test::FolderEntries;
using test::MakeFifo;
using test::MakeNullDevice;
using test::MakeSocketFile;
using test::ReadBytes;
using test::RunInChild;
using test::TempDir;
using test::ToolRun;
using test::WriteBytes;
using Names = std::vector<std::string>;

// Collects failed checks inside a forked child.
class ChildChecks {
public:
    void operator()(bool ok, const std::string& what) {
        if (!ok) failures_ += what + "; ";
    }
    void FileError(const std::string& mismatch, const std::string& what) {
        if (!mismatch.empty()) failures_ += what + ": " + mismatch + "; ";
    }
    std::string Report() const { return failures_.empty() ? "ok" : failures_; }

private:
    std::string failures_;
};

void ExpectChildOk(const ChildReport& report) {
    EXPECT_EQ(report.text, "ok");
    EXPECT_TRUE(WIFEXITED(report.status) && WEXITSTATUS(report.status) == 0);
}

void SmallDocument(Document& doc) { BuildTree(doc, "s.ini", {{"[a]", {"x=1"}}}); }

// --- the message table and the full-stop rule --------------------------------

TEST(FileErrorMessage, EditorCodes) {
    struct Case {
        int code;
        const char* message;
    };
    const Case cases[] = {
        {2, "File not found"},
        {3, "Invalid filename"},
        {4, "Too many open files"},
        {5, "File access denied"},
        {100, "Read beyond end of file"},
        {101, "Disk full"},
        {106, "Invalid numeric input"},
        {17, "I/O error 17"},
        {32, "I/O error 32"},
        {1, "I/O error 1"},
        {122, "I/O error 122"},
    };
    for (const auto& c : cases) EXPECT_EQ(FileErrorMessage(c.code), c.message) << c.code;
}

TEST(FileErrorFromErrno, Table) {
    struct Case {
        int err;
        bool missingIsFile;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {ENOENT, true, 2, "File not found"},
        {ENOENT, false, 3, "Invalid filename"},
        {ENOTDIR, true, 3, "Invalid filename"},
        {ENAMETOOLONG, true, 3, "Invalid filename"},
        {ELOOP, true, 3, "Invalid filename"},
        {EMFILE, true, 4, "Too many open files"},
        {ENFILE, true, 4, "Too many open files"},
        {EACCES, true, 5, "File access denied"},
        {EPERM, true, 5, "File access denied"},
        {EISDIR, true, 5, "File access denied"},
        {EROFS, true, 5, "File access denied"},
        {ENOSPC, true, 101, "Disk full"},
        {EDQUOT, true, 101, "Disk full"},
        {EFBIG, true, 101, "Disk full"},
        {EEXIST, true, 17, "I/O error 17"},
        // Errno values that happen to equal an editor code are still other
        // failures: a read error is not "File access denied".
        {EIO, true, EIO, "I/O error 5"},
        {EINTR, true, EINTR, "I/O error 4"},
        {ESRCH, true, ESRCH, "I/O error 3"},
        {EXDEV, true, EXDEV, "I/O error 18"},
        {EBUSY, true, EBUSY, "I/O error 16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        FileError e = FileErrorFromErrno(c.err, c.missingIsFile);
        EXPECT_EQ(e.code(), c.code);
        EXPECT_EQ(e.what(), c.message);
    }
}

TEST(ThrowFileError, OtherErrnoValuesAreIoErrorsWithTheirNumber) {
    TempDir dir;
    for (int err : {EIO, EINTR, EXDEV, EEXIST}) {
        SCOPED_TRACE(err);
        ExpectFileError([&] { ThrowFileError(err, dir / "x.ini"); }, err,
                        "I/O error " + std::to_string(err));
    }
}

TEST(ThrowFileError, MissingFileOrMissingFolder) {
    TempDir dir;
    ExpectFileError([&] { ThrowFileError(ENOENT, dir / "x.ini"); }, 2, "File not found");
    ExpectFileError([&] { ThrowFileError(ENOENT, dir / "no/x.ini"); }, 3, "Invalid filename");
    ExpectFileError([&] { ThrowFileError(ENOSPC, dir / "x.ini"); }, 101, "Disk full");
}

TEST(FailureReportText, FullStopRule) {
    struct Case {
        std::string message;
        std::string shown;
    };
    const Case cases[] = {
        {"File not found", "File not found."},
        {"I/O error 17", "I/O error 17."},
        {"Not found!", "Not found!"},
        {"x)", "x)"},
        {"Done.", "Done."},
        {"", ""},
        {"a-", "a-"},   // '-' sorts before '.'
        {"a ", "a "},   // so does the blank
        {"a/", "a/."},  // '/' sorts after '.'
        {"a0", "a0."},
        {"caf\xe9", "caf\xe9."},  // bytes above 127 sort after '.'
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        EXPECT_EQ(FailureReportText(c.message), c.shown);
    }
}

// --- loading ----------------------------------------------------------------

TEST(LoadErrors, ThroughTheSystemCalls) {
    TempDir dir;
    WriteBytes(dir / "file", "[a]\n");
    fs::create_directory(dir / "folder.ini");
    fs::create_symlink("loop-b", dir / "loop-a");
    fs::create_symlink("loop-a", dir / "loop-b");
    fs::create_symlink("nothing.ini", dir / "dangling.ini");
    const std::string longName(300, 'n');
    struct Case {
        const char* what;
        std::string path;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"missing file", dir / "missing.ini", 2, "File not found"},
        {"dangling link", dir / "dangling.ini", 2, "File not found"},
        {"missing folder", dir / "nofolder/x.ini", 3, "Invalid filename"},
        {"missing folders", dir / "a/b/c/x.ini", 3, "Invalid filename"},
        {"file used as folder", dir / "file/x", 3, "Invalid filename"},
        {"name too long", dir / longName, 3, "Invalid filename"},
        {"path too long", dir.path() + std::string(5000, '/') + "x", 3, "Invalid filename"},
        {"link loop", dir / "loop-a", 3, "Invalid filename"},
        {"folder", dir / "folder.ini", 5, "File access denied"},
        {"folder with slash", dir / "folder.ini/", 5, "File access denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc;
        SmallDocument(doc);
        ExpectFileError([&] { LoadIniFile(doc, c.path); }, c.code, c.message);
        EXPECT_EQ(doc.Count(), 3u);
        ExpectFileError([&] { ReadWholeFile(c.path); }, c.code, c.message);
    }
}

TEST(LoadErrors, BareMissingNameInTheCurrentFolderIsFileNotFound) {
    TempDir dir;
    const std::string oldCwd = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    Document doc;
    std::string mismatch =
        FileErrorMismatch([&] { LoadIniFile(doc, "absent.ini"); }, 2, "File not found");
    ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
    EXPECT_EQ(mismatch, "");
}

TEST(LoadErrors, TooManyOpenFiles) {
    TempDir dir;
    WriteBytes(dir / "a.ini", "[a]\nx=1\n");
    const std::string path = dir / "a.ini";
    ExpectChildOk(RunInChild([&]() -> std::string {
        // A load fails once while descriptors are left: the undefined-behaviour
        // sanitizer checks an object's dynamic type the first time it meets it
        // by writing the object into a pipe, and with no descriptor free it
        // would take the FileError thrown below for a bad object.
        ChildChecks check;
        Document doc;
        check.FileError(
            FileErrorMismatch([&] { LoadIniFile(doc, dir / "absent.ini"); }, 2, "File not found"),
            "load with descriptors left");
        struct rlimit limit = {32, 32};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return "setrlimit failed";
        while (::open("/dev/null", O_RDONLY) >= 0) {
        }
        if (errno != EMFILE) return "could not use up the descriptors";
        check.FileError(
            FileErrorMismatch([&] { LoadIniFile(doc, path); }, 4, "Too many open files"), "load");
        check(doc.Count() == 0, "failed load leaves the document empty");
        SmallDocument(doc);
        check.FileError(
            FileErrorMismatch([&] { SaveIniFile(doc, dir / "b.ini"); }, 4, "Too many open files"),
            "save");
        return check.Report();
    }));
    EXPECT_EQ(FolderEntries(dir.path()), Names{"a.ini"});
}

// Files that are not files: refused at once, nothing read from them. Runs in
// a child with an alarm, so a read that waits fails the test instead of
// hanging it.
TEST(LoadErrors, OnlyRegularFilesAreRead) {
    TempDir dir;
    ASSERT_EQ(MakeFifo(dir / "fifo.ini"), "");
    ASSERT_EQ(MakeSocketFile(dir / "socket.ini"), "");
    fs::create_symlink("fifo.ini", dir / "to-fifo.ini");
    fs::create_symlink("/dev/zero", dir / "to-zero.ini");
    const std::string paths[] = {dir / "fifo.ini",    dir / "socket.ini", dir / "to-fifo.ini",
                                 dir / "to-zero.ini", "/dev/zero",        "/dev/null",
                                 "/dev/tty"};
    ExpectChildOk(RunInChild([&]() -> std::string {
        ::alarm(10);
        // Bytes waiting in the FIFO must still be there afterwards.
        const int fifo = ::open((dir / "fifo.ini").c_str(), O_RDWR | O_NONBLOCK);
        if (fifo < 0 || ::write(fifo, "[a]\n", 4) != 4) return "cannot fill the FIFO";
        ChildChecks check;
        for (const std::string& path : paths) {
            Document doc;
            SmallDocument(doc);
            check.FileError(
                FileErrorMismatch([&] { ReadWholeFile(path); }, 5, "File access denied"), path);
            check.FileError(
                FileErrorMismatch([&] { LoadIniFile(doc, path); }, 5, "File access denied"),
                "load " + path);
            check(doc.Count() == 3, "document unchanged after " + path);
            check(!IsExistingFile(path), "no existing file: " + path);
        }
        char left[8];
        check(::read(fifo, left, sizeof left) == 4, "nothing was read from the FIFO");
        return check.Report();
    }));
}

// A child whose address space may grow by `room` bytes only.
std::string LimitAddressSpace(std::size_t room) {
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    if (!(statm >> pages)) return "cannot read /proc/self/statm";
    const rlim_t limit = pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)) + room;
    struct rlimit rl = {limit, limit};
    return ::setrlimit(RLIMIT_AS, &rl) == 0 ? "" : "setrlimit failed";
}

// What does not fit is refused as it is read, before the nodes are built or
// a stream is read to its end; what fits in the same room loads. The lines
// cost far more than their bytes, so files of the same size differ.
TEST(LoadErrors, RefusedWhenItWouldNotFitInMemory) {
    TempDir dir;
    const std::size_t size = 8 << 20;
    std::string shortLines = "[a]\n";
    while (shortLines.size() < size) shortLines += "k\n";
    const std::string longLine = "k=" + std::string(8190, 'v') + "\n";
    std::string longLines = "[a]\n";
    while (longLines.size() < size) longLines += longLine;
    WriteBytes(dir / "short.ini", shortLines);
    WriteBytes(dir / "long.ini", longLines);
    ASSERT_EQ(MakeFifo(dir / "endless.ini"), "");
    struct Case {
        const char* what;
        std::function<FileBytes()> read;
        bool fits;
        bool endless = false;  // a thread of the child feeds endless.ini
    };
    const Case cases[] = {
        {"4 million short lines", [&] { return ReadWholeFile(dir / "short.ini"); }, false},
        {"the same bytes in long lines", [&] { return ReadWholeFile(dir / "long.ini"); }, true},
        {"an endless FIFO of short lines", [&] { return ReadWholeInput(dir / "endless.ini"); },
         false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectChildOk(RunInChild([&]() -> std::string {
            ::alarm(20);
            ::signal(SIGPIPE, SIG_IGN);
            if (c.endless) {
                std::thread([&] {
                    const int fd = ::open((dir / "endless.ini").c_str(), O_WRONLY | O_CLOEXEC);
                    std::string lines;
                    while (lines.size() < 65536) lines += "k\r\n";
                    while (fd >= 0 && ::write(fd, lines.data(), lines.size()) > 0) {
                    }
                }).detach();
            }
            std::string limited = LimitAddressSpace(256 << 20);
            if (!limited.empty()) return limited;
            try {
                FileBytes file = c.read();
                Document doc;
                IniReadingEnd end;
                doc.ReadFile("x.ini", std::move(file.data), file.size, end);
                return c.fits ? "ok" : "loaded " + std::to_string(file.size) + " bytes";
            } catch (const FileError& e) {
                return std::string("file error: ") + e.what();
            } catch (const Failure& e) {
                if (std::string(e.what()) != "Not enough memory to load this file") return e.what();
                return c.fits ? "refused what fits" : "ok";
            }
        }));
    }
}

// A command-line tool reads pipes, devices, sockets and standard input to
// their end, in more than one piece.
TEST(ReadWholeInput, StreamsAndFiles) {
    TempDir dir;
    std::string content;
    for (int i = 0; content.size() < 300000; ++i) content += "k" + std::to_string(i) + "=v\r\n";
    WriteBytes(dir / "file.ini", content);
    ASSERT_EQ(MakeFifo(dir / "fifo.ini"), "");
    fs::create_directory(dir / "folder");
    struct Case {
        const char* what;
        std::string path;
        std::function<void()> feed;  // started in a thread of the child
        std::string expected;
    };
    const std::string socketPath = dir / "socket";
    int server = -1;
    const auto writeAll = [&content](int fd) {
        for (std::size_t done = 0; done < content.size();) {
            const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
    };
    const Case cases[] = {
        {"regular file", dir / "file.ini", nullptr, content},
        {"FIFO", dir / "fifo.ini",
         [&] { writeAll(::open((dir / "fifo.ini").c_str(), O_WRONLY | O_CLOEXEC)); }, content},
        {"standard input", "-",
         [&] {
             int fds[2];
             if (::pipe(fds) != 0) return;
             ::dup2(fds[0], STDIN_FILENO);
             ::close(fds[0]);
             std::thread([&, fd = fds[1]] { writeAll(fd); }).detach();
         },
         content},
        {"socket", socketPath,
         [&] {
             server = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
             struct sockaddr_un address {};
             address.sun_family = AF_UNIX;
             std::strcpy(address.sun_path, socketPath.c_str());
             ::bind(server, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
             ::listen(server, 1);
             std::thread([&] { writeAll(::accept(server, nullptr, nullptr)); }).detach();
         },
         content},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectChildOk(RunInChild([&]() -> std::string {
            ::alarm(10);
            if (c.feed) {
                // Standard input and the socket are ready before the read;
                // the FIFO's writer opens it while the read waits.
                if (c.path == "-" || c.path == socketPath) {
                    c.feed();
                } else {
                    std::thread(c.feed).detach();
                }
            }
            FileBytes file = ReadWholeInput(c.path);
            return std::string(file.data.get(), file.size) == c.expected
                       ? "ok"
                       : "read " + std::to_string(file.size) + " bytes";
        }));
    }
    // Folders and devices are no input: nothing is opened or read.
    for (const std::string& refused : {dir / "folder", std::string("/dev/null"),
                                       std::string("/dev/zero"), std::string("/dev/loop0")}) {
        if (refused == "/dev/loop0" && !fs::exists(refused)) continue;
        SCOPED_TRACE(refused);
        ExpectFileError([&] { ReadWholeInput(refused); }, 5, "File access denied");
    }
    ExpectFileError([&] { ReadWholeInput(dir / "missing"); }, 2, "File not found");
}

// In a child without root rights: files and folders the user may not use.
TEST(AccessErrors, WithoutRootRights) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string none = dir / "none.ini", secret = dir / "secret.ini",
                      readonly = dir / "readonly.ini";
    WriteBytes(none, "[a]\n");
    WriteBytes(secret, "[a]\n");
    WriteBytes(readonly, "[r]\nk=v\n");
    ASSERT_EQ(::chmod(none.c_str(), 0000), 0);
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    ASSERT_EQ(::chmod(readonly.c_str(), 0444), 0);
    const bool root = ::geteuid() == 0;

    ExpectChildOk(RunInChild([&]() -> std::string {
        std::string dropped = DropRootRights();
        if (!dropped.empty()) return dropped;
        ChildChecks check;
        Document doc;
        check.FileError(FileErrorMismatch([&] { LoadIniFile(doc, none); }, 5, "File access denied"),
                        "0000 file");
        if (root) {
            check.FileError(
                FileErrorMismatch([&] { LoadIniFile(doc, secret); }, 5, "File access denied"),
                "another user's 0600 file");
        }
        try {
            LoadIniFile(doc, readonly);
            check(doc.Count() == 3, "read-only file loads");
        } catch (const std::exception& e) {
            check(false, std::string("read-only file: ") + e.what());
        }
        // The folder is not writable for this user: neither a new file nor a
        // replacement of an existing one can be made.
        if (root) {
            check.FileError(FileErrorMismatch([&] { SaveIniFile(doc, dir / "new.ini"); }, 5,
                                              "File access denied"),
                            "save into a folder without write right");
            check.FileError(
                FileErrorMismatch([&] { SaveIniFile(doc, readonly); }, 5, "File access denied"),
                "save over a file in a folder without write right");
        }
        return check.Report();
    }));
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"none.ini", "readonly.ini", "secret.ini"}));
    EXPECT_EQ(ReadBytes(readonly), "[r]\nk=v\n");
}

TEST(AccessErrors, FolderWithoutWriteRightForTheSameUser) {
    TempDir dir;
    fs::create_directory(dir / "locked");
    const std::string path = dir / "locked/settings.ini";
    WriteBytes(path, "old\n");
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0555), 0);
    ExpectChildOk(RunInChild([&]() -> std::string {
        std::string dropped = DropRootRights();
        if (!dropped.empty()) return dropped;
        Document doc;
        SmallDocument(doc);
        std::string mismatch =
            FileErrorMismatch([&] { SaveIniFile(doc, path); }, 5, "File access denied");
        return mismatch.empty() ? "ok" : mismatch;
    }));
    EXPECT_EQ(ReadBytes(path), "old\n");
    EXPECT_EQ(FolderEntries(dir / "locked"), Names{"settings.ini"});
}

// A save does only what the user may do, as "nobody" (a member of one extra
// group): a read-only file is refused although the folder would let a
// rename replace it; a group-writable file of another owner keeps its owner
// and group; a file with two names keeps both, with the new bytes under
// each. The editor's save runs in a child, keyloft-ini (copied where that
// user reaches it) through setpriv. Root itself may write the read-only file.
TEST(AccessErrors, SaveStaysWithinTheUsersRights) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make files of another owner";
    constexpr uid_t kNobody = 65534;
    constexpr gid_t kGroup = 4242;
    const std::string old = "[s]\nk = 1\n", changed = "[s]\nk = 2\n";
    struct Case {
        const char* name;
        uid_t owner;
        gid_t group;
        mode_t mode;
        bool refused;
        bool linked = false;  // a second name, "NAME.link"
    };
    const Case cases[] = {
        {"readonly.ini", 0, 0, 0444, true},
        {"shared.ini", 0, kGroup, 0664, false},
        {"linked.ini", kNobody, kNobody, 0644, false, true},
    };
    // `tool`: keyloft-ini's set instead of the editor's save (with backup).
    auto check = [&](bool tool) {
        SCOPED_TRACE(tool ? "keyloft-ini" : "editor");
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
        for (const Case& c : cases) {
            WriteBytes(dir / c.name, old);
            ASSERT_EQ(::chown((dir / c.name).c_str(), c.owner, c.group), 0);
            ASSERT_EQ(::chmod((dir / c.name).c_str(), c.mode), 0);
            if (c.linked) {
                ASSERT_EQ(::link((dir / c.name).c_str(), (dir / c.name + ".link").c_str()), 0);
            }
        }
        const Names before = FolderEntries(dir.path());
        if (tool) {
            const std::string bin = dir / "keyloft-ini";
            fs::copy_file(KEYLOFT_INI_EXE, bin);
            ::chmod(bin.c_str(), 0755);
            if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
            for (const Case& c : cases) {
                SCOPED_TRACE(c.name);
                for (const char* dry : {"--dry-run", "--existing"}) {
                    const ToolRun run =
                        test::StartedProgram({"setpriv", "--reuid=65534", "--regid=65534",
                                              "--groups=" + std::to_string(kGroup), bin, "set", dry,
                                              dir / c.name, "s", "k", "2"})
                            .Wait();
                    EXPECT_EQ(run.exitCode, c.refused ? 1 : 0) << dry << run.err;
                    EXPECT_EQ(run.err, c.refused ? "keyloft-ini: " + (dir / c.name) +
                                                       ": File access denied.\n"
                                                 : "")
                        << dry;
                }
            }
        } else {
            ExpectChildOk(RunInChild([&]() -> std::string {
                const gid_t groups[] = {kGroup};
                if (::setgroups(1, groups) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                    return "cannot become nobody";
                ChildChecks checks;
                for (const Case& c : cases) {
                    Document doc;
                    LoadIniFile(doc, dir / c.name);
                    doc.SetText(doc.NodeAt(2), "k=2");
                    if (c.refused) {
                        checks.FileError(FileErrorMismatch([&] { SaveIniFile(doc, dir / c.name); },
                                                           5, "File access denied"),
                                         c.name);
                    } else {
                        SaveIniFile(doc, dir / c.name);
                    }
                }
                return checks.Report();
            }));
        }
        Names after = before;
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            const struct stat st = test::StatOf(dir / c.name);
            EXPECT_EQ(ReadBytes(dir / c.name), c.refused ? old : changed);
            EXPECT_EQ(st.st_uid, c.owner);
            EXPECT_EQ(st.st_gid, c.group);
            EXPECT_EQ(st.st_mode & 07777, c.mode);
            if (c.linked) {
                EXPECT_EQ(st.st_nlink, 2u);
                EXPECT_EQ(ReadBytes(dir / c.name + ".link"), changed);
            }
            if (!tool && !c.refused) {
                EXPECT_EQ(ReadBytes(dir / c.name + ".in1"), old);
                after.push_back(std::string(c.name) + ".in1");
            }
        }
        if (tool) after.push_back("keyloft-ini");
        std::sort(after.begin(), after.end());
        EXPECT_EQ(FolderEntries(dir.path()), after) << "a file more or less";
    };
    check(false);
    check(true);

    // Root passes the kernel's check: the read-only file is saved.
    TempDir dir;
    WriteBytes(dir / "readonly.ini", old);
    ASSERT_EQ(::chmod((dir / "readonly.ini").c_str(), 0444), 0);
    Document doc;
    LoadIniFile(doc, dir / "readonly.ini");
    doc.SetText(doc.NodeAt(2), "k=2");
    SaveIniFile(doc, dir / "readonly.ini", false);
    EXPECT_EQ(ReadBytes(dir / "readonly.ini"), changed);
}

// --- saving -------------------------------------------------------------------

TEST(SaveErrors, BadPaths) {
    TempDir dir;
    WriteBytes(dir / "file", "x");
    const std::string longName(300, 'n');
    struct Case {
        const char* what;
        std::string path;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"missing folder", dir / "nofolder/x.ini", 3, "Invalid filename"},
        {"file used as folder", dir / "file/x.ini", 3, "Invalid filename"},
        {"name too long", dir / longName, 3, "Invalid filename"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc;
        SmallDocument(doc);
        ExpectFileError([&] { SaveIniFile(doc, c.path); }, c.code, c.message);
    }
    EXPECT_EQ(FolderEntries(dir.path()), Names{"file"});
    EXPECT_EQ(ReadBytes(dir / "file"), "x");
}

// Only a regular file is replaced: a FIFO, a socket or a device (also behind
// a link) stays what it was, and no backup or other file appears.
TEST(SaveErrors, OnlyRegularFilesAreReplaced) {
    TempDir dir;
    ASSERT_EQ(MakeFifo(dir / "fifo.ini"), "");
    ASSERT_EQ(MakeSocketFile(dir / "socket.ini"), "");
    const std::string device = MakeNullDevice(dir / "null.ini");
    fs::create_symlink("fifo.ini", dir / "to-fifo.ini");
    std::vector<std::string> names = {"fifo.ini", "socket.ini", "to-fifo.ini"};
    if (device.empty()) {
        fs::create_symlink("null.ini", dir / "to-null.ini");
        names.insert(names.end(), {"null.ini", "to-null.ini"});
    }
    const Names before = FolderEntries(dir.path());
    ExpectChildOk(RunInChild([&]() -> std::string {
        ::alarm(10);
        ChildChecks check;
        Document doc;
        SmallDocument(doc);
        for (const std::string& name : names) {
            check.FileError(
                FileErrorMismatch([&] { SaveIniFile(doc, dir / name); }, 5, "File access denied"),
                name);
        }
        return check.Report();
    }));
    EXPECT_EQ(FolderEntries(dir.path()), before);
    EXPECT_TRUE(S_ISFIFO(test::StatOf(dir / "fifo.ini").st_mode));
    EXPECT_TRUE(S_ISSOCK(test::StatOf(dir / "socket.ini").st_mode));
    if (!device.empty()) GTEST_SKIP() << device;
    EXPECT_TRUE(S_ISCHR(test::StatOf(dir / "null.ini").st_mode));
}

// A document far larger than the room the file may take.
void BigDocument(Document& doc) {
    Node* root = doc.AddRoot("big.ini");
    Node* section = doc.AddChild(root, "[big]");
    const std::string line = "key=" + std::string(1000, 'v');
    for (int i = 0; i < 1000; ++i) doc.AddChild(section, line);
}

TEST(SaveErrors, FileSizeLimitIsDiskFull) {
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteBytes(path, "old\n");
    ExpectChildOk(RunInChild([&]() -> std::string {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {65536, 65536};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return "setrlimit failed";
        ChildChecks check;
        Document doc;
        BigDocument(doc);
        check.FileError(FileErrorMismatch([&] { SaveIniFile(doc, path); }, 101, "Disk full"),
                        "save over a file");
        check.FileError(
            FileErrorMismatch([&] { SaveIniFile(doc, dir / "new.ini"); }, 101, "Disk full"),
            "save to a new file");
        return check.Report();
    }));
    EXPECT_EQ(ReadBytes(path), "old\n");
    EXPECT_EQ(FolderEntries(dir.path()), Names{"settings.ini"});
}

// In a child with its own mount namespace: mounts a small tmpfs over `folder`.
// Returns "SKIP: why" when the machine does not allow it.
std::string MountSmallTmpfs(const std::string& folder, const char* options) {
    if (::geteuid() != 0) return "SKIP: mounting a file system needs root";
    if (::unshare(CLONE_NEWNS) != 0) {
        return std::string("SKIP: unshare(CLONE_NEWNS): ") + std::strerror(errno);
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string("SKIP: making mounts private: ") + std::strerror(errno);
    }
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options) != 0) {
        return std::string("SKIP: mounting tmpfs: ") + std::strerror(errno);
    }
    return "";
}

TEST(SaveErrors, DiskFull) {
    TempDir dir;
    fs::create_directory(dir / "small");
    const std::string folder = dir / "small";
    ChildReport report = RunInChild([&]() -> std::string {
        std::string mounted = MountSmallTmpfs(folder, "size=64k");
        if (!mounted.empty()) return mounted;
        const std::string path = folder + "/settings.ini";
        WriteBytes(path, "[old]\r\nkept=1\r\n");
        ChildChecks check;
        Document doc;
        BigDocument(doc);
        check.FileError(FileErrorMismatch([&] { SaveIniFile(doc, path); }, 101, "Disk full"),
                        "save over a file");
        check(ReadBytes(path) == "[old]\r\nkept=1\r\n", "old file intact");
        check(FolderEntries(folder) == Names{"settings.ini"}, "nothing but the old file is left");
        check.FileError(
            FileErrorMismatch([&] { SaveIniFile(doc, folder + "/new.ini"); }, 101, "Disk full"),
            "save to a new file");
        check(FolderEntries(folder) == Names{"settings.ini"}, "no new file is left");
        // The room that is left still takes a small save.
        Document small;
        SmallDocument(small);
        try {
            SaveIniFile(small, path);
            check(ReadBytes(path) == "[a]\r\nx=1\r\n", "small save written");
            check(ReadBytes(path + ".in1") == "[old]\r\nkept=1\r\n", "backup of the old file");
        } catch (const std::exception& e) {
            check(false, std::string("small save: ") + e.what());
        }
        return check.Report();
    });
    if (report.Skipped()) GTEST_SKIP() << report.text;
    ExpectChildOk(report);
}

TEST(SaveErrors, ReadOnlyFileSystem) {
    TempDir dir;
    fs::create_directory(dir / "ro");
    const std::string folder = dir / "ro";
    ChildReport report = RunInChild([&]() -> std::string {
        std::string mounted = MountSmallTmpfs(folder, "size=64k");
        if (!mounted.empty()) return mounted;
        const std::string path = folder + "/settings.ini";
        WriteBytes(path, "[old]\n");
        if (::mount("tmpfs", folder.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") != 0) {
            return std::string("SKIP: remounting read-only: ") + std::strerror(errno);
        }
        ChildChecks check;
        Document doc;
        try {
            LoadIniFile(doc, path);
            check(doc.Count() == 2, "a file on a read-only file system loads");
        } catch (const std::exception& e) {
            check(false, std::string("load: ") + e.what());
        }
        Document edited;
        SmallDocument(edited);
        check.FileError(
            FileErrorMismatch([&] { SaveIniFile(edited, path); }, 5, "File access denied"),
            "save on a read-only file system");
        check(ReadBytes(path) == "[old]\n", "old file intact");
        check(FolderEntries(folder) == Names{"settings.ini"}, "nothing else left");
        return check.Report();
    });
    if (report.Skipped()) GTEST_SKIP() << report.text;
    ExpectChildOk(report);
}

}  // namespace
}  // namespace keyloft
