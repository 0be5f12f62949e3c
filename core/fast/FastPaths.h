// The core's fast paths that are a hint to the machine, in one place: the
// vector-state reset before the loops over a file's bytes, the prefetch of a
// node or line some rows ahead, the huge-page advice on large blocks. Each
// is guarded so that a plain build (another compiler, processor or kernel)
// runs the same code without it; what each buys is in HACKING.md, "Fast
// paths".
#pragma once

#include <cstddef>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace keyloft {

// Code built for AVX that returns without clearing the upper halves of the
// vector registers (some of a window's libraries do) makes every SSE
// instruction after it wait on those halves: the reading's loops then run
// about three times slower. Clearing them is one instruction, and keeps the
// lower halves the loops use. Called at the start of each long loop over a
// file's bytes (read, save, dump).
inline void ClearUpperVectorHalves() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) asm volatile("vzeroupper");
#endif
}

// Asks for the cache line at `address` to be read ahead; never faults, so
// any address will do. For walks over many nodes that lie far apart (a
// file's sections): fetching a few rows ahead hides the wait for memory.
inline void PrefetchForRead(const void* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// Asks the kernel to back the mapped block [block, block + size) with huge
// pages: one fault and one TLB entry for each 2 MB instead of 512 of each.
// A hint: where it is refused or unknown, plain pages.
inline void AdviseHugePages(void* block, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    ::madvise(block, size, MADV_HUGEPAGE);
#else
    (void)block;
    (void)size;
#endif
}

}  // namespace keyloft
