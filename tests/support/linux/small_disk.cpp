// The small disk on Linux: a tmpfs mounted by the test itself.
#include "support/small_disk.h"

#include "support/temp_tree.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace jor::test {

SmallDisk::SmallDisk(const std::string& mountPoint, int kilobytes, int inodes) : path_(mountPoint) {
    makeFolders(path_);
    std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0777";
    if (inodes > 0) options += ",nr_inodes=" + std::to_string(inodes);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0)
        mounted_ = true;
    else
        why_ = std::string("cannot mount a small tmpfs here: ") + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
}

}  // namespace jor::test
