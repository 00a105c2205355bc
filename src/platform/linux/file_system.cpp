#include "platform/file_system.h"

#include "platform/linux/errno_error.h"
#include "platform/linux/folder_verdict.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace jor {
namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() reports late write errors (full disk on some file systems).
    int release() { const int r = ::close(fd_); fd_ = -1; return r; }
private:
    int fd_;
};

// The system reads a path up to its first NUL byte: such a path would act on
// another one (a folder setting "victim<NUL>/junk" on "victim").
bool nameable(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

const char* systemPath(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw Error(err::BadFileName, describeError(err::BadFileName));
    return path.c_str();
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const char* name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

int32_t attributesOf(const std::string& path, const struct stat& st) {
    int32_t a = 0;
    if (S_ISDIR(st.st_mode)) a |= attr::Directory;
    if (!(st.st_mode & S_IWUSR)) a |= attr::ReadOnly;
    if (baseName(path).starts_with('.')) a |= attr::Hidden;
    return a;
}

mode_t currentUmask() {
    static const mode_t mask = [] { const mode_t m = ::umask(0); ::umask(m); return m; }();
    return mask;
}

void writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            raiseErrno(errno);
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Kernel-side copy; falls back to sendfile-free chunked reads only where the
// file systems refuse copy_file_range.
void copyContents(int in, int out, off_t size) {
    off_t left = size;
    bool useRange = true;
    while (left > 0 && useRange) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(left), 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
                useRange = false;
                break;
            }
            raiseErrno(errno);
        }
        if (n == 0) {
            // Some file systems report an early end; the read loop takes the rest.
            useRange = false;
            break;
        }
        left -= n;
    }
    if (useRange) return;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            raiseErrno(errno);
        }
        if (n == 0) return;
        writeAll(out, buffer.data(), static_cast<size_t>(n));
    }
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new file of our own beside `destination`, readable by the user alone until
// it is complete. Exclusive and without following links, so a name planted in
// a shared folder is never written through; a taken name is simply passed by.
// The name's length does not depend on the destination's, which may already
// be at the file system's limit.
Fd createTemporaryBeside(const std::string& destination, std::string& temp) {
    const std::string folder = folderOf(systemPath(destination));
    for (int attempt = 0;; ++attempt) {
        unsigned char bytes[8];
        if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) raiseErrno(errno);
        static const char hex[] = "0123456789abcdef";
        std::string name = "jor-";
        for (const unsigned char b : bytes) {
            name.push_back(hex[b >> 4]);
            name.push_back(hex[b & 15]);
        }
        temp = folder + "/" + name + ".part";
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() >= 0) return fd;
        if (errno != EEXIST || attempt >= 100) raiseErrno(errno, true);
    }
}

// Moves a complete temporary file into place.
void commit(const std::string& temp, const std::string& destination, bool overwrite) {
    if (overwrite) {
        if (::rename(temp.c_str(), destination.c_str()) != 0) raiseErrno(errno);
        return;
    }
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, destination.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EINVAL && errno != ENOSYS) raiseErrno(errno);
    // File systems without RENAME_NOREPLACE: a hard link cannot replace either.
    if (::link(temp.c_str(), destination.c_str()) == 0) {
        ::unlink(temp.c_str());
        return;
    }
    if (errno == EEXIST) raiseErrno(errno);
    struct stat st;
    if (::lstat(destination.c_str(), &st) == 0) raiseErrno(EEXIST);
    if (::rename(temp.c_str(), destination.c_str()) != 0) raiseErrno(errno);
}

}  // namespace

