// TaskModul: running processes and their windows, found by executable name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace jor {

// TaskModul: lookup of running processes by executable name.

// Process-id mode (returnProcessId != 0): the id of the first process, in one
// pass over the system's process list, whose executable name contains `name`,
// both lower-cased (ASCII). Window mode (returnProcessId == 0): that process's
// FindProcessWindow. 0 when nothing matches or the list cannot be taken.
// `yield` runs after every further entry fetched.
// Windows: a Toolhelp snapshot, the name from PROCESSENTRY32's szExeFile.
// Linux: /proc, the name of /proc/<id>/exe where readable, else its comm;
// zombies have ended and never match.
uint32_t FindProcess(const std::string& name, int32_t returnProcessId, const std::function<void()>& yield = {});

// The highest top-level window, in Z order, that has no parent or owner and
// belongs to `processId`; 0 when there is none. On Linux the windows of the
// X display, by stacking order and _NET_WM_PID (0 without a display).
uint32_t FindProcessWindow(uint32_t processId);

}  // namespace jor
