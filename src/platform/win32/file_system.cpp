#include "platform/file_system.h"

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
                                     FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE |
                                     FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_COMPRESSED;
constexpr DWORD SettableAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    // CloseHandle reports late write errors (a full network drive).
    bool close() { return !valid() || ::CloseHandle(std::exchange(h_, INVALID_HANDLE_VALUE)) != 0; }

private:
    HANDLE h_;
};

std::wstring pathOrNotFound(const std::string& path, bool isFolder = false) {
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

// A complete temporary file under `temp` and its removal should anything
// after its creation fail.
class PartialFile {
public:
    explicit PartialFile(std::wstring path) : path_(std::move(path)) {}
    ~PartialFile() {
        if (path_.empty()) return;
        ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path_.c_str());
    }
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    const std::wstring& path() const { return path_; }
    // Created new, never through a name that already exists (a link an
    // attacker left there, or another writer's file).
    HANDLE create() {
        const HANDLE h = ::CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD code = ::GetLastError();
            path_.clear();  // not ours to remove
            raiseWinError(code, true);
        }
        return h;
    }
    void commit(const std::wstring& destination, bool overwrite) {
        if (!::MoveFileExW(path_.c_str(), destination.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0))
            raiseLastError();
        path_.clear();
    }

private:
    std::wstring path_;
};

struct FindCloser {
    HANDLE h;
    ~FindCloser() { ::FindClose(h); }
};

