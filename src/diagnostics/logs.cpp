#include "diagnostics/logs.h"

#include "platform/date_time.h"
#include "platform/system_text.h"

namespace jor {

Logs::Logs(std::string programFolder, DebugValue debugValue, Clock clock)
    : programFolder_(std::move(programFolder)), debugValue_(std::move(debugValue)),
      clock_(clock ? std::move(clock) : Clock(nowText)) {}

void Logs::LogError(int32_t number, const std::string& description, const std::string& procedure,
                    const std::string& fileName) const {
    const std::string fileField = fileName.empty() ? std::string() : " - " + fileName;
    // Only a ticked switch echoes; the dimmed value 2 does not.
    if (debugValue_ && debugValue_() == 1)
        LogDebug("ERROR: " + std::to_string(number) + " - " + description + fileField);
    appendLine(errorLogPath(),
               clock_() + " - " + std::to_string(number) + " - " + description + " - " + procedure + fileField);
}

void Logs::LogDebug(const std::string& text) const {
    appendLine(debugLogPath(), clock_() + " - " + text);
}

void Logs::appendLine(const std::string& path, const std::string& line) const {
    if (!fs_.FolderExists(folder())) fs_.CreateFolder(folder());
    fs_.AppendToFile(path, toSystemText(line + "\r\n"));
}

}  // namespace jor
