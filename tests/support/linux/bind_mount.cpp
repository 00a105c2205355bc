// Bind mounts for the tests, undone lazily so that a busy tree is no obstacle.
#include "support/linux/bind_mount.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace jor::test {

BindMount::BindMount(const std::string& folder, const std::string& at) : at_(at) {
    if (::mount(folder.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0)
        mounted_ = true;
    else
        why_ = std::string("cannot bind-mount here: ") + std::strerror(errno);
}

BindMount::~BindMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
}

}  // namespace jor::test
