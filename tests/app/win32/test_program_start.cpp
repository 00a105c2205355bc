#include "win32_test_support.h"

#include "app/win32/wide_text.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using test::TempDir;

// A copy of the program folder, started as a user would.
struct ProgramCopy {
    TempDir dir;
    std::vector<HANDLE> started;
    ProgramCopy() {
        CopyFileW(app::widen(std::string(JOR_PROGRAM_DIR_WINDOWS) + "\\jor-orvek.exe").c_str(),
                  app::widen(dir / "jor-orvek.exe").c_str(), FALSE);
    }
    ~ProgramCopy() {
        for (HANDLE h : started) {
            TerminateProcess(h, 1);
            WaitForSingleObject(h, 5000);
            CloseHandle(h);
        }
    }
    HANDLE start() {
        std::wstring line = L"\"" + app::widen(dir / "jor-orvek.exe") + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        started.push_back(pi.hProcess);
        return pi.hProcess;
    }
};

TEST(ProgramStart, SecondInstanceEndsAtOnceAndStoresNothing) {
    ProgramCopy program;
    HANDLE first = program.start();
    ASSERT_EQ(WaitForSingleObject(first, 1500), WAIT_TIMEOUT) << "the first instance keeps running";
    HANDLE second = program.start();
    ASSERT_EQ(WaitForSingleObject(second, 10000), WAIT_OBJECT_0) << "the second instance ends by itself";
    DWORD code = 1;
    GetExitCodeProcess(second, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(test::exists(program.dir / "Settings.ini")) << "a second instance stores nothing";
    EXPECT_EQ(WaitForSingleObject(first, 200), WAIT_TIMEOUT) << "the first goes on unaffected";
}

}  // namespace
}  // namespace jor
