// The indented text dump, and the keyloft-ini tool that prints it for a file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestHelpers.h"
#include "document/Document.h"
#include "print/Dump.h"

namespace keyloft {
namespace {

using test::BuildTree;
using test::DataPath;
using test::DumpOf;
using test::ReadBytes;
using test::RunTool;
using test::TempDir;
using test::ToolRun;
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
