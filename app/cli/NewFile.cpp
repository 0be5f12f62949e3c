// Creating a missing target, and taking it back when the command fails.
#include "NewFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/Failure.h"

namespace keyloft::cli {

NewFile::NewFile(const std::string& path) : path_(path) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW, 0666);
    if (fd < 0) {
        // Something there already, or no folder: the lock says what it is.
        if (errno != EEXIST && errno != ENOENT && errno != ELOOP) ThrowFileError(errno, path);
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        created_ = true;
        dev_ = st.st_dev;
        ino_ = st.st_ino;
    }
    ::close(fd);
}

NewFile::~NewFile() {
    if (!created_) return;
    struct stat st {};
    if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_ &&
        st.st_size == 0) {
        ::unlink(path_.c_str());
    }
}

}  // namespace keyloft::cli
