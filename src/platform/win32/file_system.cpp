#include "platform/file_system.h"

#include "platform/win32/folder_verdict.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <ntsecapi.h>

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace jor {
namespace {

// The bits the archive tools report; the others (not indexed, sparse, ...) say
// nothing about the file's use and must not spoil a comparison with 16.
constexpr DWORD ReportedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED;
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    // CloseHandle reports late write errors (a full network drive).
    bool close() { return !valid() || ::CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)) != 0; }

private:
    HANDLE h_;
};

// The system reads a path up to its first NUL: such a path would act on
// another one. Any other text that cannot name a file names one that does
// not exist.
std::wstring pathOrRaise(const std::string& path, bool isFolder = false) {
    if (path.find('\0') != std::string::npos) throw Error(err::BadFileName, describeError(err::BadFileName));
    auto wide = systemPath(path);
    if (!wide) raiseNotFound(isFolder);
    return std::move(*wide);
}

// INVALID_FILE_ATTRIBUTES when the path names nothing; links are not followed.
DWORD attributesOf(const std::string& path) {
    const auto wide = systemPath(path);
    return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

DWORD existingAttributes(const std::wstring& path, bool isFolder) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) raiseLastError(isFolder);
    return a;
}

void writeAll(HANDLE h, const char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(h, data, chunk, &written, nullptr)) raiseLastError();
        data += written;
        size -= written;
    }
}

void copyContents(HANDLE in, HANDLE out) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) raiseLastError();
        if (n == 0) return;
        writeAll(out, buffer.data(), n);
    }
}

FolderIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

std::wstring folderOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

// A new file of our own beside a destination, removed again should anything
// after its creation fail. Created new under a random name (another one when
// the name is taken), so a name planted in a shared folder, a link above
// all, is never written through; its length does not depend on the
// destination's, which may already be at the file system's limit.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& destination) {
        const std::wstring folder = folderOf(destination);
        for (int attempt = 0;; ++attempt) {
            unsigned char bytes[8];
            if (!::RtlGenRandom(bytes, sizeof bytes)) raiseLastError();
            static const wchar_t hex[] = L"0123456789abcdef";
            std::wstring name = L"jor-";
            for (const unsigned char b : bytes) {
                name.push_back(hex[b >> 4]);
                name.push_back(hex[b & 15]);
            }
            const std::wstring path = folder + L"\\" + name + L".part";
            handle_ = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr);
            if (handle_ != INVALID_HANDLE_VALUE) {
                path_ = path;
                return;
            }
            const DWORD code = ::GetLastError();
            if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt >= 100)
                raiseWinError(code, true);
        }
    }
    ~TemporaryFile() {
        closeHandle();
        if (path_.empty()) return;
        ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    HANDLE handle() const { return handle_; }
    const std::wstring& path() const { return path_; }
    // CloseHandle reports late write errors (a full network drive).
    void close() {
        if (!closeHandle()) raiseLastError();
    }
    void commit(const std::wstring& destination, bool overwrite) {
        close();
        // A rename replaces a link at the destination itself, never its target.
        if (!::MoveFileExW(path_.c_str(), destination.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0))
            raiseLastError();
        path_.clear();
    }

private:
    bool closeHandle() {
        return handle_ == INVALID_HANDLE_VALUE || ::CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
    }
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring path_;
};

// The process token's TOKEN_USER or TOKEN_OWNER record.
std::vector<BYTE> tokenInformation(TOKEN_INFORMATION_CLASS kind) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) raiseLastError();
    const Handle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    if (!::GetTokenInformation(token, kind, buffer.data(), size, &size)) raiseLastError();
    return buffer;
}

PSID userSid(std::vector<BYTE>& tokenUser) { return reinterpret_cast<TOKEN_USER*>(tokenUser.data())->User.Sid; }

struct LocalFreer {
    HLOCAL memory;
    ~LocalFreer() { ::LocalFree(memory); }
};

