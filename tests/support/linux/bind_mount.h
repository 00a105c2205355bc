// A folder mounted once more somewhere else, for as long as the object lives.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mount.h>

namespace jor::test {

// Mounted below its own tree, a folder loops as a crafted disc image's
// folders can. Mounting needs root; where it is refused, mounted() is false
// and why() says so.
class BindMount {
public:
    BindMount(const std::string& folder, const std::string& at) : at_(at) {
        if (::mount(folder.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0)
            mounted_ = true;
        else
            why_ = std::string("cannot bind-mount here: ") + std::strerror(errno);
    }
    ~BindMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);  // lazily: a busy tree is no obstacle
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    std::string at_, why_;
    bool mounted_ = false;
};

}  // namespace jor::test
