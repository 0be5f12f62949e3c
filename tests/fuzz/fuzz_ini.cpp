// libFuzzer entry: any bytes must satisfy CheckIniBytes.
#include <cstdio>
#include <cstdlib>

#include "FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string problem = keyloft::fuzz::CheckIniBytes(data, size);
    if (!problem.empty()) {
        std::fprintf(stderr, "keyloft fuzz: %s\n", problem.c_str());
        std::abort();
    }
    return 0;
}
