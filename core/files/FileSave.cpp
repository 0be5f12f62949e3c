// The atomic save over POSIX calls: a new file in the target's folder, or
// the old file written in place where a new one would lose its owner or its
// other names; every failure becomes a FileError.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "base/Failure.h"
#include "files/FileSystem.h"
#include "files/Paths.h"
#include "files/PosixFile.h"

namespace keyloft {

namespace {

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
