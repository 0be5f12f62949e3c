// Files that are not regular files, for the tests of what the window refuses
// to read: a FIFO (with a guard against a reader blocked on it) and a socket.
#pragma once

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QByteArray>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace keyloft::test {

inline bool MakeFifo(const QByteArray& path) { return ::mkfifo(path.constData(), 0600) == 0; }

// A listening Unix socket bound at `path`; closes it (the name stays) when done.
inline bool MakeSocket(const QByteArray& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

// While it lives, a reader that opened the FIFO and waits for a writer is
// set free after `after`: a writer opens it and closes it at once, so the
// reader sees an empty file. A test that would hang on the FIFO fails
// instead, and can tell by how long it took.
class FifoGuard {
public:
    FifoGuard(const QByteArray& path, std::chrono::milliseconds after)
        : thread_([this, path, after] {
              const auto deadline = std::chrono::steady_clock::now() + after;
              while (!done_ && std::chrono::steady_clock::now() < deadline) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
              // Keeps freeing readers until the test is over.
              while (!done_) {
                  // Opening the writing end succeeds only while a reader
                  // has the FIFO open.
                  const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                  if (fd >= 0) {
                      freed_ = true;
                      ::close(fd);
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~FifoGuard() {
        done_ = true;
        thread_.join();
    }
    FifoGuard(const FifoGuard&) = delete;
    FifoGuard& operator=(const FifoGuard&) = delete;
    // Whether somebody had the FIFO open for reading once the grace time
    // was over: a reader that would have waited for ever without the guard.
    bool freedAReader() const { return freed_; }

private:
    std::atomic<bool> done_{false};
    std::atomic<bool> freed_{false};
    std::thread thread_;
};

}  // namespace keyloft::test