// Opened for reading and writing, created empty when missing; a link in its
// place is opened as itself and not read through.
Handle openForReading(const std::string& path) {
    Handle h(::CreateFileW(pathOrRaise(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr));
    if (!h.valid()) raiseLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h.get(), &info)) raiseLastError();
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        throw Error(err::PathFileAccess, describeError(err::PathFileAccess), "a reparse point");
    return h;
}

// Up to `size` bytes; 0 at the end.
DWORD readSome(HANDLE h, char* data, size_t size) {
    DWORD n = 0;
    if (!::ReadFile(h, data, size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size), &n, nullptr)) raiseLastError();
    return n;
}

void readChunks(HANDLE h, size_t chunkSize, const std::function<bool(std::string_view)>& consume) {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h, &size)) raiseLastError();
    // As long as the file was when opened, as a whole read would take it.
    uint64_t left = static_cast<uint64_t>(size.QuadPart);
    const size_t bufferSize = static_cast<size_t>(std::min<uint64_t>(left, std::max<size_t>(chunkSize, 1)));
    // Not zeroed: only what a read fills is handed over.
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    while (left > 0) {
        const DWORD n = readSome(h, buffer.get(), static_cast<size_t>(std::min<uint64_t>(left, bufferSize)));
        if (n == 0) return;
        left -= n;
        if (!consume(std::string_view(buffer.get(), n))) return;
    }
}

struct FindCloser {
    HANDLE h;
    ~FindCloser() { ::FindClose(h); }
};

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Calls `visit(name, attributes)` for the entries of `folder` whose names
// match `pattern` ("." and ".." left out).
template <typename Visit>
void forEachEntry(const std::wstring& folder, const wchar_t* pattern, const Visit& visit) {
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileExW((folder + L"\\" + pattern).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return;
        raiseLastError(true);
    }
    const FindCloser closer{find};
    do {
        if (!isDotOrDotDot(found.cFileName)) visit(std::wstring(found.cFileName), found.dwFileAttributes);
    } while (::FindNextFileW(find, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) raiseLastError(true);
}

// Calls `visit(path, attributes)` for everything below `folder`, deepest
// first; reparse points are visited, never entered.
template <typename Visit>
void walk(const std::wstring& folder, const Visit& visit) {
    forEachEntry(folder, L"*", [&](const std::wstring& name, DWORD a) {
        const std::wstring path = folder + L"\\" + name;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) walk(path, visit);
        visit(path, a);
    });
}

void removeEntry(const std::wstring& path, DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    // A link to a folder goes as a folder: the link, not its target.
    const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    if (!(folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str()))) raiseLastError(folder);
}

