// Processes on Windows: arguments, exit and kill, finding one and its window, one instance per folder.
#include "platform/child_process.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/program_folder.h"
#include "platform/single_instance.h"
#include "platform/task_modul.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"
#include "support/expect_error.h"
#include "support/processes.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using test::hasEnded;
using test::probeName;
using test::TempDir;

// The test child beside this test program (see child/test_child_main.cpp).
std::string testChild() { return pathUnder(programFolder(), JOR_TEST_CHILD); }

// The child under `name`, in a folder of the test's own.
std::string childNamed(const TempDir& dir, const std::string& name) {
    const std::string path = dir / name;
    std::filesystem::copy_file(test::fsPath(testChild()), test::fsPath(path));
    return path;
}

TEST(ChildProcessOnWindows, EveryArgumentArrivesWhole) {
    TempDir dir;
    const std::string out = dir / "args";
    const std::vector<std::string> arguments = {
        "two words",
        "C:\\temp folder\\TempOrvek\\IMG 0001.dcm.z",
        "",
        "  padded  ",
        "trailing backslash\\",
        "two at the end\\\\",
        "say \"hi\"",
        "\\\"backslash before quote",
        "a\tb",
        "&|<>^%PATH%",
        "M\xC3\xBCller \xD0\x96 \xE5\x9B\xBE",
        "-d",
    };
    std::vector<std::string> all = {"args", out};
    all.insert(all.end(), arguments.begin(), arguments.end());
    auto child = ChildProcess::start(childNamed(dir, "folder with blanks.exe"), all);
    ASSERT_TRUE(child.waitUntilEnded({}, {}));
    EXPECT_EQ(child.status(), 0);
    std::vector<std::string> received;
    const std::string text = test::readFile(out);
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        received.push_back(text.substr(at, end - at));
    EXPECT_EQ(received, arguments);
}

TEST(ChildProcessOnWindows, StartFailuresRaiseClassicErrors) {
    TempDir dir;
    test::writeFile(dir / "text.exe", "no program\r\n");  // Wine would run a "#!" script as a Unix program
    struct Case {
        std::string program;
        int32_t number;
    };
    const Case cases[] = {
        {dir / "missing.exe", 53},
        {dir / "text.exe", 75},  // (a folder: 70 on Windows, 75 under Wine)
        {"cmd.exe", 53},         // never searched for
        {std::string("a\0b", 3), 52},
    };
    for (const auto& c : cases) test::expectError([&] { ChildProcess::start(c.program, {}); }, c.number, c.program);
}

TEST(ChildProcessOnWindows, ExitStatusAndStop) {
    TempDir dir;
    const std::string child = childNamed(dir, "child.exe");
    auto done = ChildProcess::start(child, {"exit", "7"});
    EXPECT_TRUE(done.waitUntilEnded({}, [] { return false; }));
    EXPECT_EQ(done.status(), 7);

    auto sleeper = ChildProcess::start(child, {"sleep", "30000"});
    EXPECT_FALSE(sleeper.hasEnded());
    EXPECT_EQ(sleeper.status(), -1);
    int yields = 0, stopChecks = 0;
    EXPECT_FALSE(sleeper.waitUntilEnded([&] { ++yields; }, [&] { return ++stopChecks > 3; }));
    EXPECT_EQ(yields, 3);
    EXPECT_EQ(sleeper.status(), 1);
    EXPECT_TRUE(hasEnded(sleeper.pid()));
}

// The reason a decompressor gives is its last words on standard error; one
// that writes far more than the pipe holds must not hang.
TEST(ChildProcessOnWindows, ErrorOutputAndExitCode) {
    TempDir dir;
    const std::string child = childNamed(dir, "gunzip.exe");
    struct Case {
        const char* filler;
        const char* text;
        const char* status;
        int exitCode;
        std::string tail;
    };
    const Case cases[] = {
        {"0", "", "0", 0, ""},
        {"0", "gzip: IMG1.dcm: No space left on device\n", "1", 1, "gzip: IMG1.dcm: No space left on device\n"},
        {"1048576", " the end\n", "3", 3, "x the end\n"},
        {"10", "crashed", "3221225477", static_cast<int>(0xC0000005u), "xcrashed"},
    };
    for (const auto& c : cases) {
        auto process = ChildProcess::start(child, {"stderr", c.filler, c.text, c.status});
        ASSERT_TRUE(process.waitUntilEnded({}, {})) << c.filler;
        EXPECT_EQ(process.exitCode(), c.exitCode) << c.status;
        const std::string& out = process.errorOutput();
        EXPECT_LE(out.size(), ChildProcess::ErrorOutputLimit);
        EXPECT_TRUE(out.ends_with(c.tail)) << c.filler << ": " << out.substr(out.size() > 80 ? out.size() - 80 : 0);
    }
    auto sleeper = ChildProcess::start(child, {"sleep", "30000"});
    EXPECT_EQ(sleeper.exitCode(), -1) << "while it runs";
}

