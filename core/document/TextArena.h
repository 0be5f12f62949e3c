// Append-only storage for node texts that are not views into the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace keyloft {

// Texts stored here stay valid and unmoved until the arena is destroyed;
// nothing is freed one by one. Movable, not copyable.
//
// A text shorter than 64 KB is stored after its 2-byte length, so that a
// 32-bit reference (block number, offset in the block) finds it again: nodes
// keep that instead of a pointer and a length.
class TextArena {
public:
    static constexpr std::uint32_t kNoRef = 0xFFFFFFFFu;
    // The reference of the empty text.
    static constexpr std::uint32_t kEmptyRef = 0xFFFFFFFEu;

    std::string_view Store(std::string_view text);
    // The reference of `stored`, a text the last Store returned, or kNoRef
    // when it has none (too long, too many blocks, not from this arena).
    std::uint32_t RefOfLast(std::string_view stored) const;
    // Whether `ref` names a block of this arena (or the empty text): what a
    // check of the nodes can know of a reference.
    bool Holds(std::uint32_t ref) const { return ref == kEmptyRef || (ref >> 16) < blocks_.size(); }
    std::string_view At(std::uint32_t ref) const {
        if (ref == kEmptyRef) return {};
        const char* at = blocks_[ref >> 16].get() + (ref & 0xFFFFu);
        std::uint16_t size;
        std::memcpy(&size, at, sizeof size);
        return {at + sizeof size, size};
    }

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t lastBlock_ = 0;
};

}  // namespace keyloft