std::wstring withoutTrailingSeparators(std::wstring path) {
    while (path.size() > 1 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

}  // namespace

bool FileSystem::FolderExists(const std::string& path) const {
    const DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSystem::FileExists(const std::string& path) const {
    const DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void FileSystem::CreateFolder(const std::string& path) const {
    if (!::CreateDirectoryW(pathOrRaise(path, true).c_str(), nullptr)) raiseLastError(true);
}

void FileSystem::CopyFile(const std::string& source, const std::string& destination, bool overwrite) const {
    const std::wstring from = pathOrRaise(source);
    const std::wstring to = pathOrRaise(destination, true);
    // Read-only, as a disc allows; a link on the disc is opened as itself so
    // that it never brings a local file along.
    Handle in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
    if (!in.valid()) raiseLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(in.get(), &info)) raiseLastError();
    // Folders, links and devices have no content of their own to copy.
    if (const DWORD type = ::GetFileType(in.get());
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || type != FILE_TYPE_DISK)
        throw Error(err::PathFileAccess, describeError(err::PathFileAccess),
                    "not a file of its own (attributes " + std::to_string(info.dwFileAttributes) + ", type " +
                        std::to_string(type) + ", Win32 error " + std::to_string(::GetLastError()) + ")");
    if (const DWORD existing = ::GetFileAttributesW(to.c_str()); existing != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite) raiseWinError(ERROR_FILE_EXISTS);
        // As the system's own copy: a read-only destination is never replaced
        // (Wine's rename would replace it).
        if (existing & FILE_ATTRIBUTE_READONLY) raiseWinError(ERROR_ACCESS_DENIED);
    }

    TemporaryFile part(to);
    copyContents(in.get(), part.handle());
    // The attributes come over as the system's own copy carries them. A
    // read-only copy cannot be opened for the flush before the report (a
    // user who is not an administrator may not write it): it is flushed now.
    const DWORD carried = info.dwFileAttributes & SettableAttributes;
    if ((carried & FILE_ATTRIBUTE_READONLY) && !::FlushFileBuffers(part.handle())) raiseLastError();
    part.close();
    if (carried && !::SetFileAttributesW(part.path().c_str(), carried)) raiseLastError();
    part.commit(to, overwrite);
}

void FileSystem::DeleteFile(const std::string& path, bool force) const {
    const std::wstring wide = pathOrRaise(path);
    const DWORD a = existingAttributes(wide, false);
    if (a & FILE_ATTRIBUTE_DIRECTORY) raiseNotFound();
    if (a & FILE_ATTRIBUTE_READONLY) {
        if (!force) raiseWinError(ERROR_ACCESS_DENIED);
        if (!::SetFileAttributesW(wide.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY))) raiseLastError();
    }
    if (!::DeleteFileW(wide.c_str())) raiseLastError();
}

void FileSystem::DeleteFolder(const std::string& path, bool force) const {
    const std::wstring wide = withoutTrailingSeparators(pathOrRaise(path, true));
    const DWORD a = existingAttributes(wide, true);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) raiseNotFound(true);
    if (!force) {
        // Without force, read-only content keeps the whole folder.
        bool readOnly = a & FILE_ATTRIBUTE_READONLY;
        if (!(a & FILE_ATTRIBUTE_REPARSE_POINT))
            walk(wide, [&](const std::wstring&, DWORD entry) { readOnly = readOnly || (entry & FILE_ATTRIBUTE_READONLY); });
        if (readOnly) raiseWinError(ERROR_ACCESS_DENIED);
    }
    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) walk(wide, removeEntry);
    removeEntry(wide, a);
}

FolderListing FileSystem::GetFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    // Listed through the handle its identity comes from: the listing is of
    // the folder identified, whatever is renamed meanwhile.
    Handle folder(::CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.valid()) raiseLastError(true);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(folder.get(), &info)) raiseLastError(true);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) raiseNotFound(true);
    FolderListing listing;
    listing.Identity = identityOf(info);
    const bool endsWithSeparator = path.back() == '\\' || path.back() == '/';
    // 8-byte aligned, as the records in it are.
    std::vector<uint64_t> buffer(64 * 1024 / sizeof(uint64_t));
    for (;;) {
        if (!::GetFileInformationByHandleEx(folder.get(), FileIdBothDirectoryInfo, buffer.data(),
                                            static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
            const DWORD code = ::GetLastError();
            // An empty drive root lists not even "." and "..".
            if (code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND) return listing;
            raiseWinError(code, true);
        }
        for (auto* entry = reinterpret_cast<const BYTE*>(buffer.data());;) {
            const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(entry);
            const std::wstring_view name(record->FileName, record->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                const std::string utf8 = utf8FromWide(name);
                FileEntry file{utf8, endsWithSeparator ? path + utf8 : path + "\\" + utf8};
                // Links of every kind (symbolic links, junctions, to files or
                // folders) count as files: never walked, so no cycles and
                // nothing off the medium, and the copy names each of them.
                const DWORD a = record->FileAttributes;
                if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
                    listing.SubFolders.push_back(std::move(file));
                else
                    listing.Files.push_back(std::move(file));
            }
            if (record->NextEntryOffset == 0) break;
            entry += record->NextEntryOffset;
        }
    }
}

