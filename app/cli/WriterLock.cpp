// flock() on the target, checked against renames by the other writers.
#include "WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "base/Failure.h"

namespace keyloft::cli {

namespace {

// Calls `onWait(path)` after a second unless destroyed first.
class WaitNotice {
public:
    WaitNotice(const std::string& path, void (*onWait)(const std::string&))
        : thread_([this, &path, onWait] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, std::chrono::seconds(1), [this] { return over_; })) {
                  onWait(path);
              }
          }) {}
    ~WaitNotice() {
        {
            const std::lock_guard lock(mutex_);
            over_ = true;
        }
        done_.notify_one();
        thread_.join();
    }
    WaitNotice(const WaitNotice&) = delete;
    WaitNotice& operator=(const WaitNotice&) = delete;

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool over_ = false;
    std::thread thread_;  // last: started once the others exist
};

// Locks `fd`; 0 or the errno of the failure.
int Lock(int fd, const std::string& path, bool wait, void (*onWait)(const std::string&),
         bool& told) {
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) return 0;
    if (errno != EWOULDBLOCK) return errno;
    if (!wait) throw LockedByOther();
    // Told once per command, however often a rename sends it back here.
    auto notice = told ? nullptr : std::make_unique<WaitNotice>(path, onWait);
    told = true;
    do {
        rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

}  // namespace

WriterLock::WriterLock(const std::string& path, bool wait,
                       void (*onWait)(const std::string& path)) {
    bool told = false;
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
            try {
                err = Lock(fd, path, wait, onWait, told);
            } catch (...) {
                ::close(fd);
                throw;
            }
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
