// INI files through the system's private-profile functions, read whole.
#include "platform/private_profile.h"

#include "platform/system_text.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace jor {
namespace {

// The file named in full: the functions look for a bare name in the Windows folder.
std::optional<std::wstring> fullPath(const std::string& fileName) {
    if (fileName.find('\0') != std::string::npos) return std::nullopt;
    const auto wide = wideFromUtf8(fileName);
    if (!wide || wide->empty()) return std::nullopt;
    const DWORD size = ::GetFullPathNameW(wide->c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::nullopt;
    std::wstring full(size, L'\0');
    const DWORD n = ::GetFullPathNameW(wide->c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) return std::nullopt;
    full.resize(n);
    return full;
}

// The path in the ANSI code page, or nullopt when a character of it has no
// ANSI form (a program folder in another script): then the W functions name
// the file, and they too keep its content in the ANSI code page.
std::optional<std::string> ansiPath(const std::wstring& path) {
    BOOL lossy = FALSE;
    const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) return std::nullopt;
    std::string ansi(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.data(), static_cast<int>(path.size()), ansi.data(), size,
                          nullptr, &lossy);
    return ansi;
}

std::wstring ansiToWide(const std::string& ansi) {
    const auto wide = wideFromUtf8(fromSystemText(ansi));
    return wide.value_or(std::wstring());
}

// The functions cut a value that does not fit and then answer capacity - 1,
// as they do for one that just fits: either is read again with twice the room.
template <typename Char, typename Read>
std::basic_string<Char> readWhole(size_t size, const Read& read) {
    constexpr DWORD largest = 0x40000000;  // far beyond any line of a settings file
    DWORD capacity = static_cast<DWORD>(std::clamp<size_t>(size, 2, largest));
    for (;;) {
        std::vector<Char> buffer(capacity, Char(' '));
        const DWORD n = std::min<DWORD>(read(buffer.data(), capacity), capacity - 1);
        if (n < capacity - 1 || capacity == largest) return std::basic_string<Char>(buffer.data(), n);
        capacity = std::min(capacity * 2, largest);
    }
}

}  // namespace

std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& defaultValue,
                                    size_t size, const std::string& fileName) {
    const auto file = fullPath(fileName);
    // Texts travel as the file holds them: in the ANSI code page.
    const std::string ansiSection = toSystemText(section), ansiKey = toSystemText(key);
    const std::string ansiDefault = toSystemText(defaultValue);
    if (!file) return fromSystemText(ansiDefault);
    if (const auto ansiFile = ansiPath(*file)) {
        return fromSystemText(readWhole<char>(size, [&](char* buffer, DWORD capacity) {
            return ::GetPrivateProfileStringA(ansiSection.c_str(), ansiKey.c_str(), ansiDefault.c_str(), buffer,
                                              capacity, ansiFile->c_str());
        }));
    }
    const std::wstring wideSection = ansiToWide(ansiSection), wideKey = ansiToWide(ansiKey);
    const std::wstring wideDefault = ansiToWide(ansiDefault);
    return utf8FromWide(readWhole<wchar_t>(size, [&](wchar_t* buffer, DWORD capacity) {
        return ::GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideDefault.c_str(), buffer, capacity,
                                          file->c_str());
    }));
}

bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& fileName) {
    const auto file = fullPath(fileName);
    if (!file) return false;
    const std::string ansiSection = toSystemText(section), ansiKey = toSystemText(key);
    const std::string ansiValue = toSystemText(value);
    if (const auto ansiFile = ansiPath(*file))
        return ::WritePrivateProfileStringA(ansiSection.c_str(), ansiKey.c_str(), ansiValue.c_str(),
                                            ansiFile->c_str()) != FALSE;
    return ::WritePrivateProfileStringW(ansiToWide(ansiSection).c_str(), ansiToWide(ansiKey).c_str(),
                                        ansiToWide(ansiValue).c_str(), file->c_str()) != FALSE;
}

}  // namespace jor
