// Contents on Linux: read whole or in chunks, written as a range, atomically or appended, flushed to disk.
#include "platform/file_system.h"

#include "platform/linux/errno_error.h"
#include "platform/linux/file_descriptors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <vector>

namespace jor {

std::string FileSystem::ReadWholeFile(const std::string& path) const {
    Fd fd(::open(systemPath(path), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) raiseErrno(errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) raiseErrno(errno);
    std::string content(static_cast<size_t>(st.st_size), '\0');
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::read(fd.get(), content.data() + done, content.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            raiseErrno(errno);
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    content.resize(done);
    return content;
}

void FileSystem::WriteFileAtomically(const std::string& path, const std::string& content) const {
    writeThroughTemporary(path, true, 0666 & ~currentUmask(),
                          [&](int out) { writeAll(out, content.data(), content.size()); });
}

void FileSystem::AppendToFile(const std::string& path, const std::string& text) const {
    Fd out(::open(systemPath(path), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (out.get() < 0) raiseErrno(errno, true);
    writeAll(out.get(), text.data(), text.size());
    if (out.release() != 0) raiseErrno(errno);
}

namespace {

// Copies `length` bytes from `offset` of `in` to the end of `out`, in the
// kernel where the file systems allow it and nobody is to see the bytes.
void copyRange(int in, off_t offset, int out, uint64_t length, const WrittenBytes& written) {
    uint64_t left = length;
    off_t position = offset;
    while (left > 0 && !written) {
        const size_t step = static_cast<size_t>(std::min<uint64_t>(left, 1u << 30));
        const ssize_t n = ::copy_file_range(in, &position, out, nullptr, step, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) break;
            raiseErrno(errno);
        }
        // An early end is told apart from a short source by the read loop.
        if (n == 0) break;
        left -= static_cast<uint64_t>(n);
    }
    std::vector<char> buffer(left > 0 ? std::min<uint64_t>(left, 1u << 20) : 0);
    while (left > 0) {
        const ssize_t n = ::pread(in, buffer.data(), std::min<uint64_t>(left, buffer.size()), position);
        if (n < 0) {
            if (errno == EINTR) continue;
            raiseErrno(errno);
        }
        if (n == 0) throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
        writeAll(out, buffer.data(), static_cast<size_t>(n));
        if (written) written(std::string_view(buffer.data(), static_cast<size_t>(n)));
        position += n;
        left -= static_cast<uint64_t>(n);
    }
}

Error errnoError(int e) {
    const int32_t number = numberForErrno(e);
    return Error(number, describeError(number));
}

// fsync of the file and of the folder that holds its entry; 0 or an errno value.
int flushOne(const std::string& path) {
    Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0 || ::fsync(file.get()) != 0) return errno;
    Fd folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0 || ::fsync(folder.get()) != 0) return errno;
    return 0;
}

void readChunks(int fd, size_t chunkSize, const std::function<bool(std::string_view)>& consume) {
    struct stat st;
    if (::fstat(fd, &st) != 0) raiseErrno(errno);
    // As long as the file was when opened, as a whole read would take it.
    uint64_t left = static_cast<uint64_t>(st.st_size);
    const size_t bufferSize = static_cast<size_t>(std::min<uint64_t>(left, std::max<size_t>(chunkSize, 1)));
    // Not zeroed: only what a read fills is handed over.
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    while (left > 0) {
        const ssize_t n = ::read(fd, buffer.get(), static_cast<size_t>(std::min<uint64_t>(left, bufferSize)));
        if (n < 0) {
            if (errno == EINTR) continue;
            raiseErrno(errno);
        }
        if (n == 0) return;
        left -= static_cast<uint64_t>(n);
        if (!consume(std::string_view(buffer.get(), static_cast<size_t>(n)))) return;
    }
}

}  // namespace

void FileSystem::ReadFileInChunks(const std::string& path, size_t chunkSize,
                                  const std::function<bool(std::string_view)>& consume) const {
    Fd fd(::open(systemPath(path), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0) raiseErrno(errno);
    readChunks(fd.get(), chunkSize, consume);
}

void FileSystem::ReadSharedFileInChunks(const std::string& path, size_t chunkSize,
                                        const std::function<bool(std::string_view)>& consume) const {
    Fd fd(::open(systemPath(path), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) raiseErrno(errno);
    readChunks(fd.get(), chunkSize, consume);
}

void FileSystem::WriteFileRange(const std::string& source, uint64_t offset, uint64_t length,
                                const std::string& destination, const WrittenBytes& written) const {
    Fd in(::open(systemPath(source), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) raiseErrno(errno);
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
    writeThroughTemporary(destination, true, 0666 & ~currentUmask(),
                          [&](int out) { copyRange(in.get(), static_cast<off_t>(offset), out, length, written); });
}

std::vector<FileSystem::FlushFailure> FileSystem::FlushToStableStorage(const std::vector<std::string>& paths) const {
    // One syncfs per file system pays for one device flush where a flush per
    // file pays one each. Files are flushed one by one only where their file
    // system reported a failure, to tell which of them it concerns.
    enum class Folder { Flushed, Failed, Gone };
    std::map<std::string, Folder> folders;
    std::map<dev_t, bool> devicesFlushed;
    std::vector<FlushFailure> failures;
    for (const std::string& path : paths) {
        const std::string folder = folderOf(path);
        auto known = folders.find(folder);
        if (known == folders.end()) {
            Folder state = Folder::Gone;
            Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            struct stat st;
            if (dir.get() >= 0 && ::fstat(dir.get(), &st) == 0) {
                auto device = devicesFlushed.find(st.st_dev);
                if (device == devicesFlushed.end())
                    device = devicesFlushed.emplace(st.st_dev, ::syncfs(dir.get()) == 0).first;
                state = device->second ? Folder::Flushed : Folder::Failed;
            }
            known = folders.emplace(folder, state).first;
        }
        if (known->second != Folder::Failed) continue;
        const int e = flushOne(path);
        if (e != 0 && e != ENOENT) failures.push_back({path, errnoError(e)});
    }
    return failures;
}

}  // namespace jor
