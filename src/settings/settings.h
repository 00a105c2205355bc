// The five values in Settings.ini, read and written, and modINI's ReadINIValue.
#pragma once

#include <cstdint>
#include <string>

namespace jor {

// The five values kept in <program folder>/Settings.ini.
struct SettingsValues {
    std::string TempPath;                  // [Temp] TempPath -> txtTemp
    std::string SourcePath;                // [Path] SourcePath -> txtSource
    std::string DestinationPath;           // [Path] DestinationPath -> txtDest
    int32_t DebugValue = 0;                // [Debug] DebugValue -> chkDebug (0, 1 or 2)
    std::string Pacs = "Arzt und Praxis";  // [PACS] PACS -> cboPACS
};

std::string settingsFilePath(const std::string& programFolder);

// modINI. The value comes back whole; `size` is only where the read starts.
std::string ReadINIValue(const std::string& section, const std::string& key, const std::string& defaultValue,
                         const std::string& fileName, int16_t size);

SettingsValues readSettings(const std::string& programFolder);
void writeSettings(const std::string& programFolder, const SettingsValues& values);

}  // namespace jor
