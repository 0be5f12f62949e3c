// Loading a file into the document and saving it back: reports, backups,
// permissions, links, and files that a load must leave as they were.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
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
using test::DumpOf;
using test::ExpectFileBytes;
using test::ExpectFileError;
using test::FolderEntries;
using test::ReadBytes;
using test::SameMtime;
using test::SetOldTimes;
using test::StatOf;
using test::TempDir;
using test::WriteBytes;
using Names = std::vector<std::string>;

// Sets the process's file-creation mask for the length of a test.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    ~Umask() { ::umask(old_); }

private:
    mode_t old_;
};

// The document of the save Part's four-line example.
void FourLineDocument(Document& doc, std::string_view root = "settings.ini") {
    BuildTree(doc, root, {{"[a]", {"x=1", ";y=2"}}, {";[b]", {}}});
}
constexpr std::string_view kFourLines = "[a]\r\nx=1\r\n;y=2\r\n;[b]\r\n";

// --- reports and names ------------------------------------------------------

TEST(LoadReport, CountsInDecimalWithoutSeparators) {
    struct Case {
        std::size_t keys, sections;
        const char* text;
    };
    const Case cases[] = {
        {5, 2, "Loaded, 5 Keys in 2 sections"},
        {4, 1, "Loaded, 4 Keys in 1 sections"},
        {0, 0, "Loaded, 0 Keys in 0 sections"},
        {1234567, 10000, "Loaded, 1234567 Keys in 10000 sections"},
    };
    for (const auto& c : cases) {
        LoadResult r;
        r.keyCount = c.keys;
        r.sectionCount = c.sections;
        EXPECT_EQ(LoadReport(r), c.text);
    }
}

TEST(SaveReport, WithAndWithoutBackup) {
    EXPECT_EQ(SaveReport("new.ini", SaveResult{false}), "INI File saved as new.ini");
    EXPECT_EQ(SaveReport("settings.ini", SaveResult{true}),
              "INI File saved as settings.ini, original file was backed up as *.in1");
}

TEST(FileNames, NameAfterTheLastSlashAndBackupName) {
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        {"/etc/app/settings.ini", "settings.ini"},
        {"settings.ini", "settings.ini"},
        {"./a.ini", "a.ini"},
        {"dir/", ""},
        {"a\\b.ini", "a\\b.ini"},
        {"C:\\data\\app.ini", "C:\\data\\app.ini"},
        {"x/y:z.ini", "y:z.ini"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileNameOfPath(c.path), c.name);
    }
    EXPECT_EQ(BackupName("data/settings.ini"), "data/settings.ini.in1");
    EXPECT_EQ(BackupName("settings"), "settings.in1");
}

// --- loading ----------------------------------------------------------------

TEST(Load, TreeCountsAndRoot) {
    TempDir dir;
    const std::string path = dir / "app.ini";
    WriteBytes(path, "; c\n[one]\na=1\nb=2\nc=3\n\n[two]\nd=4\ne=5\n");
    Document doc;
    LoadResult r = LoadIniFile(doc, path);
    EXPECT_EQ(r.root, doc.First());
    EXPECT_EQ(r.keyCount, 5u);
    EXPECT_EQ(r.sectionCount, 2u);
    EXPECT_EQ(LoadReport(r), "Loaded, 5 Keys in 2 sections");
    EXPECT_EQ(DumpOf(doc),
              "app.ini\n  [one]\n    a=1\n    b=2\n    c=3\n  [two]\n    d=4\n    e=5\n");
}

TEST(Load, FilesWithoutSectionsGiveOnlyTheRoot) {
    const char* texts[] = {"", "\n\n  \n", "; a\n;; b\n", "a=1\nb\n"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        TempDir dir;
        WriteBytes(dir / "x.ini", text);
        Document doc;
        LoadResult r = LoadIniFile(doc, dir / "x.ini");
        EXPECT_EQ(LoadReport(r), "Loaded, 0 Keys in 0 sections");
        EXPECT_EQ(doc.Count(), 1u);
    }
}

TEST(Load, LeavesTheChangedMarkAsItWas) {
    TempDir dir;
    WriteBytes(dir / "x.ini", "[a]\nx=1\n");
    for (bool mark : {false, true}) {
        Document doc;
        doc.ItemsChanged = mark;
        LoadIniFile(doc, dir / "x.ini");
        EXPECT_EQ(doc.ItemsChanged, mark);
    }
}

