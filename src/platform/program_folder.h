// The folder the running program lies in.
#pragma once

#include <string>

namespace jor {

// The folder that holds the running executable, without a trailing separator.
// Found from the executable itself, never from the working directory.
std::string programFolder();

}  // namespace jor
