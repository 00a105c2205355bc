// What the Win32 app tests share: a temporary folder, files, the message loop and a watcher of message boxes.
#pragma once

#include "platform/win32/wide_text.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace jor::test {

// A fresh folder under the system's temporary folder, removed at the end.
// Paths are UTF-8 with backslashes, as the program exchanges them.
class TempDir {
public:
    TempDir() {
        static int counter = 0;
        const auto p = std::filesystem::temp_directory_path() /
                       (L"jor-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
        std::filesystem::create_directories(p);
        path_ = utf8FromWide(p.wstring());
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(wideText(path_), ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& part) const { return path_ + "\\" + part; }

private:
    std::string path_;
};

inline void writeFile(const std::string& path, const std::string& content) {
    const std::filesystem::path p(wideText(path));
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

inline std::string readFile(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(std::filesystem::path(wideText(path)), std::ios::binary).rdbuf();
    return s.str();
}

inline bool exists(const std::string& path) { return std::filesystem::exists(wideText(path)); }

inline size_t countFiles(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(wideText(folder))) n += e.is_regular_file();
    return n;
}

// Processes window messages until `done` or `milliseconds` have passed.
inline bool waitFor(const std::function<bool()>& done, int milliseconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (!done()) {
        if (static_cast<int>(end - GetTickCount()) <= 0) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(2);
    }
    return true;
}

// Closes every message box of this thread as it comes up and records its
// "title|text" and icon.
class BoxWatcher {
public:
    BoxWatcher() : timer_(SetTimer(nullptr, 0, 20, watch)) {
        seen.clear(), icons.clear(), handled().clear(), answer = 0;
    }
    ~BoxWatcher() { KillTimer(nullptr, timer_); }
    static inline std::vector<std::string> seen;
    static inline std::vector<HICON> icons;
    // The button a box of two buttons is answered with; 0: its default, as Enter would.
    static inline int answer = 0;

private:
    static std::set<HWND>& handled() {
        static std::set<HWND> boxes;
        return boxes;
    }
    static BOOL CALLBACK readChild(HWND child, LPARAM box) {
        auto* b = reinterpret_cast<std::pair<std::wstring, HICON>*>(box);
        if (HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0))) b->second = icon;
        wchar_t cls[32] = {}, text[1024] = {};
        GetClassNameW(child, cls, 32);
        if (lstrcmpiW(cls, L"Static") == 0 && GetWindowTextW(child, text, 1024)) b->first += text;
        return TRUE;
    }
    static BOOL CALLBACK closeBox(HWND hwnd, LPARAM) {
        wchar_t cls[32] = {}, title[256] = {};
        GetClassNameW(hwnd, cls, 32);
        if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(hwnd) || !handled().insert(hwnd).second) return TRUE;
        GetWindowTextW(hwnd, title, 256);
        std::pair<std::wstring, HICON> box;
        EnumChildWindows(hwnd, readChild, reinterpret_cast<LPARAM>(&box));
        seen.push_back(utf8FromWide(title) + "|" + utf8FromWide(box.first));
        icons.push_back(box.second);
        // Its default button, as Enter would press it (Nein in a question).
        const LRESULT id = SendMessageW(hwnd, DM_GETDEFID, 0, 0);
        const int button = HIWORD(id) == DC_HASDEFID ? LOWORD(id) : IDOK;
        PostMessageW(hwnd, WM_COMMAND, answer && GetDlgItem(hwnd, answer) ? answer : button, 0);
        return TRUE;
    }
    static void CALLBACK watch(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), closeBox, 0); }
    UINT_PTR timer_;
};

}  // namespace jor::test
