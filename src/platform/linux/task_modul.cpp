// The process lookup on Linux: /proc for the processes, X11 for their windows.
#include "platform/task_modul.h"

#include "platform/ascii_case.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

// Last: Xlib defines macros such as None and Status.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace jor {
namespace {

// The next /proc entry that names a process, or nullptr at the end.
const dirent* nextProcessEntry(DIR* proc) {
    while (const dirent* entry = ::readdir(proc)) {
        const char* name = entry->d_name;
        if (*name == '\0') continue;
        const char* c = name;
        while (*c >= '0' && *c <= '9') ++c;
        if (*c == '\0') return entry;
    }
    return nullptr;
}

// procfs hands a small file over in one read, so a short read is its end.
bool readProcFile(int procFd, const std::string& path, std::string& text) {
    const int fd = ::openat(procFd, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    text.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        text.append(buffer, static_cast<size_t>(n));
        if (n < static_cast<ssize_t>(sizeof buffer)) break;
    }
    ::close(fd);
    return !text.empty();
}

// The executable name of a process, not yet checked to be alive. The lookup
// runs after every decompressed object over all of /proc: a readlink rules
// most processes out, and only a candidate pays for reading its stat.
// `noProgram`: the process runs no program (a kernel thread) or has gone.
std::optional<std::string> executableName(int procFd, const std::string& id, bool& noProgram) {
    noProgram = false;
    char target[PATH_MAX];
    const ssize_t length = ::readlinkat(procFd, (id + "/exe").c_str(), target, sizeof target);
    if (length > 0) {
        std::string path(target, static_cast<size_t>(length));
        const std::string deleted = " (deleted)";
        if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
        return path.substr(path.rfind('/') + 1);
    }
    // A kernel thread has no executable, and a process that has gone has no
    // name left: neither is worth three more reads on every lookup. A process
    // we may not inspect still tells its comm.
    if (errno == ENOENT) {
        noProgram = true;
        return std::nullopt;
    }
    std::string comm;
    if (!readProcFile(procFd, id + "/comm", comm)) return std::nullopt;
    if (comm.back() == '\n') comm.pop_back();
    return comm;
}

// The fields of a stat line after the command name, which may itself hold ") ".
std::optional<std::string> statFields(int procFd, const std::string& id) {
    std::string stat;
    if (!readProcFile(procFd, id + "/stat", stat)) return std::nullopt;
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return std::nullopt;
    return stat.substr(close + 2);
}

bool isKernelThread(int procFd, const std::string& id) {
    constexpr unsigned long KernelThreadFlag = 0x00200000;  // PF_KTHREAD
    const auto fields = statFields(procFd, id);
    if (!fields) return false;
    // state ppid pgrp session tty_nr tpgid flags
    const char* field = fields->c_str();
    for (int skip = 0; skip < 6; ++skip) {
        field = std::strchr(field, ' ');
        if (!field) return false;
        ++field;
    }
    return std::strtoul(field, nullptr, 10) & KernelThreadFlag;
}

// Kernel threads never run a program, and on many machines they are most of
// /proc; the lookup runs after every object, so each is looked at once. A
// later process under the same pid has a /proc entry of a new inode number.
class KernelThreads {
public:
    using Entries = std::unordered_map<uint32_t, ino_t>;
    bool known(uint32_t pid, ino_t inode) {
        const std::lock_guard<std::mutex> hold(lock_);
        const auto it = entries_.find(pid);
        return it != entries_.end() && it->second == inode;
    }
    // A whole walk knows every kernel thread there is; one cut short by a
    // match adds those it found.
    void update(Entries seen, bool wholeWalk) {
        const std::lock_guard<std::mutex> hold(lock_);
        if (wholeWalk)
            entries_ = std::move(seen);
        else
            entries_.merge(seen);
    }

private:
    std::mutex lock_;
    Entries entries_;
};

KernelThreads& kernelThreads() {
    static KernelThreads threads;
    return threads;
}

// False for a zombie and for a process that has gone since the listing.
bool isAlive(int procFd, const std::string& id) {
    const auto fields = statFields(procFd, id);
    return fields && (*fields)[0] != 'Z' && (*fields)[0] != 'X';
}

int ignoreXError(Display*, XErrorEvent*) { return 0; }

// Top-level windows, highest in the stacking order first.
std::vector<Window> windowsTopFirst(Display* display) {
    std::vector<Window> windows;
    const Window root = DefaultRootWindow(display);
    const Atom stacking = XInternAtom(display, "_NET_CLIENT_LIST_STACKING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    // A window manager reparents clients, so only its own list names them.
    if (XGetWindowProperty(display, root, stacking, 0, LONG_MAX / 4, False, XA_WINDOW, &type, &format, &count,
                           &remaining, &data) == Success &&
        type == XA_WINDOW && format == 32) {
        const auto* ids = reinterpret_cast<const unsigned long*>(data);
        windows.assign(ids, ids + count);
    } else {
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int childCount = 0;
        if (XQueryTree(display, root, &rootReturn, &parent, &children, &childCount) && children) {
            windows.assign(children, children + childCount);
            XFree(children);
        }
    }
    if (data) XFree(data);
    return {windows.rbegin(), windows.rend()};
}

std::optional<uint32_t> windowPid(Display* display, Window window, Atom pidAtom) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::optional<uint32_t> pid;
    if (XGetWindowProperty(display, window, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &count, &remaining,
                           &data) == Success &&
        type == XA_CARDINAL && format == 32 && count == 1)
        pid = static_cast<uint32_t>(*reinterpret_cast<const unsigned long*>(data));
    if (data) XFree(data);
    return pid;
}

}  // namespace

