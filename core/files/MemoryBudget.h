// What a load may take of the memory the process can get, and the count of
// lines it checks against as the bytes arrive. Core's own: the reading of
// files (FileSystem.cpp) uses it.
#pragma once

#include <cstddef>

namespace keyloft {

// Throws Failure("Not enough memory to load this file").
[[noreturn]] void ThrowTooLarge();

// The memory a load may take: half of the least the system, the address-space
// limit and the control group leave, so that the rest of the process, the
// document being replaced and the estimate's error still fit.
class MemoryBudget {
public:
    MemoryBudget();
    // The bytes the file may take beside the nodes of `lines` lines
    // (kNodeBytesPerLine each).
    std::size_t Room(std::size_t lines) const;
    // Throws ThrowTooLarge's failure when `bytes` exceed Room(lines).
    void Check(std::size_t bytes, std::size_t lines) const {
        if (bytes > Room(lines)) ThrowTooLarge();
    }

private:
    std::size_t limit_;
};

// Counts the lines of bytes seen in pieces: CR LF, a lone CR and a lone LF
// each end one (as the reading ends them); the last line needs no break.
class LineCounter {
public:
    void Add(const char* bytes, std::size_t size);
    std::size_t Lines() const { return breaks_ + 1; }

private:
    std::size_t breaks_ = 0;
    bool lastWasCr_ = false;
};

}  // namespace keyloft
