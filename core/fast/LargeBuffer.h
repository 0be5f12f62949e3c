// Memory for large blocks of bytes and nodes.
#pragma once

#include <cstddef>
#include <memory>

namespace keyloft {

// Frees what AllocateLarge gave; remembers the size it was given for.
struct LargeFree {
    std::size_t size = 0;
    void operator()(char* block) const;
};
using LargeBytes = std::unique_ptr<char[], LargeFree>;

// `size` bytes, uninitialised; nullptr when memory is exhausted. Blocks of
// megabytes come straight from the kernel, aligned and marked for huge
// pages: filling one then costs a page fault per 2 MB instead of per 4 KB,
// which is most of the time a load of millions of lines would take.
LargeBytes AllocateLarge(std::size_t size);

}  // namespace keyloft
