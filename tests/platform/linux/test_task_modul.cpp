// Finding a process on Linux by its executable's name, and its top-level window on a private X server.
#include "platform/task_modul.h"
#include "platform/child_process.h"
#include "support/linux/as_user.h"
#include "support/processes.h"
#include "support/temp_tree.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

// Last: Xlib defines macros such as None and Status.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace jor {
namespace {

using test::probeName;

// A running copy of sleep under `name`, so the executable's own name is `name`.
ChildProcess startProbe(const test::TempDir& dir, const std::string& name) {
    std::filesystem::copy_file("/bin/sleep", dir / name);
    std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
    return ChildProcess::start(dir / name, {"30"});
}

// Sets or clears an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(FindProcess, MatchesTheExecutableNameInAnyCaseAsSubstring) {
    test::TempDir dir;
    const std::string pid = std::to_string(::getpid());
    // Longer than the 15 characters of comm: a match proves the executable's name was used.
    auto probe = startProbe(dir, "xGUNZIP.EXE-JorProbe-" + pid + "-test");
    const auto expected = static_cast<uint32_t>(probe.pid());
    struct Case {
        std::string wanted;
        bool matches;
    };
    const Case cases[] = {
        {"xGUNZIP.EXE-JorProbe-" + pid + "-test", true},
        {"XGUNZIP.EXE-JORPROBE-" + pid + "-TEST", true},
        {"gunzip.exe-jorprobe-" + pid + "-", true},
        {"-jorprobe-" + pid + "-test", true},
        {"xgunzip.exe-jorprobe-" + pid + "-testx", false},
        {"gunzip.exe jorprobe-" + pid + "-test", false},
        {"jorprobe-" + pid + "-test ", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindProcess(c.wanted, 1), c.matches ? expected : 0u) << '"' << c.wanted << '"';
    EXPECT_NE(FindProcess("gunzip.exe", 1), 0u);
    EXPECT_NE(FindProcess("GUNZIP.EXE", 1), 0u);
}

TEST(FindProcess, NoMatchGivesZeroInBothModes) {
    const std::string wanted = probeName("nobody-runs-this");
    EXPECT_EQ(FindProcess(wanted, 1), 0u);
    EXPECT_EQ(FindProcess(wanted, 0), 0u);
    EXPECT_EQ(FindProcess(wanted, -1), 0u);
}

TEST(FindProcess, EmptyNameMatchesTheFirstProcessBeforeAnyYield) {
    int yields = 0;
    EXPECT_NE(FindProcess("", 1, [&] { ++yields; }), 0u);
    EXPECT_EQ(yields, 0);
}

TEST(FindProcess, YieldsWhileWalkingAndMayBeCalledFromTheYield) {
    test::TempDir dir;
    auto probe = startProbe(dir, probeName("yield"));
    int yields = 0, innerMatches = 0;
    const auto yield = [&] {
        ++yields;
        if (FindProcess(probeName("yield"), 1) == static_cast<uint32_t>(probe.pid())) ++innerMatches;
    };
    EXPECT_EQ(FindProcess(probeName("absent"), 1, yield), 0u);
    EXPECT_GT(yields, 0);
    EXPECT_EQ(innerMatches, yields);
}

TEST(FindProcess, EndedProcessIsFoundNeitherAsZombieNorAfterReaping) {
    test::TempDir dir;
    // Short enough to fit comm whole, so a zombie (whose executable can no
    // longer be read) would still match by its comm.
    const std::string name = "jz-" + std::to_string(::getpid()) + "-z";
    auto probe = startProbe(dir, name);
    const pid_t pid = probe.pid();
    EXPECT_EQ(FindProcess(name, 1), static_cast<uint32_t>(pid)) << "running";

    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT), 0);
    ASSERT_TRUE(std::filesystem::exists("/proc/" + std::to_string(pid))) << "not a zombie";
    EXPECT_EQ(FindProcess(name, 1), 0u) << "zombie";

    ASSERT_TRUE(probe.hasEnded());
    EXPECT_EQ(FindProcess(name, 1), 0u) << "reaped";
}

TEST(FindProcess, ExecutableDeletedWhileRunningKeepsItsName) {
    test::TempDir dir;
    const std::string name = probeName("deleted");
    auto probe = startProbe(dir, name);
    std::filesystem::remove(dir / name);
    EXPECT_EQ(FindProcess(name, 1), static_cast<uint32_t>(probe.pid()));
    EXPECT_EQ(FindProcess(name + " (deleted)", 1), 0u);
}

