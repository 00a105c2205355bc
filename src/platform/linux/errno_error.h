// errno values as classic error numbers, and raising them.
#pragma once

#include "platform/error.h"

namespace jor {

// Raises the classic error for an errno value. `isFolder` tells whether a
// missing path is a folder (76) or a file (53).
[[noreturn]] void raiseErrno(int errnoValue, bool isFolder = false);

// The classic number an errno value maps onto.
int32_t numberForErrno(int errnoValue, bool isFolder = false);

}  // namespace jor
