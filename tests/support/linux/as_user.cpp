// The fork, the dropping of root's rights and the way back of the child's output.
#include "support/linux/as_user.h"

#include "support/temp_tree.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace jor::test {
namespace {

enum ChildExit { ChildOk = 0, ChildCannotDrop = 3, ChildBitsIgnored = 4, ChildThrew = 5 };

void writeAllTo(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

[[noreturn]] void childMain(int out, const std::string& probe, const std::function<std::string()>& work) {
    if (::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(NoGroup) != 0 || ::setuid(Nobody) != 0) {
            writeAllTo(out, std::string("cannot become nobody (65534): ") + std::strerror(errno));
            ::_exit(ChildCannotDrop);
        }
        if (::setuid(0) == 0) {
            writeAllTo(out, "root could be regained after dropping it");
            ::_exit(ChildCannotDrop);
        }
    }
    if (::access(probe.c_str(), R_OK) == 0) {
        writeAllTo(out, "permission bits do not bind for uid " + std::to_string(::geteuid()));
        ::_exit(ChildBitsIgnored);
    }
    try {
        writeAllTo(out, work());
    } catch (const std::exception& e) {
        writeAllTo(out, e.what());
        ::_exit(ChildThrew);
    }
    ::_exit(ChildOk);
}

}  // namespace

ChildWork withoutRootsRights(const std::function<std::string()>& work) {
    ChildWork result;
    TempDir probeFolder;
    const std::string probe = probeFolder / "probe";
    writeFile(probe, "unreadable for anyone but root", 0000);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.why = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.why = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (pid == 0) {
        ::close(fds[0]);
        childMain(fds[1], probe, work);
    }
    ::close(fds[1]);
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "the child without root's rights died of signal " << WTERMSIG(status);
        result.why = "crashed";
        return result;
    }
    const int code = WEXITSTATUS(status);
    if (code == ChildThrew) ADD_FAILURE() << "the child without root's rights threw: " << data;
    if (code != ChildOk) {
        result.why = data;
        return result;
    }
    result.output = std::move(data);
    result.ran = true;
    return result;
}

void handOverToNobody(const std::string& root) {
    if (::geteuid() != 0) return;
    ::lchown(root.c_str(), Nobody, NoGroup);
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        ::lchown(it->path().c_str(), Nobody, NoGroup);
}

}  // namespace jor::test
