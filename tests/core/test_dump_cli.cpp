// The indented text dump, and the keyloft-ini tool that prints it for a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Document.h"
#include "Dump.h"
#include "TestHelpers.h"

extern char** environ;

namespace keyloft {
namespace {

using test::BuildTree;
using test::DataPath;
using test::DumpOf;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(Dump, IndentsByLevel) {
    Document doc;
    BuildTree(doc, "settings.ini", {{"[a]", {"x=1"}}, {"[b]", {}}});
    EXPECT_EQ(DumpOf(doc), "settings.ini\n  [a]\n    x=1\n  [b]\n");
}

TEST(Dump, TextsAsTheyStand) {
    Document doc;
    BuildTree(doc, "", {{"", {"", " lead", "tab\there"}}, {";[c]", {";k"}}});
    EXPECT_EQ(DumpOf(doc), "\n  \n    \n     lead\n    tab\there\n  ;[c]\n    ;k\n");
}

TEST(Dump, EmptyDocumentWritesNothing) {
    Document doc;
    EXPECT_EQ(DumpOf(doc), "");
}

// A sink that fails on its third line end.
class FailingSink : public TextFile {
public:
    void Write(std::string_view text) override { text_.append(text); }
    void WriteLineEnd() override {
        if (++lines_ == 3) throw Failure("sink failed");
        text_.push_back('\n');
    }
    std::string text_;
    int lines_ = 0;
};

TEST(Dump, FailureOfTheSinkEndsTheDump) {
    Document doc;
    BuildTree(doc, "r.ini", {{"[a]", {"x=1", "y=2"}}, {"[b]", {}}});
    FailingSink sink;
    try {
        DumpTreeviewToTextfile(doc, sink);
        ADD_FAILURE() << "the failure did not come through";
    } catch (const Failure& e) {
        EXPECT_STREQ(e.what(), "sink failed");
    }
    EXPECT_EQ(sink.text_, "r.ini\n  [a]\n    x=1");
    EXPECT_EQ(sink.lines_, 3);
}

// --- keyloft-ini --------------------------------------------------------------

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs the tool with `args`, its output and errors going to files in a
// temporary folder.
ToolRun RunTool(const std::vector<std::string>& args) {
    TempDir dir;
    const std::string outPath = dir / "out", errPath = dir / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> all = {KEYLOFT_INI_EXE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int rc = posix_spawn(&pid, KEYLOFT_INI_EXE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " KEYLOFT_INI_EXE);
    int status = 0;
    waitpid(pid, &status, 0);
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadBytes(outPath);
    run.err = ReadBytes(errPath);
    return run;
}

TEST(KeyloftIni, DumpsAFixture) {
    const char* fixtures[] = {"worked_example.ini", "duplicate_sections.ini", "bom.ini",
                              "cr_only.ini",        "nul_byte.ini",           "empty.ini"};
    for (const char* name : fixtures) {
        SCOPED_TRACE(name);
        ToolRun run = RunTool({"dump", DataPath(name)});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, ReadBytes(DataPath(std::string(name) + ".dump")));
        EXPECT_EQ(run.err, "");
    }
}

TEST(KeyloftIni, FileErrorsGoToStandardErrorWithAFullStop) {
    TempDir dir;
    struct Case {
        std::string path;
        const char* message;
    };
    const Case cases[] = {
        {dir / "missing.ini", "File not found."},
        {dir / "no/x.ini", "Invalid filename."},
        {dir.path(), "File access denied."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        ToolRun run = RunTool({"dump", c.path});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find(".."), std::string::npos) << run.err;
    }
}

TEST(KeyloftIni, BadUsageExitsWithTwo) {
    TempDir dir;
    WriteBytes(dir / "a.ini", "[a]\n");
    const std::vector<std::vector<std::string>> usages = {
        {}, {"dump"}, {"print", dir / "a.ini"}, {"dump", dir / "a.ini", dir / "a.ini"}, {""},
    };
    for (const auto& args : usages) {
        SCOPED_TRACE(::testing::PrintToString(args));
        ToolRun run = RunTool(args);
        EXPECT_EQ(run.exitCode, 2);
        // A usage line, and no dump.
        EXPECT_FALSE((run.out + run.err).empty());
        EXPECT_EQ(run.out.find("[a]"), std::string::npos);
    }
}

}  // namespace
}  // namespace keyloft
