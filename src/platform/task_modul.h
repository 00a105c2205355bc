#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace jor {

// TaskModul: lookup of running processes by executable name.

// Process-id mode (returnProcessId != 0): the id of the first process, in one
// pass over /proc, whose executable name (the file name of /proc/<id>/exe
// where readable, else its comm) contains `name`, both lower-cased. Zombies
// have ended and never match. Window mode (returnProcessId == 0): that
// process's FindProcessWindow. 0 when nothing matches or /proc cannot be read.
// `yield` runs after every further entry fetched.
uint32_t FindProcess(const std::string& name, int32_t returnProcessId,
                     const std::function<void()>& yield = {});

// The highest top-level window of the X display, in stacking order, that has
// no owner and belongs to `processId` (by _NET_WM_PID); 0 when there is none
// or no display.
uint32_t FindProcessWindow(uint32_t processId);

}  // namespace jor
