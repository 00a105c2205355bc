// A child program on Windows: CreateProcess hidden and without a console, in a job object, its standard error in a pipe.
#include "platform/child_process.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

#include <cstdio>
#include <utility>
#include <vector>

namespace jor {
namespace {

// What a killed child reports, as taskkill /f leaves it.
constexpr UINT KilledStatus = 1;

// The longest sleep of a wait: what a child says beyond the pipe's room is
// read at this pace, and a caller without window messages gets its yield.
constexpr DWORD WaitSliceMs = 50;

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
        if (c == L'"')
            out.append(backslashes * 2 + 1, L'\\');
        else
            out.append(backslashes, L'\\');
        out.push_back(c);
        backslashes = 0;
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

HANDLE asHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

[[noreturn]] void raiseBadFileName() { throw Error(err::BadFileName, describeError(err::BadFileName)); }

// The child's standard input and output, opened once for every child.
HANDLE nullDevice() {
    static const auto nul = [] {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        const HANDLE h = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       &inheritable, OPEN_EXISTING, 0, nullptr);
        return std::pair(h, h == INVALID_HANDLE_VALUE ? ::GetLastError() : DWORD(0));
    }();
    if (nul.first == INVALID_HANDLE_VALUE) raiseWinError(nul.second);
    return nul.first;
}

// Handles the child gets as its standard input, output and error, and no
// other handle of ours.
class StandardHandles {
public:
    StandardHandles() : nul_(nullDevice()) {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        // Room for what a decompressor says; it is read at every wake of the wait anyway.
        if (!::CreatePipe(&errorRead_, &errorWrite_, &inheritable, 64 * 1024)) raiseLastError();
        // Only the child's end is passed on.
        ::SetHandleInformation(errorRead_, HANDLE_FLAG_INHERIT, 0);
    }
    ~StandardHandles() {
        for (HANDLE* h : {&errorRead_, &errorWrite_})
            if (*h != INVALID_HANDLE_VALUE && *h != nullptr) ::CloseHandle(std::exchange(*h, INVALID_HANDLE_VALUE));
    }
    StandardHandles(const StandardHandles&) = delete;
    StandardHandles& operator=(const StandardHandles&) = delete;

    HANDLE nul() const { return nul_; }
    HANDLE errorWrite() const { return errorWrite_; }
    // Ours to keep: the end the child's standard error is read from.
    HANDLE takeErrorRead() { return std::exchange(errorRead_, INVALID_HANDLE_VALUE); }

private:
    HANDLE nul_;
    HANDLE errorRead_ = INVALID_HANDLE_VALUE;
    HANDLE errorWrite_ = INVALID_HANDLE_VALUE;
};

}  // namespace

// A plain path would lose a name such as CON.Z to the device of that name,
// and one of 260 characters or more to the length limit.
std::string fileArgument(const std::string& path) {
    const auto system = systemPath(path);
    return system ? utf8FromWide(*system) : path;
}

ChildProcess ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments) {
    if (program.find('\0') != std::string::npos) raiseBadFileName();
    const auto application = wideFromUtf8(program);
    if (program.empty() || !application) raiseNotFound();
    // The program's own name needs no escapes: a Windows path holds no quotes.
    std::wstring commandLine = L"\"" + *application + L"\"";
    for (const auto& argument : arguments) {
        if (argument.find('\0') != std::string::npos) raiseBadFileName();
        const auto wide = wideFromUtf8(argument);
        if (!wide) throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
        commandLine += L" " + quoted(*wide);
    }

    StandardHandles standard;
    // These alone are inherited, not whatever else of ours is inheritable.
    HANDLE inherited[] = {standard.nul(), standard.errorWrite()};
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<uint64_t> listBuffer((listSize + 7) / 8);
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &listSize)) raiseLastError();
    struct ListDeleter {
        LPPROC_THREAD_ATTRIBUTE_LIST list;
        ~ListDeleter() { ::DeleteProcThreadAttributeList(list); }
    } deleteList{list};
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr,
                                     nullptr))
        raiseLastError();

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdInput = standard.nul();
    startup.StartupInfo.hStdOutput = standard.nul();
    startup.StartupInfo.hStdError = standard.errorWrite();
    startup.lpAttributeList = list;
    PROCESS_INFORMATION info{};
    // No console at all: a hidden one would cost a console host (conhost.exe)
    // beside every child, half of a decompressor's start; the standard handles
    // above reach it all the same. Suspended until it is in its job, so that
    // whatever it starts is in the job too.
    // Wine fails a process creation now and then under load with
    // ERROR_INTERNAL_ERROR: the new process ended before it ran a line of its
    // own (Wine's start of the test programs fails the same way). Nothing of
    // it ran, so a second start does nothing twice.
    for (int attempt = 1;; ++attempt) {
        if (::CreateProcessW(application->c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                             DETACHED_PROCESS | CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                             &startup.StartupInfo, &info))
            break;
        const DWORD code = ::GetLastError();
        if (code != ERROR_INTERNAL_ERROR || attempt == 3) raiseWinError(code);
        std::fprintf(stderr, "jor-orvek: starting %s failed with Win32 error %lu; starting it again\n", program.c_str(),
                     static_cast<unsigned long>(code));
        ::Sleep(20);
    }
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
    ChildProcess child(info.dwProcessId, info.hProcess ? reinterpret_cast<intptr_t>(info.hProcess) : -1,
                       reinterpret_cast<intptr_t>(standard.takeErrorRead()));
    if (job) child.group_ = reinterpret_cast<intptr_t>(job);
    return child;
}

