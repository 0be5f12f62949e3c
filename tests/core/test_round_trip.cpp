// Load and save without changes over many files: generated binary data and
// the INI-like files this machine ships. The saved file must be the loaded
// one, byte for byte, and read back as the same tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
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
using test::LoadText;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// Loads `path`, saves it under the same name in a fresh folder, and checks
// the saved file. Returns an empty text when all holds.
std::string RoundTrip(const std::string& path, const std::string& original) {
    Document doc;
    LoadIniFile(doc, path);
    const std::string dump = DumpOf(doc);
    TempDir out;
    const std::string target = out / std::string(FileNameOfPath(path));
    SaveIniFile(doc, target);
    const std::string saved = ReadBytes(target);

    if (ReadBytes(path) != original) return "the load changed the file";
    if (saved != original) {
        const std::size_t at = static_cast<std::size_t>(
            std::mismatch(saved.begin(), saved.end(), original.begin(), original.end()).first -
            saved.begin());
        return "the saved bytes differ from byte " + std::to_string(at) + ": " +
               ::testing::PrintToString(original.substr(at, 40)) + " became " +
               ::testing::PrintToString(saved.substr(at, 40));
    }
    Document again;
    LoadIniFile(again, target);
    if (DumpOf(again) != dump) return "the saved file reads as another tree";
    if (SerializeDocument(again) != saved) return "saving the reloaded file changes it";
    return "";
}

// Random bytes with the characters that matter to the reading made common.
// Each sample breaks its lines one way only: a dropped line that begins with
// LF right after a line saved with a CR would join that CR into one CR LF.
std::string RandomIniBytes(std::mt19937& random, bool withNul) {
    static const char kCommon[] =
        "[]=; \t\x0b\x1a\xa0"
        "ab";
    static const char* const kBreaks[] = {"\r\n", "\n", "\r"};
    const std::string lineBreak = kBreaks[random() % 3];
    std::string text;
    const std::size_t size = 1 + random() % 4000;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned pick = random() % 8;
        if (pick == 0) {
            text += lineBreak;
            continue;
        }
        char c = pick == 1 ? static_cast<char>(random() % 256)
                           : kCommon[random() % (sizeof kCommon - 1)];
        if (c == '\r' || c == '\n' || (c == '\0' && !withNul)) c = 'z';
        text.push_back(c);
    }
    if (withNul) text.insert(random() % text.size(), 1, '\0');
    return text;
}

TEST(RoundTrip, BinaryData) {
    std::mt19937 random(20240611);
    TempDir dir;
    for (int i = 0; i < 200; ++i) {
        const bool withNul = i % 4 == 3;
        const std::string text = RandomIniBytes(random, withNul);
        const std::string path = dir / "binary.ini";
        WriteBytes(path, text);
        SCOPED_TRACE("sample " + std::to_string(i));
        std::string problem;
        try {
            problem = RoundTrip(path, text);
        } catch (const std::exception& e) {
            problem = std::string("failed: ") + e.what();
        }
        ASSERT_EQ(problem, "") << ::testing::PrintToString(text);
    }
}

TEST(RoundTrip, AllByteValues) {
    TempDir dir;
    std::string text = "[bytes]\r\n";
    for (int b = 1; b < 256; ++b) {
        text += "k" + std::to_string(b) + "=" + std::string(1, static_cast<char>(b)) + "x\r\n";
    }
    WriteBytes(dir / "all.ini", text);
    EXPECT_EQ(RoundTrip(dir / "all.ini", text), "");
}

