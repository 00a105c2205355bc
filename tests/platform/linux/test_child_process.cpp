// Child processes on Linux: whole arguments, the null device as input, exit, error output and the kill.
#include "platform/child_process.h"
#include "platform/error.h"
#include "support/expect_error.h"
#include "support/temp_tree.h"

#include <cerrno>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jor {
namespace {

bool processExists(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

TEST(ChildProcess, ArgumentsArriveWholeAndUninterpreted) {
    test::TempDir dir;
    const std::string script = dir / "echo args";
    test::writeFile(script, "#!/bin/sh\nout=$1\nshift\nfor a do printf '%s\\n' \"$a\"; done > \"$out\"\n", 0755);
    const std::string injected = dir / "x";
    const std::vector<std::string> arguments = {
        "two words",
        "  padded  ",
        "",
        "it's \"quoted\"",
        "a;b",
        "$(touch " + injected + ")",
        "`touch " + injected + "`",
        "*",
        "-d",
        "C:\\TempOrvek\\a b.dcm.z",
        "> " + injected,
    };
    std::vector<std::string> all = {dir / "out"};
    all.insert(all.end(), arguments.begin(), arguments.end());

    auto child = ChildProcess::start(script, all);
    ASSERT_TRUE(child.waitUntilEnded({}, {}));
    ASSERT_TRUE(WIFEXITED(child.status()) && WEXITSTATUS(child.status()) == 0) << child.status();
    EXPECT_EQ(splitLines(test::readFile(dir / "out")), arguments);
    EXPECT_FALSE(test::exists(injected)) << "an argument was run as a command";
}

TEST(ChildProcess, StandardInputIsTheNullDeviceNotOurs) {
    test::TempDir dir;
    // Our own input might already be the null device; make it a pipe for the start.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int savedInput = ::dup(STDIN_FILENO);
    ::dup2(fds[0], STDIN_FILENO);
    auto child = ChildProcess::start("/bin/sh", {"-c", "readlink /proc/self/fd/0 > \"$0\"", dir / "stdin"});
    ::dup2(savedInput, STDIN_FILENO);
    for (const int fd : {savedInput, fds[0], fds[1]}) ::close(fd);
    ASSERT_TRUE(child.waitUntilEnded({}, {}));
    EXPECT_EQ(test::readFile(dir / "stdin"), "/dev/null\n");
}

TEST(ChildProcess, StartFailuresRaiseClassicErrors) {
    test::TempDir dir;
    test::writeFile(dir / "not-executable", "#!/bin/sh\nexit 0\n", 0644);
    test::makeFolders(dir / "folder");
    struct Case {
        std::string program;
        int32_t number;
        const char* description;
    };
    const Case cases[] = {
        {dir / "missing", 53, "File not found"},
        {dir / "not-executable", 70, "Permission denied"},
        {dir / "folder", 70, "Permission denied"},
        {"sh", 53, "File not found"},  // no search along PATH
    };
    for (const auto& c : cases)
        test::expectError([&] { ChildProcess::start(c.program, {}); }, c.number, c.program, c.description);
}

TEST(ChildProcess, WaitReportsHowTheChildEnded) {
    struct Case {
        const char* script;
        bool signalled;
        int value;
    };
    const Case cases[] = {
        {"exit 0", false, 0},
        {"exit 3", false, 3},
        {"sleep 0.05; exit 7", false, 7},
        {"kill -TERM $$", true, SIGTERM},
    };
    for (const auto& c : cases) {
        auto child = ChildProcess::start("/bin/sh", {"-c", c.script});
        EXPECT_TRUE(child.waitUntilEnded({}, [] { return false; })) << c.script;
        EXPECT_TRUE(child.hasEnded()) << c.script;
        const int status = child.status();
        if (c.signalled) {
            ASSERT_TRUE(WIFSIGNALED(status)) << c.script << ": " << status;
            EXPECT_EQ(WTERMSIG(status), c.value) << c.script;
        } else {
            ASSERT_TRUE(WIFEXITED(status)) << c.script << ": " << status;
            EXPECT_EQ(WEXITSTATUS(status), c.value) << c.script;
        }
    }
}

// The reason a decompressor gives for failing is its last line on standard
// error; a child that writes far more than a pipe holds must not hang.
TEST(ChildProcess, ErrorOutputAndExitCode) {
    struct Case {
        const char* script;
        int exitCode;
        std::string tail;
    };
    const Case cases[] = {
        {"exit 0", 0, ""},
        {"echo 'gzip: IMG1.dcm: No space left on device' >&2; exit 1", 1, "gzip: IMG1.dcm: No space left on device\n"},
        {"printf 'first\\nlast' >&2; exit 2", 2, "first\nlast"},
        // 1 MB, far more than the pipe holds, then the reason.
        {"head -c 1048576 /dev/zero | tr '\\000' x >&2; echo ' the end' >&2; exit 3", 3, "x the end\n"},
        {"echo on stderr >&2; kill -KILL $$", 128 + SIGKILL, "on stderr\n"},
    };
    for (const auto& c : cases) {
        auto child = ChildProcess::start("/bin/sh", {"-c", c.script});
        EXPECT_EQ(child.exitCode(), -1) << "still running: " << c.script;
        ASSERT_TRUE(child.waitUntilEnded({}, {})) << c.script;
        EXPECT_EQ(child.exitCode(), c.exitCode) << c.script;
        const std::string& out = child.errorOutput();
        EXPECT_LE(out.size(), ChildProcess::ErrorOutputLimit) << c.script;
        EXPECT_TRUE(out.ends_with(c.tail)) << c.script << ": " << out.substr(out.size() > 80 ? out.size() - 80 : 0);
    }
}

TEST(ChildProcess, ArgumentWithANulByteIsRefused) {
    test::TempDir dir;
    const std::string victim = dir / "victim";
    test::writeFile(victim, "kept");
    test::expectError(
        [&] {
            ChildProcess::start("/bin/rm", {"-f", victim + std::string("\0.dcm.z", 7)});
        },
        err::BadFileName, "an argument cut at its NUL byte");
    EXPECT_TRUE(test::exists(victim));
}

TEST(ChildProcess, StopRequestKillsAndReapsAfterYielding) {
    auto child = ChildProcess::start("/bin/sleep", {"30"});
    EXPECT_FALSE(child.hasEnded());
    EXPECT_EQ(child.status(), -1);
    int yields = 0, stopChecks = 0;
    const bool ended = child.waitUntilEnded([&] { ++yields; }, [&] { return ++stopChecks > 3; });
    EXPECT_FALSE(ended);
    EXPECT_EQ(yields, 3);
    ASSERT_TRUE(WIFSIGNALED(child.status())) << child.status();
    EXPECT_EQ(WTERMSIG(child.status()), SIGKILL);
    EXPECT_FALSE(processExists(child.pid())) << "the killed child was not reaped";
    EXPECT_TRUE(child.hasEnded());
}

TEST(ChildProcess, OwnershipMovesAndTheLastOwnerKillsAndReaps) {
    auto first = ChildProcess::start("/bin/sleep", {"30"});
    const pid_t pid = first.pid();
    {
        auto moved = std::move(first);
        EXPECT_EQ(moved.pid(), pid);
        { ChildProcess emptied(std::move(first)); }
        EXPECT_TRUE(processExists(pid)) << "a moved-from object killed the child";
        EXPECT_FALSE(moved.hasEnded());
    }
    EXPECT_FALSE(processExists(pid)) << "destroying the owner left the child running or unreaped";
    EXPECT_TRUE(first.hasEnded()) << "a moved-from object owns nothing";
}

}  // namespace
}  // namespace jor
