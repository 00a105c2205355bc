// The run fields every step of the engine shares.
#pragma once

#include "migration/unique_name_source.h"

#include <cstdint>
#include <memory>
#include <string>

namespace jor {

// The run fields shared by the run, the scan, the conversion and the quarantine.
// Counts are 32-bit so that a disc of more than 32767 files migrates whole.
struct RunState {
    std::string CurrentFileName;
    std::string WorkingPath;
    int32_t FolderFileCount = 0;
    int32_t MigratedCount = 0;
    int32_t SelectedCount = 0;
    std::unique_ptr<UniqueNameSource> NameSource;  // created on first use
    std::string PacsMode;                          // "Z" or empty
    std::string TempFolder;
    int32_t FolderFileIndex = 0;
};

}  // namespace jor
