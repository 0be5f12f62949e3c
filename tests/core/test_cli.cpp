// keyloft-ini's commands over one fixture: for each, the exact bytes left in
// the file, what it prints and its exit code; each change again with
// --dry-run, against `diff -u`; twenty writers on one file at once. Which
// line a name finds and what each edit says are the rules of the query
// functions, tested on them in test_ini_query.cpp (the diff's in
// test_unified_diff.cpp); the rows here are the tool's wiring: arguments and
// options, exit codes, the output streams and the files written.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TestHelpers.h"
#include "document/Commenting.h"
#include "document/Document.h"
#include "files/IniFile.h"

namespace keyloft {
namespace {

using namespace std::string_literals;

using test::DataPath;
using test::DumpOf;
using test::LoadText;
using test::ReadBytes;
using test::RunTool;
using test::SameMtime;
using test::SetOldTimes;
using test::StartedProgram;
using test::StatOf;
using test::TempDir;
using test::ToolRun;
using test::Utf16Le;
using test::WriteBytes;
using namespace std::string_literals;

// A run of the fixture's bytes, found exactly once, and what replaces it.
struct Edit {
    std::string from, to;
};

struct CliCase {
    // FILE, LINK (a symbolic link to FILE) and MISSING stand for paths; "-"
    // reads `input`, or the fixture when that is empty.
    std::vector<std::string> args;
    int exit;
    // The file afterwards: the fixture with these edits, every other byte
    // unchanged. No edits: not written at all, its time unchanged.
    std::vector<Edit> edits = {};
    std::string out = {};  // "FILE" stands for the path
    // Standard error after "keyloft-ini: PATH: "; with exit 2 a usage message.
    std::string err = {};
    // Standard input: for "-" (the fixture when empty) and for merge.
    std::string input = {};
    bool backupThere = false;  // FILE.in1 exists before the run
    // MISSING afterwards; empty: it does not exist.
    std::string created = {};
    std::string file = {};  // FILE's bytes, when not the fixture's
};

const std::string kNulFile = "[s]\nb=x\0y\nc=3\n[t]\nd=4\n"s;
const std::string kNulRefused = "line 2 holds a NUL byte: the file is not changed";

const std::string kFixture = "shell_edits.ini";

// A UTF-16 file as Windows programs write them, and the bytes of its units
// without the mark, for edits.
const std::string kUtf16 = Utf16Le(
    u"Version=2\r\n[G\u00e9n\u00e9ral]\r\nGr\u00f6\u00dfe = 4\r\n[\u8a2d\u5b9a]\r\n"
    u"\u8a00\u8a9e=\u65e5\u672c\u8a9e\r\n");
std::string Units(std::u16string_view units) { return Utf16Le(units).substr(2); }

// A row run on `file` instead of the fixture.
CliCase On(std::string file, CliCase row) {
    row.file = std::move(file);
    return row;
}

// "#" lines where a reader of the editor's rules would find fault.
const std::string kHashLines = "# made by hand\n[a]\n# no equals sign\n#k=v\nk=v\n";

const std::string kGeneral1 =
    "[General]\r\nname=Keyloft\r\n  indent = deep  \r\n;old=1\r\n; plain "
    "comment\rmode=fast\nbroken line\r\n";
const std::string kGeneral2 = "[General]\r\nextra=1\r\nname=second\r\n";

const std::vector<CliCase> kCases = {
    // Reading.
    {{"dump", "FILE"},
     0,
     {},
     "settings.ini\n  [General]\n    name=Keyloft\n    indent=deep\n    ;old=1\n    mode=fast\n"
     "    broken line\n  [Paths]\n    home=/srv/home\n    [two] ; note\n    home=again\n  "
     "[general]\n"
     "    name=lower\n  [General]\n    extra=1\n    name=second\n  ;[Retired]\n    ;gone=yes\n    "
     "kept=no\n"},
    {{"sections", "FILE"}, 0, {}, "General\nPaths\ngeneral\nGeneral\n"},
    {{"sections", "-"}, 0, {}, "General\nPaths\ngeneral\nGeneral\n"},
    {{"get", "FILE", "General", "name"}, 0, {}, "Keyloft\n"},
    {{"get", "-", "Paths", "home"}, 0, {}, "/srv/home\n"},
    {{"get", "FILE", "General"},
     0,
     {},
     "name=Keyloft\nindent=deep\n;old=1\nmode=fast\nbroken line\nextra=1\nname=second\n"},
    {{"get", "FILE", "General", "old"}, 1, {}, "", "no key old in [General]"},
    {{"get", "FILE", "Retired"}, 1, {}, "", "no section [Retired]"},
    {{"get", "MISSING", "General"}, 1, {}, "", "File not found."},
    {{"lint", "FILE"},
     1,
     {},
     "FILE:2: text before the first section is not read\n"
     "FILE:9: line has no \"=\" and is no comment\n"
     "FILE:13: line starts with \"[\" but does not end with \"]\": not a section header\n"
     "FILE:14: key home is given again in [Paths] (first on line 12)\n"
     "FILE:15: section [general] differs from [General] on line 3 only in letter case\n"
     "FILE:17: section [General] repeats the one on line 3\n"
     "FILE:22: key kept is under the commented header ;[Retired]: other readers put this key in "
     "the section above\n"},
    {{"lint", "-"}, 0, {}, "", "", "; fine\r\n\r\n[a]\r\nx=1\r\n;x=2\r\n[b]\r\nx=1\r\n"},
    {{"lint", "-"}, 0, {}, "", "", kHashLines},
    {{"lint", "--strict", "-"},
     1,
     {},
     "-:1: text before the first section is not read\n"
     "-:3: line has no \"=\" and is no comment\n"
     "-:4: line begins with \"#\": a key to the editor, a comment to other readers\n",
     "",
     kHashLines},
    {{"lint", "-"},
     1,
     {},
     "-:3: key Name in [a] differs from name on line 2 only in letter case\n"
     "-:5: key k is under the commented header ;[b]: other readers put this key in the section "
     "above\n"
     "-:6: NUL byte: the editor reads no further\n",
     "",
     "[a]\nname=1\nName=2\n;[b]\nk=1\nx\0y\n[c]\n"s},
    {{"lint", "-"}, 1, {}, "-:2: NUL byte: the editor reads no further\n", "", "[a]\n\0"s},

    // keys and get --format=sh
    {{"keys", "FILE", "General"}, 0, {}, "name\nindent\nmode\nextra\nname\n"},
    {{"keys", "FILE", "Retired"}, 1, {}, "", "no section [Retired]"},
    {{"get", "--format=sh", "FILE", "General"},
     0,
     {},
     "name='Keyloft'\nindent='deep'\nmode='fast'\nextra='1'\n"},
    {{"get", "--format=sh", "-", "s"},
     1,
     {},
     "q='it'\\''s \"$x\" `y` \\ '\\'' '\\'''\n_ok=''\nu='\xC3\xA9\xFF'\n",
     "key a-b in [s] is not a shell name: left out",
     "[s]\nq = it's \"$x\" `y` \\ ' '\na-b=1\n_ok=\nu=\xC3\xA9\xFF\nq=second\n"},

    // set
    {{"set", "FILE", "General", "name", "New"}, 0, {{"name=Keyloft\r\n", "name=New\r\n"}}},
    {{"set", "FILE", "General", "indent", "deep"}, 0},
    {{"set", "FILE", "General", "mode", "slow"}, 0, {{"mode=fast\n", "mode=slow\n"}}},
    {{"set", "FILE", "New", "k", "v"}, 0, {{"kept=no\r\n", "kept=no\r\n[New]\r\nk=v\r\n"}}},
    {{"set", "FILE", "--", "Paths", "home", "-x"}, 0, {{"home = /srv/home\r\n", "home = -x\r\n"}}},
    {{"set", "LINK", "Paths", "home", "/home"}, 0, {{"home = /srv/home\r\n", "home = /home\r\n"}}},
    {{"set", "--existing", "FILE", "New", "k", "v"}, 1, {}, "", "no section [New]"},
    {{"set", "--backup", "FILE", "General", "name", "x"}, 1, {}, "", "I/O error 17.", "", true},
    {{"set", "MISSING", "General", "name", "x"}, 0, {}, "", "", "", false, "[General]\nname=x\n"},
    {{"set", "--existing", "MISSING", "General", "name", "x"}, 1, {}, "", "File not found."},
    {{"set", "--dry-run", "MISSING", "S", "k", "v"},
     0,
     {},
     "--- FILE\n+++ FILE\n@@ -0,0 +1,2 @@\n+[S]\n+k=v\n"},

    // merge
    {{"merge", "FILE"},
     0,
     {{"name=Keyloft\r\n", "name=Newer\r\n"},
      {"mode=fast\n", "mode=slow\n"},
      {"kept=no\r\n", "kept=no\r\n[New]\r\nk=v\r\n"}},
     "",
     "",
     "; set name, add [New]\n[General]\n  name = New\n# c\n\n[New]\r\nk=v\r[General]\nmode=slow\n"
     "name=Newer"},
    {{"merge", "FILE"},
     0,
     {},
     "",
     "",
     "[General]\nname=x\nname=Keyloft\n[Paths]\nhome = /srv/home\n[General]\nindent=deep\n"},
    {{"merge", "--backup", "FILE"},
     0,
     {{"home = /srv/home\r\n", "home = /home\r\n"}},
     "",
     "",
     "[Paths]\nhome=/home\n"},
    {{"merge", "FILE"},
     1,
     {},
     "",
     "standard input, line 2: a setting before the first [section]",
     "\nk=v\n[General]\nname=x\n"},
    {{"merge", "FILE"},
     1,
     {},
     "",
     "standard input, line 3: no \"=\" in the line",
     "[General]\nname=x\nbroken\n"},
    {{"merge", "FILE"},
     1,
     {},
     "",
     "standard input, line 2: no key before \"=\"",
     "[General]\n=x\n"},
    {{"merge", "--existing", "FILE"},
     1,
     {},
     "",
     "no section [Nope]",
     "[General]\nname=x\n[Nope]\nk=v\n"},
    {{"merge", "MISSING"}, 0, {}, "", "", "[a]\nk=1\n[b]\nj=2\n", false, "[a]\nk=1\n[b]\nj=2\n"},
    {{"merge", "MISSING"},
     1,
     {},
     "",
     "standard input, line 1: a setting before the first [section]",
     "k=1\n"},
    {{"merge", "MISSING"}, 0, {}, "", "", "; nothing to set\n"},

    // del
    {{"del", "FILE", "General", "name"}, 0, {{"name=Keyloft\r\n", ""}}},
    {{"del", "--backup", "FILE", "Paths", "home"}, 0, {{"home = /srv/home\r\n", ""}}},
    {{"del", "FILE", "General"}, 0, {{kGeneral1, ""}, {kGeneral2, ""}}},

    // comment and uncomment
    {{"comment", "FILE", "General", "name"}, 0, {{"name=Keyloft\r\n", ";name=Keyloft\r\n"}}},
    {{"comment", "FILE", "General", "old"}, 1, {}, "", "old in [General] is already commented"},
    {{"uncomment", "FILE", "General", "old"}, 0, {{";old=1\r\n", "old=1\r\n"}}},
    {{"uncomment", "FILE", "Retired"},
     0,
     {{";[Retired]\r\n;gone=yes\r\n", "[Retired]\r\ngone=yes\r\n"}}},

    // Files the tool does not change or read: one that holds a NUL (the
    // reading stops there, so a change before it would be the only one
    // other readers do not see), a device.
    On(kNulFile, {{"set", "FILE", "t", "d", "5"}, 1, {}, "", kNulRefused}),
    On(kNulFile, {{"comment", "FILE", "s"}, 1, {}, "", kNulRefused}),
    On(kNulFile, {{"del", "--backup", "FILE", "s", "b"}, 1, {}, "", kNulRefused}),
    On(kNulFile, {{"get", "FILE", "s", "b"}, 0, {}, "x\n"}),
    {{"get", "DEVICE", "s"}, 1, {}, "", "File access denied."},
    {{"set", "DEVICE", "s", "k", "v"}, 1, {}, "", "File access denied."},

    // Usage.
    {{"--version"}, 0, {}, "keyloft-ini 1.0\n"},
    {{"--version", "FILE"}, 2, {}, "", "--version takes no further arguments"},
    {{"--help", "dump"}, 2, {}, "", "--help takes no further arguments"},
    {{}, 2},
    {{"frob", "FILE"}, 2},
    {{"get", "FILE"}, 2},
    {{"get", "FILE", "General", "name", "x"}, 2},
    {{"get", "--backup", "FILE", "General"}, 2},
    {{"del", "--existing", "FILE", "General"}, 2},
    {{"set", "FILE", "General", "name"}, 2},
    {{"set", "FILE", "General", "name", "-1"}, 2},
    {{"set", "-", "General", "name", "x"}, 2},
    {{"set", "FILE", "General", "a=b", "x"}, 2},
    {{"get", "FILE", "General", "a=b"}, 2},
    {{"keys", "FILE", "General", "name"}, 2},
    {{"get", "--format=sh", "FILE", "General", "name"}, 2},
    {{"get", "--format=json", "FILE", "General"}, 2},
    {{"lint", "--strict", "FILE", "General"}, 2},
    {{"merge", "-"}, 2},
    {{"merge", "FILE", "General"}, 2},
    {{"get", "--no-wait", "FILE", "General"}, 2},
    {{"set", "FILE", "General", "name", "x\ny"}, 2},
    {{"set", "FILE", "General\r", "name", "x"}, 2},
    {{"set", "FILE", "General", " name", "x"}, 2},
    {{"set", "FILE", "General", "name", "x "}, 2},
    {{"set", "FILE", "General", ";name", "x"}, 2},
    {{"set", "FILE", "General", "[a", "b]"}, 2},

    // A UTF-16 file: names and values matched and written in its units,
    // everything printed in UTF-8.
    On(kUtf16, {{"dump", "FILE"},
                0,
                {},
                "settings.ini\n  [G\u00e9n\u00e9ral]\n    Gr\u00f6\u00dfe=4\n  [\u8a2d\u5b9a]\n"
                "    \u8a00\u8a9e=\u65e5\u672c\u8a9e\n"}),
    On(kUtf16, {{"sections", "-"}, 0, {}, "G\u00e9n\u00e9ral\n\u8a2d\u5b9a\n"}),
    On(kUtf16, {{"get", "FILE", "G\u00e9n\u00e9ral", "Gr\u00f6\u00dfe"}, 0, {}, "4\n"}),
    On(kUtf16, {{"lint", "FILE"}, 1, {}, "FILE:1: text before the first section is not read\n"}),
    On(kUtf16, {{"set", "FILE", "G\u00e9n\u00e9ral", "Gr\u00f6\u00dfe", "5"},
                0,
                {{Units(u"Gr\u00f6\u00dfe = 4"), Units(u"Gr\u00f6\u00dfe = 5")}}}),
    On(kUtf16, {{"set", "FILE", "\u8a2d\u5b9a", "\u65b0", "\U0001F600"},
                0,
                {{Units(u"\u65e5\u672c\u8a9e\r\n"),
                  Units(u"\u65e5\u672c\u8a9e\r\n\u65b0=\U0001F600\r\n")}}}),
    On(kUtf16, {{"del", "FILE", "\u8a2d\u5b9a"},
                0,
                {{Units(u"[\u8a2d\u5b9a]\r\n\u8a00\u8a9e=\u65e5\u672c\u8a9e\r\n"), ""}}}),
    On(kUtf16,
       {{"set", "FILE", "\u8a2d\u5b9a", "k", "\xff"},
        1,
        {},
        "",
        "the file is UTF-16 and a name or value given is not UTF-8: the file is not changed"}),
    On(Utf16Le(u"[a]\nk=1\n\0x"s), {{"set", "FILE", "a", "k", "2"},
                                    1,
                                    {},
                                    "",
                                    "line 3 holds a NUL character: the file is not changed"}),
};

std::string Applied(std::string text, const std::vector<Edit>& edits) {
    for (const Edit& e : edits) {
        const auto at = text.find(e.from);
        if (at == std::string::npos || text.find(e.from, at + 1) != std::string::npos) {
            ADD_FAILURE() << "the edit's bytes are not in the fixture exactly once: " << e.from;
            continue;
        }
        text.replace(at, e.from.size(), e.to);
    }
    return text;
}

std::string Replaced(std::string text, const std::string& placeholder, const std::string& by) {
    for (auto at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + by.size()))
        text.replace(at, placeholder.size(), by);
    return text;
}

// The text of valid UTF-16 LE bytes after their mark, as UTF-8.
std::string Utf8OfUtf16Le(std::string_view bytes) {
    std::string out;
    auto unit = [&](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     static_cast<unsigned char>(bytes[i + 1]) << 8);
    };
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        char32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00) {
            i += 2;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i) - 0xDC00);
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

