// File access over POSIX calls; every failure becomes a FileError.
#include "FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Encoding.h"
#include "Failure.h"
#include "FastPaths.h"
#include "Paths.h"

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

[[noreturn]] void ThrowAccessDenied() { throw FileErrorFromErrno(EACCES, true); }

[[noreturn]] void ThrowTooLarge() { throw Failure("Not enough memory to load this file"); }

// --- memory -------------------------------------------------------------------

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

std::size_t LeftOf(std::size_t limit, std::size_t used) { return limit > used ? limit - used : 0; }

// MemAvailable of /proc/meminfo: what the kernel can give without swapping.
std::size_t SystemMemoryLeft() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::size_t value = 0;
    std::string unit;
    while (meminfo >> key >> value >> unit) {
        if (key == "MemAvailable:") return value * 1024;
    }
    return kUnknown;
}

// What the address-space limit (ulimit -v) still allows beside what is
// mapped now.
std::size_t AddressSpaceLeft() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
    std::ifstream statm("/proc/self/statm");
    std::size_t pages = 0;
    if (!(statm >> pages)) return kUnknown;
    return LeftOf(limit.rlim_cur, pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE)));
}

// A number file of the cgroup file system; kUnknown for "max" or none.
std::size_t CgroupNumber(const std::string& file) {
    std::ifstream in(file);
    std::size_t value = 0;
    return in >> value ? value : kUnknown;
}

std::size_t InactiveFileCache(const std::string& folder) {
    std::ifstream stat(folder + "/memory.stat");
    std::string key;
    std::size_t value = 0;
    while (stat >> key >> value) {
        if (key == "inactive_file") return value;
    }
    return 0;
}

// The room left under the memory.max of the process's control group and of
// each group above it (cgroup v2). Page cache the kernel would drop first
// (inactive_file) counts as room: memory.current includes it.
std::size_t CgroupMemoryLeft() {
    std::string group;
    {
        std::ifstream cgroup("/proc/self/cgroup");
        std::string line;
        while (std::getline(cgroup, line)) {
            if (line.rfind("0::", 0) == 0) group = line.substr(3);
        }
    }
    if (group.empty()) return kUnknown;
    std::string mountRoot, mountPoint;
    {
        std::ifstream mountinfo("/proc/self/mountinfo");
        std::string line;
        while (std::getline(mountinfo, line)) {
            const auto dash = line.find(" - ");
            if (dash == std::string::npos || line.compare(dash + 3, 8, "cgroup2 ") != 0) continue;
            std::istringstream fields(line.substr(0, dash));
            std::string id, parent, device;
            fields >> id >> parent >> device >> mountRoot >> mountPoint;
            break;
        }
    }
    if (mountPoint.empty()) return kUnknown;
    if (mountRoot != "/") {
        if (group.rfind(mountRoot, 0) != 0) return kUnknown;
        group.erase(0, mountRoot.size());
    }
    std::size_t left = kUnknown;
    for (;;) {
        const std::string folder = mountPoint + group;
        const std::size_t max = CgroupNumber(folder + "/memory.max");
        const std::size_t current = CgroupNumber(folder + "/memory.current");
        if (max != kUnknown && current != kUnknown) {
            left = std::min(left, LeftOf(max, LeftOf(current, InactiveFileCache(folder))));
        }
        const auto slash = group.find_last_of('/');
        if (slash == std::string::npos || group.size() <= 1) break;
        group.erase(slash);
    }
    return left;
}

// The memory a load may take: half of the least the system, the address-space
// limit and the control group leave, so that the rest of the process, the
// document being replaced and the estimate's error still fit.
class MemoryBudget {
public:
    MemoryBudget() {
        const std::size_t least =
            std::min({SystemMemoryLeft(), AddressSpaceLeft(), CgroupMemoryLeft()});
        limit_ = least == kUnknown ? kUnknown : least / 2;
    }
    // The bytes the file may take beside the nodes of `lines` lines.
    std::size_t Room(std::size_t lines) const {
        const std::size_t nodes =
            lines > limit_ / kNodeBytesPerLine ? limit_ : lines * kNodeBytesPerLine;
        return LeftOf(limit_, nodes);
    }
    void Check(std::size_t bytes, std::size_t lines) const {
        if (bytes > Room(lines)) ThrowTooLarge();
    }

private:
    std::size_t limit_;
};