uint32_t FindProcess(const std::string& name, int32_t returnProcessId, const std::function<void()>& yield) {
    DIR* proc = ::opendir("/proc");
    if (!proc) return 0;
    const std::string wanted = lowerAscii(name);
    uint32_t match = 0;
    const int procFd = ::dirfd(proc);
    KernelThreads::Entries seen;
    const dirent* entry = nextProcessEntry(proc);
    while (entry) {
        const auto pid = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
        // 0 and 1 stand for "no inode" when /proc could not make the entry's.
        const bool identified = entry->d_ino > 1;
        if (identified && kernelThreads().known(pid, entry->d_ino)) {
            seen.emplace(pid, entry->d_ino);
        } else {
            bool noProgram = false;
            const auto exe = executableName(procFd, entry->d_name, noProgram);
            if (exe && lowerAscii(*exe).find(wanted) != std::string::npos && isAlive(procFd, entry->d_name)) {
                match = pid;
                break;
            }
            if (noProgram && identified && isKernelThread(procFd, entry->d_name)) seen.emplace(pid, entry->d_ino);
        }
        entry = nextProcessEntry(proc);
        if (yield) yield();
    }
    ::closedir(proc);
    kernelThreads().update(std::move(seen), match == 0);
    if (match == 0 || returnProcessId != 0) return match;
    return FindProcessWindow(match);
}

uint32_t FindProcessWindow(uint32_t processId) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 0;
    // A window may vanish while we look at it; that must not end the program.
    const auto previousHandler = XSetErrorHandler(ignoreXError);
    const Atom pidAtom = XInternAtom(display, "_NET_WM_PID", False);
    uint32_t found = 0;
    for (const Window window : windowsTopFirst(display)) {
        Window owner = None;
        if (XGetTransientForHint(display, window, &owner) && owner != None) continue;
        if (windowPid(display, window, pidAtom) == processId) {
            found = static_cast<uint32_t>(window);
            break;
        }
    }
    XSync(display, False);
    XSetErrorHandler(previousHandler);
    XCloseDisplay(display);
    return found;
}

}  // namespace jor
