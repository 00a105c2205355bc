// The error log and the debug log, and which debug value writes the debug log.
#pragma once

#include "platform/file_system.h"
#include "platform/path.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace jor {

// Only a ticked Debug box (1) writes the debug log; the dimmed value 2 does not.
inline bool isDebugOn(int32_t debugValue) { return debugValue == 1; }

// Control characters (0x00-0x1F and 0x7F) in their visible escaped form
// (\r, \n, \t, \x1B), so that a name from the medium can never start a
// line of its own. Everything else stays as it is: bytes 0x80-0xFF, and the
// backslash too, which Windows paths are full of.
std::string escapeControls(std::string_view text);

// The error log Logs/Error.txt and the debug log Logs/DebugOrvek.log under the
// program folder. One call writes exactly one line: every text passed in is
// written through escapeControls. Neither logger handles its own failures: a
// folder or file that cannot be written raises jor::Error to the caller.
class Logs {
public:
    using DebugValue = std::function<int32_t()>;
    using Clock = std::function<std::string()>;

    Logs(std::string programFolder, DebugValue debugValue, Clock clock = {});

    // modError
    void LogError(int32_t number, const std::string& description, const std::string& procedure,
                  const std::string& fileName) const;
    // modDebug
    void LogDebug(const std::string& text) const;

    // The date and time as a line of the logs starts with it.
    std::string now() const { return clock_(); }

    std::string errorLogPath() const { return pathUnder(folder(), "Error.txt"); }
    std::string debugLogPath() const { return pathUnder(folder(), "DebugOrvek.log"); }

private:
    std::string folder() const { return pathUnder(programFolder_, "Logs"); }
    void appendLine(const std::string& path, const std::string& line) const;

    std::string programFolder_;
    DebugValue debugValue_;
    Clock clock_;
    FileSystem fs_;
};

}  // namespace jor
