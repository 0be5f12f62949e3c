// Reading files and streams over POSIX calls; every failure becomes a
// FileError. The save is in FileSave.cpp, the memory budget in
// MemoryBudget.cpp.
#include "files/FileSystem.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/Failure.h"
#include "fast/FastPaths.h"
#include "files/MemoryBudget.h"
#include "files/PosixFile.h"
#include "reading/Encoding.h"

namespace keyloft {

namespace {

// One read, waiting on a descriptor that was left non-blocking. Returns the
// byte count, 0 at the end.
std::size_t ReadSome(int fd, char* into, std::size_t size, const std::string& path) {
    for (;;) {
        const ssize_t n = ::read(fd, into, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) {
            struct pollfd wait = {fd, POLLIN, 0};
            ::poll(&wait, 1, -1);
            continue;
        }
        ThrowFileError(errno, path);
    }
}

// Reads `fd` to its end: the one reading loop of files and streams.
// `expected` is a regular file's size, 0 when unknown. The need is checked as
// the bytes arrive, in pieces small enough that a file of short lines is
// given up long before its nodes would be built.
FileBytes ReadToEnd(int fd, std::size_t expected, const std::string& path) {
    constexpr std::size_t kPiece = 4 << 20;
    ClearUpperVectorHalves();
    const MemoryBudget budget;
    LineCounter lines;
    budget.Check(expected, 1);
    std::size_t capacity = expected == 0 ? 64 * 1024 : expected;

    FileBytes file;
    file.data = AllocateLarge(capacity);
    if (!file.data) ThrowTooLarge();
    // A UTF-16 file is decoded into a text of up to 1.5 times its size,
    // beside it, before its nodes are built.
    auto need = [&file](std::size_t bytes) {
        const bool utf16 = file.size >= 2 && Utf16OrderOf({file.data.get(), 2}) != Utf16Order::None;
        return utf16 ? bytes + Utf16DecodedRoom(bytes) : bytes;
    };
    for (;;) {
        if (file.size == capacity) {
            // Full: either the end of the file, or it grew, or its size was
            // not known. A small read tells which before any copying.
            char probe[16 * 1024];
            const std::size_t n = ReadSome(fd, probe, sizeof probe, path);
            if (n == 0) break;
            lines.Add(probe, n);
            budget.Check(need(file.size + n), lines.Lines());
            const std::size_t bigger =
                std::max(file.size + n, std::min(capacity * 2, budget.Room(lines.Lines())));
            LargeBytes more = AllocateLarge(bigger);
            if (!more) ThrowTooLarge();
            std::copy(file.data.get(), file.data.get() + file.size, more.get());
            std::copy(probe, probe + n, more.get() + file.size);
            file.data = std::move(more);
            file.size += n;
            capacity = bigger;
            continue;
        }
        char* into = file.data.get() + file.size;
        const std::size_t n = ReadSome(fd, into, std::min(capacity - file.size, kPiece), path);
        if (n == 0) break;
        lines.Add(into, n);
        file.size += n;
        budget.Check(need(std::max(file.size, expected)), lines.Lines());
    }
    return file;
}

// A stream connection to the local socket at `path`.
int ConnectToSocket(const std::string& path) {
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) ThrowFileError(ENAMETOOLONG, path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) ThrowFileError(errno, path);
    while (::connect(fd.get(), reinterpret_cast<const struct sockaddr*>(&address),
                     sizeof address) != 0) {
        if (errno != EINTR) ThrowFileError(errno, path);
    }
    return fd.release();
}

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
    // Look before opening: opening a device can have effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) ThrowFileError(errno, path);
    if (!S_ISREG(st.st_mode)) ThrowAccessDenied();
    // Non-blocking, in case a FIFO took the file's place meanwhile.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) ThrowFileError(errno, path);
    if (::fstat(fd.get(), &st) != 0) ThrowFileError(errno, path);
    if (!S_ISREG(st.st_mode)) ThrowAccessDenied();
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return ReadToEnd(fd.get(), static_cast<std::size_t>(st.st_size), path);
}

FileBytes ReadWholeInput(const std::string& path) {
    struct stat st {};
    if (path == "-") {
        if (::fstat(STDIN_FILENO, &st) != 0) ThrowFileError(errno, path);
        std::size_t expected = 0;
        if (S_ISREG(st.st_mode)) {
            const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
            if (at >= 0 && at < st.st_size) expected = static_cast<std::size_t>(st.st_size - at);
        }
        return ReadToEnd(STDIN_FILENO, expected, path);
    }
    // A device is no file to read: opening one can have effects of its own,
    // and reading one may never end.
    if (::stat(path.c_str(), &st) != 0) ThrowFileError(errno, path);
    if (S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ThrowAccessDenied();
    Fd fd(S_ISSOCK(st.st_mode) ? ConnectToSocket(path)
                               : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) ThrowFileError(errno, path);
    if (::fstat(fd.get(), &st) != 0) ThrowFileError(errno, path);
    if (S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) ThrowAccessDenied();
    return ReadToEnd(fd.get(), S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0,
                     path);
}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace keyloft
