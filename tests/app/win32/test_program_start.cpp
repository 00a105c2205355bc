// The Windows program started twice from one folder: the second instance ends at once and stores nothing.
#include "win32_test_support.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(ProgramStart, SecondInstanceEndsAtOnceAndStoresNothing) {
    test::TempDir folder;
    CopyFileW(wideText(std::string(JOR_PROGRAM_DIR_WINDOWS) + "\\jor-orvek.exe").c_str(),
              wideText(folder / "jor-orvek.exe").c_str(), FALSE);
    std::vector<HANDLE> started;
    const auto start = [&] {
        std::wstring line = L"\"" + wideText(folder / "jor-orvek.exe") + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        EXPECT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        return started.emplace_back(pi.hProcess);
    };
    HANDLE first = start();
    EXPECT_EQ(WaitForSingleObject(first, 1500), WAIT_TIMEOUT) << "the first instance keeps running";
    HANDLE second = start();
    EXPECT_EQ(WaitForSingleObject(second, 10000), WAIT_OBJECT_0) << "the second instance ends by itself";
    DWORD code = 1;
    GetExitCodeProcess(second, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(test::exists(folder / "Settings.ini")) << "a second instance stores nothing";
    EXPECT_EQ(WaitForSingleObject(first, 200), WAIT_TIMEOUT) << "the first goes on unaffected";
    for (HANDLE h : started) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
        CloseHandle(h);
    }
}

}  // namespace
}  // namespace jor
