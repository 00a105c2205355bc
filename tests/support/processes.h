// Processes as the tests see them from outside: their names and their end.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace jor::test {

// A name with this test program's process id in it: other programs on the
// machine may run while a test looks for its own.
std::string probeName(const std::string& label);

// True once process `pid` has ended, waiting at most `limit` for it; one
// that is gone, or a zombie, has ended.
bool hasEnded(uint32_t pid, std::chrono::milliseconds limit = {});

}  // namespace jor::test
