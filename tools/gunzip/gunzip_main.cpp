// gunzip.exe: the decompressor the program starts for each archive object.
// It runs the system's gzip with its own arguments as a child and waits for
// it, so a process named gunzip.exe exists for exactly as long as the work
// lasts, and everything gzip -d reads (gzip, compress, pack) decompresses.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    std::vector<char*> args;
    args.push_back(const_cast<char*>("gzip"));
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    args.push_back(nullptr);

    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, "gzip", nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        std::fprintf(stderr, "gunzip.exe: cannot start gzip: %s\n", std::strerror(rc));
        return 127;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 126;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
