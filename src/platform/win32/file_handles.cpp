// The Windows helpers behind file_handles.h: paths, attributes, writing whole, temporary files and their commit.
#include "platform/win32/file_handles.h"

#include "platform/file_system.h"
#include "platform/win32/long_path.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_error.h"

// After windows.h, which it needs.
#include <ntsecapi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace jor {
namespace {

std::wstring folderOf(const std::wstring& path) {
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

}  // namespace

std::wstring pathOrRaise(const std::string& path, bool isFolder) {
    if (path.find('\0') != std::string::npos) throw Error(err::BadFileName, describeError(err::BadFileName));
    auto wide = systemPath(path);
    if (!wide) raiseNotFound(isFolder);
    return std::move(*wide);
}

DWORD attributesOf(const std::string& path) {
    const auto wide = systemPath(path);
    return wide ? ::GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
}

DWORD attributesOfHandle(HANDLE h, bool isFolder) {
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) raiseLastError(isFolder);
    return basic.FileAttributes;
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

TemporaryFile::TemporaryFile(const std::wstring& destination) {
    const std::wstring folder = folderOf(destination);
    for (int attempt = 0;; ++attempt) {
        unsigned char bytes[8];
        if (!::RtlGenRandom(bytes, sizeof bytes)) raiseLastError();
        const std::string name = makeOwnTemporaryName(bytes);  // ASCII alone
        const std::wstring path = folder + L"\\" + std::wstring(name.begin(), name.end());
        // DELETE: a rename through the open handle (commitFlushed).
        handle_ = Handle(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr));
        if (handle_.valid()) {
            path_ = path;
            return;
        }
        const DWORD code = ::GetLastError();
        if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt >= 100) raiseWinError(code, true);
    }
}

TemporaryFile::~TemporaryFile() {
    handle_.close();
    if (path_.empty()) return;
    ::SetFileAttributesW(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path_.c_str());
}

void TemporaryFile::close() {
    if (!handle_.close()) raiseLastError();
}

// Renamed through the open handle, so that no other file can be slipped in
// under the temporary name meanwhile, and without the second opening a
// rename by name costs. A rename replaces a link at the destination itself,
// never its target.
void TemporaryFile::renameTo(const std::wstring& destination, bool overwrite) {
    // The system takes the new name as an NT path.
    std::wstring ntPath = destination;
    if (ntPath.starts_with(LongPathPrefix)) ntPath.replace(0, LongPathPrefix.size(), NtPathPrefix);
    std::vector<uint64_t> buffer((sizeof(FILE_RENAME_INFO) + ntPath.size() * sizeof(wchar_t) + 7) / 8);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = overwrite;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(ntPath.size() * sizeof(wchar_t));
    std::copy(ntPath.begin(), ntPath.end(), rename->FileName);
    if (!::SetFileInformationByHandle(handle_.get(), FileRenameInfo, rename, static_cast<DWORD>(buffer.size() * 8)))
        raiseLastError();
    path_ = destination;  // what a failure from here on removes
}

void TemporaryFile::commit(const std::wstring& destination, bool overwrite) {
    // Through the handle a relative name would be one in the file's own folder.
    if (handle_.valid() && destination.starts_with(LongPathPrefix)) {
        renameTo(destination, overwrite);
        close();
    } else {
        close();
        if (!::MoveFileExW(path_.c_str(), destination.c_str(), overwrite ? MOVEFILE_REPLACE_EXISTING : 0))
            raiseLastError();
    }
    path_.clear();
}

void TemporaryFile::commitFlushed(const std::wstring& destination, bool overwrite, DWORD attributes) {
    renameTo(destination, overwrite);
    FILE_BASIC_INFO basic = {};  // zero times: left as they are
    basic.FileAttributes = attributes;
    if (!::FlushFileBuffers(handle_.get()) ||
        !::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic))
        raiseLastError();
    close();
    path_.clear();
}

}  // namespace jor
