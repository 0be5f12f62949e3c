// The fixture files in the test data folder: each is loaded and compared with
// the dump written beside it (NAME.dump), then saved: the saved bytes are the
// file's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "TestHelpers.h"
#include "document/Document.h"
#include "files/IniFile.h"

namespace keyloft {
namespace {

namespace fs = std::filesystem;
using test::DataPath;
using test::DumpOf;
using test::FixtureNames;
using test::FolderEntries;
using test::ReadBytes;
using test::SameMtime;
using test::SetOldTimes;
using test::StatOf;
using test::TempDir;
using test::WriteBytes;

std::string TestNameOf(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class Fixture : public ::testing::TestWithParam<std::string> {};

TEST_P(Fixture, LoadsAsItsDump) {
    const std::string& name = GetParam();
    Document doc;
    LoadIniFile(doc, DataPath(name));
    EXPECT_EQ(DumpOf(doc), ReadBytes(DataPath(name + ".dump")));
}

TEST_P(Fixture, SavesBackOverItself) {
    const std::string& name = GetParam();
    const std::string original = ReadBytes(DataPath(name));
    TempDir dir;
    const std::string path = dir / name;
    WriteBytes(path, original);
    SetOldTimes(path);
    const struct stat before = StatOf(path);

    Document doc;
    LoadResult loaded = LoadIniFile(doc, path);
    EXPECT_TRUE(SameMtime(before, StatOf(path))) << "the load touched the file";
    EXPECT_EQ(ReadBytes(path), original) << "the load changed the file";
    const std::string dump = DumpOf(doc);

    SaveResult saved = SaveIniFile(doc, path);
    EXPECT_TRUE(saved.backupMade);
    const std::string written = ReadBytes(path);
    EXPECT_EQ(written, original);
    EXPECT_EQ(written, SerializeDocument(doc));
    EXPECT_EQ(ReadBytes(path + ".in1"), original);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{name, name + ".in1"}));

    // The saved file reads as the same tree and saves to the same bytes.
    Document again;
    LoadResult reloaded = LoadIniFile(again, path);
    EXPECT_EQ(DumpOf(again), dump);
    EXPECT_EQ(reloaded.keyCount, loaded.keyCount);
    EXPECT_EQ(reloaded.sectionCount, loaded.sectionCount);
    EXPECT_EQ(SerializeDocument(again), written);
}

INSTANTIATE_TEST_SUITE_P(Data, Fixture, ::testing::ValuesIn(FixtureNames()), TestNameOf);

TEST(Fixtures, AreAllPresent) {
    const auto names = FixtureNames();
    for (const char* name :
         {"bom.ini", "crlf.ini", "cr_only.ini", "lf_only.ini", "no_final_newline.ini",
          "duplicate_sections.ini", "nul_byte.ini", "comments_before_first_header.ini",
          "blank_and_comment_runs.ini", "worked_example.ini", "tab_indented.conf",
          "continuation_lines.cfg", "blanks_around_equals.ini"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
    }
}

}  // namespace
}  // namespace keyloft