// Calls `each` with the place of every `c` in [from, end).
template <class Each>
void ForEachByte(const char* from, const char* end, char c, Each each) {
    while (from < end) {
        const auto* hit =
            static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
        if (hit == nullptr) return;
        each(hit);
        from = hit + 1;
    }
}

// Counts the lines of bytes seen in pieces: CR LF, a lone CR and a lone LF
// each end one; the last line needs no break.
class LineCounter {
public:
    void Add(const char* bytes, std::size_t size) {
        if (size == 0) return;
        const char* const end = bytes + size;
#if defined(__SSE2__)
        const char* const start = bytes;
        // Sixteen bytes at a time: each CR counts, each LF not right after a
        // CR. Byte counters add 0 or 1 a round, summed before they overflow.
        const __m128i cr = _mm_set1_epi8('\r');
        const __m128i lf = _mm_set1_epi8('\n');
        __m128i lastCr = _mm_setzero_si128();
        if (lastWasCr_) lastCr = _mm_slli_si128(_mm_set1_epi32(-1), 15);  // its last byte
        while (end - bytes >= 16) {
            __m128i counts = _mm_setzero_si128();
            for (int round = 0; round < 255 && end - bytes >= 16; ++round, bytes += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
                const __m128i isCr = _mm_cmpeq_epi8(v, cr);
                const __m128i afterCr =
                    _mm_or_si128(_mm_slli_si128(isCr, 1), _mm_srli_si128(lastCr, 15));
                const __m128i loneLf = _mm_andnot_si128(afterCr, _mm_cmpeq_epi8(v, lf));
                counts = _mm_sub_epi8(_mm_sub_epi8(counts, isCr), loneLf);
                lastCr = isCr;
            }
            const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
            breaks_ += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
                       static_cast<std::size_t>(_mm_extract_epi16(sums, 4));
        }
        if (bytes != start) lastWasCr_ = bytes[-1] == '\r';
#endif
        ForEachByte(bytes, end, '\r', [this](const char*) { ++breaks_; });
        ForEachByte(bytes, end, '\n', [&](const char* lf) {
            if (!(lf == bytes ? lastWasCr_ : lf[-1] == '\r')) ++breaks_;
        });
        lastWasCr_ = end[-1] == '\r';
    }
    std::size_t Lines() const { return breaks_ + 1; }

private:
    std::size_t breaks_ = 0;
    bool lastWasCr_ = false;
};

// --- reading ------------------------------------------------------------------

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

// --- saving -------------------------------------------------------------------

// The kernel's rule for links in shared folders such as /tmp: a link there is
// followed only when it belongs to this user or to the folder's owner, so
// that nobody can point another user's save at a file of their choosing.
void CheckLinkMayBeFollowed(const std::string& link, const struct stat& linkStat) {
    if (linkStat.st_uid == ::geteuid()) return;
    struct stat folder {};
    if (::stat(FolderOf(link).c_str(), &folder) != 0) ThrowFileError(errno, link);
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    if (shared && linkStat.st_uid != folder.st_uid) ThrowAccessDenied();
}

// The file a symbolic link finally names, also when that file does not exist
// yet; `path` itself when it is no link.
std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        CheckLinkMayBeFollowed(current, st);
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

// Fills `buffer` by `get` (a listxattr or getxattr call), growing it while
// the list or value grows between the calls. Returns the size, or -1 with
// errno set.
template <class Get>
ssize_t GetGrowing(std::vector<char>& buffer, Get get) {
    for (;;) {
        ssize_t size = get(nullptr, 0);
        if (size < 0) return size;
        buffer.resize(static_cast<std::size_t>(size) + 1);
        size = get(buffer.data(), buffer.size());
        if (size >= 0 || errno != ERANGE) return size;
    }
}

