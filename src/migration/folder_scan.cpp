// The walk over the medium and each file's road to its copy; which files it takes is selection.h's.
#include "migration/migration_engine.h"

#include "migration/log_labels.h"
#include "migration/selection.h"
#include "migration/working_copy.h"
#include "platform/error.h"

#include <algorithm>
#include <limits>
#include <utility>

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
        // files can be; the rest of the tree is still walked. Its line in the
        // protocol stands for the files nobody could see.
        openLine(FileEntry{"", path, std::nullopt});
        batch_.back().result = ProtocolResult::Failed;
        logCaughtFailure(path);
        closeLine();
        return;
    }
    if (isRunFolder(listing.identity)) return;
    // A medium whose folders lead back to one already walked (a bind mount,
    // a crafted image) would otherwise be walked without end.
    if (!scannedFolders_.insert(listing.identity).second) {
        logError(err::Own, "Folder already scanned.", procedure::ScanFolder, path);
        return;
    }

    const size_t count = std::min<size_t>(listing.files.size(), std::numeric_limits<int32_t>::max());
    state_.FolderFileCount = static_cast<int32_t>(count);
    if (count > 0) window_.setProgressMax(state_.FolderFileCount);
    state_.FolderFileIndex = -1;
    int32_t position = 0;

    for (const FileEntry& file : listing.files) {
        handleFile(file, position);
        closeLine();
        if (!yieldToWindow()) return;
    }
    listing.files = {};  // not needed while the subfolders are walked
    for (const FileEntry& folder : listing.subFolders) {
        ScanFolder(folder.path);
        if (request_ != RunRequest::GoOn) return;
    }
}

const ProtocolLine* MigrationEngine::doneBefore(const FileEntry& file) const {
    if (!onlyMissing_ || !file.size) return nullptr;
    const auto found = doneBefore_.find(doneKey(relativeToSource(file.path), file.size));
    return found == doneBefore_.end() ? nullptr : &found->second;
}

int32_t MigrationEngine::countMissing(const DoneFiles& done) {
    const std::string source = window_.sourceText();
    const std::string mode = pacsModeOf(window_.pacsText());
    const bool plain = mode != CompressedMode;
    const std::string previousRoot = std::exchange(scanRoot_, source);
    state_.TempFolder = window_.tempText();
    std::set<FolderIdentity> seen;
    std::vector<std::string> folders{source};
    int32_t missing = 0;
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        try {
            FolderListing listing = fs_.GetFolder(folder);
            if (isRunFolder(listing.identity) || !seen.insert(listing.identity).second) continue;
            for (const FileEntry& file : listing.files)
                if (isSelected(mode, file.name) && !(plain && isLeftOutOfPlainCopy(window_.pacsText(), file.name)) &&
                    !(file.size && done.contains(doneKey(relativeToSource(file.path), file.size))))
                    missing = checkedIncrement(missing);
            for (const FileEntry& sub : listing.subFolders) folders.push_back(sub.path);
        } catch (...) {
            // What cannot be seen now is counted by the pass itself.
        }
    }
    scanRoot_ = previousRoot;
    return missing;
}

void MigrationEngine::handleFile(const FileEntry& file, int32_t& position) {
    try {
        openLine(file);
        state_.FolderFileIndex = checkedIncrement(state_.FolderFileIndex);
        window_.setProgressText(std::to_string(state_.FolderFileIndex) + " von " +
                                std::to_string(state_.FolderFileCount) + " Dateien durchsucht ...");
        position = checkedIncrement(position);
        window_.setProgressValue(position);
        if (!yieldToWindow() && sessionEnds()) return;
        window_.setStatusText("Datei " + escapeControls(file.path) + " wird migriert...");
        state_.CurrentFileName = file.name;
        fileOfThisRun_ = true;

        const std::string& mode = state_.PacsMode;
        if (!isSelected(mode, file.name)) return;
        if (const ProtocolLine* done = doneBefore(file)) {
            ProtocolLine& line = batch_[*line_];
            line = *done;
            line.file = relativeToSource(file.path);
            line.result = ProtocolResult::AlreadyMigrated;
            return;
        }
        state_.SelectedCount = checkedIncrement(state_.SelectedCount);
        // Until its output or its copy in BadObjects is made.
        batch_[*line_].result = ProtocolResult::Failed;

        std::string outputName;  // of a plain copy
        if (mode == CompressedMode) {
            const auto workingName = workingCopyName(file.name, workingNameLimit_);
            if (!workingName) throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
            const std::string workingFolder = workingFolderOf(state_.TempFolder);
            state_.WorkingPath = pathUnder(workingFolder, *workingName);
            // Still the user's own folder: nothing goes into one another user made.
            fs_.CheckPrivateFolder(workingFolder);
        } else {
            const std::string dest = window_.destText();
            outputName = nameSource().nextName() + ".dcm";
            state_.WorkingPath = pathUnder(dest, outputName);
            if (isLeftOutOfPlainCopy(window_.pacsText(), file.name)) {
                batch_[*line_].result = ProtocolResult::PassedOver;
                return;
            }
        }

        // A working copy comes read-write at once: a read-only copy is
        // flushed to the disk on the way, for nothing here.
        if (mode == CompressedMode) {
            fs_.CopyFile(file.path, state_.WorkingPath, true, false);
        } else {
            Sha256 hash;
            DicomReader reader;
            fs_.CopyFile(file.path, state_.WorkingPath, true, true, [&](std::string_view bytes) {
                hash.update(bytes);
                if (!reader.done()) reader.feed(bytes);
            });
            outputs_.push_back({state_.WorkingPath, file.name, false, std::nullopt});
            recordOutput(ProtocolResult::Migrated, outputName, hash, &reader);
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
