// Append-only text storage.
#include "document/TextArena.h"

#include <algorithm>

#include "base/ReserveMore.h"

namespace keyloft {

namespace {
// Blocks grow from small to this size, so that a document (or a reading of
// one line) that stores little costs little. A reference's offset has 16
// bits: no block that holds prefixed texts is larger.
constexpr std::size_t kFirstBlockSize = 256;
constexpr std::size_t kBlockSize = 64 * 1024;
constexpr std::size_t kPrefix = sizeof(std::uint16_t);
constexpr std::size_t kLongest = kBlockSize - kPrefix;
constexpr std::size_t kMostBlocks = 0xFFFF;
}  // namespace

std::string_view TextArena::Store(std::string_view text) {
    if (text.empty()) return {};
    const bool prefixed = text.size() < kLongest;
    const std::size_t need = text.size() + (prefixed ? kPrefix : 0);
    if (need > left_) {
        const std::size_t grown = std::clamp(2 * lastBlock_, kFirstBlockSize, kBlockSize);
        const std::size_t size = std::max(grown, need);
        // Make room in the list first, so that a failure cannot leak the block.
        ReserveMore(blocks_, 1);
        lastBlock_ = grown;
        // Left uninitialised: every byte handed out is written first.
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        next_ = blocks_.back().get();
        left_ = size;
    }
    if (prefixed) {
        const auto size = static_cast<std::uint16_t>(text.size());
        std::memcpy(next_, &size, kPrefix);
    }
    char* at = next_ + (prefixed ? kPrefix : 0);
    std::memcpy(at, text.data(), text.size());
    next_ += need;
    left_ -= need;
    return {at, text.size()};
}

std::uint32_t TextArena::RefOfLast(std::string_view stored) const {
    if (stored.empty()) return kEmptyRef;
    if (blocks_.empty() || blocks_.size() > kMostBlocks || stored.size() >= kLongest) return kNoRef;
    const char* block = blocks_.back().get();
    if (stored.data() < block + kPrefix || stored.data() + stored.size() != next_) return kNoRef;
    const auto offset = static_cast<std::size_t>(stored.data() - kPrefix - block);
    return static_cast<std::uint32_t>((blocks_.size() - 1) << 16 | offset);
}

}  // namespace keyloft
