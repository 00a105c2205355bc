// A small disk that really fills up, or the reason the machine refuses one.
#pragma once

#include <string>

namespace jor::test {

// A small tmpfs mounted at a fresh folder: a disk that really fills up.
// Mounting needs the right to mount; where the machine refuses, mounted()
// is false and the test says so and skips.
class SmallDisk {
public:
    // `inodes` > 0 limits the number of files and folders, the root included.
    explicit SmallDisk(const std::string& mountPoint, int kilobytes, int inodes = 0);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }
    std::string why() const { return why_; }

private:
    std::string path_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace jor::test