TEST(Load, NeverChangesTheFile) {
    const char* texts[] = {
        "; comment\n[a]\nk=a;b\nk=a;b\n\n[a]\nk=a;b\n",
        "\xef\xbb\xbf[x]\r\n  spaced = value  \r\n",
        "",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        TempDir dir;
        const std::string path = dir / "x.ini";
        WriteBytes(path, text);
        SetOldTimes(path);
        ::chmod(path.c_str(), 0444);
        const struct stat before = StatOf(path);
        Document doc;
        LoadIniFile(doc, path);
        LoadIniFile(doc, path);
        const struct stat after = StatOf(path);
        EXPECT_TRUE(SameMtime(before, after));
        EXPECT_EQ(before.st_ino, after.st_ino);
        EXPECT_EQ(after.st_mode & 07777, 0444u);
        EXPECT_EQ(ReadBytes(path), text);
        EXPECT_EQ(FolderEntries(dir.path()), Names{"x.ini"});
    }
}

TEST(Load, AFailedLoadChangesNothing) {
    TempDir dir;
    WriteBytes(dir / "a.ini", "[a]\nx=1\n");
    Document doc;
    LoadIniFile(doc, dir / "a.ini");
    doc.SetText(doc.NodeAt(2), "x=2");
    doc.ItemsChanged = true;
    const std::string before = DumpOf(doc);
    ExpectFileError([&] { LoadIniFile(doc, dir / "missing.ini"); }, 2, "File not found");
    ExpectFileError([&] { LoadIniFile(doc, dir.path()); }, 5, "File access denied");
    EXPECT_EQ(DumpOf(doc), before);
    EXPECT_TRUE(doc.ItemsChanged);
    EXPECT_EQ(SerializeDocument(doc), "[a]\nx=2\n");
}

TEST(Load, ReloadShowsTheCurrentContent) {
    TempDir dir;
    const std::string path = dir / "a.ini";
    WriteBytes(path, "[a]\nx=1\n");
    Document doc;
    LoadIniFile(doc, path);
    WriteBytes(path, "[b]\ny=2\nz=3\n");
    LoadResult r = LoadIniFile(doc, path);
    EXPECT_EQ(r.keyCount, 2u);
    EXPECT_EQ(DumpOf(doc), "a.ini\n  [b]\n    y=2\n    z=3\n");
}

TEST(Load, BareFileNameIsTakenFromTheCurrentFolder) {
    TempDir dir;
    WriteBytes(dir / "plain.cfg", "[a]\nx=1\n");
    const std::string oldCwd = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    Document doc;
    std::string dump;
    try {
        LoadIniFile(doc, "plain.cfg");
        dump = DumpOf(doc);
    } catch (const std::exception& e) {
        dump = e.what();
    }
    ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
    EXPECT_EQ(dump, "plain.cfg\n  [a]\n    x=1\n");
}

