// What the Windows file system sources share: the handle, the path check, attributes, writing and temporary files.
#pragma once

#include "platform/win32/windows_api.h"

#include <cstddef>
#include <string>
#include <utility>

namespace jor {

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : h_(std::exchange(other.h_, INVALID_HANDLE_VALUE)) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) {
            close();
            h_ = std::exchange(other.h_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
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
std::wstring pathOrRaise(const std::string& path, bool isFolder = false);

// INVALID_FILE_ATTRIBUTES when the path names nothing; links are not followed.
DWORD attributesOf(const std::string& path);
// The attributes of what `h` has open. Not GetFileInformationByHandle: its
// volume serial number costs Wine a call to its mount manager, some 0.7 ms.
DWORD attributesOfHandle(HANDLE h, bool isFolder = false);

// The buffer of a copy: larger ones would come fresh from the system each
// time, and Wine pays some 12 us for each of their pages at first touch.
inline constexpr size_t CopyBufferSize = 256 * 1024;

void writeAll(HANDLE h, const char* data, size_t size);

// A new file of our own beside a destination, removed again should anything
// after its creation fail. Created new under a random name (another one when
// the name is taken), so a name planted in a shared folder, a link above
// all, is never written through; its length does not depend on the
// destination's, which may already be at the file system's limit.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::wstring& destination);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    HANDLE handle() const { return handle_.get(); }
    const std::wstring& path() const { return path_; }
    // CloseHandle reports late write errors (a full network drive).
    void close();
    void commit(const std::wstring& destination, bool overwrite);
    // For a file that is to be read-only, which nobody may open for writing
    // afterwards: renamed while still open, flushed, name included, then
    // given its attributes, and closed.
    void commitFlushed(const std::wstring& destination, bool overwrite, DWORD attributes);

private:
    void renameTo(const std::wstring& destination, bool overwrite);

    Handle handle_{INVALID_HANDLE_VALUE};
    std::wstring path_;
};

}  // namespace jor
