// A process's end seen through a pidfd, which works for processes not our children too.
#include "support/processes.h"

#include <cerrno>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace jor::test {

std::string probeName(const std::string& label) { return "jorprobe-" + std::to_string(::getpid()) + "-" + label; }

bool hasEnded(uint32_t pid, std::chrono::milliseconds limit) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (fd < 0) return errno == ESRCH;
    pollfd ended{fd, POLLIN, 0};
    const int rc = ::poll(&ended, 1, static_cast<int>(limit.count()));
    ::close(fd);
    return rc == 1;
}

}  // namespace jor::test
