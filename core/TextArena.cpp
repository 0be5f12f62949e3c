// Append-only text storage.
#include "TextArena.h"

#include <algorithm>
#include <cstring>

namespace keyloft {

namespace {
// Blocks grow from small to this size, so that a document (or a reading of
// one line) that stores little costs little.
constexpr std::size_t kFirstBlockSize = 256;
constexpr std::size_t kBlockSize = 64 * 1024;
}

std::string_view TextArena::Store(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > left_) {
        const std::size_t grown = std::clamp(2 * lastBlock_, kFirstBlockSize, kBlockSize);
        const std::size_t size = std::max(grown, text.size());
        lastBlock_ = grown;
        // Left uninitialised: every byte handed out is written first.
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
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
    lastBlock_ = 0;
}

}  // namespace keyloft
