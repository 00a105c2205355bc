// bench_windows' helpers: failing, timing, clearing its scratch folder, waiting for quiet, a bare start.
#include "bench_windows.h"

#include "platform/win32/wide_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace jor::bench {

[[noreturn]] void fail(const std::string& what) {
    std::printf("ERROR: %s\n", what.c_str());
    std::exit(2);
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string utf8(const fs::path& p) { return jor::utf8FromWide(p.wstring()); }

void removeAll(const fs::path& folder) {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(folder, ec))
        ::SetFileAttributesW(e.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(folder, ec);
}

// The share of all processors busy over a quarter second while this program sleeps.
static double othersBusyShare() {
    const auto ticks = [](FILETIME t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    FILETIME idle0, kernel0, user0, idle1, kernel1, user1;
    if (!::GetSystemTimes(&idle0, &kernel0, &user0)) return 0;
    ::Sleep(250);
    if (!::GetSystemTimes(&idle1, &kernel1, &user1)) return 0;
    // Kernel time includes the idle time.
    const uint64_t total = ticks(kernel1) - ticks(kernel0) + ticks(user1) - ticks(user0);
    const uint64_t idle = ticks(idle1) - ticks(idle0);
    return total ? double(total - std::min(idle, total)) / double(total) : 0;
}

void awaitQuiet(double patience) {
    const auto start = Clock::now();
    double share = 0;
    while ((share = othersBusyShare()) > 0.15 && since(start) < patience) {}
    if (share > 0.15)
        std::printf("  note: other processes kept %.0f%% of the processors busy; timings are unreliable\n",
                    100 * share);
}

void startAndWait(const fs::path& program, const std::wstring& arguments, DWORD flags) {
    std::wstring line = L"\"" + program.wstring() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // Wine fails a start now and then under load, before the program ran (see ChildProcess::start).
    for (int attempt = 1; !::CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                                            nullptr, &startup, &info);
         ++attempt)
        if (::GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3)
            fail("cannot start " + utf8(program) + ": Win32 error " + std::to_string(::GetLastError()));
    ::WaitForSingleObject(info.hProcess, INFINITE);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
}

double perStart(const fs::path& gunzip, const fs::path& file, int starts, DWORD flags) {
    const std::wstring arguments = L"-t \"" + file.wstring() + L"\"";
    const auto start = Clock::now();
    for (int i = 0; i < starts; ++i) startAndWait(gunzip, arguments, flags);
    return since(start) / starts;
}

}  // namespace jor::bench