// Edits with texts of their own kind (headers for sections, keys for keys)
// must read back as edited: the dropped lines kept around them and the tail
// may not change what a saved file reads as.
TEST(RoundTrip, EditedFixturesReadBackAsEdited) {
    std::mt19937 random(777);
    int added = 0;
    for (const std::string& name : FixtureNames()) {
        const std::string original = ReadBytes(DataPath(name));
        for (int round = 0; round < 20; ++round) {
            Document doc;
            LoadText(doc, original, name);
            std::string ops;
            const int steps = 1 + static_cast<int>(random() % 6);
            for (int step = 0; step < steps; ++step) {
                const std::size_t count = doc.Count();
                Node* node = count > 1 ? doc.NodeAt(1 + random() % (count - 1)) : nullptr;
                switch (random() % 4) {
                    case 0:
                        if (node == nullptr) break;
                        ops += "set " + std::string(node->storedText()) + "; ";
                        doc.SetText(node, node->level() == 1
                                              ? "[e" + std::to_string(++added) + "]"
                                              : "e" + std::to_string(++added) + "=1");
                        break;
                    case 1:
                        if (node == nullptr) break;
                        ops += "delete " + std::string(node->storedText()) + "; ";
                        doc.Delete(node);
                        break;
                    case 2:
                        ops += "add section; ";
                        doc.AddChild(doc.First(), "[n" + std::to_string(++added) + "]");
                        break;
                    default:
                        if (node == nullptr) break;
                        if (node->level() == 2) node = node->parent();
                        ops += "add key to " + std::string(node->storedText()) + "; ";
                        doc.AddChild(node, "n" + std::to_string(++added) + "=2");
                        break;
                }
            }
            const std::string saved = SerializeDocument(doc);
            Document again;
            LoadText(again, saved, name);
            ASSERT_EQ(DumpOf(again), DumpOf(doc))
                << name << " after " << ops << "saved as " << ::testing::PrintToString(saved);
        }
    }
}

// The INI-like files of this machine, capped per kind so the test stays
// quick; KEYLOFT_ROUND_TRIP_ALL=1 in the environment takes every one.
std::vector<std::string> SystemIniFiles() {
    struct Kind {
        const char* folder;
        std::vector<std::string> endings;
        bool recursive;
        std::size_t cap;
    };
    const Kind kinds[] = {
        {"/usr/share/applications", {".desktop"}, false, 60},
        {"/lib/systemd/system", {".service"}, false, 80},
        {"/etc", {".ini", ".conf", ".cfg", ".repo", ".desktop", ".service"}, true, 120},
        {"/usr/share", {".ini", ".conf", ".cfg", ".repo", ".desktop"}, true, 120},
    };
    std::vector<std::string> all;
    for (const auto& kind : kinds) {
        std::vector<std::string> found;
        std::error_code ec;
        auto matches = [&](const fs::directory_entry& e) {
            std::error_code ignored;
            if (!e.is_regular_file(ignored) || e.file_size(ignored) > 2 * 1024 * 1024) {
                return false;
            }
            const std::string name = e.path().filename().string();
            return std::any_of(kind.endings.begin(), kind.endings.end(),
                               [&](const std::string& end) { return name.ends_with(end); });
        };
        if (kind.recursive) {
            auto options = fs::directory_options::skip_permission_denied;
            for (auto it = fs::recursive_directory_iterator(kind.folder, options, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
                if (matches(*it)) found.push_back(it->path().string());
            }
        } else {
            for (auto it = fs::directory_iterator(kind.folder, ec);
                 !ec && it != fs::directory_iterator(); it.increment(ec)) {
                if (matches(*it)) found.push_back(it->path().string());
            }
        }
        std::sort(found.begin(), found.end());
        if (std::getenv("KEYLOFT_ROUND_TRIP_ALL") != nullptr) {
            all.insert(all.end(), found.begin(), found.end());
            continue;
        }
        // An even spread over the sorted list rather than its first names.
        const std::size_t step = std::max<std::size_t>(1, found.size() / kind.cap);
        for (std::size_t i = 0; i < found.size() && i / step < kind.cap; i += step) {
            all.push_back(found[i]);
        }
    }
    return all;
}

TEST(RoundTrip, FilesThisMachineShips) {
    const auto files = SystemIniFiles();
    if (files.empty()) GTEST_SKIP() << "no INI-like files found on this machine";
    int failures = 0, checked = 0;
    for (const auto& file : files) {
        std::string original;
        try {
            original = ReadBytes(file);
        } catch (const std::exception&) {
            continue;  // unreadable to this user: nothing to compare
        }
        ++checked;
        std::string problem;
        try {
            problem = RoundTrip(file, original);
        } catch (const std::exception& e) {
            problem = std::string("failed: ") + e.what();
        }
        if (!problem.empty()) {
            ADD_FAILURE() << file << ": " << problem;
            if (++failures == 10) break;
        }
    }
    EXPECT_GT(checked, 0);
    RecordProperty("files_checked", checked);
}

}  // namespace
}  // namespace keyloft
