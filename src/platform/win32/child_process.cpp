#include "platform/child_process.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

#include <utility>

namespace jor {
namespace {

// What a killed child reports, as taskkill /f leaves it.
constexpr UINT KilledStatus = 1;

// One argument as the C runtime's parser reads it back: always in quotes,
// backslashes doubled only where a quote follows them. The archive tools
// passed the working path unquoted, so a temporary folder with blanks split
// it into several arguments.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
        else out.append(backslashes, L'\\');
        out.push_back(c);
        backslashes = 0;
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

ChildProcess ChildProcess::Start(const std::string& program, const std::vector<std::string>& arguments) {
    const auto application = wideFromUtf8(program);
    if (program.empty() || !application || application->find(L'\0') != std::wstring::npos) raiseNotFound();
    // The program's own name needs no escapes: a Windows path holds no quotes.
    std::wstring commandLine = L"\"" + *application + L"\"";
    for (const auto& argument : arguments) {
        const auto wide = wideFromUtf8(argument);
        if (!wide || wide->find(L'\0') != std::wstring::npos)
            throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
        commandLine += L" " + quoted(*wide);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info{};
    // No console of its own (none flashes up), no handles of ours; suspended
    // until it is in its job, so that whatever it starts is in the job too.
    if (!::CreateProcessW(application->c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &info))
        raiseLastError();
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    // Inside a job that forbids nesting the child stays alone; the kill then reaches it only.
    if (job && !::AssignProcessToJobObject(job, info.hProcess)) {
        ::CloseHandle(job);
        job = nullptr;
    }
    if (info.hThread) {
        ::ResumeThread(info.hThread);
        ::CloseHandle(info.hThread);
    }
    ChildProcess child(info.dwProcessId, info.hProcess ? reinterpret_cast<intptr_t>(info.hProcess) : -1);
    if (job) child.group_ = reinterpret_cast<intptr_t>(job);
    return child;
}

ChildProcess::ChildProcess(uint32_t pid, intptr_t handle) : pid_(pid), handle_(handle) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      handle_(std::exchange(other.handle_, -1)),
      group_(std::exchange(other.group_, -1)),
      ended_(std::exchange(other.ended_, true)),
      status_(other.status_) {}

ChildProcess::~ChildProcess() {
    killAndReap();
    if (group_ != -1) ::CloseHandle(asHandle(std::exchange(group_, -1)));
}

bool ChildProcess::HasEnded() {
    if (ended_) return true;
    // A handle that cannot be waited for (Wine gives none for a Unix program)
    // would keep a caller waiting forever: such a child counts as ended.
    if (handle_ != -1 && ::WaitForSingleObject(asHandle(handle_), 0) == WAIT_TIMEOUT) return false;
    DWORD code = 0;
    if (handle_ != -1 && ::GetExitCodeProcess(asHandle(handle_), &code) && code != STILL_ACTIVE)
        status_ = static_cast<int>(code);
    ended_ = true;
    if (handle_ != -1) ::CloseHandle(asHandle(std::exchange(handle_, -1)));
    return true;
}

bool ChildProcess::WaitUntilEnded(const std::function<void()>& yield, const std::function<bool()>& stop) {
    for (;;) {
        if (HasEnded()) return true;
        if (stop && stop()) {
            killAndReap();
            return false;
        }
        if (yield) yield();
        ::WaitForSingleObject(asHandle(handle_), 1);
    }
}

void ChildProcess::killAndReap() {
    if (!ended_ && handle_ != -1) {
        if (group_ == -1 || !::TerminateJobObject(asHandle(group_), KilledStatus))
            ::TerminateProcess(asHandle(handle_), KilledStatus);
        ::WaitForSingleObject(asHandle(handle_), INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(asHandle(handle_), &code)) status_ = static_cast<int>(code);
        ended_ = true;
    }
    if (handle_ != -1) ::CloseHandle(asHandle(std::exchange(handle_, -1)));
}

}  // namespace jor
