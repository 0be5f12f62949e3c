// Replaces the global operator new of a test program so that a test can make
// the n-th allocation fail. Include it in exactly one source file of a
// program. Disarmed (the default), allocation behaves as usual.
#pragma once

#include <cstdlib>
#include <new>

namespace keyloft::test {
// The allocation to fail, counted from 0 while armed; -1 when disarmed.
inline long gFailAt = -1;
inline long gAllocations = 0;

// Arms the failure of allocation `n` (counted from now) until disarmed.
inline void FailAllocation(long n) {
    gAllocations = 0;
    gFailAt = n;
}
inline void StopFailing() { gFailAt = -1; }
}  // namespace keyloft::test

void* operator new(std::size_t size) {
    using keyloft::test::gAllocations;
    using keyloft::test::gFailAt;
    if (gFailAt >= 0 && gAllocations++ == gFailAt) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// The nothrow form must be replaced too: a sanitizer's runtime provides its
// own, which would neither count nor fail and whose blocks the replaced
// delete could not free.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
