#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace jor {

// A program started without a shell: every argument reaches it whole, so
// names from an untrusted disc are never interpreted.
class ChildProcess {
public:
    // Starts `program` with `arguments` (not including argv[0]), standard
    // input from /dev/null, no window. Raises jor::Error when it cannot start.
    static ChildProcess Start(const std::string& program, const std::vector<std::string>& arguments);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess();  // kills and reaps a child that still runs

    pid_t pid() const { return pid_; }

    // Non-blocking: true once the child has ended and been reaped.
    bool HasEnded();

    // Waits until the child has ended and been reaped, calling `yield`
    // between checks and blocking at most about a millisecond at a time (no
    // busy spin). When `stop` turns true first, kills and reaps the child
    // and returns false.
    bool WaitUntilEnded(const std::function<void()>& yield, const std::function<bool()>& stop);

    // Exit status once ended (as from waitpid), or -1.
    int status() const { return status_; }

private:
    explicit ChildProcess(pid_t pid);
    void killAndReap();

    pid_t pid_ = -1;
    int pidfd_ = -1;
    bool ended_ = false;
    int status_ = -1;
};

}  // namespace jor