// Kernel threads are remembered between lookups; a process must never be:
// the pid a lookup saw running a shell may run the decompressor next.
TEST(FindProcess, ProcessThatBecomesTheDecompressorAfterALookupIsFound) {
    test::TempDir dir;
    const std::string name = probeName("later");
    std::filesystem::copy_file("/bin/sleep", dir / name);
    std::filesystem::permissions(dir / name, std::filesystem::perms::owner_all);
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        char byte;
        ::close(go[1]);
        if (::read(go[0], &byte, 1) == 1) ::execl((dir / name).c_str(), name.c_str(), "30", nullptr);
        ::_exit(1);
    }
    ::close(go[0]);
    EXPECT_EQ(FindProcess(name, 1), 0u) << "before the exec";
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    ::close(go[1]);
    const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    for (int i = 0; i < 500 && std::filesystem::read_symlink(exe).filename() != name; ++i) ::usleep(2000);
    EXPECT_EQ(FindProcess(name, 1), static_cast<uint32_t>(pid)) << "after the exec";
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The first live process whose executable link fails with `error`, by its comm.
std::optional<std::string> commOfProcessWhoseExecutableFails(int error) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string id = entry.path().filename();
        if (id.find_first_not_of("0123456789") != std::string::npos) continue;
        char target[4096];
        if (::readlink((entry.path() / "exe").c_str(), target, sizeof target) >= 0 || errno != error) continue;
        std::string stat, comm;
        try {
            stat = test::readFile(entry.path() / "stat");
            comm = test::readFile(entry.path() / "comm");
        } catch (const std::exception&) {
            continue;
        }
        const auto close = stat.rfind(')');
        if (close == std::string::npos || stat.substr(close + 2, 1) == "Z" || comm.size() < 2) continue;
        comm.pop_back();
        return comm;
    }
    return std::nullopt;
}

TEST(FindProcess, ProcessOfAnotherUserIsFoundByCommAndAKernelThreadNotAtAll) {
    // Kernel threads have no executable: none of them is a decompressor,
    // neither when first seen nor when remembered.
    if (const auto kernelThread = commOfProcessWhoseExecutableFails(ENOENT)) {
        for (const char* lookup : {"first", "second"}) EXPECT_EQ(FindProcess(*kernelThread, 1), 0u) << lookup;
    }

    // Another user's executable cannot be read; root's processes, seen as nobody.
    const auto child = test::withoutRootsRights([] {
        const auto comm = commOfProcessWhoseExecutableFails(EACCES);
        if (!comm) return std::string("none unreadable");
        return std::string(FindProcess(*comm, 1) != 0 && FindProcess(*comm + "\n", 1) == 0 ? "found" : "missed");
    });
    if (!child.ran) GTEST_SKIP() << child.why;
    if (child.output == "none unreadable") GTEST_SKIP() << "every process's executable is readable here";
    EXPECT_EQ(child.output, "found") << "another user's process, found by its comm without the line end";
}

TEST(FindProcessWindow, NoDisplayGivesZero) {
    test::TempDir dir;
    auto probe = startProbe(dir, probeName("nodisplay"));
    ScopedEnv noDisplay("DISPLAY", nullptr);
    EXPECT_EQ(FindProcessWindow(static_cast<uint32_t>(::getpid())), 0u);
    EXPECT_EQ(FindProcess(probeName("nodisplay"), 0), 0u);
    EXPECT_EQ(FindProcess(probeName("nodisplay"), 1), static_cast<uint32_t>(probe.pid()));
}

// A private X server without a window manager, and a connection to it.
class FindProcessWindowOnX : public ::testing::Test {
protected:
    void SetUp() override {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed";
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        ::fcntl(fds[1], F_SETFD, 0);  // the server writes its display number here once it accepts clients
        // -terminate: should this process die early, the server goes with its last client.
        server_.emplace(ChildProcess::start("/usr/bin/Xvfb", {"-displayfd", std::to_string(fds[1]), "-terminate",
                                                              "-nolisten", "tcp", "-screen", "0", "320x240x24"}));
        ::close(fds[1]);
        std::string number;
        char c;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        ::close(fds[0]);
        if (number.empty()) GTEST_SKIP() << "Xvfb did not start";
        display_.emplace("DISPLAY", (":" + number).c_str());
        x_ = XOpenDisplay(nullptr);
        ASSERT_NE(x_, nullptr);
    }