ChildProcess::ChildProcess(uint32_t pid, intptr_t handle, intptr_t errorPipe)
    : pid_(pid), handle_(handle), errorPipe_(errorPipe) {}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      handle_(std::exchange(other.handle_, -1)),
      group_(std::exchange(other.group_, -1)),
      errorPipe_(std::exchange(other.errorPipe_, -1)),
      ended_(std::exchange(other.ended_, true)),
      status_(other.status_),
      errorOutput_(std::move(other.errorOutput_)) {}

ChildProcess::~ChildProcess() {
    killAndReap();
    if (group_ != -1) ::CloseHandle(asHandle(std::exchange(group_, -1)));
}

int ChildProcess::exitCode() const { return ended_ ? status_ : -1; }

void ChildProcess::readErrorOutput() {
    char buffer[4096];
    while (errorPipe_ != -1) {
        // Only what is there: a read of an anonymous pipe would block.
        DWORD available = 0;
        if (!::PeekNamedPipe(asHandle(errorPipe_), nullptr, 0, nullptr, &available, nullptr)) {
            closeErrorPipe();  // broken: every writer has closed its end
            return;
        }
        if (available == 0) return;
        DWORD n = 0;
        if (!::ReadFile(asHandle(errorPipe_), buffer, available < sizeof buffer ? available : sizeof buffer, &n,
                        nullptr) ||
            n == 0) {
            closeErrorPipe();
            return;
        }
        errorOutput_.append(buffer, n);
        // Only the end tells why it failed.
        if (errorOutput_.size() > ErrorOutputLimit) errorOutput_.erase(0, errorOutput_.size() - ErrorOutputLimit);
    }
}

void ChildProcess::closeErrorPipe() {
    if (errorPipe_ != -1) ::CloseHandle(asHandle(std::exchange(errorPipe_, -1)));
}

bool ChildProcess::hasEnded() {
    if (ended_) return true;
    readErrorOutput();
    // A handle that cannot be waited for (Wine gives none for a Unix program)
    // would keep a caller waiting forever: such a child counts as ended.
    if (handle_ != -1 && ::WaitForSingleObject(asHandle(handle_), 0) == WAIT_TIMEOUT) return false;
    DWORD code = 0;
    if (handle_ != -1 && ::GetExitCodeProcess(asHandle(handle_), &code) && code != STILL_ACTIVE)
        status_ = static_cast<int>(code);
    ended_ = true;
    // Everything it wrote is in the pipe now; a program it started that still
    // holds the pipe open is not waited for.
    readErrorOutput();
    closeErrorPipe();
    if (handle_ != -1) ::CloseHandle(asHandle(std::exchange(handle_, -1)));
    return true;
}

void ChildProcess::waitForEndOrMessage(bool messages) {
    // Awake at the child's end or at a window message for this thread
    // (the yield takes it), not every millisecond: under Wine each wake
    // costs calls to its server, which the starting child needs too. An
    // anonymous pipe cannot be waited on: it is read at every wake.
    const HANDLE process = asHandle(handle_);
    if (messages)
        ::MsgWaitForMultipleObjectsEx(1, &process, WaitSliceMs, QS_ALLINPUT, 0);
    else
        ::WaitForSingleObject(process, WaitSliceMs);
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
    closeErrorPipe();
    if (handle_ != -1) ::CloseHandle(asHandle(std::exchange(handle_, -1)));
}

}  // namespace jor