// Copies every extended attribute of the file `from` to the open file `to`:
// user attributes, the POSIX ACL (system.posix_acl_access), security labels.
// A name the new file's file system does not take (ENOTSUP) is left out; any
// other refusal fails the save, so that no protection is lost unseen.
void CopyExtendedAttributes(const std::string& from, int to, const std::string& target) {
    std::vector<char> names;
    const ssize_t listed = GetGrowing(names, [&](char* into, std::size_t size) {
        return ::llistxattr(from.c_str(), into, size);
    });
    if (listed < 0) {
        if (errno == ENOTSUP) return;
        ThrowFileError(errno, target);
    }
    std::vector<char> value;
    for (const char* name = names.data(); name < names.data() + listed;
         name += std::strlen(name) + 1) {
        const ssize_t size = GetGrowing(value, [&](char* into, std::size_t room) {
            return ::lgetxattr(from.c_str(), name, into, room);
        });
        if (size < 0) {
            if (errno == ENODATA) continue;  // removed since it was listed
            ThrowFileError(errno, target);
        }
        if (::fsetxattr(to, name, value.data(), static_cast<std::size_t>(size), 0) != 0 &&
            errno != ENOTSUP) {
            ThrowFileError(errno, target);
        }
    }
}

// Gives the new file the replaced file's owner and group; false when this
// user may not, and the file keeps this user's.
bool TakeOverOwner(int fd, const struct stat& old) {
    return ::fchown(fd, old.st_uid, old.st_gid) == 0;
}

// Gives the finished file its attributes and mode, after its owner: a change
// of owner clears the setuid and setgid bits, and setting an ACL rewrites
// the group bits, so the exact mode is set last.
void TakeOverProtection(int fd, const struct stat* old, const std::string& target) {
    if (old == nullptr) {
        if (::fchmod(fd, 0666 & ~CurrentUmask()) != 0) ThrowFileError(errno, target);
        return;
    }
    CopyExtendedAttributes(target, fd, target);
    if (::fchmod(fd, old->st_mode & 07777) != 0) ThrowFileError(errno, target);
}

// Random bits for names no one else picks.
std::uint64_t RandomBits() {
    std::uint64_t bits = 0;
    if (::getrandom(&bits, sizeof bits, 0) == static_cast<ssize_t>(sizeof bits)) return bits;
    // No entropy source: the time and the process still differ between saves.
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 20) ^
           (static_cast<std::uint64_t>(::getpid()) << 44);
}

std::uint64_t Fnv1a(std::string_view bytes, std::uint64_t hash = 14695981039346656037ull) {
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string Hex(std::uint64_t value, int digits) {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", digits, static_cast<unsigned long long>(value));
    return text;
}

// What names of a save's files begin with: "." + the file's name, or 16
// hex digits made from it where a longer name would pass 255 bytes.
std::string SaveNameBase(std::string_view fileName) {
    constexpr std::size_t kLongestSuffix = 40;
    if (fileName.size() + 1 + kLongestSuffix <= NAME_MAX) return "." + std::string(fileName);
    return "." + Hex(Fnv1a(fileName), 16);
}

// The mark of a pending name: made from its random part and the file it
// names, so that a file that merely has such a name does not carry it.
std::string PendingMark(std::string_view random, std::uint64_t device, std::uint64_t inode) {
    std::string bytes(random);
    bytes += "/keyloft-save/" + std::to_string(device) + "/" + std::to_string(inode);
    return Hex(Fnv1a(bytes) & 0xFFFFFFFFull, 8);
}

// Removes what saves of `fileName` killed between naming their new file and
// the rename left in `folder`: names of the pending form whose mark fits the
// file they name. A folder this user may not read is left alone.
void RemoveLeftPendingSaves(const std::string& folder, std::string_view fileName) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int dirFd = ::dirfd(dir);
    std::vector<std::string> left;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat st {};
        if (!IsPendingSaveName(fileName, name)) continue;
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISREG(st.st_mode) && st.st_nlink == 1 &&
            HasPendingMark(name, static_cast<std::uint64_t>(st.st_dev),
                           static_cast<std::uint64_t>(st.st_ino)))
            left.push_back(name);
    }
    for (const std::string& name : left) ::unlinkat(dirFd, name.c_str(), 0);
    ::closedir(dir);
}

