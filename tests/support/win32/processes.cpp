// A process's end seen through a handle that may only wait on it.
#include "support/processes.h"

#include "platform/win32/windows_api.h"

namespace jor::test {

std::string probeName(const std::string& label) {
    return "jorprobe-" + std::to_string(::GetCurrentProcessId()) + "-" + label;
}

bool hasEnded(uint32_t pid, std::chrono::milliseconds limit) {
    const HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return true;
    const bool ended = ::WaitForSingleObject(h, static_cast<DWORD>(limit.count())) != WAIT_TIMEOUT;
    ::CloseHandle(h);
    return ended;
}

}  // namespace jor::test