// The kill reaches what the child started, as gunzip.exe may start a worker.
TEST(ChildProcessOnWindows, KillEndsTheChildsOwnChildrenToo) {
    TempDir dir;
    const std::string idFile = dir / "grandchild";
    uint32_t grandchild = 0;
    {
        auto child = ChildProcess::start(childNamed(dir, "parent.exe"), {"spawn", idFile, "30000"});
        for (int i = 0; i < 5000 && !test::exists(idFile); ++i) ::Sleep(1);
        ASSERT_TRUE(test::exists(idFile));
        ::Sleep(20);
        grandchild = static_cast<uint32_t>(std::stoul(test::readFile(idFile)));
        ASSERT_FALSE(hasEnded(grandchild));
    }
    EXPECT_TRUE(hasEnded(grandchild));
}

TEST(FindProcessOnWindows, FindsAHiddenChildByItsExecutableName) {
    TempDir dir;
    const std::string name = probeName("xGUNZIP.EXE-test.exe");
    auto child = ChildProcess::start(childNamed(dir, name), {"sleep", "30000"});
    ::Sleep(50);
    struct Case {
        std::string wanted;
        bool matches;
    };
    const Case cases[] = {
        {name, true},
        {"GUNZIP.EXE-TEST.EXE", true},
        {probeName("xgunzip.exe"), true},
        {name + "x", false},
        {probeName("gunzip.exe xgunzip"), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindProcess(c.wanted, 1), c.matches ? child.pid() : 0u) << '"' << c.wanted << '"';
    int yields = 0;
    EXPECT_EQ(FindProcess(probeName("nobody-runs-this"), 1, [&] { ++yields; }), 0u);
    EXPECT_GT(yields, 0) << "one yield after every further entry";
    EXPECT_EQ(FindProcess(probeName("nobody-runs-this"), 0), 0u);
    yields = 0;
    EXPECT_NE(FindProcess("", 1, [&] { ++yields; }), 0u);
    EXPECT_EQ(yields, 0) << "an empty name matches the first entry";

    EXPECT_FALSE(child.waitUntilEnded({}, [] { return true; }));
    EXPECT_EQ(FindProcess(name, 1), 0u) << "gone once ended";
}

TEST(FindProcessOnWindows, WindowModeGivesTheChildsTopLevelWindow) {
    TempDir dir;
    const std::string name = probeName("window.exe");
    auto child = ChildProcess::start(childNamed(dir, name), {"window", "30000"});
    // The first window of a fresh Wine prefix takes seconds.
    uint32_t window = 0;
    for (int i = 0; i < 2000 && window == 0 && !child.hasEnded(); ++i) {
        window = FindProcess(name, 0);
        if (window == 0) ::Sleep(10);
    }
    ASSERT_NE(window, 0u) << "the child ended with " << child.status();
    DWORD owner = 0;
    ::GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)), &owner);
    EXPECT_EQ(owner, child.pid());
    EXPECT_EQ(FindProcessWindow(child.pid()), window);
    EXPECT_EQ(FindProcess(name, 1), child.pid());

    auto windowless = ChildProcess::start(childNamed(dir, probeName("windowless.exe")), {"sleep", "30000"});
    ::Sleep(50);
    EXPECT_EQ(FindProcessWindow(windowless.pid()), 0u);
}

TEST(SingleInstanceOnWindows, SameFolderInAnyFormIsAnotherInstance) {
    TempDir dir;
    const std::string folder = dir / "Program";
    test::makeFolders(folder);
    std::string upper = folder;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    {
        SingleInstanceLock first(folder);
        EXPECT_FALSE(first.anotherInstanceRunning());
        EXPECT_TRUE(SingleInstanceLock(folder).anotherInstanceRunning());
        EXPECT_TRUE(SingleInstanceLock(upper + PathSeparator).anotherInstanceRunning()) << "letter case, separator";
        EXPECT_FALSE(SingleInstanceLock(dir / "Other").anotherInstanceRunning());

        auto child = ChildProcess::start(testChild(), {"lock", folder});
        ASSERT_TRUE(child.waitUntilEnded({}, {}));
        EXPECT_EQ(child.status(), 1) << "another process sees this instance";
    }
    auto child = ChildProcess::start(testChild(), {"lock", folder});
    ASSERT_TRUE(child.waitUntilEnded({}, {}));
    EXPECT_EQ(child.status(), 0) << "released with its holder";
}

TEST(ProgramFolderOnWindows, FolderOfTheExecutableWithoutTrailingSeparator) {
    const std::string folder = programFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_TRUE(test::exists(pathUnder(folder, JOR_TEST_CHILD)));
}

}  // namespace
}  // namespace jor
