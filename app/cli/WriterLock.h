// The lock that keeps two keyloft-ini writers of one file apart.
#pragma once

#include <stdexcept>
#include <string>

namespace keyloft::cli {

// Thrown by a WriterLock that was told not to wait when another process holds
// the lock.
class LockedByOther : public std::runtime_error {
public:
    LockedByOther() : std::runtime_error("locked by another writer") {}
};

// Holds an exclusive flock() on the file `path` names (links followed) from
// construction to destruction. A writer replaces the file by renaming a new
// one into its place, so the lock taken may belong to a file the path no
// longer names: after locking, the locked descriptor's device and inode are
// compared with those the path names now, and on a difference the lock is
// dropped and taken again on the new file. Once held, the path names the
// locked file until the holder's own save replaces it. Throws FileError when
// the file cannot be opened, is no regular file, or cannot be locked.
//
// When another process holds the lock, `wait` false throws LockedByOther at
// once; otherwise the constructor waits for as long as it takes and, after
// one second of waiting, calls `onWait` once (from another thread).
class WriterLock {
public:
    WriterLock(const std::string& path, bool wait, void (*onWait)(const std::string& path));
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace keyloft::cli