std::optional<FolderIdentity> FileSystem::FolderIdentityOf(const std::string& path) const {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    const auto wide = systemPath(path);
    if (!wide) return std::nullopt;
    Handle folder(::CreateFileW(wide->c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.valid() || !::GetFileInformationByHandle(folder.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return identityOf(info);
}

namespace {

// The DACL of a private working folder: full control for the user, the
// system and the administrators, passed on to everything inside. The
// latter two may take any folder anyway; without them backups and virus
// scanners running as the system would fail on it.
class PrivateAcl {
public:
    explicit PrivateAcl(PSID user) {
        DWORD size = sizeof system_;
        if (!::CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &size)) raiseLastError(true);
        size = sizeof administrators_;
        if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators_, &size)) raiseLastError(true);
        const PSID sids[] = {user, system_, administrators_};
        DWORD aclSize = sizeof(ACL);
        for (const PSID sid : sids) aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + ::GetLengthSid(sid);
        buffer_.resize((aclSize + 7) / 8);
        if (!::InitializeAcl(get(), aclSize, ACL_REVISION)) raiseLastError(true);
        for (const PSID sid : sids)
            if (!::AddAccessAllowedAceEx(get(), ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                                         FILE_ALL_ACCESS, sid))
                raiseLastError(true);
    }
    PACL get() { return reinterpret_cast<PACL>(buffer_.data()); }

private:
    BYTE system_[SECURITY_MAX_SID_SIZE];
    BYTE administrators_[SECURITY_MAX_SID_SIZE];
    std::vector<uint64_t> buffer_;  // 8-byte aligned, as an ACL wants
};

// The entry itself: a junction or link in its place is not followed. The
// first of `accesses` the folder grants; another account's folder may not
// let even its owner be read, and is opened for its attributes alone then.
Handle openEntry(const std::wstring& path, std::initializer_list<DWORD> accesses, DWORD& granted) {
    for (const DWORD access : accesses) {
        Handle entry(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
        granted = access;
        if (entry.valid()) return entry;
        if (::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    raiseLastError(true);
}

FolderVerdict verdictOf(HANDLE entry, const std::wstring& path, DWORD granted) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(entry, &info)) raiseLastError(true);
    FolderFacts facts;
    facts.attributes = info.dwFileAttributes;
    // Wine opens a link's target even when asked for the link itself; the
    // entry's own attributes still tell.
    if (const DWORD own = ::GetFileAttributesW(path.c_str()); own != INVALID_FILE_ATTRIBUTES)
        facts.attributes |= own & FILE_ATTRIBUTE_REPARSE_POINT;
    if (!::GetVolumeInformationByHandleW(entry, nullptr, 0, nullptr, nullptr, &facts.volumeFlags, nullptr, 0))
        raiseLastError(true);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (granted & READ_CONTROL) {
        if (const DWORD rc = ::GetSecurityInfo(entry, SE_FILE_OBJECT,
                                               OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &facts.owner,
                                               nullptr, &facts.dacl, nullptr, &descriptor);
            rc != ERROR_SUCCESS)
            raiseWinError(rc, true);
    }
    const LocalFreer freeDescriptor{descriptor};
    auto user = tokenInformation(TokenUser);
    auto defaultOwner = tokenInformation(TokenOwner);
    facts.user = userSid(user);
    facts.defaultOwner = reinterpret_cast<TOKEN_OWNER*>(defaultOwner.data())->Owner;
    return judgeFolder(facts);
}

[[noreturn]] void refuse(FolderVerdict verdict) {
    const int32_t number = verdict == FolderVerdict::NotAFolder ? err::PathFileAccess : err::PermissionDenied;
    throw Error(number, describeError(number));
}

}  // namespace

void FileSystem::CreatePrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    auto user = tokenInformation(TokenUser);
    const PSID sid = userSid(user);
    PrivateAcl acl(sid);
    SECURITY_DESCRIPTOR descriptor;
    // Protected: nothing is inherited from the folder above.
    if (!::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorOwner(&descriptor, sid, FALSE) ||
        !::SetSecurityDescriptorDacl(&descriptor, TRUE, acl.get(), FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        raiseLastError(true);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
    if (!::CreateDirectoryW(wide.c_str(), &attributes)) raiseLastError(true);
}

FolderVerdict FileSystem::PreparePrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    constexpr DWORD reading = READ_CONTROL | FILE_READ_ATTRIBUTES;
    DWORD granted = 0;
    const Handle entry = openEntry(wide, {reading | WRITE_DAC, reading, FILE_READ_ATTRIBUTES}, granted);
    const FolderVerdict verdict = verdictOf(entry.get(), wide, granted);
    if (verdict == FolderVerdict::NotAFolder) refuse(verdict);
    if (verdict != FolderVerdict::MakePrivate) return verdict;
    if (!(granted & WRITE_DAC)) raiseWinError(ERROR_ACCESS_DENIED, true);
    // Through the handle judged, so a folder swapped in meanwhile is not the
    // one changed. On NTFS the new DACL also reaches what the folder holds.
    auto user = tokenInformation(TokenUser);
    PrivateAcl acl(userSid(user));
    if (const DWORD rc = ::SetSecurityInfo(entry.get(), SE_FILE_OBJECT,
                                           DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                           nullptr, acl.get(), nullptr);
        rc != ERROR_SUCCESS)
        raiseWinError(rc, true);
    if (const FolderVerdict now = verdictOf(entry.get(), wide, granted); now != FolderVerdict::Use) refuse(now);
    return verdict;
}

void FileSystem::CheckPrivateFolder(const std::string& path) const {
    const std::wstring wide = pathOrRaise(path, true);
    DWORD granted = 0;
    const Handle entry = openEntry(wide, {READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_READ_ATTRIBUTES}, granted);
    const FolderVerdict verdict = verdictOf(entry.get(), wide, granted);
    if (verdict != FolderVerdict::Use && verdict != FolderVerdict::NoAccessLists) refuse(verdict);
}

size_t FileSystem::MaxNameLength(const std::string& folder) const {
    if (folder.find('\0') != std::string::npos) return 255;
    const auto wide = systemPath(folder);
    if (!wide) return 255;
    std::wstring root(wide->size() + 2, L'\0');
    DWORD limit = 0;
    if (!::GetVolumePathNameW(wide->c_str(), root.data(), static_cast<DWORD>(root.size())) ||
        !::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, &limit, nullptr, nullptr, 0) || limit == 0)
        return 255;
    return limit;
}

