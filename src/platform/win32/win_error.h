// GetLastError codes as classic error numbers, and raising them.
#pragma once

#include "platform/error.h"

#include <cstdint>

namespace jor {

// The classic number a GetLastError code maps onto. `isFolder` tells whether
// a missing path is a folder (76) or a file (53).
int32_t numberForWinError(uint32_t code, bool isFolder = false);

[[noreturn]] void raiseWinError(uint32_t code, bool isFolder = false);
[[noreturn]] void raiseLastError(bool isFolder = false);

// A text that cannot name a file names one that does not exist.
[[noreturn]] void raiseNotFound(bool isFolder = false);

}  // namespace jor
