// Our decoder against the system's gzip on the same bytes: the same verdict
// (done, done with a warning, failed) and, unless it failed, the same output.
#include "gunzip/decompress.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class MemorySource final : public gunzip::Source {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t read(unsigned char* buffer, size_t size) override {
        const size_t n = std::min(size, size_ - pos_);
        if (n > 0) std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_, pos_ = 0;
};

class StringSink final : public gunzip::Sink {
public:
    void write(const unsigned char* data, size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
    }
    std::string bytes;
};

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

std::string folder, inputFile;

void removeFolder() { std::filesystem::remove_all(folder); }

struct Verdict {
    int status = -1;
    std::string output;
};

// `gzip -d -c` on the bytes, from a file as gunzip.exe gets them.
Verdict systemGzip(const uint8_t* data, size_t size) {
    const int fd = ::open(inputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    require(fd >= 0 && ::write(fd, data, size) == static_cast<ssize_t>(size) && ::close(fd) == 0,
            "cannot write the input");
    int pipeFds[2];
    require(::pipe2(pipeFds, O_CLOEXEC) == 0, "no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char gzip[] = "gzip", d[] = "-d", c[] = "-c";
    char* argv[] = {gzip, d, c, inputFile.data(), nullptr};
    pid_t pid = -1;
    require(::posix_spawnp(&pid, "gzip", &actions, nullptr, argv, environ) == 0, "cannot start gzip");
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    Verdict verdict;
    char buffer[65536];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) continue;  // EINTR
        verdict.output.append(buffer, static_cast<size_t>(n));
    }
    ::close(pipeFds[0]);
    // libFuzzer's timer interrupts the wait; an unchecked wait reads as exit 0.
    int status = 0;
    pid_t waited;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}
    require(waited == pid, "cannot wait for gzip");
    require(WIFEXITED(status), "gzip did not exit");
    verdict.status = WEXITSTATUS(status);
    return verdict;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/fuzz-gunzip-XXXXXX";
    require(::mkdtemp(pattern) != nullptr, "no scratch folder");
    folder = pattern;
    inputFile = folder + "/in.z";
    std::atexit(removeFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource input(data, size);
    StringSink output;
    const gunzip::Result result = gunzip::decompress(input, output);
    // Pack, LZH and zip: gzip reads them, we refuse them.
    if (result.outcome == gunzip::Outcome::Unsupported) return 0;

    const Verdict gzip = systemGzip(data, size);
    const int ours = result.outcome == gunzip::Outcome::Ok ? 0 : result.outcome == gunzip::Outcome::Warning ? 2 : 1;
    if (ours != gzip.status) {
        std::fprintf(stderr, "gzip exits with %d, ours decides %d (%s)\n", gzip.status, ours, result.message.c_str());
        require(false, "not gzip's verdict");
    }
    if (ours != 1) require(output.bytes == gzip.output, "not gzip's output");
    return 0;
}