TEST(Load, LargeFilesLoadAndSaveBackByteForByte) {
    struct Case {
        const char* what;
        std::string text;
        std::size_t keys, sections;
    };
    std::string manyLines = "; many\r\n";
    for (int s = 0; s < 300; ++s) {
        manyLines += "[section" + std::to_string(s) + "]\r\n";
        for (int k = 0; k < 1000; ++k) manyLines += "key" + std::to_string(k) + "=value\r\n";
        manyLines += "\r\n";
    }
    const Case cases[] = {
        {"one long line", "[a]\nk=" + std::string(5 * 1024 * 1024, 'v') + "\n", 1, 1},
        {"300 thousand lines", manyLines, 300000, 300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteBytes(dir / "big.ini", c.text);
        Document doc;
        LoadResult r = LoadIniFile(doc, dir / "big.ini");
        EXPECT_EQ(r.keyCount, c.keys);
        EXPECT_EQ(r.sectionCount, c.sections);
        SaveIniFile(doc, dir / "copy.ini");
        EXPECT_TRUE(ReadBytes(dir / "copy.ini") == c.text) << "saved bytes differ";
    }
}

// --- saving -----------------------------------------------------------------

TEST(Save, FourLineExampleToANewFile) {
    Umask mask(022);
    TempDir dir;
    Document doc;
    FourLineDocument(doc);
    EXPECT_EQ(SerializeDocument(doc), kFourLines);
    SaveResult r = SaveIniFile(doc, dir / "new.ini");
    EXPECT_FALSE(r.backupMade);
    ExpectFileBytes(dir / "new.ini", kFourLines);
    EXPECT_EQ(FolderEntries(dir.path()), Names{"new.ini"});
    // A new file gets the usual permissions of a created file, not those of
    // a private temporary file.
    EXPECT_EQ(StatOf(dir / "new.ini").st_mode & 07777, 0644u);
}

TEST(Save, OnlyTheRootWritesAnEmptyFile) {
    TempDir dir;
    Document doc;
    doc.AddRoot("empty.ini");
    EXPECT_EQ(SerializeDocument(doc), "");
    SaveIniFile(doc, dir / "empty.ini");
    ExpectFileBytes(dir / "empty.ini", "");
}

TEST(Save, NodeTextsAreWrittenAsTheyStand) {
    Document doc;
    BuildTree(doc, "r.ini", {{"  [a] ", {"", "  x = 1 ", ";", "a=b=c"}}, {"", {"k"}}});
    EXPECT_EQ(SerializeDocument(doc), "  [a] \r\n\r\n  x = 1 \r\n;\r\na=b=c\r\n\r\nk\r\n");
}

TEST(Save, DoesNotTouchTheChangedMark) {
    TempDir dir;
    for (bool mark : {false, true}) {
        Document doc;
        FourLineDocument(doc);
        doc.ItemsChanged = mark;
        SaveIniFile(doc, dir / (mark ? "t.ini" : "f.ini"));
        EXPECT_EQ(doc.ItemsChanged, mark);
    }
}

TEST(Save, OverAnExistingFileKeepsItAsBackup) {
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteBytes(path, "old content\r\n");
    Document doc;
    FourLineDocument(doc);
    SaveResult r = SaveIniFile(doc, path);
    EXPECT_TRUE(r.backupMade);
    ExpectFileBytes(path, kFourLines);
    ExpectFileBytes(path + ".in1", "old content\r\n");
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"settings.ini", "settings.ini.in1"}));
    EXPECT_EQ(SaveReport(FileNameOfPath(path), r),
              "INI File saved as settings.ini, original file was backed up as *.in1");
}

TEST(Save, SecondSaveFailsOnTheExistingBackupAndChangesNothing) {
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteBytes(path, "first\n");
    Document doc;
    FourLineDocument(doc);
    SaveIniFile(doc, path);
    SetOldTimes(path);
    SetOldTimes(path + ".in1");
    const struct stat fileBefore = StatOf(path);
    const struct stat backupBefore = StatOf(path + ".in1");

    doc.SetText(doc.NodeAt(2), "x=2");
    ExpectFileError([&] { SaveIniFile(doc, path); }, 17, "I/O error 17");

    ExpectFileBytes(path, kFourLines);
    ExpectFileBytes(path + ".in1", "first\n");
    EXPECT_TRUE(SameMtime(fileBefore, StatOf(path)));
    EXPECT_TRUE(SameMtime(backupBefore, StatOf(path + ".in1")));
    EXPECT_EQ(fileBefore.st_ino, StatOf(path).st_ino);
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"settings.ini", "settings.ini.in1"}));
}

TEST(Save, ABackupNameThatIsAFolderAlsoBlocks) {
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteBytes(path, "old\n");
    fs::create_directory(path + ".in1");
    Document doc;
    FourLineDocument(doc);
    EXPECT_THROW(SaveIniFile(doc, path), FileError);
    ExpectFileBytes(path, "old\n");
    EXPECT_TRUE(fs::is_directory(path + ".in1"));
    EXPECT_TRUE(fs::is_empty(path + ".in1"));
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"settings.ini", "settings.ini.in1"}));
}

TEST(Save, KeepsTheReplacedFilesPermissionBits) {
    Umask mask(022);
    for (mode_t mode : {0600, 0640, 0604, 0755}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        const std::string path = dir / "settings.ini";
        WriteBytes(path, "old\n");
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        Document doc;
        FourLineDocument(doc);
        SaveIniFile(doc, path);
        EXPECT_EQ(StatOf(path).st_mode & 07777, mode);
        EXPECT_EQ(StatOf(path + ".in1").st_mode & 07777, mode);
    }
}

TEST(Save, KeepsTheReplacedFilesOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
    TempDir dir;
    const std::string path = dir / "settings.ini";
    WriteBytes(path, "old\n");
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    Document doc;
    FourLineDocument(doc);
    SaveIniFile(doc, path);
    EXPECT_EQ(StatOf(path).st_uid, 65534u);
    EXPECT_EQ(StatOf(path).st_gid, 65534u);
}

// A POSIX ACL as the kernel stores it in system.posix_acl_access: the owner
// rw-, user `uid` r--, the group r--, the mask r--, others nothing.
std::string AclGivingReadTo(std::uint32_t uid) {
    std::string acl;
    const auto put = [&acl](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) acl.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    put(2, 4);  // version
    const std::uint32_t none = 0xffffffff;
    const std::uint32_t entries[][3] = {
        {0x01, 6, none}, {0x02, 4, uid}, {0x04, 4, none}, {0x10, 4, none}, {0x20, 0, none}};
    for (const auto& e : entries) {
        put(e[0], 2);
        put(e[1], 2);
        put(e[2], 4);
    }
    return acl;
}

std::map<std::string, std::string> ExtendedAttributes(const std::string& path) {
    std::map<std::string, std::string> attributes;
    char names[4096];
    const ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
    for (const char* name = names; size > 0 && name < names + size; name += std::strlen(name) + 1) {
        char value[4096];
        const ssize_t n = ::lgetxattr(path.c_str(), name, value, sizeof value);
        if (n >= 0) attributes[name] = std::string(value, static_cast<std::size_t>(n));
    }
    return attributes;
}

