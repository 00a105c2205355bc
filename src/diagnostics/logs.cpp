// The error log and the debug log: one escaped line per call, appended.
#include "diagnostics/logs.h"

#include "platform/date_time.h"
#include "platform/system_text.h"

namespace jor {

std::string escapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(c);
            continue;
        }
        switch (c) {
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 15]);
        }
    }
    return out;
}

Logs::Logs(std::string programFolder, DebugValue debugValue, Clock clock)
    : programFolder_(std::move(programFolder)),
      debugValue_(std::move(debugValue)),
      clock_(clock ? std::move(clock) : Clock(nowText)) {}

void Logs::LogError(int32_t number, const std::string& description, const std::string& procedure,
                    const std::string& fileName) const {
    const std::string fileField = fileName.empty() ? std::string() : " - " + escapeControls(fileName);
    const std::string describedAs = std::to_string(number) + " - " + escapeControls(description);
    if (debugValue_ && isDebugOn(debugValue_())) LogDebug("ERROR: " + describedAs + fileField);
    appendLine(errorLogPath(), clock_() + " - " + describedAs + " - " + escapeControls(procedure) + fileField);
}

void Logs::LogDebug(const std::string& text) const {
    appendLine(debugLogPath(), clock_() + " - " + escapeControls(text));
}

void Logs::appendLine(const std::string& path, const std::string& line) const {
    if (!fs_.FolderExists(folder())) fs_.CreateFolder(folder());
    fs_.AppendToFile(path, toSystemText(line + "\r\n"));
}

}  // namespace jor
