// One instance per program folder on Linux: an abstract socket keyed on the folder.
#include "platform/single_instance.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace jor {

SingleInstanceLock::SingleInstanceLock(const std::string& programFolder) {
    char resolved[PATH_MAX];
    const std::string key = ::realpath(programFolder.c_str(), resolved) ? std::string(resolved) : programFolder;
    // An abstract socket name needs no writable folder and vanishes with its owner.
    const std::string name = "jor-orvek/" + std::to_string(std::hash<std::string>{}(key));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0) {
        another_ = errno == EADDRINUSE;
        ::close(fd);
        return;
    }
    handle_ = fd;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

}  // namespace jor