// What protects a file survives its save: owner, every mode bit (setuid and
// setgid too, which a change of owner after the mode would clear), extended
// attributes and the ACL (whose mask must not become group write).
TEST(Save, KeepsWhatProtectsTheFile) {
    const bool root = ::geteuid() == 0;
    struct Case {
        const char* what;
        mode_t mode;
        bool otherOwner;  // owned by nobody:nogroup, which needs root
        std::map<std::string, std::string> attributes;
    };
    const Case cases[] = {
        {"setuid and setgid of another owner", 06755, true, {}},
        {"setgid and sticky", 03640, false, {}},
        {"user attributes", 0640, false, {{"user.origin", "web"}, {"user.bin", {"\0\xff", 2}}}},
        {"ACL with a named user",
         0640,
         false,
         {{"system.posix_acl_access", AclGivingReadTo(65534)}}},
        {"ACL and attribute of another owner",
         04640,
         true,
         {{"system.posix_acl_access", AclGivingReadTo(1)}, {"user.k", "v"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherOwner && !root) {
            std::cout << "skipped without root: " << c.what << "\n";
            continue;
        }
        TempDir dir;
        const std::string path = dir / "settings.ini";
        WriteBytes(path, "old\n");
        if (c.otherOwner) {
            ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        }
        bool supported = true;
        for (const auto& [name, value] : c.attributes) {
            if (::setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) {
                ASSERT_EQ(errno, ENOTSUP) << name;
                supported = false;
            }
        }
        if (!supported) {
            std::cout << "skipped, no extended attributes here: " << c.what << "\n";
            continue;
        }
        ASSERT_EQ(::chmod(path.c_str(), c.mode), 0);
        const struct stat before = StatOf(path);
        ASSERT_EQ(before.st_mode & 07777, c.mode);
        const auto attributes = ExtendedAttributes(path);

        Document doc;
        FourLineDocument(doc);
        ASSERT_TRUE(SaveIniFile(doc, path).backupMade);
        ExpectFileBytes(path, kFourLines);
        const struct stat after = StatOf(path);
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_mode & 07777, c.mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_EQ(ExtendedAttributes(path), attributes);
        EXPECT_EQ(StatOf(path + ".in1").st_mode & 07777, c.mode);
    }
}

// A link in a sticky world-writable folder (such as /tmp) is followed only
// when it belongs to this user or to the folder's owner, at every hop; a
// planted link cannot turn root's save onto a file of its choosing.
TEST(Save, LinksInSharedFoldersAreFollowedOnlyAsTheSystemWould) {
    if (::geteuid() != 0) GTEST_SKIP() << "links of another owner need root";
    struct Case {
        const char* what;
        mode_t folderMode;
        uid_t folderOwner;
        std::vector<uid_t> linkOwners;  // the chain from the saved name on
        bool follows;
    };
    const uid_t other = 65534;
    const Case cases[] = {
        {"another user's link in a sticky shared folder", 01777, 0, {other}, false},
        {"own link there", 01777, 0, {0}, true},
        {"link of the folder's owner", 01777, other, {other}, true},
        {"shared folder without the sticky bit", 0777, 0, {other}, true},
        {"sticky folder only its owner writes", 01755, 0, {other}, true},
        {"own link to another user's link", 01777, 0, {0, other}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        fs::create_directory(dir / "real");
        const std::string real = dir / "real/settings.ini";
        WriteBytes(real, "old\n");
        const std::string shared = dir / "shared";
        fs::create_directory(shared);
        // The chain: link0 -> link1 -> ... -> the real file.
        const std::size_t n = c.linkOwners.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::string link = shared + "/link" + std::to_string(i);
            const std::string to = i + 1 < n ? "link" + std::to_string(i + 1) : real;
            fs::create_symlink(to, link);
            ASSERT_EQ(::lchown(link.c_str(), c.linkOwners[i], c.linkOwners[i]), 0);
        }
        ASSERT_EQ(::chown(shared.c_str(), c.folderOwner, c.folderOwner), 0);
        ASSERT_EQ(::chmod(shared.c_str(), c.folderMode), 0);

        Document doc;
        FourLineDocument(doc);
        if (c.follows) {
            EXPECT_TRUE(SaveIniFile(doc, shared + "/link0").backupMade);
            ExpectFileBytes(real, kFourLines);
            EXPECT_EQ(FolderEntries(dir / "real"), (Names{"settings.ini", "settings.ini.in1"}));
        } else {
            ExpectFileError([&] { SaveIniFile(doc, shared + "/link0"); }, 5, "File access denied");
            ExpectFileBytes(real, "old\n");
            EXPECT_EQ(FolderEntries(dir / "real"), Names{"settings.ini"});
        }
        EXPECT_TRUE(fs::is_symlink(shared + "/link0"));
        EXPECT_EQ(FolderEntries(shared).size(), n);
    }
}

TEST(Save, ThroughASymbolicLink) {
    TempDir dir;
    fs::create_directory(dir / "real");
    fs::create_directory(dir / "links");
    const std::string real = dir / "real/settings.ini";
    WriteBytes(real, "old\n");
    // Relative targets count from the link's folder, not the current one.
    fs::create_symlink("../real/settings.ini", dir / "links/link.ini");
    fs::create_symlink("link.ini", dir / "links/chain.ini");
    Document doc;
    FourLineDocument(doc);

    SaveResult r = SaveIniFile(doc, dir / "links/link.ini");
    EXPECT_TRUE(r.backupMade);
    ExpectFileBytes(real, kFourLines);
    ExpectFileBytes(real + ".in1", "old\n");
    EXPECT_TRUE(fs::is_symlink(dir / "links/link.ini"));
    EXPECT_EQ(fs::read_symlink(dir / "links/link.ini").string(), "../real/settings.ini");
    EXPECT_EQ(FolderEntries(dir / "links"), (Names{"chain.ini", "link.ini"}));
    EXPECT_EQ(FolderEntries(dir / "real"), (Names{"settings.ini", "settings.ini.in1"}));

    // A link to a link reaches the same file; its backup now exists.
    fs::remove(real + ".in1");
    doc.SetText(doc.NodeAt(2), "x=9");
    SaveIniFile(doc, dir / "links/chain.ini");
    EXPECT_EQ(ReadBytes(real), "[a]\r\nx=9\r\n;y=2\r\n;[b]\r\n");
    ExpectFileBytes(real + ".in1", kFourLines);
    EXPECT_TRUE(fs::is_symlink(dir / "links/chain.ini"));
    EXPECT_EQ(FolderEntries(dir / "links"), (Names{"chain.ini", "link.ini"}));
}

TEST(Save, ThroughADanglingLinkCreatesTheFileItNames) {
    TempDir dir;
    fs::create_symlink("real.ini", dir / "link.ini");
    Document doc;
    FourLineDocument(doc);
    SaveResult r = SaveIniFile(doc, dir / "link.ini");
    EXPECT_FALSE(r.backupMade);
    ExpectFileBytes(dir / "real.ini", kFourLines);
    EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"link.ini", "real.ini"}));
}

