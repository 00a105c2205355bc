// A child for the Windows platform tests, started by them in one of these modes:
//   sleep <ms>             lives that long
//   exit <n>               ends at once with status n
//   args <file> <arg>...   writes each argument as it arrived, one UTF-8 line each
//   window <ms>            owns a top-level window while it lives
//   spawn <file> <ms>      starts a copy of itself in sleep mode, writes its id to <file>
//   lock <folder>          ends with 1 when another instance of <folder> runs, else 0
//   stderr <n> <text> <status>  writes n times "x", then <text>, to standard
//                          error and ends with <status>
//   -d ...                 a decompressor that never finishes: writes its id to
//                          decompressor.pid beside itself, then sleeps a minute
#include "platform/single_instance.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <string>

namespace {

DWORD number(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 10)); }

void writeText(const wchar_t* file, const std::string& text) {
    if (FILE* out = _wfopen(file, L"wb")) {
        std::fwrite(text.data(), 1, text.size(), out);
        std::fclose(out);
    }
}

void pumpFor(DWORD ms) {
    const ULONGLONG end = ::GetTickCount64() + ms;
    while (::GetTickCount64() < end) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(5);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring mode = argv[1];
    if (mode == L"sleep") {
        ::Sleep(number(argv[2]));
    } else if (mode == L"exit") {
        return static_cast<int>(number(argv[2]));
    } else if (mode == L"args") {
        std::string lines;
        for (int i = 3; i < argc; ++i) lines += jor::utf8FromWide(argv[i]) + "\n";
        writeText(argv[2], lines);
    } else if (mode == L"window") {
        const HWND window = ::CreateWindowExW(0, L"STATIC", L"jor test child", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                              nullptr, nullptr, nullptr, nullptr);
        if (!window) return 3;
        pumpFor(number(argv[2]));
    } else if (mode == L"spawn" && argc >= 4) {
        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring commandLine = L"\"" + std::wstring(self) + L"\" sleep 60000";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!::CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &info))
            return 4;
        writeText(argv[2], std::to_string(info.dwProcessId));
        ::Sleep(number(argv[3]));
    } else if (mode == L"-d") {
        std::wstring pidFile(MAX_PATH, L'\0');
        pidFile.resize(::GetModuleFileNameW(nullptr, pidFile.data(), MAX_PATH));
        pidFile = pidFile.substr(0, pidFile.find_last_of(L'\\') + 1) + L"decompressor.pid";
        writeText(pidFile.c_str(), std::to_string(::GetCurrentProcessId()));
        ::Sleep(60000);
    } else if (mode == L"stderr" && argc >= 5) {
        const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
        const std::string filler(4096, 'x');
        for (DWORD left = number(argv[2]), written = 0; left > 0; left -= written)
            if (!::WriteFile(error, filler.data(), left < filler.size() ? left : filler.size(), &written, nullptr))
                return 5;
        const std::string text = jor::utf8FromWide(argv[3]);
        DWORD written = 0;
        ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return static_cast<int>(number(argv[4]));
    } else if (mode == L"lock") {
        return jor::SingleInstanceLock(jor::utf8FromWide(argv[2])).anotherInstanceRunning() ? 1 : 0;
    } else {
        return 2;
    }
    return 0;
}
