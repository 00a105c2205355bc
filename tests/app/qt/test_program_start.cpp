// The Qt program started as a user would: a second copy in the same folder ends, copies elsewhere run.
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace jor {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

// A copy of the program folder, started as a user would (offscreen, so no
// display is needed).
struct ProgramCopy {
    TempDir dir;
    ProgramCopy() {
        for (const char* f : {"jor-orvek", "gunzip.exe"})
            std::filesystem::copy_file(std::string(JOR_PROGRAM_DIR) + "/" + f, dir / f);
    }
    pid_t start() {
        const std::string exe = dir / "jor-orvek";
        char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen"};
        for (char** e = environ; *e; ++e)
            if (!std::string(*e).starts_with("QT_QPA_PLATFORM=")) env.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        pid_t pid = 0;
        // Started from another working folder: the program must find its own.
        EXPECT_EQ(posix_spawn(&pid, exe.c_str(), nullptr, nullptr, argv, envp.data()), 0);
        return pid;
    }
};

// Waits up to `limit` for the process to end; -1 if it still runs.
int exitWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

void stop(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(ProgramStart, SecondInstanceEndsAtOnceAndStoresNothing) {
    ProgramCopy program;
    const pid_t first = program.start();
    ASSERT_EQ(exitWithin(first, 1500ms), -1) << "the first instance keeps running";

    const pid_t second = program.start();
    EXPECT_EQ(exitWithin(second, 5s), 0) << "the second instance ends by itself";
    EXPECT_FALSE(test::exists(program.dir / "Settings.ini")) << "a second instance stores nothing";
    EXPECT_EQ(exitWithin(first, 200ms), -1) << "the first goes on unaffected";

    // A crash leaves no stale lock behind.
    stop(first);
    const pid_t third = program.start();
    EXPECT_EQ(exitWithin(third, 1500ms), -1) << "a start after a crash is not blocked";
    stop(third);
}

TEST(ProgramStart, CopiesInOtherFoldersRunSideBySide) {
    ProgramCopy one, two;
    const pid_t a = one.start();
    ASSERT_EQ(exitWithin(a, 1000ms), -1);
    const pid_t b = two.start();
    EXPECT_EQ(exitWithin(b, 1000ms), -1) << "the lock is keyed on the program folder";
    stop(a);
    stop(b);
}

}  // namespace
}  // namespace jor
