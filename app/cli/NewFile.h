// The file `set` and `merge` create when it does not exist yet.
#pragma once

#include <sys/types.h>

#include <string>

namespace keyloft::cli {

// Creates `path` as an empty regular file, mode 0666 less the umask, when
// nothing is there: not even a symbolic link, so a dangling link is left to
// fail as a missing file. Unless Keep() is called, the destructor removes the
// file again when the path still names it and it is still empty, so a
// command that fails leaves the folder as it was. Throws FileError when the
// file is missing and cannot be created (a folder that may not be written).
class NewFile {
public:
    explicit NewFile(const std::string& path);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    bool Created() const { return created_; }
    void Keep() { created_ = false; }

private:
    std::string path_;
    bool created_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

}  // namespace keyloft::cli
