#include "win32_test_support.h"

#include "app/win32/wide_text.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace jor::test {
namespace fs = std::filesystem;
using app::narrow;
using app::widen;

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const fs::path p = fs::temp_directory_path() /
                       (L"jor-win-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
    fs::create_directories(p);
    path_ = narrow(p.wstring());
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(fs::path(widen(path_)), ec);
}

void writeFile(const std::string& path, const std::string& content) {
    const fs::path p(widen(path));
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

std::string readFile(const std::string& path) {
    std::ifstream in(fs::path(widen(path)), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool exists(const std::string& path) { return fs::exists(fs::path(widen(path))); }

size_t countFiles(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(fs::path(widen(folder))))
        if (e.is_regular_file()) ++n;
    return n;
}

bool waitFor(const std::function<bool()>& done, int milliseconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(milliseconds);
    while (!done()) {
        if (static_cast<int>(end - GetTickCount()) <= 0) return false;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(2);
    }
    return true;
}

std::vector<std::string> BoxWatcher::seen;
std::vector<HICON> BoxWatcher::icons;

namespace {

std::set<HWND> handled;

BOOL CALLBACK readChild(HWND child, LPARAM param) {
    auto* box = reinterpret_cast<std::pair<std::wstring, HICON>*>(param);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    if (lstrcmpiW(cls, L"Static") != 0) return TRUE;
    if (HICON icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0))) box->second = icon;
    wchar_t text[1024] = {};
    GetWindowTextW(child, text, 1024);
    if (text[0]) box->first += text;
    return TRUE;
}

BOOL CALLBACK closeBox(HWND hwnd, LPARAM) {
    wchar_t cls[32] = {};
    GetClassNameW(hwnd, cls, 32);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(hwnd) || handled.count(hwnd)) return TRUE;
    handled.insert(hwnd);
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    std::pair<std::wstring, HICON> box;
    EnumChildWindows(hwnd, readChild, reinterpret_cast<LPARAM>(&box));
    BoxWatcher::seen.push_back(narrow(title) + "|" + narrow(box.first));
    BoxWatcher::icons.push_back(box.second);
    PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK watch(HWND, UINT, UINT_PTR, DWORD) { EnumThreadWindows(GetCurrentThreadId(), closeBox, 0); }

}  // namespace

BoxWatcher::BoxWatcher() {
    seen.clear();
    icons.clear();
    handled.clear();
    timer_ = SetTimer(nullptr, 0, 20, watch);
}

BoxWatcher::~BoxWatcher() { KillTimer(nullptr, timer_); }

}  // namespace jor::test
