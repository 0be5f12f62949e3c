// The lock that keeps two keyloft-ini writers of one file apart.
#pragma once

#include <string>

namespace keyloft::cli {

// Holds an exclusive flock() on the file `path` names (links followed) from
// construction to destruction. A writer replaces the file by renaming a new
// one into its place, so the lock taken may belong to a file the path no
// longer names: after locking, the locked descriptor's device and inode are
// compared with those the path names now, and on a difference the lock is
// dropped and taken again on the new file. Once held, the path names the
// locked file until the holder's own save replaces it. Throws FileError when
// the file cannot be opened, is no regular file, or cannot be locked.
class WriterLock {
public:
    explicit WriterLock(const std::string& path);
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace keyloft::cli