// Whether this user may open `target` for writing, by the kernel's own
// check: a save never replaces a file the user could not write in place.
void CheckMayWrite(const std::string& target) {
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) ThrowFileError(errno, target);
}

// The new content on its way to the target: a nameless file while it is
// written, a name beside the target only for the rename. Removes its file on
// every path but a successful rename.
class NewFile {
public:
    NewFile(const std::string& folder, const std::string& target) : target_(target) {
        // A nameless file needs /proc to be given a name later.
        if (::access("/proc/self/fd", X_OK) == 0) {
            fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
            if (fd_ >= 0) return;
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
                ThrowFileError(errno, target);
            }
        }
        // A file system without nameless files: a short name of its own, so
        // that it fits beside a target of the longest name allowed.
        name_ = folder + "/.keyloft-XXXXXX";
        fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            name_.clear();
            ThrowFileError(errno, target);
        }
    }
    ~NewFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return fd_; }
    // Gives up the new file at once.
    void Discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!name_.empty()) ::unlink(name_.c_str());
        name_.clear();
    }

    // Gives the nameless file a pending name of its own (a random part and
    // the mark that tells it from any other file) and closes it.
    void Name(const std::string& folder) {
        if (name_.empty()) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_);
            struct stat st {};
            if (::fstat(fd_, &st) != 0) ThrowFileError(errno, target_);
            for (int tries = 0;; ++tries) {
                const std::string pending = folder + "/" +
                                            PendingSaveName(FileNameOfPath(target_), RandomBits(),
                                                            static_cast<std::uint64_t>(st.st_dev),
                                                            static_cast<std::uint64_t>(st.st_ino));
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, pending.c_str(),
                             AT_SYMLINK_FOLLOW) == 0) {
                    name_ = pending;
                    break;
                }
                if (errno != EEXIST || tries == 16) ThrowFileError(errno, target_);
            }
        }
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) ThrowFileError(errno, target_);
    }

    void RenameTo(const std::string& target) {
        if (::rename(name_.c_str(), target.c_str()) != 0) ThrowFileError(errno, target_);
        name_.clear();
    }

private:
    std::string target_;
    int fd_ = -1;
    std::string name_;  // empty while nameless
};

// A backup made by this save, undone unless the save completes.
class KeptBackup {
public:
    KeptBackup(const std::string& target, const std::string& backup)
        : target_(target), backup_(backup) {}
    ~KeptBackup() {
        if (committed_) return;
        if (kind_ == Kind::Linked) ::unlink(backup_.c_str());
        if (kind_ == Kind::Moved) ::rename(backup_.c_str(), target_.c_str());
    }
    KeptBackup(const KeptBackup&) = delete;
    KeptBackup& operator=(const KeptBackup&) = delete;

    // Keeps the old file under the backup name, never replacing one. A hard
    // link keeps the target in place until the new file replaces it.
    void Make() {
        if (::link(target_.c_str(), backup_.c_str()) == 0) {
            kind_ = Kind::Linked;
        } else if (errno == EEXIST) {
            ThrowFileError(errno, target_);
        } else if (::renameat2(AT_FDCWD, target_.c_str(), AT_FDCWD, backup_.c_str(),
                               RENAME_NOREPLACE) == 0) {
            kind_ = Kind::Moved;  // a file system without hard links
        } else {
            ThrowFileError(errno, target_);
        }
    }
    bool Made() const { return kind_ != Kind::None; }
    void Commit() { committed_ = true; }

private:
    enum class Kind { None, Linked, Moved };
    std::string target_;
    std::string backup_;
    Kind kind_ = Kind::None;
    bool committed_ = false;
};

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

std::string PendingSaveName(std::string_view fileName, std::uint64_t random, std::uint64_t device,
                            std::uint64_t inode) {
    const std::string part = Hex(random, 16);
    return SaveNameBase(fileName) + ".keyloft-save-" + part + "-" +
           PendingMark(part, device, inode);
}

