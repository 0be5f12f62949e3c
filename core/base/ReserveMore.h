// Room in a vector ahead of the changes that fill it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace keyloft {

// Makes room for `n` more entries, so that as many push_backs cannot throw.
// Grows at least by doubling, so that one call per entry stays linear.
template <class T>
void ReserveMore(std::vector<T>& v, std::size_t n) {
    if (v.capacity() - v.size() < n) v.reserve(std::max(v.size() + n, 2 * v.capacity()));
}

}  // namespace keyloft
