// Replays the fuzzer's corpus and the fixtures through the fuzzer's property
// (tests/fuzz/FuzzCheck.h) in the ordinary build.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "FuzzCheck.h"
#include "TestHelpers.h"

namespace keyloft {
namespace {

namespace fs = std::filesystem;

TEST(FuzzCorpus, EveryInputHoldsTheProperty) {
    int checked = 0;
    for (const char* folder : {KEYLOFT_FUZZ_CORPUS, KEYLOFT_TEST_DATA}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (!entry.is_regular_file()) continue;
            const std::string bytes = test::ReadBytes(entry.path().string());
            const std::string problem = fuzz::CheckIniBytes(
                reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            EXPECT_EQ(problem, "") << entry.path().filename();
            ++checked;
        }
    }
    EXPECT_GT(checked, 50);
}

}  // namespace
}  // namespace keyloft
