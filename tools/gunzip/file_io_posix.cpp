// What gunzip.exe needs of a POSIX system: its files, opened as gzip opens them.
#include "file_io.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gunzip {
namespace {

[[noreturn]] void raiseErrno(int code) {
    IoFailure failure{std::strerror(code)};
    failure.missing = code == ENOENT;
    failure.taken = code == EEXIST;
    throw failure;
}

constexpr int CaughtSignals[] = {SIGHUP, SIGINT, SIGPIPE, SIGTERM, SIGXCPU, SIGXFSZ};

// Ended by a signal it can catch, gzip removes its unfinished output; so do we.
const char* volatile outputInProgress = nullptr;

extern "C" void removeOutputAndEnd(int signal) {
    if (const char* name = outputInProgress) ::unlink(name);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// Between creating (or closing) the output and noting it, no signal may strike.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t caught;
        sigemptyset(&caught);
        for (const int s : CaughtSignals) sigaddset(&caught, s);
        ::sigprocmask(SIG_BLOCK, &caught, &before_);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }

private:
    sigset_t before_;
};

void catchSignals() {
    static bool done = false;
    if (done) return;
    done = true;
    for (const int s : CaughtSignals) {
        struct sigaction old = {};
        // Signals ignored by whoever started us stay ignored, as with gzip.
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = removeOutputAndEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, &action, nullptr);
    }
}

}  // namespace

std::vector<NativeString> arguments(int argc, char** argv) {
    std::vector<NativeString> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

void complain(const NativeString& name, std::string_view text) {
    std::fprintf(stderr, "gunzip.exe: %s: %.*s\n", name.c_str(), static_cast<int>(text.size()), text.data());
}

struct InputFile::Handle {
    int fd = -1;
    struct stat status = {};
};

InputFile::InputFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile::~InputFile() {
    if (handle_ && handle_->fd >= 0) ::close(handle_->fd);
}

InputFile InputFile::open(const NativeString& name, bool followLink) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) raiseErrno(errno);
    auto handle = std::make_unique<Handle>();
    handle->fd = fd;
    InputFile file(std::move(handle));
    if (::fstat(fd, &file.handle_->status) != 0) raiseErrno(errno);
    return file;
}

EntryKind InputFile::kind() const {
    if (S_ISREG(handle_->status.st_mode)) return EntryKind::Regular;
    return S_ISDIR(handle_->status.st_mode) ? EntryKind::Directory : EntryKind::Other;
}
bool InputFile::setIdBits() const { return handle_->status.st_mode & (S_ISUID | S_ISGID); }
bool InputFile::sticky() const { return handle_->status.st_mode & S_ISVTX; }
unsigned InputFile::links() const { return static_cast<unsigned>(handle_->status.st_nlink); }

size_t InputFile::read(unsigned char* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(handle_->fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raiseErrno(errno);
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void InputFile::close() {
    const int fd = handle_->fd;
    handle_->fd = -1;
    if (::close(fd) != 0) raiseErrno(errno);
}

struct OutputFile::Handle {
    int fd = -1;
    std::string name;
    bool kept = false;
};

OutputFile::OutputFile(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
OutputFile::OutputFile(OutputFile&&) noexcept = default;

OutputFile::~OutputFile() {
    if (!handle_) return;
    if (handle_->fd >= 0) ::close(handle_->fd);
    if (!handle_->kept) {
        ::unlink(handle_->name.c_str());
        outputInProgress = nullptr;
    }
}

OutputFile OutputFile::create(const NativeString& name) {
    catchSignals();
    auto handle = std::make_unique<Handle>();
    handle->name = name;
    SignalsHeld held;
    handle->fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (handle->fd < 0) raiseErrno(errno);
    outputInProgress = handle->name.c_str();
    return OutputFile(std::move(handle));
}

void OutputFile::write(const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(handle_->fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) raiseErrno(errno);
        data += n;
        size -= static_cast<size_t>(n);
    }
}

bool OutputFile::copyAttributes(const InputFile& input, std::string& why) {
    const struct stat& from = input.handle_->status;
    const int fd = handle_->fd;
    bool ok = true;
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (::futimens(fd, times) != 0) {
        ok = false;
        why = std::strerror(errno);
    }
    // Group first, then the mode, then the owner; refused changes of
    // ownership are no failure (gzip ignores them too).
    [[maybe_unused]] int ignored = ::fchown(fd, static_cast<uid_t>(-1), from.st_gid);
    if (::fchmod(fd, from.st_mode & 0777) != 0) {
        ok = false;
        why = std::strerror(errno);
    }
    ignored = ::fchown(fd, from.st_uid, static_cast<gid_t>(-1));
    return ok;
}

void OutputFile::keep() {
    SignalsHeld held;
    const int fd = handle_->fd;
    handle_->fd = -1;
    if (::close(fd) != 0) raiseErrno(errno);
    handle_->kept = true;
    outputInProgress = nullptr;
}

void removeEntry(const NativeString& name) {
    if (::unlink(name.c_str()) != 0) raiseErrno(errno);
}

}  // namespace gunzip
