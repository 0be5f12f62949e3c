// Append-only text storage.
#include "TextArena.h"

#include <algorithm>
#include <cstring>

namespace keyloft {

namespace {
constexpr std::size_t kBlockSize = 64 * 1024;
}

std::string_view TextArena::Store(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > left_) {
        const std::size_t size = std::max(kBlockSize, text.size());
        blocks_.push_back(std::make_unique<char[]>(size));
        next_ = blocks_.back().get();
        left_ = size;
    }
    char* at = next_;
    std::memcpy(at, text.data(), text.size());
    next_ += text.size();
    left_ -= text.size();
    return {at, text.size()};
}

void TextArena::Clear() {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
}

}  // namespace keyloft
