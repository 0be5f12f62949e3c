// How the editor's process takes large blocks from the allocator: its heap
// policy, set first thing in its main() and, the same, in the window tests
// and the window's benchmark.
#pragma once

#include <cstdlib>  // any C library header: it defines __GLIBC__ where it is glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace keyloft::app {

// The tree view keeps one item for each row it lays out, in one block that
// is made again on every load: tens of megabytes for a file of millions of
// lines. Left to itself, the allocator maps such a block fresh from the
// system and gives it back when it is freed, and the first touch of fresh
// memory is slow, on a virtual machine most of all. Blocks up to 32 MB come
// from the heap instead, and up to 256 MB freed at its top stay there for
// the next load. (The document's own large blocks are mapped and unmapped
// by the core, and go back to the system when a file is closed.) Call it
// before the QApplication is made.
inline void KeepLargeBlocksOnTheHeap() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
#endif
}

}  // namespace keyloft::app