bool FileSystem::FolderExists(const std::string& path) const {
    struct stat st;
    return nameable(path) && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileSystem::FileExists(const std::string& path) const {
    struct stat st;
    return nameable(path) && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

void FileSystem::CreateFolder(const std::string& path) const {
    if (path.empty()) raiseErrno(ENOENT, true);
    if (::mkdir(systemPath(path), 0777) != 0) raiseErrno(errno, true);
}

void FileSystem::CreatePrivateFolder(const std::string& path) const {
    if (path.empty()) raiseErrno(ENOENT, true);
    if (::mkdir(systemPath(path), 0700) != 0) raiseErrno(errno, true);
}

namespace {

// The entry itself, a link in its place not followed. O_PATH needs no
// permission on it: another user's closed folder is judged as well.
Fd openEntry(const std::string& path) {
    Fd fd(::open(systemPath(path), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (fd.get() < 0) raiseErrno(errno, true);
    return fd;
}

FolderVerdict verdictOf(int entry) {
    struct stat st;
    struct statfs volume;
    if (::fstat(entry, &st) != 0 || ::fstatfs(entry, &volume) != 0) raiseErrno(errno, true);
    return judgeFolder({st.st_mode, st.st_uid, ::geteuid(), static_cast<long>(volume.f_type)});
}

[[noreturn]] void refuse(FolderVerdict verdict) {
    const int32_t number = verdict == FolderVerdict::NotAFolder ? err::PathFileAccess : err::PermissionDenied;
    throw Error(number, describeError(number));
}

}  // namespace

FolderVerdict FileSystem::PreparePrivateFolder(const std::string& path) const {
    const Fd entry = openEntry(path);
    const FolderVerdict verdict = verdictOf(entry.get());
    if (verdict == FolderVerdict::NotAFolder) refuse(verdict);
    if (verdict != FolderVerdict::MakePrivate) return verdict;
    // Through the entry judged, so a folder swapped in meanwhile is not the one changed.
    if (::fchmodat(entry.get(), ".", 0700, 0) != 0) raiseErrno(errno, true);
    if (const FolderVerdict now = verdictOf(entry.get()); now != FolderVerdict::Use) refuse(now);
    return verdict;
}

void FileSystem::CheckPrivateFolder(const std::string& path) const {
    const FolderVerdict verdict = verdictOf(openEntry(path).get());
    if (verdict != FolderVerdict::Use && verdict != FolderVerdict::NoAccessLists) refuse(verdict);
}

std::optional<FolderIdentity> FileSystem::FolderIdentityOf(const std::string& path) const {
    struct stat st;
    if (!nameable(path) || ::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
    return FolderIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

size_t FileSystem::MaxNameLength(const std::string& folder) const {
    errno = 0;
    const long limit = nameable(folder) ? ::pathconf(folder.c_str(), _PC_NAME_MAX) : -1;
    return limit > 0 ? static_cast<size_t>(limit) : 255;
}

void FileSystem::CopyFile(const std::string& source, const std::string& destination, bool overwrite) const {
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer forever.
    // No links followed: a link on a disc must not bring a local file along.
    Fd in(::open(systemPath(source), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) raiseErrno(errno);
    struct stat st;
    if (::fstat(in.get(), &st) != 0) raiseErrno(errno);
    if (S_ISDIR(st.st_mode)) raiseErrno(EISDIR);
    // A FIFO or device has no end to copy up to.
    if (!S_ISREG(st.st_mode)) throw Error(err::PathFileAccess, describeError(err::PathFileAccess));
    if (!overwrite && ::access(systemPath(destination), F_OK) == 0) raiseErrno(EEXIST);

    std::string temp;
    Fd out = createTemporaryBeside(destination, temp);
    try {
        copyContents(in.get(), out.get(), st.st_size);
        // Only the read-only attribute comes over from the medium; its other
        // mode bits (set-user-id, execute, world-readable) do not.
        mode_t mode = 0666 & ~currentUmask();
        if (!(st.st_mode & S_IWUSR)) mode &= ~mode_t(0222);
        if (::fchmod(out.get(), mode) != 0) raiseErrno(errno);
        if (out.release() != 0) raiseErrno(errno);
        commit(temp, destination, overwrite);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

void FileSystem::DeleteFile(const std::string& path, bool force) const {
    struct stat st;
    if (::lstat(systemPath(path), &st) != 0) raiseErrno(errno);
    if (S_ISDIR(st.st_mode)) raiseErrno(ENOENT);
    if (!force && (attributesOf(path, st) & attr::ReadOnly)) raiseErrno(EACCES);
    if (::unlink(path.c_str()) != 0) raiseErrno(errno);
}

void FileSystem::DeleteFolder(const std::string& path, bool force) const {
    namespace stdfs = std::filesystem;
    struct stat st;
    if (::lstat(systemPath(path), &st) != 0) raiseErrno(errno, true);
    if (!S_ISDIR(st.st_mode)) raiseErrno(ENOENT, true);
    std::error_code ec;
    if (!force) {
        // Without force, read-only content keeps the whole folder.
        for (stdfs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            struct stat est;
            const std::string p = it->path().string();
            if (::lstat(p.c_str(), &est) == 0 && !(est.st_mode & S_IWUSR) && !S_ISLNK(est.st_mode))
                raiseErrno(EACCES);
        }
        if (ec) raiseErrno(ec.value(), true);
    }
    stdfs::remove_all(path, ec);
    if (ec) raiseErrno(ec.value(), true);
}

FolderListing FileSystem::GetFolder(const std::string& path) const {
    const int fd = ::open(systemPath(path), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) raiseErrno(errno, true);
    FolderListing listing;
    struct stat self;
    if (::fstat(fd, &self) != 0) {
        const int saved = errno;
        ::close(fd);
        raiseErrno(saved, true);
    }
    listing.Identity = {static_cast<uint64_t>(self.st_dev), static_cast<uint64_t>(self.st_ino)};
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int saved = errno;
        ::close(fd);
        raiseErrno(saved, true);
    }
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) {
            const int saved = errno;
            ::closedir(dir);
            if (saved != 0) raiseErrno(saved, true);
            return listing;
        }
        const char* name = e->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            // Disc file systems do not tell the kind in the listing. Links are
            // never followed (no cycles); an entry that cannot be looked at
            // is kept as a file, so that its copy names it in the log.
            struct stat st;
            folder = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        (folder ? listing.SubFolders : listing.Files).push_back({name, join(path, name)});
    }
}

int32_t FileSystem::FolderAttributes(const std::string& path) const {
    struct stat st;
    if (::stat(systemPath(path), &st) != 0) raiseErrno(errno, true);
    if (!S_ISDIR(st.st_mode)) raiseErrno(ENOENT, true);
    return attributesOf(path, st);
}

void FileSystem::SetFileAttributes(const std::string& path, int32_t attributes) const {
    struct stat st;
    if (::stat(systemPath(path), &st) != 0) raiseErrno(errno);
    if (S_ISDIR(st.st_mode)) raiseErrno(ENOENT);
    mode_t mode = 0666 & ~currentUmask();
    if (attributes & attr::ReadOnly) mode &= ~mode_t(0222);
    if (::chmod(path.c_str(), mode) != 0) raiseErrno(errno);
}

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
    std::string temp;
    Fd out = createTemporaryBeside(path, temp);
    try {
        writeAll(out.get(), content.data(), content.size());
        if (::fchmod(out.get(), 0666 & ~currentUmask()) != 0) raiseErrno(errno);
        if (out.release() != 0) raiseErrno(errno);
        commit(temp, path, true);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

void FileSystem::AppendToFile(const std::string& path, const std::string& text) const {
    Fd out(::open(systemPath(path), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (out.get() < 0) raiseErrno(errno, true);
    writeAll(out.get(), text.data(), text.size());
    if (out.release() != 0) raiseErrno(errno);
}

namespace {

// Copies `length` bytes from `offset` of `in` to the end of `out`, in the
// kernel where the file systems allow it.
void copyRange(int in, off_t offset, int out, uint64_t length) {
    uint64_t left = length;
    off_t position = offset;
    while (left > 0) {
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
                                const std::string& destination) const {
    Fd in(::open(systemPath(source), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (in.get() < 0) raiseErrno(errno);
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        throw Error(err::InputPastEnd, describeError(err::InputPastEnd));
    std::string temp;
    Fd out = createTemporaryBeside(destination, temp);
    try {
        copyRange(in.get(), static_cast<off_t>(offset), out.get(), length);
        if (::fchmod(out.get(), 0666 & ~currentUmask()) != 0) raiseErrno(errno);
        if (out.release() != 0) raiseErrno(errno);
        commit(temp, destination, true);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
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

void FileSystem::RemoveOwnTemporaryFiles(const std::string& folder) const {
    const Fd dir(::open(systemPath(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) raiseErrno(errno, true);
    DIR* listing = ::fdopendir(::dup(dir.get()));
    if (!listing) raiseErrno(errno, true);
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, ::closedir);
    while (const dirent* entry = ::readdir(listing))
        if (ownTemporaryName(entry->d_name)) ::unlinkat(dir.get(), entry->d_name, 0);
}

}  // namespace jor
