// Folders and files as entries on Linux: exist, create, copy, delete, list, identity, attributes, leftovers.
#include "platform/file_system.h"

#include "platform/linux/errno_error.h"
#include "platform/linux/file_descriptors.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

namespace jor {
namespace {

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

// Kernel-side copy; falls back to chunked reads where the file systems
// refuse copy_file_range, or where the bytes are to be seen on their way.
void copyContents(int in, int out, off_t size, const WrittenBytes& written) {
    off_t left = size;
    bool useRange = !written;
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
        if (written) written(std::string_view(buffer.data(), static_cast<size_t>(n)));
    }
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

void FileSystem::CopyFile(const std::string& source, const std::string& destination, bool overwrite,
                          bool carryAttributes, const WrittenBytes& written) const {
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

    // Only the read-only attribute comes over from the medium; its other
    // mode bits (set-user-id, execute, world-readable) do not.
    mode_t mode = 0666 & ~currentUmask();
    if (carryAttributes && !(st.st_mode & S_IWUSR)) mode &= ~mode_t(0222);
    writeThroughTemporary(destination, overwrite, mode, [&](int out) { copyContents(in.get(), out, st.st_size, written); });
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
            if (::lstat(p.c_str(), &est) == 0 && !(est.st_mode & S_IWUSR) && !S_ISLNK(est.st_mode)) raiseErrno(EACCES);
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
    listing.identity = {static_cast<uint64_t>(self.st_dev), static_cast<uint64_t>(self.st_ino)};
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
        // Disc file systems do not tell the kind in the listing, and a file's
        // size is only in its inode. Links are never followed (no cycles); an
        // entry that cannot be looked at is kept as a file, so that its copy
        // names it in the log.
        bool folder = e->d_type == DT_DIR;
        std::optional<uint64_t> size;
        if (!folder) {
            struct stat st;
            const bool known = ::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0;
            folder = known && S_ISDIR(st.st_mode);
            if (known && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
        }
        (folder ? listing.subFolders : listing.files).push_back({name, join(path, name), size});
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

void FileSystem::RemoveOwnTemporaryFiles(const std::string& folder) const {
    const Fd dir(::open(systemPath(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) raiseErrno(errno, true);
    DIR* listing = ::fdopendir(::dup(dir.get()));
    if (!listing) raiseErrno(errno, true);
    const std::unique_ptr<DIR, int (*)(DIR*)> closer(listing, ::closedir);
    while (const dirent* entry = ::readdir(listing)) {
        if (!isOwnTemporaryName(entry->d_name)) continue;
        // One another run (another program folder, another computer) is
        // writing holds its lock: it is not left over.
        const Fd file(::openat(dir.get(), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.get() < 0 ? errno == ELOOP : ::flock(file.get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dir.get(), entry->d_name, 0);
    }
}

}  // namespace jor