bool Writes(const std::vector<std::string>& args) {
    return !args.empty() && (args[0] == "set" || args[0] == "merge" || args[0] == "del" ||
                             args[0] == "comment" || args[0] == "uncomment");
}

// A folder with the fixture as FILE (times set in the past), LINK naming it.
struct Scene {
    TempDir dir;
    std::string file = dir / "settings.ini";
    std::string link = dir / "link.ini";
    std::string Path(const std::string& arg) const {
        if (arg == "FILE") return file;
        if (arg == "LINK") return link;
        if (arg == "MISSING") return dir / "missing.ini";
        if (arg == "DEVICE") return "/dev/null";
        return arg;
    }
    std::string PathIn(const std::vector<std::string>& args) const {
        for (const auto& a : args) {
            if (a == "FILE" || a == "LINK" || a == "MISSING" || a == "DEVICE" || a == "-")
                return Path(a);
        }
        return "";
    }
    Scene(const std::string& fixture, bool backupThere) {
        WriteBytes(file, fixture);
        if (backupThere) WriteBytes(file + ".in1", "old backup");
        SetOldTimes(file);
        if (::symlink("settings.ini", link.c_str()) != 0)
            throw std::runtime_error("symlink failed");
    }
};

TEST(CliCommands, BytesOutputAndExitCodeOfEachCommand) {
    const std::string shellEdits = ReadBytes(DataPath(kFixture));
    for (const CliCase& c : kCases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::string& fixture = c.file.empty() ? shellEdits : c.file;
        std::string result;  // the file after the real run
        {
            Scene scene(fixture, c.backupThere);
            std::vector<std::string> args;
            for (const auto& a : c.args) args.push_back(scene.Path(a));
            const std::string input = c.input.empty() ? fixture : c.input;
            const bool piped = std::find(c.args.begin(), c.args.end(), "-") != c.args.end() ||
                               (!c.args.empty() && c.args[0] == "merge");
            const ToolRun run = RunTool(args, piped ? &input : nullptr);
            const std::string path = scene.PathIn(c.args);

            EXPECT_EQ(run.exitCode, c.exit);
            if (c.exit == 2) {
                EXPECT_EQ(run.out, "");
                EXPECT_TRUE(run.err.starts_with("keyloft-ini: " + c.err) &&
                            run.err.find("--help") != std::string::npos)
                    << run.err;
            } else {
                EXPECT_EQ(run.out, Replaced(c.out, "FILE", path));
                EXPECT_EQ(run.err,
                          c.err.empty() ? "" : "keyloft-ini: " + path + ": " + c.err + "\n");
            }
            result = ReadBytes(scene.file);
            EXPECT_EQ(result, Applied(fixture, c.edits));
            const std::string missing = scene.Path("MISSING");
            if (c.created.empty()) {
                EXPECT_FALSE(test::fs::exists(missing));
            } else {
                EXPECT_EQ(ReadBytes(missing), c.created);
                const mode_t mask = ::umask(0);
                ::umask(mask);
                EXPECT_EQ(StatOf(missing).st_mode & 07777, 0666 & ~mask);
            }
            const struct stat after = StatOf(scene.file);
            EXPECT_TRUE(S_ISREG(after.st_mode));
            EXPECT_TRUE(S_ISLNK(StatOf(scene.link).st_mode));
            if (c.edits.empty()) {
                struct stat old {};
                old.st_mtim = {1000000000, 0};
                EXPECT_TRUE(SameMtime(after, old)) << "the file was written";
            }
            const std::string backup = scene.file + ".in1";
            const bool backedUp = !c.edits.empty() && std::find(c.args.begin(), c.args.end(),
                                                                "--backup") != c.args.end();
            if (c.backupThere) {
                EXPECT_EQ(ReadBytes(backup), "old backup");
            } else if (backedUp) {
                EXPECT_EQ(ReadBytes(backup), fixture);
            } else {
                EXPECT_FALSE(test::fs::exists(backup));
            }
        }

        // The same change with --dry-run: nothing written, the change shown
        // as diff -u shows it, the exit code and error of the real run.
        const auto has = [&](const char* arg) {
            return std::find(c.args.begin(), c.args.end(), arg) != c.args.end();
        };
        if (!Writes(c.args) || c.exit == 2 || has("MISSING") || has("--dry-run")) continue;
        SCOPED_TRACE("with --dry-run");
        Scene scene(fixture, c.backupThere);
        std::vector<std::string> args = {c.args[0], "--dry-run"};
        for (std::size_t i = 1; i < c.args.size(); ++i) args.push_back(scene.Path(c.args[i]));
        const ToolRun run = RunTool(args, c.args[0] == "merge" ? &c.input : nullptr);
        const std::string path = scene.PathIn(c.args);
        std::string expected;
        if (result != fixture) {
            // A UTF-16 file's change is shown as that of its text in UTF-8.
            const bool utf16 = fixture.starts_with("\xFF\xFE");
            const std::string before = scene.dir / "before", after = scene.dir / "after";
            WriteBytes(before, utf16 ? Utf8OfUtf16Le(fixture) : fixture);
            WriteBytes(after, utf16 ? Utf8OfUtf16Le(result) : result);
            if (utf16) expected = path + " is UTF-16 LE; the diff shows its text in UTF-8:\n";
            expected +=
                StartedProgram({"diff", "-u", "--label", path, "--label", path, before, after})
                    .Wait()
                    .out;
        }
        EXPECT_EQ(run.exitCode, c.exit);
        EXPECT_EQ(run.out, expected);
        EXPECT_EQ(run.err, c.err.empty() ? "" : "keyloft-ini: " + path + ": " + c.err + "\n");
        EXPECT_EQ(ReadBytes(scene.file), fixture);
        struct stat old {};
        old.st_mtim = {1000000000, 0};
        EXPECT_TRUE(SameMtime(StatOf(scene.file), old)) << "the file was written";
        EXPECT_EQ(test::fs::exists(scene.file + ".in1"), c.backupThere);
    }
}

