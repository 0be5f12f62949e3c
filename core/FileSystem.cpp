// File access over POSIX calls; every failure becomes a FileError.
#include "FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <algorithm>

#include "Failure.h"

namespace keyloft {

namespace {

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

// Memory the kernel says it can still give, in bytes; 0 when unknown.
std::size_t AvailableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::size_t value = 0;
    std::string unit;
    while (meminfo >> key >> value >> unit) {
        if (key == "MemAvailable:") return value * 1024;
    }
    return 0;
}

[[noreturn]] void ThrowTooLarge() {
    throw Failure("Not enough memory to load this file");
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a symbolic link finally names, also when that file does not exist
// yet; `path` itself when it is no link.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n < 0) ThrowFileError(errno, path);
        target.resize(static_cast<std::size_t>(n));
        current = (target.front() == '/' || current.find('/') == std::string::npos)
                      ? target
                      : FolderOf(current) + "/" + target;
    }
    ThrowFileError(ELOOP, path);
}

void WriteAll(int fd, std::string_view content, const std::string& path) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError(errno, path);
        }
        if (n == 0) throw FileError(101, FileErrorMessage(101));  // short write
        content.remove_prefix(static_cast<std::size_t>(n));
    }
}

mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

}  // namespace

FileBytes ReadWholeFile(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) ThrowFileError(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) ThrowFileError(errno, path);
    if (S_ISDIR(st.st_mode)) ThrowFileError(EISDIR, path);

    std::size_t capacity = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0;
    const std::size_t available = AvailableMemory();
    // The tree needs about as much again as the text; refuse what cannot fit.
    auto checkFits = [available](std::size_t size) {
        if (available != 0 && size > available / 2) ThrowTooLarge();
    };
    checkFits(capacity);
    if (capacity == 0) capacity = 64 * 1024;

    FileBytes file;
    file.data = AllocateLarge(capacity);
    if (!file.data) ThrowTooLarge();
    for (;;) {
        if (file.size == capacity) {
            // Full: either the end of the file, or it grew, or its size was
            // not known. A small read tells which before any copying.
            char probe[16 * 1024];
            const ssize_t n = ::read(fd.get(), probe, sizeof probe);
            if (n < 0) {
                if (errno == EINTR) continue;
                ThrowFileError(errno, path);
            }
            if (n == 0) break;
            const std::size_t bigger = capacity * 2;
            checkFits(bigger);
            LargeBytes more = AllocateLarge(bigger);
            if (!more) ThrowTooLarge();
            std::copy(file.data.get(), file.data.get() + file.size, more.get());
            std::copy(probe, probe + n, more.get() + file.size);
            file.data = std::move(more);
            file.size += static_cast<std::size_t>(n);
            capacity = bigger;
            continue;
        }
        const ssize_t n = ::read(fd.get(), file.data.get() + file.size, capacity - file.size);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError(errno, path);
        }
        if (n == 0) break;
        file.size += static_cast<std::size_t>(n);
    }
    return file;
}

FileBytes ReadWholeInput(const std::string& path) {
    if (path != "-") return ReadWholeFile(path);
    std::string text;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowFileError(errno, path);
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    FileBytes file;
    file.data = AllocateLarge(text.size() + 1);
    if (!file.data) ThrowTooLarge();
    std::copy(text.begin(), text.end(), file.data.get());
    file.size = text.size();
    return file;
}

bool IsExistingFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ReplaceFileWithBackup(const std::string& path, std::string_view content, Backup backup) {
    return ReplaceFileWithBackup(
        path, [content](const std::function<void(std::string_view)>& write) { write(content); }, backup);
}

bool ReplaceFileWithBackup(const std::string& path, const ContentWriter& content, Backup backup) {
    const std::string target = FollowLinks(path);
    const std::string backupPath = target + ".in1";
    const std::string folder = FolderOf(target);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) ThrowFileError(EISDIR, path);

    // 1. The whole new content into a temporary file beside the target.
    // A short name of its own, so that it fits beside a target of the
    // longest name the file system allows.
    std::string temp = folder + "/.keyloft-XXXXXX";
    Fd fd(::mkstemp(temp.data()));
    if (fd.get() < 0) ThrowFileError(errno, target);
    try {
        content([&](std::string_view piece) { WriteAll(fd.get(), piece, target); });
        if (exists) {
            if (::fchmod(fd.get(), old.st_mode & 07777) != 0) ThrowFileError(errno, target);
            // Keeping the owner needs rights the user may not have: best effort.
            if (::fchown(fd.get(), old.st_uid, old.st_gid) != 0) {
                [[maybe_unused]] const int ignored = ::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid);
            }
        } else if (::fchmod(fd.get(), 0666 & ~CurrentUmask()) != 0) {
            ThrowFileError(errno, target);
        }
        if (::fsync(fd.get()) != 0) ThrowFileError(errno, target);
        if (::close(fd.release()) != 0) ThrowFileError(errno, target);
    } catch (...) {
        if (fd.get() >= 0) ::close(fd.release());
        ::unlink(temp.c_str());
        throw;
    }

    // 2. Keep the old file under the backup name, never replacing one. A hard
    // link keeps the target in place until the new file replaces it.
    enum class Kept { None, Linked, Moved } kept = Kept::None;
    if (exists && backup == Backup::Keep) {
        if (::link(target.c_str(), backupPath.c_str()) == 0) {
            kept = Kept::Linked;
        } else if (errno == EEXIST) {
            const int err = errno;
            ::unlink(temp.c_str());
            ThrowFileError(err, target);
        } else if (::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, backupPath.c_str(),
                               RENAME_NOREPLACE) == 0) {
            kept = Kept::Moved;  // a file system without hard links
        } else {
            const int err = errno;
            ::unlink(temp.c_str());
            ThrowFileError(err, target);
        }
    }

    // 3. The new file takes the target's place in one step.
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int err = errno;
        if (kept == Kept::Linked) ::unlink(backupPath.c_str());
        if (kept == Kept::Moved) ::rename(backupPath.c_str(), target.c_str());
        ::unlink(temp.c_str());
        ThrowFileError(err, target);
    }

    // 4. Make the renames durable.
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return kept != Kept::None;
}

}  // namespace keyloft
