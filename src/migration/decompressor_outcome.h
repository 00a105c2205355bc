// What the end of a decompressor's run means for the error log; running it is conversion.cpp's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace jor {

// A decompressor's failure as its error-log line takes it.
struct DecompressorFailure {
    int32_t number = 0;  // a classic number, or -1 for the decompressor's own reason
    std::string description;
};

// The line a decompressor's end needs besides what its output leads to, from
// its exit code (ChildProcess::exitCode) and its standard error, for the
// medium's object `objectName`. None for gzip's statuses 0 and 2 (it only
// warned: trailing garbage, say) and for -1 (the platform cannot tell): what
// it left then decides alone. Its reason is its last line, where gzip says
// why it failed ("gzip: <file>: No space left on device"); a system failure
// there keeps its classic number, so that the log tells a full disk from a
// broken object.
std::optional<DecompressorFailure> decompressorOutcome(int exitCode, std::string_view errorOutput,
                                                       std::string_view objectName);

}  // namespace jor
