// Text files in the ANSI code page on Windows.
#include "platform/system_text.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace jor {

std::string toSystemText(const std::string& utf8) {
    if (utf8.empty()) return {};
    // Bytes that are not UTF-8 cannot be told apart from ANSI text: they stay as they are.
    const auto wide = wideFromUtf8(utf8);
    if (!wide) return utf8;
    const int size =
        ::WideCharToMultiByte(CP_ACP, 0, wide->data(), static_cast<int>(wide->size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide->data(), static_cast<int>(wide->size()), text.data(), size, nullptr, nullptr);
    return text;
}

std::string fromSystemText(const std::string& text) {
    if (text.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return utf8FromWide(wide);
}

}  // namespace jor
