// The folder chooser behind the "..." buttons: the shell's folder browser.
#include "app/win32/folder_dialog.h"

#include "platform/win32/wide_text.h"

#include <windows.h>
#include <shlobj.h>

namespace jor::app {

std::string ShowFolderDialog(const std::string& title) {
    // The Unicode browser: a folder named outside the ANSI code page comes back whole.
    const std::wstring wideTitle = wideText(title);
    BROWSEINFOW request{};
    request.hwndOwner = GetActiveWindow();
    request.lpszTitle = wideTitle.c_str();
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&request);
    if (!chosen) return {};
    wchar_t path[MAX_PATH] = {};
    SHGetPathFromIDListW(chosen, path);
    CoTaskMemFree(chosen);
    return utf8FromWide(path);
}

}  // namespace jor::app
