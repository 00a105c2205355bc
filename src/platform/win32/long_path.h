// The \\?\ long form of Windows paths: its prefixes and which paths take it, for the platform layer and gunzip.exe.
#pragma once

// Header-only and free of <windows.h>: gunzip.exe does not link the platform library.
#include <optional>
#include <string>
#include <string_view>

namespace jor {

// No length limit, and a last part such as CON.Z or "name." names that very file.
inline constexpr std::wstring_view LongPathPrefix = L"\\\\?\\";
inline constexpr std::wstring_view LongSharePrefix = L"\\\\?\\UNC\\";
// What the native API takes in place of LongPathPrefix.
inline constexpr std::wstring_view NtPathPrefix = L"\\??\\";

inline bool isPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\..." or "C:/...": a full path on a drive.
inline bool isFullDrivePath(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && isPathSeparator(path[2]) &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// "\\server\share...", not "\\?\..." nor a device's "\\.\...".
inline bool isSharePath(std::wstring_view path) {
    return path.size() > 2 && isPathSeparator(path[0]) && isPathSeparator(path[1]) && path[2] != L'?' &&
           path[2] != L'.';
}

// A full drive or share path in the long form, its parts as they stand; nullopt for any other path.
inline std::optional<std::wstring> withLongPrefix(std::wstring_view full) {
    if (isFullDrivePath(full)) return std::wstring(LongPathPrefix).append(full);
    if (isSharePath(full)) return std::wstring(LongSharePrefix).append(full.substr(2));
    return std::nullopt;
}

// The path as a reader knows it, without the long form's prefix.
inline std::wstring withoutLongPrefix(std::wstring_view path) {
    if (path.starts_with(LongSharePrefix)) return std::wstring(L"\\\\").append(path.substr(LongSharePrefix.size()));
    if (path.starts_with(LongPathPrefix)) return std::wstring(path.substr(LongPathPrefix.size()));
    return std::wstring(path);
}

}  // namespace jor
