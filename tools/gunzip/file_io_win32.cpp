// SetFileInformationByHandle needs Windows Vista's declarations.
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#include "file_io.h"

#include "platform/win32/long_path.h"

#include <windows.h>

namespace gunzip {
namespace {

constexpr DWORD ErrorDiskQuotaExceeded = 1295;  // not in mingw's headers

// gzip's words (strerror's) for the Win32 failures behind them: English on
// every Windows, whose own texts come in the user's language and code page.
// The migration tells a full disk from a broken object by them.
std::string describe(DWORD code) {
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ErrorDiskQuotaExceeded: return "Disk quota exceeded";
    case ERROR_FILE_TOO_LARGE: return "File too large";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_DRIVE_LOCKED:
    case ERROR_DELETE_PENDING:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_PRIVILEGE_NOT_HELD: return "Permission denied";
    case ERROR_WRITE_PROTECT: return "Read-only file system";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return "No such file or directory";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NOT_ENOUGH_QUOTA: return "Cannot allocate memory";
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR: return "Input/output error";
    case ERROR_NOT_READY:
    case ERROR_NO_MEDIA_IN_DRIVE: return "No medium found";
    case ERROR_DEV_NOT_EXIST: return "No such device";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_DIRECTORY: return "Not a directory";
    case ERROR_DIR_NOT_EMPTY: return "Directory not empty";
    case ERROR_FILENAME_EXCED_RANGE: return "File name too long";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER: return "Invalid argument";
    case ERROR_CANT_RESOLVE_FILENAME: return "Too many levels of symbolic links";
    case ERROR_NOT_SAME_DEVICE: return "Invalid cross-device link";
    case ERROR_TOO_MANY_OPEN_FILES: return "Too many open files";
    case ERROR_INVALID_HANDLE: return "Bad file descriptor";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return "Broken pipe";
    case ERROR_NOT_SUPPORTED: return "Operation not supported";
    case ERROR_NETWORK_UNREACHABLE: return "Network is unreachable";
    }
    return "Windows error " + std::to_string(code);
}

[[noreturn]] void raiseLastError() {
    const DWORD code = GetLastError();
    IoFailure failure{describe(code)};
    failure.missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
    failure.taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    throw failure;
}

std::wstring fromUtf8(std::string_view text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

// The name as a reader knows it, without the \\?\ the program puts before it.
std::wstring shown(const std::wstring& name) { return jor::withoutLongPrefix(name); }

// What the W functions are given: the \\?\ full form, in which CON.Z is a
// file and a path has no 260-character limit. The program passes that form;
// a plain path from anyone else gets it here, since gzip opens such a name
// as a file too. Only the folder part goes through GetFullPathNameW, which
// would take a last part such as CON.Z for the console device; the last part
// stays as given (trailing dots and blanks included).
std::wstring opened(const std::wstring& name) {
    // Already verbatim, or a device or NT name given on purpose.
    if (name.empty() || name.starts_with(jor::LongPathPrefix) || name.starts_with(L"\\\\.\\") ||
        name.starts_with(jor::NtPathPrefix))
        return name;
    size_t cut = name.find_last_of(L"\\/");
    if (cut != std::wstring::npos)
        ++cut;
    else
        cut = name.size() >= 2 && name[1] == L':' ? 2 : 0;  // "C:name": relative to C:'s folder
    const std::wstring last = name.substr(cut);
    if (last.empty() || last == L"." || last == L"..") return name;
    const std::wstring folder = name.substr(0, cut) + L".\\";
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return name;
        const bool fits = n < full.size();
        full.resize(n);
        if (fits) break;
    }
    if (!jor::isPathSeparator(full.back())) full += L'\\';
    if (const auto longFull = jor::withLongPrefix(full)) return *longFull + last;
    return name;
}

}  // namespace

// main's argv is in the ANSI code page, which cannot hold every name: the
// wide command line, split as CommandLineToArgvW splits it. Not that function
// itself: shell32, its DLL, costs every start some 50 ms under Wine, half of
// what a start costs there.
std::vector<NativeString> arguments(int, char**) {
    const wchar_t* s = GetCommandLineW();
    // The program's name ends at the next quote or blank, whatever precedes it.
    if (*s == L'"') {
        for (++s; *s;)
            if (*s++ == L'"') break;
    } else {
        while (*s && *s != L' ' && *s != L'\t') ++s;
    }
    std::vector<NativeString> arguments;
    for (int quotes = 0;;) {
        while (*s == L' ' || *s == L'\t') ++s;
        if (!*s) return arguments;
        NativeString& a = arguments.emplace_back();
        for (size_t backslashes = 0; *s && (quotes != 0 || (*s != L' ' && *s != L'\t'));) {
            if (*s != L'"') {
                backslashes = *s == L'\\' ? backslashes + 1 : 0;
                a += *s++;
                continue;
            }
            // Half the backslashes before a quote stay; an odd one left over makes it a quote of the name.
            a.resize(a.size() - backslashes / 2);
            if (backslashes % 2)
                a.back() = L'"';
            else
                ++quotes;
            backslashes = 0;
            // Of quotes in a row, every third is one of the name.
            for (++s; *s == L'"'; ++s)
                if (++quotes == 3) {
                    a += L'"';
                    quotes = 0;
                }
            if (quotes == 2) quotes = 0;
        }
    }
}