int32_t FileSystem::FolderAttributes(const std::string& path) const {
    const DWORD a = existingAttributes(pathOrRaise(path, true), true);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) raiseNotFound(true);
    return static_cast<int32_t>(a & ReportedAttributes);
}

void FileSystem::SetFileAttributes(const std::string& path, int32_t attributes) const {
    const std::wstring wide = pathOrRaise(path);
    const DWORD a = existingAttributes(wide, false);
    if (a & FILE_ATTRIBUTE_DIRECTORY) raiseNotFound();
    const DWORD wanted = static_cast<DWORD>(attributes) & SettableAttributes;
    if (!::SetFileAttributesW(wide.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL)) raiseLastError();
}

std::string FileSystem::ReadWholeFile(const std::string& path) const {
    Handle h = openForReading(path);
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h.get(), &size)) raiseLastError();
    if (static_cast<unsigned long long>(size.QuadPart) >= std::string().max_size())
        throw Error(err::OutOfMemory, describeError(err::OutOfMemory));
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const DWORD n = readSome(h.get(), content.data() + done, content.size() - done);
        if (n == 0) break;
        done += n;
    }
    content.resize(done);
    return content;
}

void FileSystem::ReadFileInChunks(const std::string& path, size_t chunkSize,
                                  const std::function<bool(std::string_view)>& consume) const {
    readChunks(openForReading(path).get(), chunkSize, consume);
}

