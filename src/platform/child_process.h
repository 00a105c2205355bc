// Child programs: started without a shell, waited for, stopped, their standard error kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace jor {

// `path` as a child program opens that very file, whatever its name and length (Windows: the \\?\ form).
std::string fileArgument(const std::string& path);

// A program started without a shell: every argument reaches it whole, so
// names from an untrusted disc are never interpreted. A kill also ends the
// programs the child started.
class ChildProcess {
public:
    // Starts `program` (its path as given, never searched) with `arguments`
    // (not including argv[0]), no standard input, no window (on Windows no
    // console either), its standard error into a pipe of ours. Raises jor::Error when it cannot start;
    // BadFileName (52) when the program or an argument holds a NUL byte,
    // which would reach the child cut short.
    static ChildProcess start(const std::string& program, const std::vector<std::string>& arguments);

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ~ChildProcess();  // kills and reaps a child that still runs

    uint32_t pid() const { return pid_; }

    // Non-blocking: true once the child has ended and been reaped.
    bool hasEnded();

    // Waits until the child has ended and been reaped, calling `yield`
    // between checks and blocking at most about a millisecond at a time (no
    // busy spin; Windows: until the child ends or a window message comes for
    // this thread, at most 50 ms). When `stop` turns true first, kills and
    // reaps the child and returns false.
    bool waitUntilEnded(const std::function<void()>& yield, const std::function<bool()>& stop);

    // Kills the child (and what it started) and reaps it, now; nothing when
    // it has ended.
    void stop() { killAndReap(); }

    // Exit status once ended (as the platform reports it), or -1.
    int status() const { return status_; }

    // Once ended: the code the program returned, or 128 plus the signal's
    // number when a signal ended it (Windows: GetExitCodeProcess, so an
    // exception's code such as 0xC0000005 reads negative). -1 while it runs
    // or when the platform cannot tell.
    int exitCode() const;

    // What the child wrote to its standard error, at most the last
    // ErrorOutputLimit bytes. The pipe is read while waiting (hasEnded,
    // waitUntilEnded), never blocking, so a child that writes a lot is never
    // held up by a full pipe; once it has ended, what is left is read.
    const std::string& errorOutput() const { return errorOutput_; }
    static constexpr size_t ErrorOutputLimit = 4096;

private:
    ChildProcess(uint32_t pid, intptr_t handle, intptr_t errorPipe);
    void killAndReap();
    // Blocks until the child ends or writes, or at most a moment (Linux: a
    // millisecond; Windows: 50 ms, or until a window message comes for this
    // thread when `messages`).
    void waitForEndOrMessage(bool messages);
    void readErrorOutput();
    void closeErrorPipe();

    uint32_t pid_ = 0;
    intptr_t handle_ = -1;     // what the wait blocks on: a pidfd, or the process handle
    intptr_t group_ = -1;      // where the platform needs one: what a kill reaches (the job object)
    intptr_t errorPipe_ = -1;  // our end of the child's standard error
    bool ended_ = false;
    int status_ = -1;
    std::string errorOutput_;
};

}  // namespace jor
