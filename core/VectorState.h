// The processor's vector state before the long loops over a file's bytes.
#pragma once

namespace keyloft {

// Code built for AVX that returns without clearing the upper halves of the
// vector registers (some of a window's libraries do) makes every SSE
// instruction after it wait on those halves: the reading's loops then run
// about three times slower. Clearing them is one instruction, and keeps the
// lower halves the loops use.
inline void ClearUpperVectorHalves() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) asm volatile("vzeroupper");
#endif
}

}  // namespace keyloft
