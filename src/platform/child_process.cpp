#include "platform/child_process.h"

#include "platform/error.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace jor {

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) raiseErrno(rc);
    int rc = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    if (rc == 0) rc = ::posix_spawnattr_init(&attributes);
    if (rc != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        raiseErrno(rc);
    }
    // A group of its own, so that a kill also reaches any workers it starts;
    // killing the child alone would leave them running.
    rc = ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    if (rc == 0) rc = ::posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    // posix_spawn, not posix_spawnp: the path is used as given, never searched.
    if (rc == 0) rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) raiseErrno(rc);
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(pid_t pid) : pid_(pid) {
    // Without pidfd (old kernel, filtered syscall) the wait falls back to sleeping.
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidfd_(std::exchange(other.pidfd_, -1)),
      ended_(std::exchange(other.ended_, true)),
      status_(other.status_) {}

ChildProcess::~ChildProcess() { killAndReap(); }

bool ChildProcess::HasEnded() {
    if (ended_) return true;
    int status = 0;
    const pid_t rc = ::waitpid(pid_, &status, WNOHANG);
    if (rc == 0 || (rc < 0 && errno == EINTR)) return false;
    // ECHILD: someone else reaped it (e.g. SIGCHLD ignored); it has ended all the same.
    if (rc == pid_) status_ = status;
    ended_ = true;
    if (pidfd_ >= 0) ::close(std::exchange(pidfd_, -1));
    return true;
}

bool ChildProcess::WaitUntilEnded(const std::function<void()>& yield, const std::function<bool()>& stop) {
    for (;;) {
        if (HasEnded()) return true;
        if (stop && stop()) {
            killAndReap();
            return false;
        }
        if (yield) yield();
        if (pidfd_ >= 0) {
            pollfd readable{pidfd_, POLLIN, 0};
            ::poll(&readable, 1, 1);
        } else {
            const timespec millisecond{0, 1'000'000};
            ::nanosleep(&millisecond, nullptr);
        }
    }
}

void ChildProcess::killAndReap() {
    if (!ended_ && pid_ > 0) {
        if (::kill(-pid_, SIGKILL) != 0) ::kill(pid_, SIGKILL);
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        if (rc == pid_) status_ = status;
        ended_ = true;
    }
    if (pidfd_ >= 0) ::close(std::exchange(pidfd_, -1));
}

}  // namespace jor