bool isDotOrDotDot(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Calls `visit(path, attributes)` for everything below `folder`, deepest
// first; reparse points are visited, never entered.
template <typename Visit>
void walk(const std::wstring& folder, const Visit& visit) {
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return;
        raiseLastError(true);
    }
    const FindCloser closer{find};
    do {
        if (isDotOrDotDot(found.cFileName)) continue;
        const std::wstring path = folder + L"\\" + found.cFileName;
        const DWORD a = found.dwFileAttributes;
        if ((a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) walk(path, visit);
        visit(path, a);
    } while (::FindNextFileW(find, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) raiseLastError(true);
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

std::string FileSystem::partialName(const std::string& destination) {
    return destination + ".part";
}

bool FileSystem::FolderExists(const std::string& path) const {
    const DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSystem::FileExists(const std::string& path) const {
    const DWORD a = attributesOf(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

void FileSystem::CreateFolder(const std::string& path) const {
    if (!::CreateDirectoryW(pathOrNotFound(path, true).c_str(), nullptr)) raiseLastError(true);
}

void FileSystem::CopyFile(const std::string& source, const std::string& destination, bool overwrite) const {
    const std::wstring from = pathOrNotFound(source);
    const std::wstring to = pathOrNotFound(destination, true);
    // Read-only, as a disc allows; a link on the disc is opened as itself so
    // that it never brings a local file along.
    Handle in(::CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                            nullptr));
    if (!in.valid()) raiseLastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(in.get(), &info)) raiseLastError();
    // Folders, links and devices have no content of their own to copy.
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        ::GetFileType(in.get()) != FILE_TYPE_DISK)
        throw Error(err::PathFileAccess, describeError(err::PathFileAccess));
    if (const DWORD existing = ::GetFileAttributesW(to.c_str()); existing != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite) raiseWinError(ERROR_FILE_EXISTS);
        // As the system's own copy: a read-only destination is never replaced
        // (Wine's rename would replace it).
        if (existing & FILE_ATTRIBUTE_READONLY) raiseWinError(ERROR_ACCESS_DENIED);
    }

    const auto temp = systemPath(partialName(destination));
    PartialFile part(*temp);
    {
        Handle out(part.create());
        copyContents(in.get(), out.get());
        if (!out.close()) raiseLastError();
    }
    // The attributes come over as the system's own copy carries them.
    if (const DWORD carried = info.dwFileAttributes & SettableAttributes)
        if (!::SetFileAttributesW(part.path().c_str(), carried)) raiseLastError();
    part.commit(to, overwrite);
}

void FileSystem::DeleteFile(const std::string& path, bool force) const {
    const std::wstring wide = pathOrNotFound(path);
    const DWORD a = existingAttributes(wide, false);
    if (a & FILE_ATTRIBUTE_DIRECTORY) raiseNotFound();
    if (a & FILE_ATTRIBUTE_READONLY) {
        if (!force) raiseWinError(ERROR_ACCESS_DENIED);
        if (!::SetFileAttributesW(wide.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY))) raiseLastError();
    }
    if (!::DeleteFileW(wide.c_str())) raiseLastError();
}

void FileSystem::DeleteFolder(const std::string& path, bool force) const {
    const std::wstring wide = withoutTrailingSeparators(pathOrNotFound(path, true));
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
    const std::wstring wide = withoutTrailingSeparators(pathOrNotFound(path, true));
    const DWORD a = existingAttributes(wide, true);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) raiseNotFound(true);
    FolderListing listing;
    const bool endsWithSeparator = path.back() == '\\' || path.back() == '/';
    WIN32_FIND_DATAW found;
    const HANDLE find = ::FindFirstFileExW((wide + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                           nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        // An empty drive root lists not even "." and "..".
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) return listing;
        raiseLastError(true);
    }
    const FindCloser closer{find};
    do {
        if (isDotOrDotDot(found.cFileName)) continue;
        const DWORD entry = found.dwFileAttributes;
        // Links to folders (junctions, symbolic links) are not walked: no cycles, nothing off the medium.
        if ((entry & FILE_ATTRIBUTE_DIRECTORY) && (entry & FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        const std::string name = utf8FromWide(found.cFileName);
        FileEntry file{name, endsWithSeparator ? path + name : path + "\\" + name};
        if (entry & FILE_ATTRIBUTE_DIRECTORY)
            listing.SubFolders.push_back(std::move(file));
        else
            listing.Files.push_back(std::move(file));
    } while (::FindNextFileW(find, &found));
    if (::GetLastError() != ERROR_NO_MORE_FILES) raiseLastError(true);
    return listing;
}

int32_t FileSystem::FolderAttributes(const std::string& path) const {
    const DWORD a = existingAttributes(pathOrNotFound(path, true), true);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) raiseNotFound(true);
    return static_cast<int32_t>(a & ReportedAttributes);
}

void FileSystem::SetFileAttributes(const std::string& path, int32_t attributes) const {
    const std::wstring wide = pathOrNotFound(path);
    const DWORD a = existingAttributes(wide, false);
    if (a & FILE_ATTRIBUTE_DIRECTORY) raiseNotFound();
    const DWORD wanted = static_cast<DWORD>(attributes) & SettableAttributes;
    if (!::SetFileAttributesW(wide.c_str(), wanted ? wanted : FILE_ATTRIBUTE_NORMAL)) raiseLastError();
}

std::string FileSystem::ReadWholeFile(const std::string& path) const {
    Handle h(::CreateFileW(pathOrNotFound(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.valid()) raiseLastError();
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(h.get(), &size)) raiseLastError();
    if (static_cast<unsigned long long>(size.QuadPart) >= std::string().max_size())
        throw Error(err::OutOfMemory, describeError(err::OutOfMemory));
    std::string content(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const size_t left = content.size() - done;
        DWORD n = 0;
        if (!::ReadFile(h.get(), content.data() + done, left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left), &n,
                        nullptr))
            raiseLastError();
        if (n == 0) break;
        done += n;
    }
    content.resize(done);
    return content;
}

void FileSystem::WriteFileAtomically(const std::string& path, const std::string& content) const {
    const std::wstring target = pathOrNotFound(path, true);
    PartialFile part(*systemPath(partialName(path)));
    {
        Handle out(part.create());
        writeAll(out.get(), content.data(), content.size());
        if (!out.close()) raiseLastError();
    }
    part.commit(target, true);
}

void FileSystem::AppendToFile(const std::string& path, const std::string& text) const {
    // Append access alone: every write lands at the end, whoever else appends.
    Handle out(::CreateFileW(pathOrNotFound(path, true).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) raiseLastError(true);
    writeAll(out.get(), text.data(), text.size());
    if (!out.close()) raiseLastError();
}

}  // namespace jor