    void TearDown() override {
        if (x_) XCloseDisplay(x_);
        display_.reset();
        if (server_) {
            ::kill(server_->pid(), SIGTERM);  // lets it remove its socket and lock file
            server_->waitUntilEnded({}, {});
        }
    }

    Window makeWindow(uint32_t pid, Window owner = None) {
        const Window window = XCreateSimpleWindow(x_, DefaultRootWindow(x_), 0, 0, 10, 10, 0, 0, 0);
        const unsigned long value = pid;  // format 32 travels as long
        XChangeProperty(x_, window, XInternAtom(x_, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&value), 1);
        if (owner != None) XSetTransientForHint(x_, window, owner);
        XMapWindow(x_, window);
        XSync(x_, False);
        return window;
    }

    // What a window manager publishes, bottom first.
    void setStackingList(const std::vector<Window>& bottomFirst) {
        const std::vector<unsigned long> ids(bottomFirst.begin(), bottomFirst.end());
        XChangeProperty(x_, DefaultRootWindow(x_), XInternAtom(x_, "_NET_CLIENT_LIST_STACKING", False), XA_WINDOW, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(ids.data()),
                        static_cast<int>(ids.size()));
        XSync(x_, False);
    }

    void sync() { XSync(x_, False); }

    const uint32_t self_ = static_cast<uint32_t>(::getpid());
    std::optional<ChildProcess> server_;
    std::optional<ScopedEnv> display_;
    Display* x_ = nullptr;
};

TEST_F(FindProcessWindowOnX, HighestUnownedWindowOfTheProcessWins) {
    EXPECT_EQ(FindProcessWindow(self_), 0u) << "no windows yet";
    const Window first = makeWindow(self_);
    EXPECT_EQ(FindProcessWindow(self_), first) << "one window";
    makeWindow(self_, first);
    EXPECT_EQ(FindProcessWindow(self_), first) << "an owned window above it";
    makeWindow(1);
    EXPECT_EQ(FindProcessWindow(self_), first) << "another process's window above it";
    const Window second = makeWindow(self_);
    EXPECT_EQ(FindProcessWindow(self_), second) << "a second window on top";
    XRaiseWindow(x_, first);
    sync();
    EXPECT_EQ(FindProcessWindow(self_), first) << "the first raised again";
}

TEST_F(FindProcessWindowOnX, OwnedWindowsDoNotCount) {
    const Window foreign = makeWindow(1);
    makeWindow(self_, foreign);
    makeWindow(self_, foreign);
    EXPECT_EQ(FindProcessWindow(self_), 0u);
}

TEST_F(FindProcessWindowOnX, FollowsTheWindowManagersStackingList) {
    const Window lower = makeWindow(self_);
    const Window upper = makeWindow(self_);
    const Window owned = makeWindow(self_, lower);
    const Window gone = makeWindow(self_);
    XDestroyWindow(x_, gone);
    sync();
    setStackingList({upper, lower});
    EXPECT_EQ(FindProcessWindow(self_), lower) << "the list, not the window tree, gives the order";
    setStackingList({lower, upper, owned, gone});
    EXPECT_EQ(FindProcessWindow(self_), upper) << "an owned and a destroyed window on top";
    makeWindow(self_);
    EXPECT_EQ(FindProcessWindow(self_), upper) << "a window the manager does not list";
    setStackingList({});
    EXPECT_EQ(FindProcessWindow(self_), 0u) << "an empty list";
}

TEST_F(FindProcessWindowOnX, WindowModeOfFindProcessGivesTheMatchingProcessWindow) {
    test::TempDir dir;
    auto probe = startProbe(dir, probeName("window"));
    const auto pid = static_cast<uint32_t>(probe.pid());
    EXPECT_EQ(FindProcess(probeName("window"), 0), 0u) << "no window yet";
    const Window window = makeWindow(pid);
    makeWindow(self_);
    EXPECT_EQ(FindProcess(probeName("window"), 0), window);
    EXPECT_EQ(FindProcess(probeName("window"), 1), pid);
}

}  // namespace
}  // namespace jor
