// What the reading of files (FileSystem.cpp) and the save (FileSave.cpp)
// share: the descriptor guard and the refusal of what is no regular file.
// Core's own.
#pragma once

#include <unistd.h>

#include <cerrno>

#include "base/Failure.h"

namespace keyloft {

// Closes a descriptor when it goes out of scope (unless released).
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// "File access denied".
[[noreturn]] inline void ThrowAccessDenied() { throw FileErrorFromErrno(EACCES, true); }

}  // namespace keyloft
