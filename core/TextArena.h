// Append-only storage for node texts that are not views into the file.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace keyloft {

// Texts stored here stay valid and unmoved until the arena is destroyed or
// cleared; nothing is freed one by one. Movable, not copyable.
class TextArena {
public:
    std::string_view Store(std::string_view text);
    void Clear();

private:
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* next_ = nullptr;
    std::size_t left_ = 0;
    std::size_t lastBlock_ = 0;
};

}  // namespace keyloft