TEST(Save, ThroughALinkToAFolderFails) {
    TempDir dir;
    fs::create_directory(dir / "folder");
    fs::create_symlink("folder", dir / "link.ini");
    Document doc;
    FourLineDocument(doc);
    ExpectFileError([&] { SaveIniFile(doc, dir / "link.ini"); }, 5, "File access denied");
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"folder", "link.ini"}));
    EXPECT_TRUE(fs::is_empty(dir / "folder"));
}

// A file name up to the file system's limit of 255 bytes is valid, and so
// is its backup name while that fits too, however long the name of a
// temporary file beside it would be.
TEST(Save, LongestFileNames) {
    for (std::size_t length : {240u, 247u, 248u, 251u}) {
        SCOPED_TRACE(length);
        TempDir dir;
        const std::string name = std::string(length - 4, 'n') + ".ini";
        const std::string path = dir / name;
        Document doc;
        FourLineDocument(doc, name);
        std::string problem;
        try {
            EXPECT_FALSE(SaveIniFile(doc, path).backupMade);
            EXPECT_TRUE(SaveIniFile(doc, path).backupMade);
        } catch (const std::exception& e) {
            problem = e.what();
        }
        EXPECT_EQ(problem, "");
        EXPECT_EQ(FolderEntries(dir.path()), (Names{name, name + ".in1"}));
    }
}

// Descriptors open now that an exec would hand on.
std::set<int> InheritableDescriptors() {
    std::set<int> fds;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) fds.insert(fd);
    }
    return fds;
}

// While the content is written the new file has no name, so a save killed
// then leaves nothing; the one name it takes just before the rename is
// removed by the next save if a killed save left it, and only then: a file
// that merely has such a name (without the mark that fits it, or the fixed
// name older saves used) stays. Names of every length the file system takes
// keep working.
TEST(Save, NothingIsNamedWhileWritingAndALeftNameIsRemoved) {
    const std::string longest(255, 'n');
    for (const std::string& name : {std::string("settings.ini"), longest}) {
        SCOPED_TRACE(name.size());
        TempDir dir;
        const std::string path = dir / name;
        // What a killed save leaves: a file whose pending name carries its mark.
        WriteBytes(dir / "left", "left by a killed save");
        const struct stat left = test::StatOf(dir / "left");
        const std::string pending = PendingSaveName(name, 42, left.st_dev, left.st_ino);
        EXPECT_LE(pending.size(), 255u);
        EXPECT_TRUE(IsPendingSaveName(name, pending));
        EXPECT_FALSE(IsPendingSaveName(std::string(254, 'n') + "m", pending));
        ASSERT_EQ(::rename((dir / "left").c_str(), (dir / pending).c_str()), 0);
        // A user's file of the same form without the fitting mark.
        const std::string forged = PendingSaveName(name, 43, left.st_dev, left.st_ino);
        WriteBytes(dir / forged, "the user's own");
        Names kept = {name, forged};
        if (name.size() < 200) {
            WriteBytes(dir / ("." + name + ".keyloft-save"), "the user's own");
            kept.push_back("." + name + ".keyloft-save");
        }
        std::sort(kept.begin(), kept.end());
        const Names others = FolderEntries(dir.path());
        Document doc;
        FourLineDocument(doc);
        const std::set<int> before = InheritableDescriptors();
        std::vector<std::string> whileWriting;
        std::set<int> inheritable;
        const bool backup =
            ReplaceFileWithBackup(path, [&](const std::function<void(std::string_view)>& write) {
                whileWriting = FolderEntries(dir.path());
                for (int fd : InheritableDescriptors()) {
                    if (!before.contains(fd)) inheritable.insert(fd);
                }
                SerializeDocument(doc, write);
            });
        EXPECT_FALSE(backup);
        Names othersLeft = others;
        othersLeft.erase(std::find(othersLeft.begin(), othersLeft.end(), pending));
        EXPECT_EQ(whileWriting, othersLeft);
        EXPECT_EQ(inheritable, std::set<int>{});
        ExpectFileBytes(path, kFourLines);
        EXPECT_EQ(FolderEntries(dir.path()), kept);
        EXPECT_EQ(ReadBytes(dir / forged), "the user's own");
    }
}

