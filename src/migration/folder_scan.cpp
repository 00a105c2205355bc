// The walk over the medium and each file's road to its copy; which files it takes is selection.h's.
#include "migration/engine.h"

#include "migration/log_labels.h"
#include "migration/selection.h"
#include "migration/working_copy.h"
#include "platform/error.h"

#include <algorithm>
#include <limits>

namespace jor {

// The destination and the working folder hold what this run writes: walked,
// they would migrate the run's own outputs again.
bool MigrationEngine::isRunFolder(const FolderIdentity& folder) const {
    return fs_.FolderIdentityOf(window_.destText()) == folder ||
           fs_.FolderIdentityOf(workingFolderOf(state_.TempFolder)) == folder;
}

void MigrationEngine::ScanFolder(const std::string& path) {
    FolderListing listing;
    try {
        listing = fs_.GetFolder(path);
    } catch (...) {
        // An unreadable folder is named by its own path, since none of its
        // files can be; the rest of the tree is still walked.
        logCaughtFailure(path);
        return;
    }
    if (isRunFolder(listing.Identity)) return;
    // A medium whose folders lead back to one already walked (a bind mount,
    // a crafted image) would otherwise be walked without end.
    if (!scannedFolders_.insert(listing.Identity).second) {
        logError(err::Own, "Folder already scanned.", procedure::ScanFolder, path);
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
        if (sessionEnded_) return;
        window_.setStatusText("Datei " + escapeControls(file.Path) + " wird migriert...");
        state_.CurrentFileName = file.Name;
        fileOfThisRun_ = true;

        const std::string& mode = state_.PacsMode;
        if (!isSelected(mode, file.Name)) return;
        state_.SelectedCount = checkedIncrement(state_.SelectedCount);

        if (mode == CompressedMode) {
            const auto workingName = workingCopyName(file.Name, workingNameLimit_);
            if (!workingName) throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
            const std::string workingFolder = workingFolderOf(state_.TempFolder);
            state_.WorkingPath = pathUnder(workingFolder, *workingName);
            // Still the user's own folder: nothing goes into one another user made.
            fs_.CheckPrivateFolder(workingFolder);
        } else {
            const std::string dest = window_.destText();
            const std::string name = nameSource().NextName();
            state_.WorkingPath = pathUnder(dest, name + ".dcm");
            if (isLeftOutOfPlainCopy(window_.pacsText(), file.Name)) return;
        }

        // A working copy comes read-write at once: a read-only copy is
        // flushed to the disk on the way, for nothing here.
        fs_.CopyFile(file.Path, state_.WorkingPath, true, mode != CompressedMode);
        if (mode.empty()) {
            outputs_.push_back({state_.WorkingPath, file.Name});
            window_.yield();
            if (sessionEnded_) return;
            state_.MigratedCount = checkedIncrement(state_.MigratedCount);
            outputs_.back().counted = true;
        }
        if (mode == CompressedMode)
            ConvertCompressedObject(file);
        else
            fs_.SetFileAttributes(state_.WorkingPath, 0);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
