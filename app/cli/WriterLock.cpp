// flock() on the target, checked against renames by the other writers.
#include "WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Failure.h"

namespace keyloft::cli {

WriterLock::WriterLock(const std::string& path) {
    for (;;) {
        // Only a regular file is opened: opening a device can have effects
        // of its own.
        struct stat before {};
        if (::stat(path.c_str(), &before) != 0) ThrowFileError(errno, path);
        if (!S_ISREG(before.st_mode))
            ThrowFileError(S_ISDIR(before.st_mode) ? EISDIR : EACCES, path);
        // Non-blocking open: a FIFO put in its place must not wait here for a
        // writer.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) ThrowFileError(errno, path);
        struct stat locked {};
        struct stat named {};
        int err = 0;
        if (::fstat(fd, &locked) != 0) {
            err = errno;
        } else if (S_ISDIR(locked.st_mode)) {
            err = EISDIR;
        } else if (!S_ISREG(locked.st_mode)) {
            err = EACCES;  // only a regular file can be replaced by a save
        } else {
            int rc;
            do {
                rc = ::flock(fd, LOCK_EX);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) err = errno;
        }
        if (err == 0 && ::stat(path.c_str(), &named) != 0) err = errno;
        if (err != 0) {
            ::close(fd);
            ThrowFileError(err, path);
        }
        if (named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
            fd_ = fd;
            return;
        }
        ::close(fd);  // another writer renamed its new file into place
    }
}

WriterLock::~WriterLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace keyloft::cli
