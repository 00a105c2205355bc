// Folders and files as entries on Windows: exist, create, copy, delete, list, identity, attributes, leftovers.
#include "platform/file_system.h"

#include "platform/win32/file_handles.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

#include <utility>
#include <vector>

namespace jor {
namespace {

// The bits the archive tools report; the others (not indexed, sparse, ...) say
// nothing about the file's use and must not spoil a comparison with 16.
constexpr DWORD ReportedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT |
                                     FILE_ATTRIBUTE_COMPRESSED;
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

DWORD existingAttributes(const std::wstring& path, bool isFolder) {
    const DWORD a = ::GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) raiseLastError(isFolder);
    return a;
}

void copyContents(HANDLE in, HANDLE out, const WrittenBytes& written) {
    std::vector<char> buffer(CopyBufferSize);
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr)) raiseLastError();
        if (n == 0) return;
        writeAll(out, buffer.data(), n);
        if (written) written(std::string_view(buffer.data(), n));
    }
}

FolderIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
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

void FileSystem::CopyFile(const std::string& source, const std::string& destination, bool overwrite,
                          bool carryAttributes, const WrittenBytes& written) const {
    const std::wstring from = pathOrRaise(source);
    const std::wstring to = pathOrRaise(destination, true);
    // Read-only, as a disc allows; a link on the disc is opened as itself so
    // that it never brings a local file along.
    Handle in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
    if (!in.valid()) raiseLastError();
    const DWORD attributes = attributesOfHandle(in.get());
    // Folders, links and devices have no content of their own to copy.
    if (const DWORD type = ::GetFileType(in.get());
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) || type != FILE_TYPE_DISK)
        throw Error(err::PathFileAccess, describeError(err::PathFileAccess),
                    "not a file of its own (attributes " + std::to_string(attributes) + ", type " +
                        std::to_string(type) + ", Win32 error " + std::to_string(::GetLastError()) + ")");
    if (const DWORD existing = ::GetFileAttributesW(to.c_str()); existing != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite) raiseWinError(ERROR_FILE_EXISTS);
        // As the system's own copy: a read-only destination is never replaced
        // (Wine's rename would replace it).
        if (existing & FILE_ATTRIBUTE_READONLY) raiseWinError(ERROR_ACCESS_DENIED);
    }

    TemporaryFile part(to);
    copyContents(in.get(), part.handle(), written);
    // The attributes come over as the system's own copy carries them. A
    // read-only copy cannot be opened for the flush before the report (a
    // user who is not an administrator may not write it): it is flushed now.
    const DWORD carried = carryAttributes ? attributes & SettableAttributes : 0;
    if (carried & FILE_ATTRIBUTE_READONLY) return part.commitFlushed(to, overwrite, carried);
    if (carried) {
        part.close();
        if (!::SetFileAttributesW(part.path().c_str(), carried)) raiseLastError();
    }
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
            walk(wide,
                 [&](const std::wstring&, DWORD entry) { readOnly = readOnly || (entry & FILE_ATTRIBUTE_READONLY); });
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
    listing.identity = identityOf(info);
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
                FileEntry file{utf8, endsWithSeparator ? path + utf8 : path + "\\" + utf8,
                               static_cast<uint64_t>(record->EndOfFile.QuadPart)};
                // Links of every kind (symbolic links, junctions, to files or
                // folders) count as files: never walked, so no cycles and
                // nothing off the medium, and the copy names each of them.
                const DWORD a = record->FileAttributes;
                if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT))
                    listing.subFolders.push_back(std::move(file));
                else
                    listing.files.push_back(std::move(file));
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

void FileSystem::RemoveOwnTemporaryFiles(const std::string& folder) const {
    const std::wstring wide = withoutTrailingSeparators(pathOrRaise(folder, true));
    forEachEntry(wide, L"jor-*.part", [&](const std::wstring& name, DWORD attributes) {
        // The pattern also matches short names and longer ones: the whole name decides.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || !isOwnTemporaryName(utf8FromWide(name))) return;
        // One that another run (another program folder, another computer) is
        // writing is held open by it, shared with nobody: it is not left over.
        const std::wstring path = wide + L"\\" + name;
        Handle part(::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!part.valid()) return;
        if (attributes & FILE_ATTRIBUTE_READONLY) ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        FILE_DISPOSITION_INFO remove = {TRUE};
        ::SetFileInformationByHandle(part.get(), FileDispositionInfo, &remove, sizeof remove);
    });
}

}  // namespace jor
