// What the Linux file system sources share: the descriptor, the path check, writing and temporary files.
#pragma once

#include "platform/error.h"

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>

namespace jor {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // close() reports late write errors (full disk on some file systems).
    int release() {
        const int r = ::close(fd_);
        fd_ = -1;
        return r;
    }

private:
    int fd_;
};

// The system reads a path up to its first NUL byte: such a path would act on
// another one (a folder setting "victim<NUL>/junk" on "victim").
inline bool nameable(const std::string& path) { return !path.empty() && path.find('\0') == std::string::npos; }

inline const char* systemPath(const std::string& path) {
    if (path.find('\0') != std::string::npos) throw Error(err::BadFileName, describeError(err::BadFileName));
    return path.c_str();
}

mode_t currentUmask();

void writeAll(int fd, const char* data, size_t size);

std::string folderOf(const std::string& path);

// A new file of our own beside `destination`, readable by the user alone until
// it is complete. Exclusive and without following links, so a name planted in
// a shared folder is never written through; a taken name is simply passed by.
// The name's length does not depend on the destination's, which may already
// be at the file system's limit.
Fd createTemporaryBeside(const std::string& destination, std::string& temp);

// Moves a complete temporary file into place.
void commit(const std::string& temp, const std::string& destination, bool overwrite);

// Writes `destination` whole or not at all: `fill` writes a temporary file
// beside it, which gets `mode` and then takes the destination's name.
void writeThroughTemporary(const std::string& destination, bool overwrite, mode_t mode,
                           const std::function<void(int fd)>& fill);

}  // namespace jor
