// Contents on Windows: read whole or in chunks, written as a range, atomically or appended, flushed to disk.
#include "platform/file_system.h"

#include "platform/win32/file_handles.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace jor {
namespace {

// Opened for reading and writing, created empty when missing; a link in its
// place is opened as itself and not read through.
Handle openForReading(const std::string& path) {
    Handle h(::CreateFileW(pathOrRaise(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid()) raiseLastError();
    if (attributesOfHandle(h.get()) & FILE_ATTRIBUTE_REPARSE_POINT)
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

}  // namespace

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
                                const std::string& destination, const WrittenBytes& written) const {
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
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(length, CopyBufferSize)));
    for (uint64_t left = length; left > 0;) {
        const DWORD n = readSome(in.get(), buffer.data(), static_cast<size_t>(std::min<uint64_t>(left, buffer.size())));
        if (n == 0) throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
        writeAll(part.handle(), buffer.data(), n);
        if (written) written(std::string_view(buffer.data(), n));
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

}  // namespace jor