TEST(Save, BareFileNameGoesToTheCurrentFolder) {
    TempDir dir;
    WriteBytes(dir / "plain.ini", "old\n");
    const std::string oldCwd = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    std::string problem;
    try {
        Document doc;
        FourLineDocument(doc);
        SaveIniFile(doc, "plain.ini");
        SaveIniFile(doc, "fresh.ini");
    } catch (const std::exception& e) {
        problem = e.what();
    }
    ASSERT_EQ(::chdir(oldCwd.c_str()), 0);
    EXPECT_EQ(problem, "");
    ExpectFileBytes(dir / "plain.ini", kFourLines);
    ExpectFileBytes(dir / "plain.ini.in1", "old\n");
    ExpectFileBytes(dir / "fresh.ini", kFourLines);
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"fresh.ini", "plain.ini", "plain.ini.in1"}));
}

// A file with a second name is written in place, so that both names see the
// new bytes: while it is written its old bytes lie complete in the backup, or
// without one in a copy that goes once the new bytes are durable; a failed
// write puts the old bytes back and leaves no copy.
TEST(Save, ALinkedFileIsWrittenInPlaceWithItsOldBytesAside) {
    struct Case {
        const char* what;
        Backup backup;
        bool fails;
    };
    const Case cases[] = {{"with a backup", Backup::Keep, false},
                          {"without one", Backup::None, false},
                          {"a failing write with a backup", Backup::Keep, true},
                          {"a failing write without one", Backup::None, true}};
    const std::string old = "[old]\nk=1\n" + std::string(100000, ';') + "\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "a.ini";
        WriteBytes(path, old);
        ASSERT_EQ(::link(path.c_str(), (dir / "b.ini").c_str()), 0);
        const ino_t inode = StatOf(path).st_ino;
        Names whileWriting;
        std::string aside;
        bool threw = false;
        try {
            ReplaceFileWithBackup(
                path,
                [&](const std::function<void(std::string_view)>& write) {
                    whileWriting = FolderEntries(dir.path());
                    for (const std::string& name : whileWriting) {
                        if (name != "a.ini" && name != "b.ini") aside = ReadBytes(dir / name);
                    }
                    write(kFourLines);
                    if (c.fails) throw FileError(101, "Disk full");
                },
                c.backup);
        } catch (const FileError&) {
            threw = true;
        }
        EXPECT_EQ(threw, c.fails);
        EXPECT_EQ(whileWriting.size(), 3u);
        EXPECT_EQ(aside, old) << "the old bytes are not complete aside";
        if (c.backup == Backup::Keep) {
            EXPECT_EQ(whileWriting[1], "a.ini.in1");
        }
        const std::string now = c.fails ? old : std::string(kFourLines);
        ExpectFileBytes(path, now);
        ExpectFileBytes(dir / "b.ini", now);
        EXPECT_EQ(StatOf(path).st_ino, inode);
        const bool backupStays = c.backup == Backup::Keep && !c.fails;
        const Names left =
            backupStays ? Names{"a.ini", "a.ini.in1", "b.ini"} : Names{"a.ini", "b.ini"};
        EXPECT_EQ(FolderEntries(dir.path()), left);
    }
}

TEST(Save, ToAFolderFailsAndLeavesNothing) {
    TempDir dir;
    fs::create_directory(dir / "sub.ini");
    Document doc;
    FourLineDocument(doc);
    ExpectFileError([&] { SaveIniFile(doc, dir / "sub.ini"); }, 5, "File access denied");
    EXPECT_TRUE(fs::is_directory(dir / "sub.ini"));
    EXPECT_EQ(FolderEntries(dir.path()), Names{"sub.ini"});
}

TEST(Save, LoadedFileComesBackWithItsBreaksMarkAndDroppedLines) {
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"LF", "; top\n[a]\nx=1\n\n; c\ny=2\n"},
        {"CR", "; top\r[a]\rx=1\r\r; c\ry=2\r"},
        {"CR LF with a mark", "\xef\xbb\xbf[a]\r\nx=1\r\n"},
        {"dropped bytes in other breaks", "[a]\r\n\n; c\rx=1\r\n\r\r;; end\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir / "f.ini";
        WriteBytes(path, c.text);
        Document doc;
        LoadIniFile(doc, path);
        SaveResult r = SaveIniFile(doc, path);
        EXPECT_TRUE(r.backupMade);
        ExpectFileBytes(path, c.text);
        ExpectFileBytes(path + ".in1", c.text);
    }
}