bool IsPendingSaveName(std::string_view fileName, std::string_view name) {
    const std::string prefix = SaveNameBase(fileName) + ".keyloft-save-";
    return name.size() == prefix.size() + 16 + 1 + 8 && name.starts_with(prefix) &&
           name[prefix.size() + 16] == '-';
}

bool HasPendingMark(std::string_view name, std::uint64_t device, std::uint64_t inode) {
    if (name.size() < 26) return false;
    const std::string_view random = name.substr(name.size() - 25, 16);
    return name.substr(name.size() - 8) == PendingMark(random, device, inode);
}

bool ReplaceFileWithBackup(const std::string& path, std::string_view content, Backup backup) {
    return ReplaceFileWithBackup(
        path, [content](const std::function<void(std::string_view)>& write) { write(content); },
        backup);
}

namespace {

// Copies the bytes of `from` (read from its start) to `to`.
void CopyBytes(int from, int to, const std::string& target) {
    std::vector<char> buffer(1 << 20);
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(from, buffer.data(), buffer.size(), at);
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowFileError(errno, target);
        }
        if (n == 0) return;
        WriteAll(to, {buffer.data(), static_cast<std::size_t>(n)}, target);
        at += n;
    }
}

void SyncFolder(const std::string& folder, const std::string& target) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 && errno != EACCES) ThrowFileError(errno, target);
    if (dir.get() >= 0 && ::fsync(dir.get()) != 0) ThrowFileError(errno, target);
}

// The old bytes of a file written in place, kept under a name of their own
// before the write begins: the backup, or a copy removed once the new bytes
// are durable. A save killed meanwhile leaves them complete there.
class OldBytesCopy {
public:
    OldBytesCopy(const std::string& target, Backup backup)
        : target_(target), isBackup_(backup == Backup::Keep) {}
    ~OldBytesCopy() {
        if (fd_ >= 0) ::close(fd_);
        // The backup stays unless the save failed with the old bytes back in
        // place (or never held them); a copy goes unless it is all that
        // holds them.
        const bool drop =
            isBackup_ ? !made_ || (!done_ && restored_) : !made_ || done_ || restored_;
        if (!path_.empty() && drop) ::unlink(path_.c_str());
    }
    OldBytesCopy(const OldBytesCopy&) = delete;
    OldBytesCopy& operator=(const OldBytesCopy&) = delete;

    // Copies the bytes of the open file `from`, whose status is `old`, and
    // makes the copy and its name durable.
    void Make(int from, const struct stat& old) {
        const std::string folder = FolderOf(target_);
        if (isBackup_) {
            path_ = BackupName(target_);
            fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        } else {
            for (int tries = 0; fd_ < 0 && tries < 16; ++tries) {
                path_ = folder + "/" + SaveNameBase(FileNameOfPath(target_)) + ".keyloft-old-" +
                        Hex(RandomBits(), 16);
                fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (fd_ < 0 && errno != EEXIST) break;
            }
        }
        if (fd_ < 0) {
            const int err = errno;
            path_.clear();
            ThrowFileError(err, target_);
        }
        // Nobody the old file did not let read it may read the copy: it
        // belongs to this user, in the old group where this user may give it
        // that, and has the old bits for the others.
        const bool sameGroup = ::fchown(fd_, static_cast<uid_t>(-1), old.st_gid) == 0;
        const mode_t mode = 0600 | (old.st_mode & (sameGroup ? 0066 : 0006));
        if (::fchmod(fd_, mode) != 0) ThrowFileError(errno, target_);
        CopyBytes(from, fd_, target_);
        if (::fsync(fd_) != 0) ThrowFileError(errno, target_);
        SyncFolder(folder, target_);
        made_ = true;
    }

