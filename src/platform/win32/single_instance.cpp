// One instance per program folder on Windows: a named mutex keyed on the folder.
#include "platform/single_instance.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>

namespace jor {
namespace {

// FNV-1a: the same name from a 32-bit and a 64-bit build of the program.
uint64_t stableHash(const std::wstring& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const wchar_t c : text) {
        for (const auto byte : {static_cast<unsigned>(c) & 0xFF, (static_cast<unsigned>(c) >> 8) & 0xFF}) {
            hash ^= byte;
            hash *= 1099511628211ull;
        }
    }
    return hash;
}

// The folder as Windows compares names: full, and without regard to case.
std::wstring folderKey(const std::string& programFolder) {
    std::wstring folder = wideFromUtf8(programFolder).value_or(std::wstring());
    const DWORD size = ::GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
    if (size > 0) {
        std::wstring full(size, L'\0');
        const DWORD n = ::GetFullPathNameW(folder.c_str(), size, full.data(), nullptr);
        if (n > 0 && n < size) folder = full.substr(0, n);
    }
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (!folder.empty()) ::CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
    return folder;
}

}  // namespace

SingleInstanceLock::SingleInstanceLock(const std::string& programFolder) {
    wchar_t name[64];
    std::swprintf(name, 64, L"Local\\Jor-Orvek-%016llx",
                  static_cast<unsigned long long>(stableHash(folderKey(programFolder))));
    // The system closes the handle when the process ends, crash included.
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name);
    const DWORD code = ::GetLastError();
    // Access denied: the mutex exists and belongs to an instance started by another user.
    another_ = code == ERROR_ALREADY_EXISTS || (!mutex && code == ERROR_ACCESS_DENIED);
    if (mutex && another_)
        ::CloseHandle(mutex);
    else if (mutex)
        handle_ = reinterpret_cast<intptr_t>(mutex);
}

SingleInstanceLock::~SingleInstanceLock() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace jor
