// The five settings in Settings.ini: read when the window loads, written when it unloads.
#include "settings/settings.h"

#include "platform/path.h"
#include "platform/private_profile.h"

#include <charconv>

namespace jor {
namespace {

// The first read's buffer, NUL included: most values fit, longer ones are read again.
constexpr int16_t ValueSize = 256;

// Only the program's own values 0, 1 and 2 count; a hand-edited value loads as 0.
// The blanks around it are already gone: the INI layer trims values.
int32_t debugValueFrom(const std::string& text) {
    const char* end = text.data() + text.size();
    int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || value < 0 || value > 2) return 0;
    return value;
}

}  // namespace

std::string settingsFilePath(const std::string& programFolder) { return pathUnder(programFolder, "Settings.ini"); }

std::string ReadINIValue(const std::string& section, const std::string& key, const std::string& defaultValue,
                         const std::string& fileName, int16_t size) {
    return getPrivateProfileString(section, key, defaultValue, size > 0 ? static_cast<size_t>(size) : 0, fileName);
}

SettingsValues readSettings(const std::string& programFolder) {
    const std::string file = settingsFilePath(programFolder);
    SettingsValues v;
    v.TempPath = ReadINIValue("Temp", "TempPath", "", file, ValueSize);
    v.DestinationPath = ReadINIValue("Path", "DestinationPath", "", file, ValueSize);
    v.SourcePath = ReadINIValue("Path", "SourcePath", "", file, ValueSize);
    v.DebugValue = debugValueFrom(ReadINIValue("Debug", "DebugValue", "0", file, ValueSize));
    v.Pacs = ReadINIValue("PACS", "PACS", "Arzt und Praxis", file, ValueSize);
    return v;
}

void writeSettings(const std::string& programFolder, const SettingsValues& values) {
    // A failed write leaves the old file; the program ends normally all the same.
    try {
        const std::string file = settingsFilePath(programFolder);
        writePrivateProfileString("Temp", "TempPath", values.TempPath, file);
        writePrivateProfileString("Path", "SourcePath", values.SourcePath, file);
        writePrivateProfileString("Path", "DestinationPath", values.DestinationPath, file);
        writePrivateProfileString("Debug", "DebugValue", std::to_string(values.DebugValue), file);
        writePrivateProfileString("PACS", "PACS", values.Pacs, file);
    } catch (...) {}
}

}  // namespace jor
