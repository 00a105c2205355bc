// A child program on Linux: posix_spawn, a pidfd to wait on, a process group to kill.
#include "platform/child_process.h"

#include "platform/linux/errno_error.h"

#include <algorithm>
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

std::string fileArgument(const std::string& path) { return path; }

ChildProcess ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments) {
    const auto holdsNul = [](const std::string& text) { return text.find('\0') != std::string::npos; };
    if (holdsNul(program) || std::any_of(arguments.begin(), arguments.end(), holdsNul))
        throw Error(err::BadFileName, describeError(err::BadFileName));
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) raiseErrno(errno);
    const auto closePipe = [&errorPipe] {
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
    };
    posix_spawn_file_actions_t actions;
    if (int rc = ::posix_spawn_file_actions_init(&actions); rc != 0) {
        closePipe();
        raiseErrno(rc);
    }
    int rc = ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, errorPipe[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    if (rc == 0) rc = ::posix_spawnattr_init(&attributes);
    if (rc != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        closePipe();
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
    ::close(errorPipe[1]);
    if (rc != 0) {
        ::close(errorPipe[0]);
        raiseErrno(rc);
    }
    // Never blocks on reading: the child's workers may hold the pipe open after it has ended.
    ::fcntl(errorPipe[0], F_SETFL, O_NONBLOCK);
    // Without pidfd (old kernel, filtered syscall) the wait falls back to sleeping.
    return ChildProcess(static_cast<uint32_t>(pid), static_cast<intptr_t>(::syscall(SYS_pidfd_open, pid, 0)),
                        errorPipe[0]);
}

ChildProcess::ChildProcess(uint32_t pid, intptr_t handle, intptr_t errorPipe)
    : pid_(pid), handle_(handle), errorPipe_(errorPipe) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      handle_(std::exchange(other.handle_, -1)),
      errorPipe_(std::exchange(other.errorPipe_, -1)),
      ended_(std::exchange(other.ended_, true)),
      status_(other.status_),
      errorOutput_(std::move(other.errorOutput_)) {}

ChildProcess::~ChildProcess() { killAndReap(); }

int ChildProcess::exitCode() const {
    if (!ended_ || status_ == -1) return -1;
    if (WIFEXITED(status_)) return WEXITSTATUS(status_);
    if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
    return -1;
}

void ChildProcess::readErrorOutput() {
    char buffer[4096];
    while (errorPipe_ >= 0) {
        const ssize_t n = ::read(static_cast<int>(errorPipe_), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;  // nothing more for now
        if (n == 0) {
            closeErrorPipe();
            return;
        }
        errorOutput_.append(buffer, static_cast<size_t>(n));
        // Only the end tells why it failed.
        if (errorOutput_.size() > ErrorOutputLimit) errorOutput_.erase(0, errorOutput_.size() - ErrorOutputLimit);
    }
}

void ChildProcess::closeErrorPipe() {
    if (errorPipe_ >= 0) ::close(static_cast<int>(std::exchange(errorPipe_, -1)));
}

bool ChildProcess::hasEnded() {
    if (ended_) return true;
    readErrorOutput();
    int status = 0;
    const pid_t rc = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
    if (rc == 0 || (rc < 0 && errno == EINTR)) return false;
    // ECHILD: someone else reaped it (e.g. SIGCHLD ignored); it has ended all the same.
    if (rc == static_cast<pid_t>(pid_)) status_ = status;
    ended_ = true;
    // Everything it wrote is in the pipe now; a worker that still holds the
    // pipe open is not waited for.
    readErrorOutput();
    closeErrorPipe();
    if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));
    return true;
}

void ChildProcess::waitForEndOrMessage(bool) {
    // Woken by the child's end or by its writing, at most a millisecond apart.
    pollfd events[2];
    nfds_t count = 0;
    if (handle_ >= 0) events[count++] = {static_cast<int>(handle_), POLLIN, 0};
    if (errorPipe_ >= 0) events[count++] = {static_cast<int>(errorPipe_), POLLIN, 0};
    if (handle_ >= 0) {
        ::poll(events, count, 1);
    } else {
        const timespec millisecond{0, 1'000'000};
        ::nanosleep(&millisecond, nullptr);
    }
}

void ChildProcess::killAndReap() {
    if (!ended_ && pid_ > 0) {
        const auto pid = static_cast<pid_t>(pid_);
        if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}
        if (rc == pid) status_ = status;
        ended_ = true;
    }
    closeErrorPipe();
    if (handle_ >= 0) ::close(static_cast<int>(std::exchange(handle_, -1)));
}

}  // namespace jor
