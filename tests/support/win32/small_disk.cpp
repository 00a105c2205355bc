// The small disk under Wine: a tmpfs the host mounts, seen as a folder of drive Z:.
#include "support/small_disk.h"

#include "support/host_tool.h"
#include "support/temp_tree.h"

namespace jor::test {

// Mounted by the host: Wine sees it as a folder of drive Z: that fills up.
SmallDisk::SmallDisk(const std::string& mountPoint, int kilobytes, int inodes) : path_(mountPoint) {
    makeFolders(path_);
    std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0777";
    if (inodes > 0) options += ",nr_inodes=" + std::to_string(inodes);
    if (onHost("mount -t tmpfs -o " + options + " tmpfs \"$1\"", {path_}))
        mounted_ = true;
    else
        why_ = "the host cannot mount a small tmpfs here";
}

SmallDisk::~SmallDisk() {
    if (mounted_) onHost("umount -l \"$1\"", {path_});
}

}  // namespace jor::test
