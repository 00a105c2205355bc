// The process lookup on Windows: Toolhelp and the window list.
#include "platform/task_modul.h"

#include "platform/ascii_case.h"
#include "platform/win32/windows_api.h"

// After windows.h, which it needs.
#include <tlhelp32.h>

namespace jor {

uint32_t FindProcess(const std::string& name, int32_t returnProcessId, const std::function<void()>& yield) {
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE || snapshot == nullptr) return 0;
    const std::string wanted = lowerAscii(name);
    // The ANSI record: 296 bytes in a 32-bit program, 304 in a 64-bit one.
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    uint32_t match = 0;
    bool delivered = ::Process32First(snapshot, &entry) != FALSE;
    while (delivered) {
        entry.szExeFile[sizeof entry.szExeFile - 1] = '\0';
        if (lowerAscii(entry.szExeFile).find(wanted) != std::string::npos) {
            match = entry.th32ProcessID;
            break;
        }
        delivered = ::Process32Next(snapshot, &entry) != FALSE;
        if (yield) yield();
    }
    ::CloseHandle(snapshot);
    if (match == 0 || returnProcessId != 0) return match;
    return FindProcessWindow(match);
}

uint32_t FindProcessWindow(uint32_t processId) {
    for (HWND window = ::FindWindowA(nullptr, nullptr); window; window = ::GetWindow(window, GW_HWNDNEXT)) {
        if (::GetParent(window)) continue;
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        // Window handles are 32-bit values, in 64-bit programs too.
        if (owner == processId) return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    }
    return 0;
}

}  // namespace jor
