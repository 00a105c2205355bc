// The run around the walk: the start command, the tick, the end of a run, and how the engine logs.
#include "migration/migration_engine.h"

#include "migration/log_labels.h"
#include "migration/selection.h"
#include "platform/child_process.h"
#include "platform/error.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

namespace jor {

MigrationEngine::MigrationEngine(WindowPort& window, const Logs& logs, std::string programFolder)
    : window_(window), logs_(logs), programFolder_(std::move(programFolder)), journal_(programFolder_) {}

void MigrationEngine::logError(int32_t number, const std::string& description, const std::string& procedure,
                               const std::string& fileName, const std::string& origin) noexcept {
    // The log keeps the classic number; the program's own output says which
    // system code it came from.
    if (!origin.empty())
        std::fprintf(stderr, "jor-orvek: %d - %s - %s%s%s: %s\n", number, escapeControls(description).c_str(),
                     procedure.c_str(), fileName.empty() ? "" : " - ", escapeControls(fileName).c_str(),
                     origin.c_str());
    try {
        logs_.LogError(number, description, procedure, fileName);
        ++errorLines_;
    } catch (...) {
        logsFailed();
    }
    // The protocol's line of the file at hand names what the log says of it.
    noteOnLine(std::to_string(number) + " - " + description);
}

void MigrationEngine::logCurrentFailure() noexcept { logCaughtFailure(state_.CurrentFileName); }

void MigrationEngine::logCaughtFailure(const std::string& fileName) noexcept {
    try {
        throw;
    } catch (const Error& e) {
        // The program's own failures (-1) name no file.
        logError(e.number(), e.description(), procedure::ScanFolder, e.number() == err::Own ? "" : fileName,
                 e.origin());
    } catch (const std::bad_alloc&) {
        logError(err::OutOfMemory, describeError(err::OutOfMemory), procedure::ScanFolder, fileName);
    } catch (const std::exception& e) {
        logError(err::Own, e.what(), procedure::ScanFolder, fileName);
    } catch (...) {
        logError(err::Own, "Unknown failure.", procedure::ScanFolder, fileName);
    }
}

void MigrationEngine::logDebug(const std::string& text) noexcept {
    try {
        logs_.LogDebug(text);
    } catch (...) {
        logsFailed();
    }
}

// A log that cannot be written must not stop the run, but the user, who
// reads the log to learn what was not migrated, has to know.
void MigrationEngine::logsFailed() noexcept {
    // The session is ending: a box would hold up what is left to do, and
    // nobody is there to read it.
    if (logFailureShown_ || sessionEnds()) return;
    logFailureShown_ = true;
    try {
        stopBox("Protokolldatei konnte nicht geschrieben werden.");
    } catch (...) {}
}

void MigrationEngine::stopBox(const std::string& text) { window_.showMessage(MessageIcon::Stop, ProgramTitle, text); }

bool MigrationEngine::yieldToWindow() {
    request_ = std::max(request_, window_.yield());
    return request_ == RunRequest::GoOn;
}

UniqueNameSource& MigrationEngine::nameSource() {
    if (!state_.NameSource) state_.NameSource = std::make_unique<UniqueNameSource>();
    return *state_.NameSource;
}

void MigrationEngine::StartRun() {
    // A second start inside a run would share RunState; "Migrieren" is
    // disabled for the run, this guards the call itself.
    if (running_) return;
    logFailureShown_ = false;
    window_.setBeendenEnabled(false);
    window_.setMigrierenEnabled(false);
    const auto refuse = [this](int32_t number, const std::string& description, const std::string& file,
                               const std::string& boxText, const std::string& origin = {}) {
        logError(number, description, procedure::Start, file, origin);
        stopBox(boxText);
        window_.setBeendenEnabled(true);
        window_.setMigrierenEnabled(true);
    };
    if (!fs_.FolderExists(window_.sourceText()))
        return refuse(err::Own, "Source folder doesn\xC2\xB4t exist.", "", "Quellverzeichnis exestiert nicht.");
    if (!fs_.FolderExists(window_.destText()))
        return refuse(err::Own, "Destination folder doesn\xC2\xB4t exist.", "", "Zielordner exestiert nicht.");
    if (!fs_.FolderExists(window_.tempText()))
        return refuse(err::Own, "Temp folder doesn\xC2\xB4t exist.", "", "Tempverzeichnis exestiert nicht.");
    beginJournal();
    if (skippedAsDoneBefore()) {
        window_.setBeendenEnabled(true);
        window_.setMigrierenEnabled(true);
        return;
    }

    const std::string temp = window_.tempText();
    const std::string workingFolder = workingFolderOf(temp);
    try {
        if (!fs_.FolderExists(workingFolder)) fs_.CreatePrivateFolder(workingFolder);
        // In a temporary folder that others can write to, another user may
        // have made it first, or put a link in its place. One left over by
        // the user, open to others as its parent is, is shut to them first.
        if (fs_.PreparePrivateFolder(workingFolder) == FolderVerdict::OtherOwner)
            return refuse(err::PermissionDenied, describeError(err::PermissionDenied), workingFolder,
                          "Das Arbeitsverzeichnis " + escapeControls(workingFolder) +
                              " geh\xC3\xB6rt einem anderen Benutzer. Bitte w\xC3\xA4hlen Sie ein anderes "
                              "Tempverzeichnis.");
    } catch (const Error& e) {
        return refuse(e.number(), e.description(), workingFolder, "Arbeitsverzeichnis konnte nicht angelegt werden.",
                      e.origin());
    }
    workingNameLimit_ = fs_.MaxNameLength(workingFolder);
    removeLeftovers(window_.destText());
    beginProtocol();
    state_.TempFolder = temp;
    state_.PacsMode = pacsModeOf(window_.pacsText());
    running_ = true;
    request_ = RunRequest::GoOn;
    finished_ = false;
    fileOfThisRun_ = false;
    outputs_.clear();
    window_.armTimer();
}

void MigrationEngine::tmrMig_Timer() {
    window_.disarmTimer();
    scannedFolders_.clear();
    try {
        scanRoot_ = window_.sourceText();
        earlier_ = EarlierRuns(programFolder_, journalRecord_.destination, journalRecord_.protocol);
        // A close between the click and this tick stops the run before its first file.
        if (yieldToWindow()) ScanFolder(scanRoot_);
        if (request_ == RunRequest::GoOn)
            FinishRun();
        else
            endStoppedRun(fileOfThisRun_ ? state_.CurrentFileName : std::string());
    } catch (...) {
        // The per-file handlers catch everything they expect; this keeps an
        // unexpected failure from reaching the event loop.
        logError(err::Own, "Unexpected failure during the run.", procedure::ScanFolder, state_.CurrentFileName);
        resetAfterRun();
    }
    running_ = false;
    window_.setBeendenEnabled(true);
    window_.setMigrierenEnabled(true);
}

// The report counts only what is on stable storage: an output that cannot
// be flushed is logged as a failure of its file and no longer counted, and
// its protocol line says so.
void MigrationEngine::flushOutputs() noexcept {
    const auto fileAtHand = std::exchange(line_, std::nullopt);
    try {
        std::vector<std::string> paths;
        paths.reserve(outputs_.size());
        for (const RunOutput& output : outputs_) paths.push_back(output.path);
        size_t next = 0;
        for (const auto& failure : fs_.FlushToStableStorage(paths)) {
            while (next < outputs_.size() && outputs_[next].path != failure.path) ++next;
            if (next == outputs_.size()) break;
            const RunOutput& output = outputs_[next++];
            line_ = output.line;
            logError(failure.error.number(), failure.error.description(), procedure::ScanFolder, output.sourceName,
                     failure.error.origin());
            if (line_) batch_[*line_].result = ProtocolResult::Failed;
            if (output.counted) --state_.MigratedCount;
        }
    } catch (...) {
        line_.reset();
        logError(err::OutOfMemory, describeError(err::OutOfMemory), procedure::ScanFolder, "");
    }
    line_ = fileAtHand;
    outputs_.clear();
}

void MigrationEngine::FinishRun() {
    checkDicomdirs();
    journalRun(onlyMissing_ ? JournalResult::OnlyMissing : JournalResult::Completed);
    // From here on a session's end cuts nothing short.
    finished_ = true;
    // Each step may fail on its own; the resets always run.
    try {
        const std::string count = std::to_string(state_.FolderFileCount);
        window_.setProgressText(count + " von " + count +
                                " Dateien wurden \xC3\xBC"
                                "berpr\xC3\xBC"
                                "ft.");
    } catch (...) {}
    try {
        window_.showMessage(MessageIcon::Information, "Migration abgeschlossen",
                            std::to_string(state_.MigratedCount) + " von " + std::to_string(state_.SelectedCount) +
                                " Dateien konnten erfolgreich migriert werden.\r\n\r\n"
                                "Bitte legen Sie die n\xC3\xA4"
                                "chste CD / DVD ein.");
    } catch (...) {}
    // The session may end while the report shows: then nobody reads a warning.
    yieldToWindow();
    warnOfMissingImages();
    removeWorkingFolder();
    resetAfterRun();
}

// What a run cut short (a power cut, the session's end) left beside the
// outputs: a temporary file the new archive's import might take for an image.
void MigrationEngine::removeLeftovers(const std::string& destination) noexcept {
    for (const std::string& folder : {destination, pathUnder(destination, "BadObjects")}) {
        try {
            if (fs_.FolderExists(folder)) fs_.RemoveOwnTemporaryFiles(folder);
        } catch (...) {}
    }
}

// A run stopped by closing the window: no report, but one log line that
// explains its absence, and nothing of the run left in the temporary folder.
void MigrationEngine::endStoppedRun(const std::string& fileAtHand) {
    logError(err::UserInterrupt, describeError(err::UserInterrupt), procedure::ScanFolder, fileAtHand);
    writeBatch();
    journalRun(JournalResult::Stopped);
    removeWorkingFolder();
    resetAfterRun();
}

void MigrationEngine::removeWorkingFolder() {
    try {
        const std::string workingFolder = workingFolderOf(window_.tempText());
        // Exactly 16: a folder the user marked read-only or hidden is not ours
        // to remove; nor is one that is not the user's own.
        if (fs_.FolderExists(workingFolder) && fs_.FolderAttributes(workingFolder) == attr::Directory) {
            fs_.CheckPrivateFolder(workingFolder);
            fs_.DeleteFolder(workingFolder, false);
        }
    } catch (...) {}
}

void MigrationEngine::resetAfterRun() {
    state_.MigratedCount = 0;
    state_.SelectedCount = 0;
    try {
        window_.setProgressText("");
        window_.setProgressValue(0);
    } catch (...) {}
    try {
        window_.setStatusText("");
    } catch (...) {}
}

}  // namespace jor
