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

// The destination and the working folder hold what this run writes: walked,
// they would migrate the run's own outputs again.
bool MigrationEngine::isRunFolder(const FolderIdentity& folder) const {
    return fs_.FolderIdentityOf(window_.destText()) == folder ||
           fs_.FolderIdentityOf(workingFolderOf(state_.TempFolder)) == folder;
}

// The working copy is internal: a name the file system cannot take is
// shortened (never inside a UTF-8 sequence); the output's name comes from
// the name source anyway.
std::string MigrationEngine::workingCopyName(const std::string& base) const {
    const std::string suffix = ".dcm.z";
    if (base.size() + suffix.size() <= workingNameLimit_) return base + suffix;
    size_t keep = workingNameLimit_ > suffix.size() ? workingNameLimit_ - suffix.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(base[keep]) & 0xC0) == 0x80) --keep;
    return base.substr(0, keep) + suffix;
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
        logError(err::Own, "Folder already scanned.", "ScanFolder", path);
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

        const std::string& mode = state_.PacsMode;
        if (!selectedBy(mode, file.Name)) return;
        state_.SelectedCount = checkedIncrement(state_.SelectedCount);

        if (mode == "Z") {
            const size_t dot = file.Name.rfind('.');
            if (dot == std::string::npos)
                throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
            const std::string workingFolder = workingFolderOf(state_.TempFolder);
            state_.WorkingPath = pathUnder(workingFolder, workingCopyName(file.Name.substr(0, dot)));
            // Still the user's own folder: nothing goes into one another user made.
            fs_.CheckPrivateFolder(workingFolder);
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