void complain(const NativeString& name, std::string_view text) {
    const std::wstring line = L"gunzip.exe: " + shown(name) + L": " + fromUtf8(text) + L"\n";
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(err, &mode)) {
        WriteConsoleW(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        return;
    }
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return;
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), n, nullptr, nullptr);
    WriteFile(err, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

struct InputFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    EntryKind kind = EntryKind::Other;
    // Not GetFileInformationByHandle: its volume serial number costs Wine a
    // call to its mount manager, some 0.7 ms of every start.
    FILE_BASIC_INFO basic = {};
    DWORD links = 0;
};

InputFile::InputFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile::~InputFile() {
    if (handle_ && handle_->file != INVALID_HANDLE_VALUE) CloseHandle(handle_->file);
}

InputFile InputFile::open(const NativeString& name, bool followLink) {
    auto handle = std::make_unique<Handle>();
    // Backup semantics open a folder as well, so that it can be told apart.
    const DWORD flags =
        FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    handle->file =
        CreateFileW(opened(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, flags, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) raiseLastError();
    InputFile file(std::move(handle));
    Handle& h = *file.handle_;
    if (GetFileType(h.file) == FILE_TYPE_DISK) {
        FILE_STANDARD_INFO standard;
        if (!GetFileInformationByHandleEx(h.file, FileBasicInfo, &h.basic, sizeof h.basic) ||
            !GetFileInformationByHandleEx(h.file, FileStandardInfo, &standard, sizeof standard))
            raiseLastError();
        h.links = standard.NumberOfLinks;
        if (h.basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            h.kind = EntryKind::Directory;
        else if (!(h.basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            h.kind = EntryKind::Regular;
    }
    return file;
}

EntryKind InputFile::kind() const { return handle_->kind; }
bool InputFile::setIdBits() const { return false; }
bool InputFile::sticky() const { return false; }
unsigned InputFile::links() const { return handle_->links; }

size_t InputFile::read(unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(handle_->file, buffer + done, static_cast<DWORD>(size - done), &got, nullptr)) raiseLastError();
        if (got == 0) break;
        done += got;
    }
    return done;
}

void InputFile::close() {
    const HANDLE file = handle_->file;
    handle_->file = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) raiseLastError();
}

struct OutputFile::Handle {
    HANDLE file = INVALID_HANDLE_VALUE;
    std::wstring name;
    bool kept = false;
};

OutputFile::OutputFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
OutputFile::OutputFile(OutputFile&&) noexcept = default;

OutputFile::~OutputFile() {
    if (!handle_) return;
    if (handle_->file != INVALID_HANDLE_VALUE) CloseHandle(handle_->file);
    if (!handle_->kept) {
        SetFileAttributesW(handle_->name.c_str(), FILE_ATTRIBUTE_NORMAL);  // a copied read-only bit
        DeleteFileW(handle_->name.c_str());
    }
}

OutputFile OutputFile::create(const NativeString& name) {
    auto handle = std::make_unique<Handle>();
    handle->name = opened(name);
    // CREATE_NEW fails on any entry of that name, a link included, and never follows it.
    handle->file =
        CreateFileW(handle->name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle->file == INVALID_HANDLE_VALUE) raiseLastError();
    return OutputFile(std::move(handle));
}

void OutputFile::write(const unsigned char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handle_->file, data, static_cast<DWORD>(size), &written, nullptr)) raiseLastError();
        data += written;
        size -= written;
    }
}

bool OutputFile::copyAttributes(const InputFile& input, std::string& why) {
    const FILE_BASIC_INFO& from = input.handle_->basic;
    FILE_BASIC_INFO basic = {};  // zero: left as it is
    basic.LastAccessTime = from.LastAccessTime;
    basic.LastWriteTime = from.LastWriteTime;
    basic.FileAttributes = from.FileAttributes & FILE_ATTRIBUTE_READONLY;
    if (SetFileInformationByHandle(handle_->file, FileBasicInfo, &basic, sizeof basic)) return true;
    why = describe(GetLastError());
    return false;
}

void OutputFile::keep() {
    const HANDLE file = handle_->file;
    handle_->file = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) raiseLastError();
    handle_->kept = true;
}

// DeleteFileW removes a symbolic link itself and refuses folders and
// junctions. It also refuses a read-only file, which gzip removes (on POSIX
// only the folder's permissions keep a file): the attribute goes first.
void removeEntry(const NativeString& given) {
    const std::wstring name = opened(given);
    if (DeleteFileW(name.c_str())) return;
    const DWORD code = GetLastError(), attributes = GetFileAttributesW(name.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (SetFileAttributesW(name.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) && DeleteFileW(name.c_str()))
            return;
        SetFileAttributesW(name.c_str(), attributes);
    }
    SetLastError(code);
    raiseLastError();
}

}  // namespace gunzip