// The editor's commands through the core on the same fixture: the exact
// bytes a save writes after each, and the reload shows exactly the edited
// tree. Nodes are numbered in tree order (0 is the root).
struct CoreCase {
    const char* what;
    std::function<void(Document&)> edit;
    std::vector<Edit> edits;
};

auto CommentAt(std::size_t index, bool comment) {
    return [=](Document& doc) { SetCommented(doc, doc.NodeAt(index), comment); };
}
auto TextAt(std::size_t index, std::string text) {
    return [=](Document& doc) { doc.SetText(doc.NodeAt(index), text); };
}

const std::string kGeneral1Commented =
    ";[General]\r\n;name=Keyloft\r\n  ;indent = deep  \r\n;old=1\r\n; plain "
    "comment\r;mode=fast\n;broken line\r\n";

const CoreCase kCoreCases[] = {
    {"Comment a key puts one byte in front of it",
     CommentAt(3, true),
     {{"  indent = deep  \r\n", "  ;indent = deep  \r\n"}}},
    {"Comment a section and its keys", CommentAt(1, true), {{kGeneral1, kGeneral1Commented}}},
    {"Comment then Remove Comment gives the bytes back",
     [](Document& doc) {
         SetCommented(doc, doc.NodeAt(1), true);
         SetCommented(doc, doc.NodeAt(1), false);
     },
     {{";old=1\r\n", "old=1\r\n"}}},  // the mark of every key goes, as the editor's does
    {"Remove Comment on a key", CommentAt(4, false), {{";old=1\r\n", "old=1\r\n"}}},
    {"Remove Comment on a section and its keys",
     CommentAt(16, false),
     {{";[Retired]\r\n;gone=yes\r\n", "[Retired]\r\ngone=yes\r\n"}}},
    {"Edit Line: a new value keeps the layout",
     TextAt(3, "indent=shallow"),
     {{"  indent = deep  \r\n", "  indent = shallow  \r\n"}}},
    {"Edit Line: a new value of a commented key",
     TextAt(4, ";old=2"),
     {{";old=1\r\n", ";old=2\r\n"}}},
    {"Edit Line: a new key writes the text",
     TextAt(3, "depth=deep"),
     {{"  indent = deep  \r\n", "depth=deep\r\n"}}},
    {"Edit Line: a key commented by hand writes the text",
     TextAt(3, ";indent=deep"),
     {{"  indent = deep  \r\n", ";indent=deep\r\n"}}},
    {"Edit Line: the value back gives the line back",
     [](Document& doc) {
         doc.SetText(doc.NodeAt(8), "home=/x");
         doc.SetText(doc.NodeAt(8), "home=/srv/home");
     },
     {}},
    {"Edit Line on a section", TextAt(7, "[Roads]"), {{"[Paths]\r\n", "[Roads]\r\n"}}},
    {"Delete a key",
     [](Document& doc) { doc.Delete(doc.NodeAt(8)); },
     {{"home = /srv/home\r\n", ""}}},
    {"Delete a section",
     [](Document& doc) { doc.Delete(doc.NodeAt(7)); },
     {{"\r\n[Paths]\r\nhome = /srv/home\r\n[two] ; note\r\nhome=again\r\n", ""}}},
    {"New Key",
     [](Document& doc) { doc.AddChild(doc.NodeAt(7), "k=v"); },
     {{"home=again\r\n", "home=again\r\nk=v\r\n"}}},
    {"New Section",
     [](Document& doc) { doc.AddChild(doc.First(), "[New]"); },
     {{"kept=no\r\n", "kept=no\r\n[New]\r\n"}}},
};

