// For the end-to-end runs under Wine: prints the texts of the controls in
// the top-level window titled argv[1] (a message box, say), one UTF-8 line
// each, CR LF inside a text as "\n". Exit status 1 when no such window shows.
// With "--end-session" first, ends the desktop session for that window as
// Windows does when the user ends it anyway: WM_QUERYENDSESSION, its answer
// printed ("hold" or "agree"), then WM_ENDSESSION. With "--press <id>"
// first, presses the window's button of that id (IDNO 7: the captions are
// the system's language).
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <string>

namespace {

BOOL CALLBACK printText(HWND control, LPARAM) {
    wchar_t text[4096] = {};
    // WM_GETTEXT, which reaches into the other process, unlike GetWindowText.
    SendMessageTimeoutW(control, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
    std::string line = jor::utf8FromWide(text);
    for (size_t at; (at = line.find("\r\n")) != std::string::npos;) line.replace(at, 2, "\\n");
    if (!line.empty()) std::printf("%s\n", line.c_str());
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--press") {
        const HWND window = FindWindowW(nullptr, argv[3]);
        if (!window || !IsWindowVisible(window)) return 1;
        const HWND button = GetDlgItem(window, _wtoi(argv[2]));
        if (!button) return 1;
        PostMessageW(button, BM_CLICK, 0, 0);
        return 0;
    }
    const bool endSession = argc == 3 && std::wstring(argv[1]) == L"--end-session";
    if (argc < 2 || (argc == 3 && !endSession)) return 2;
    const HWND window = FindWindowW(nullptr, argv[argc - 1]);
    if (!window || !IsWindowVisible(window)) return 1;
    if (!endSession) {
        EnumChildWindows(window, printText, 0);
        return 0;
    }
    DWORD_PTR answer = TRUE;
    SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
    std::printf("%s\n", answer ? "agree" : "hold");
    std::fflush(stdout);
    // The program ends inside this message, as Windows would end it after.
    SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 20000, nullptr);
    return 0;
}
