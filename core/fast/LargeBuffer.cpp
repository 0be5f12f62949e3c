// Memory for large blocks, backed by huge pages where the kernel offers them.
#include "fast/LargeBuffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

#include "fast/FastPaths.h"

namespace keyloft {

namespace {
constexpr std::size_t kHugePage = 2 * 1024 * 1024;
}

LargeBytes AllocateLarge(std::size_t size) {
    if (size < kHugePage) {
        return LargeBytes(static_cast<char*>(::operator new(size == 0 ? 1 : size, std::nothrow)),
                          LargeFree{0});
    }
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    // Map one huge page more than needed and trim it, so the block starts on
    // a huge-page boundary.
    void* mapped = ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED) return LargeBytes(nullptr, LargeFree{0});
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) ::munmap(mapped, aligned - start);
    const std::uintptr_t end = start + rounded + kHugePage;
    if (end > aligned + rounded)
        ::munmap(reinterpret_cast<void*>(aligned + rounded), end - aligned - rounded);
    auto* block = reinterpret_cast<char*>(aligned);
    AdviseHugePages(block, rounded);
    return LargeBytes(block, LargeFree{rounded});
}

void LargeFree::operator()(char* block) const {
    if (block == nullptr) return;
    if (size == 0) {
        ::operator delete(block);
    } else {
        ::munmap(block, size);
    }
}

}  // namespace keyloft
