// The Linux helpers behind file_descriptors.h: the umask, writing whole, temporary files and their commit.
#include "platform/linux/file_descriptors.h"

#include "platform/file_system.h"
#include "platform/linux/errno_error.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>

namespace jor {

mode_t currentUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
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

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

Fd createTemporaryBeside(const std::string& destination, std::string& temp) {
    const std::string folder = folderOf(systemPath(destination));
    for (int attempt = 0;; ++attempt) {
        unsigned char bytes[8];
        if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) raiseErrno(errno);
        temp = folder + "/" + makeOwnTemporaryName(bytes);
        Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() >= 0) {
            // In use while it is written: the clean-up of leftovers passes a locked one by.
            ::flock(fd.get(), LOCK_EX | LOCK_NB);
            return fd;
        }
        if (errno != EEXIST || attempt >= 100) raiseErrno(errno, true);
    }
}

void writeThroughTemporary(const std::string& destination, bool overwrite, mode_t mode,
                           const std::function<void(int fd)>& fill) {
    std::string temp;
    Fd out = createTemporaryBeside(destination, temp);
    try {
        fill(out.get());
        if (::fchmod(out.get(), mode) != 0) raiseErrno(errno);
        if (out.release() != 0) raiseErrno(errno);
        commit(temp, destination, overwrite);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
}

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

}  // namespace jor
