#include "migration/engine.h"

#include "platform/ascii_case.h"
#include "platform/error.h"

#include <algorithm>
#include <limits>

namespace jor {
namespace {

bool selectedBy(const std::string& mode, const std::string& name) {
    const std::string upper = upperAscii(name);
    if (upper.ends_with(mode)) return true;
    return mode == "Z" && upper.ends_with('R');
}

}  // namespace

void MigrationEngine::ScanFolder(const std::string& path) {
    FolderListing listing;
    try {
        listing = fs_.GetFolder(path);
    } catch (...) {
        // An unreadable folder is left; the rest of the tree is still walked.
        logCurrentFailure();
        return;
    }

    const size_t count = std::min<size_t>(listing.Files.size(), std::numeric_limits<int32_t>::max());
    state_.FolderFileCount = static_cast<int32_t>(count);
    if (count > 0) window_.setProgressMax(state_.FolderFileCount);
    state_.FolderFileIndex = -1;
    int32_t position = 0;

    for (const FileEntry& file : listing.Files) {
        if (stopRequested_) return;
        handleFile(file, position);
        window_.yield();
    }
    listing.Files = {};  // not needed while the subfolders are walked
    for (const FileEntry& folder : listing.SubFolders) {
        if (stopRequested_) return;
        ScanFolder(folder.Path);
    }
}

void MigrationEngine::handleFile(const FileEntry& file, int32_t& position) {
    try {
        state_.FolderFileIndex = checkedIncrement(state_.FolderFileIndex);
        window_.setProgressText(std::to_string(state_.FolderFileIndex) + " von " +
                                std::to_string(state_.FolderFileCount) + " Dateien durchsucht ...");
        position = checkedIncrement(position);
        window_.setProgressValue(position);
        window_.yield();
        window_.setStatusText("Datei " + file.Path + " wird migriert...");
        state_.CurrentFileName = file.Name;

        const std::string& mode = state_.PacsMode;
        if (!selectedBy(mode, file.Name)) return;
        state_.SelectedCount = checkedIncrement(state_.SelectedCount);

        if (mode == "Z") {
            const size_t dot = file.Name.rfind('.');
            if (dot == std::string::npos)
                throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
            state_.WorkingPath = pathUnder(workingFolderOf(state_.TempFolder), file.Name.substr(0, dot) + ".dcm.z");
        } else {
            const std::string dest = window_.destText();
            const std::string name = nameSource().NextName();
            state_.WorkingPath = pathUnder(dest, name + ".dcm");
            // GEMED keeps its images in names without a dot.
            if (upperAscii(window_.pacsText()) != "HIPAX" && file.Name.find('.') != std::string::npos) return;
        }

        fs_.CopyFile(file.Path, state_.WorkingPath, true);
        if (mode.empty()) {
            outputs_.push_back({state_.WorkingPath, file.Name});
            window_.yield();
            state_.MigratedCount = checkedIncrement(state_.MigratedCount);
            outputs_.back().counted = true;
        }
        fs_.SetFileAttributes(state_.WorkingPath, 0);
        if (mode == "Z") ConvertCompressedObject(file);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