void FileSystem::ReadSharedFileInChunks(const std::string& path, size_t chunkSize,
                                        const std::function<bool(std::string_view)>& consume) const {
    Handle h(::CreateFileW(pathOrRaise(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid()) raiseLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h.get(), &info)) raiseLastError();
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
        throw Error(err::PathFileAccess, describeError(err::PathFileAccess));
    readChunks(h.get(), chunkSize, consume);
}

void FileSystem::WriteFileRange(const std::string& source, uint64_t offset, uint64_t length,
                                const std::string& destination) const {
    const std::wstring from = pathOrRaise(source);
    const std::wstring to = pathOrRaise(destination, true);
    Handle in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!in.valid()) raiseLastError();
    if (offset > static_cast<uint64_t>(std::numeric_limits<LONGLONG>::max()))
        throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
    LARGE_INTEGER start;
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (!::SetFilePointerEx(in.get(), start, nullptr, FILE_BEGIN)) raiseLastError();
    TemporaryFile part(to);
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(length, 1u << 20)));
    for (uint64_t left = length; left > 0;) {
        const DWORD n = readSome(in.get(), buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
        if (n == 0) throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
        writeAll(part.handle(), buffer.data(), n);
        left -= n;
    }
    part.commit(to, true);
}

// Each file's own flush. Windows offers a program no flush of a folder
// entry: FlushFileBuffers is made for files and, for administrators only,
// whole volumes. NTFS journals its folder entries, so a power cut leaves
// the folder whole, though an entry made just before may be missing.
std::vector<FileSystem::FlushFailure> FileSystem::FlushToStableStorage(const std::vector<std::string>& paths) const {
    std::vector<FlushFailure> failures;
    for (const std::string& path : paths) {
        try {
            // Flushed before it became read-only (CopyFile): it cannot be
            // opened for writing, and has not been written since.
            if (const DWORD a = attributesOf(path); a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY))
                continue;
            // Write access, which the flush needs; a link in the file's place is not followed.
            Handle file(::CreateFileW(pathOrRaise(path).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!file.valid()) {
                const DWORD code = ::GetLastError();
                if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) continue;  // moved away
                raiseWinError(code);
            }
            if (!::FlushFileBuffers(file.get()) || !file.close()) raiseLastError();
        } catch (const Error& e) {
            failures.push_back({path, e});
        }
    }
    return failures;
}

void FileSystem::WriteFileAtomically(const std::string& path, const std::string& content) const {
    const std::wstring target = pathOrRaise(path, true);
    TemporaryFile part(target);
    writeAll(part.handle(), content.data(), content.size());
    part.commit(target, true);
}

void FileSystem::AppendToFile(const std::string& path, const std::string& text) const {
    // Append access alone: every write lands at the end, whoever else appends.
    Handle out(::CreateFileW(pathOrRaise(path, true).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) raiseLastError(true);
    writeAll(out.get(), text.data(), text.size());
    if (!out.close()) raiseLastError();
}

void FileSystem::RemoveOwnTemporaryFiles(const std::string& folder) const {
    const std::wstring wide = withoutTrailingSeparators(pathOrRaise(folder, true));
    forEachEntry(wide, L"jor-*.part", [&](const std::wstring& name, DWORD attributes) {
        // The pattern also matches short names and longer ones: the whole name decides.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !ownTemporaryName(utf8FromWide(name))) return;
        try {
            removeEntry(wide + L"\\" + name, attributes);
        } catch (const Error&) {
        }
    });
}

}  // namespace jor
