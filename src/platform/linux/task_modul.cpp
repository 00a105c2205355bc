#include "platform/task_modul.h"

#include "platform/ascii_case.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
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
std::optional<std::string> executableName(int procFd, const std::string& id) {
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
    if (errno == ENOENT) return std::nullopt;
    std::string comm;
    if (!readProcFile(procFd, id + "/comm", comm)) return std::nullopt;
    if (comm.back() == '\n') comm.pop_back();
    return comm;
}

// False for a zombie and for a process that has gone since the listing.
bool isAlive(int procFd, const std::string& id) {
    std::string stat;
    if (!readProcFile(procFd, id + "/stat", stat)) return false;
    // The command name in parentheses may itself hold ") ".
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return false;
    const char state = stat[close + 2];
    return state != 'Z' && state != 'X';
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
    const dirent* entry = nextProcessEntry(proc);
    while (entry) {
        const auto exe = executableName(procFd, entry->d_name);
        if (exe && lowerAscii(*exe).find(wanted) != std::string::npos && isAlive(procFd, entry->d_name)) {
            match = static_cast<uint32_t>(std::strtoul(entry->d_name, nullptr, 10));
            break;
        }
        entry = nextProcessEntry(proc);
        if (yield) yield();
    }
    ::closedir(proc);
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
