// The program folder on Windows: the folder of the module's file.
#include "platform/program_folder.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

namespace jor {

std::string programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return ".";
        // A full buffer may hold a cut path: try again with more room.
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) return ".";
    return utf8FromWide(std::wstring_view(path).substr(0, separator));
}

}  // namespace jor