TEST(CoreCommands, BytesAfterEachEditorCommand) {
    const std::string fixture = ReadBytes(DataPath(kFixture));
    for (const CoreCase& c : kCoreCases) {
        SCOPED_TRACE(c.what);
        Document doc;
        LoadText(doc, fixture, "settings.ini");
        c.edit(doc);
        const std::string saved = SerializeDocument(doc);
        EXPECT_EQ(saved, Applied(fixture, c.edits));
        Document again;
        LoadText(again, saved, "settings.ini");
        EXPECT_EQ(DumpOf(again), DumpOf(doc));
    }
}

TEST(CliCommands, HelpListsEveryCommand) {
    const ToolRun run = RunTool({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    for (const char* word : {"dump", "sections", "keys", "get", "--format=sh", "set", "merge",
                             "del", "comment", "uncomment", "lint", "--existing", "--backup",
                             "--dry-run", "--no-wait", "--strict", "flock"}) {
        EXPECT_NE(run.out.find(word), std::string::npos) << word;
    }
    // An output that cannot be written is a failure that says so.
    for (const char* option : {"--help", "--version"}) {
        SCOPED_TRACE(option);
        const ToolRun full =
            StartedProgram(
                {"sh", "-c", std::string(KEYLOFT_INI_EXE) + " " + option + " >/dev/full"})
                .Wait();
        EXPECT_EQ(full.exitCode, 1);
        EXPECT_TRUE(full.err.starts_with("keyloft-ini: cannot write the output: ")) << full.err;
    }
}

// Each writer holds its lock from reading to saving: none of twenty started
// together loses the key of another, on a file that is there or on one the
// first of them creates.
TEST(CliWriters, TwentySetsAtOnceAllLand) {
    for (const bool there : {true, false}) {
        SCOPED_TRACE(there ? "on a file" : "on a missing file");
        TempDir dir;
        const std::string file = dir / "shared.ini";
        if (there) WriteBytes(file, ReadBytes(DataPath(kFixture)));
        std::vector<std::unique_ptr<StartedProgram>> writers;
        for (int i = 0; i < 20; ++i) {
            const std::string n = std::to_string(i);
            writers.push_back(std::make_unique<StartedProgram>(
                std::vector<std::string>{KEYLOFT_INI_EXE, "set", file, "Paths", "k" + n, "v" + n}));
        }
        for (auto& writer : writers) {
            const ToolRun run = writer->Wait();
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_EQ(run.err, "");
        }
        const std::string text = ReadBytes(file);
        const std::string eol = there ? "\r\n" : "\n";
        for (int i = 0; i < 20; ++i) {
            const std::string line = "k" + std::to_string(i) + "=v" + std::to_string(i) + eol;
            EXPECT_NE(text.find(line), std::string::npos) << line;
        }
        if (!there) {
            EXPECT_TRUE(text.starts_with("[Paths]\n")) << text;
        }
        EXPECT_EQ(test::FolderEntries(dir.path()), std::vector<std::string>{"shared.ini"});
    }
}

// A writer that finds the file locked by another process: with --no-wait it
// gives up at once and changes nothing; without, it says once that it waits,
// and makes its change when the lock is released.
TEST(CliWriters, LockedFileNoWaitOrWaitNotice) {
    TempDir dir;
    const std::string file = dir / "locked.ini";
    WriteBytes(file, "[a]\nk=1\n");
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    const ToolRun refused = RunTool({"set", "--no-wait", file, "a", "k", "2"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err, "keyloft-ini: " + file + ": locked by another writer\n");
    EXPECT_EQ(ReadBytes(file), "[a]\nk=1\n");

    StartedProgram waiting({KEYLOFT_INI_EXE, "set", file, "a", "k", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(ReadBytes(file), "[a]\nk=1\n");
    ::close(fd);
    const ToolRun run = waiting.Wait();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err,
              "keyloft-ini: " + file + ": waiting for another writer to release its lock\n");
    EXPECT_EQ(ReadBytes(file), "[a]\nk=3\n");
}

}  // namespace
}  // namespace keyloft