    // Writes the old bytes back over `to` after a failed write.
    void Restore(int to) noexcept {
        try {
            Fd in(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
            if (in.get() < 0) return;
            const off_t size = ::lseek(in.get(), 0, SEEK_END);
            if (size < 0 || ::lseek(to, 0, SEEK_SET) != 0) return;
            CopyBytes(in.get(), to, target_);
            if (::ftruncate(to, size) != 0 || ::fsync(to) != 0) return;
            restored_ = true;
        } catch (const std::exception&) {
            // The copy keeps the old bytes.
        }
    }
    void Done() { done_ = true; }

private:
    std::string target_;
    bool isBackup_;
    std::string path_;
    int fd_ = -1;
    bool made_ = false;
    bool done_ = false;
    bool restored_ = false;
};

// The save of a file that cannot be replaced by a new one without losing its
// owner, its group or its other names: the old bytes are copied aside, then
// the file itself is overwritten, cut to the new length and synced.
bool WriteInPlace(const std::string& target, const ContentWriter& content, Backup backup) {
    Fd fd(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) ThrowFileError(errno, target);
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) ThrowFileError(errno, target);
    if (!S_ISREG(now.st_mode)) ThrowAccessDenied();
    OldBytesCopy copy(target, backup);
    copy.Make(fd.get(), now);
    try {
        if (::lseek(fd.get(), 0, SEEK_SET) != 0) ThrowFileError(errno, target);
        off_t size = 0;
        content([&](std::string_view piece) {
            WriteAll(fd.get(), piece, target);
            size += static_cast<off_t>(piece.size());
        });
        if (::ftruncate(fd.get(), size) != 0) ThrowFileError(errno, target);
        if (::fsync(fd.get()) != 0) ThrowFileError(errno, target);
    } catch (...) {
        copy.Restore(fd.get());
        throw;
    }
    copy.Done();
    return backup == Backup::Keep;
}

}  // namespace

void CheckMayReplace(const std::string& path, Backup backup) {
    const std::string target = FollowLinks(path);
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0) {
        if (errno != ENOENT) ThrowFileError(errno, target);
        struct stat folder {};
        if (::stat(FolderOf(target).c_str(), &folder) != 0) ThrowFileError(errno, target);
        if (::faccessat(AT_FDCWD, FolderOf(target).c_str(), W_OK | X_OK, AT_EACCESS) != 0)
            ThrowFileError(errno, target);
        return;
    }
    if (!S_ISREG(old.st_mode)) ThrowAccessDenied();
    CheckMayWrite(target);
    struct stat kept {};
    if (backup == Backup::Keep && ::lstat(BackupName(target).c_str(), &kept) == 0)
        ThrowFileError(EEXIST, target);
}

bool ReplaceFileWithBackup(const std::string& path, const ContentWriter& content, Backup backup) {
    const std::string target = FollowLinks(path);
    const std::string folder = FolderOf(target);

    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) ThrowFileError(errno, target);
    if (exists && !S_ISREG(old.st_mode)) ThrowAccessDenied();
    if (exists) CheckMayWrite(target);

    RemoveLeftPendingSaves(folder, FileNameOfPath(target));

    // Every name of a file with several links must see the new bytes.
    if (exists && old.st_nlink > 1) return WriteInPlace(target, content, backup);

    // 1. The whole new content, its protection and fsync, still nameless.
    NewFile file(folder, target);
    if (exists && !TakeOverOwner(file.fd(), old)) {
        // A new file could not keep the owner and group: the old one is
        // written instead.
        file.Discard();
        return WriteInPlace(target, content, backup);
    }
    content([&](std::string_view piece) { WriteAll(file.fd(), piece, target); });
    TakeOverProtection(file.fd(), exists ? &old : nullptr, target);
    if (::fsync(file.fd()) != 0) ThrowFileError(errno, target);

    // 2. The old file under the backup name.
    KeptBackup kept(target, BackupName(target));
    if (exists && backup == Backup::Keep) kept.Make();

    // 3. The new file takes the target's place in one step.
    file.Name(folder);
    file.RenameTo(target);
    kept.Commit();

    // 4. Make the names durable. A folder this user may not read cannot be
    // synced; everything else that fails here is reported.
    SyncFolder(folder, target);
    return kept.Made();
}

}  // namespace keyloft