TEST(Save, EditedLoadedFileUsesItsLineBreaks) {
    TempDir dir;
    const std::string path = dir / "f.ini";
    WriteBytes(path, "[a]\nx = 1\n\n; about b\n[b]\n");
    Document doc;
    LoadIniFile(doc, path);
    doc.AddChild(doc.NodeAt(3), "y=2");
    doc.Delete(doc.NodeAt(2));
    SaveIniFile(doc, dir / "out.ini");
    ExpectFileBytes(dir / "out.ini", "[a]\n\n; about b\n[b]\ny=2\n");
}

// --- the file-system layer directly -----------------------------------------

TEST(FileSystem, IsExistingFile) {
    TempDir dir;
    WriteBytes(dir / "f", "x");
    fs::create_directory(dir / "d");
    fs::create_symlink("f", dir / "to-file");
    fs::create_symlink("d", dir / "to-dir");
    fs::create_symlink("none", dir / "dangling");
    ASSERT_EQ(test::MakeFifo(dir / "fifo"), "");
    ASSERT_EQ(test::MakeSocketFile(dir / "socket"), "");
    fs::create_symlink("fifo", dir / "to-fifo");
    EXPECT_TRUE(IsExistingFile(dir / "f"));
    EXPECT_TRUE(IsExistingFile(dir / "to-file"));
    EXPECT_FALSE(IsExistingFile(dir / "d"));
    EXPECT_FALSE(IsExistingFile(dir / "to-dir"));
    EXPECT_FALSE(IsExistingFile(dir / "dangling"));
    EXPECT_FALSE(IsExistingFile(dir / "none"));
    EXPECT_FALSE(IsExistingFile(dir / "f/x"));
    for (const std::string& path : {dir / "fifo", dir / "to-fifo", dir / "socket",
                                    std::string("/dev/null"), std::string("/dev/zero")}) {
        EXPECT_FALSE(IsExistingFile(path)) << path;
    }
}

TEST(FileSystem, ReadWholeFile) {
    TempDir dir;
    const std::string bytes = std::string("a\0b\r\n\xff", 6);
    WriteBytes(dir / "f", bytes);
    WriteBytes(dir / "empty", "");
    FileBytes f = ReadWholeFile(dir / "f");
    EXPECT_EQ(std::string(f.data.get(), f.size), bytes);
    EXPECT_EQ(ReadWholeFile(dir / "empty").size, 0u);
}

TEST(FileSystem, ReplaceFileWithBackup) {
    TempDir dir;
    const std::string path = dir / "f";
    EXPECT_FALSE(ReplaceFileWithBackup(path, "one"));
    ExpectFileBytes(path, "one");
    EXPECT_TRUE(ReplaceFileWithBackup(path, "two"));
    ExpectFileBytes(path, "two");
    ExpectFileBytes(path + ".in1", "one");
    ExpectFileError([&] { ReplaceFileWithBackup(path, "three"); }, 17, "I/O error 17");
    ExpectFileBytes(path, "two");
    ExpectFileBytes(path + ".in1", "one");
    EXPECT_EQ(FolderEntries(dir.path()), (Names{"f", "f.in1"}));
}

// A file whose first line break is a lone CR writes its shown lines with CR;
// a kept blank line that starts with LF must not merge with that CR into one
// CR LF break, or the blank line would be gone on the next reading.
TEST(Save, LoneCrBreaksDoNotSwallowAKeptLfLine) {
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"blank LF line between sections", "[a]\rx=1\n\n[b]\r"},
        {"LF comment at the end", "[a]\rx=1\n\n; end\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Document doc;
        test::LoadText(doc, c.text);
        const std::string saved = SerializeDocument(doc);
        Document again;
        test::LoadText(again, saved);
        EXPECT_EQ(DumpOf(again), DumpOf(doc));
        // Every line of the file is still a line, in order.
        EXPECT_EQ(test::SplitLines(saved).size(), test::SplitLines(c.text).size()) << saved;
    }
}

}  // namespace
}  // namespace keyloft
