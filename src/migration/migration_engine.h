// MigrationEngine: the order of a run's steps and what they share; the decisions they take have headers of their own.
#pragma once

#include "diagnostics/disc_protocol.h"
#include "diagnostics/journal.h"
#include "diagnostics/logs.h"
#include "migration/dicom_reader.h"
#include "migration/earlier_runs.h"
#include "migration/run_contents.h"
#include "migration/run_state.h"
#include "migration/window_port.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/sha256.h"
#include "platform/volume_identity.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace jor {

inline constexpr const char* ProgramTitle = "Jor-Orvek";

// The run's working folder under a temporary folder.
inline std::string workingFolderOf(const std::string& tempFolder) { return pathUnder(tempFolder, "TempOrvek"); }

// How often a run's protocol takes the lines of the files handled since: each
// batch first brings their outputs to stable storage, so that no line claims
// an image a power cut could still take away.
inline constexpr std::chrono::seconds ProtocolBatchInterval{3};

// One migration run at a time: the start command, the deferred start, the
// folder scan, the conversion, the quarantine and the completion step. It
// sees the window only through WindowPort. Nothing here throws: each per-file
// operation logs its failure once and the run goes on.
class MigrationEngine {
public:
    MigrationEngine(WindowPort& window, const Logs& logs, std::string programFolder);

    // "Migrieren": checks the folders, prepares the working folder, arms tmrMig.
    void StartRun();
    // Tick of tmrMig: the scan, then the completion step.
    void tmrMig_Timer();

    // From the click on "Migrieren" until the end of the tick.
    bool running() const { return running_; }
    // Running, and not yet at the report: what the session's end would cut short.
    bool workInProgress() const { return running_ && !finished_; }

    // At the program's start: journal lines and protocol lines that earlier
    // runs could not write (killed, or the file held open) are written now.
    void recoverJournal() noexcept;

    const RunState& state() const { return state_; }
    RunState& state() { return state_; }

    // The medium the source folder lies on, replaceable in tests.
    std::function<VolumeIdentity(const std::string& folder)> mediumOf = volumeIdentityOf;

    // The per-folder and per-object steps, open to tests.
    void ScanFolder(const std::string& path);
    void ConvertCompressedObject(const FileEntry& sourceObject);
    void QuarantineBadObject(const FileEntry& sourceObject);

private:
    void FinishRun();
    void endStoppedRun(const std::string& fileAtHand);
    void flushOutputs() noexcept;
    void removeWorkingFolder();
    void removeLeftovers(const std::string& destination) noexcept;
    // The disc journal (run_journal.cpp): a run's line once it passed the
    // folder checks, and the question before a disc is migrated again.
    void beginJournal();
    bool skippedAsDoneBefore();
    // The selected files of the disc that `done` does not hold, by a walk
    // that reads only the folders.
    int32_t countMissing(const DoneFiles& done);
    // In a pass that brings only what is missing: what an earlier run did with `file`.
    const ProtocolLine* doneBefore(const FileEntry& file) const;
    void journalRun(JournalResult result) noexcept;
    void resetAfterRun();
    // The disc's protocol (run_protocol.cpp): a line for each file the walk
    // reaches, what its output holds, and what the disc's DICOMDIRs name.
    void beginProtocol();
    void openLine(const FileEntry& file);
    void closeLine() noexcept;
    void noteOnLine(const std::string& note) noexcept;
    // The file at hand has this output, whose bytes `hash` and `reader` saw.
    void recordOutput(ProtocolResult result, const std::string& outputPath, Sha256& hash,
                      DicomReader* reader) noexcept;
    void writeBatchWhenDue() noexcept;
    void writeBatch() noexcept;
    void checkDicomdirs() noexcept;
    void checkDicomdir(const std::string& relativePath, const std::string& path);
    void missingPerDicomdir(const std::string& file, const std::string& sopInstanceUid, const std::string& note);
    void warnOfMissingImages() noexcept;
    void protocolFailed(const Error& e) noexcept;
    // The run's journal line as it stands, waiting beside the protocol.
    void journalProgress() noexcept;
    std::string relativeToSource(const std::string& path) const;
    void handleFile(const FileEntry& file, int32_t& position);
    bool isRunFolder(const FolderIdentity& folder) const;
    bool waitForDecompressor(class ChildProcess& child);
    void logDecompressorOutcome(const class ChildProcess& child, const std::string& objectName) noexcept;
    UniqueNameSource& nameSource();
    // Takes the window's events: false once the run is to stop. A close ends
    // the run after the file at hand, without a report but with one error-log
    // line naming that file; the session's end ends it where the engine
    // stands: the decompressor at hand is ended, the stop logged as a close
    // logs it, what was written flushed and the working folder removed.
    bool yieldToWindow();
    bool sessionEnds() const { return request_ == RunRequest::EndNow; }
    void stopBox(const std::string& text);

    // The one handler of the per-file operations: call inside a catch block;
    // logs the failure at hand once, with the current file name.
    void logCurrentFailure() noexcept;
    // The same for a failure that concerns `fileName` (a folder, say).
    void logCaughtFailure(const std::string& fileName) noexcept;
    // A log that cannot be written must never stop a run.
    void logError(int32_t number, const std::string& description, const std::string& procedure,
                  const std::string& fileName, const std::string& origin = {}) noexcept;
    void logDebug(const std::string& text) noexcept;
    // Tells the user once per run that the logs cannot be written.
    void logsFailed() noexcept;

    WindowPort& window_;
    const Logs& logs_;
    std::string programFolder_;
    FileSystem fs_;
    RunState state_;
    // What this run wrote into the destination (.dcm and .err) since the
    // last batch, with the medium's file each came from and its protocol line,
    // to be on stable storage before that line is written.
    struct RunOutput {
        std::string path;
        std::string sourceName;
        bool counted = false;  // in MigratedCount
        std::optional<size_t> line{};  // in batch_
    };
    std::vector<RunOutput> outputs_;
    bool running_ = false;
    RunRequest request_ = RunRequest::GoOn;
    bool finished_ = false;                       // the run's work is done: the report shows
    bool fileOfThisRun_ = false;                  // CurrentFileName names a file of this run
    bool logFailureShown_ = false;
    std::set<FolderIdentity> scannedFolders_;  // of this run
    Journal journal_;
    JournalRecord journalRecord_;    // of the run at hand
    int32_t setAside_ = 0;           // this run's copies into BadObjects
    int32_t errorLines_ = 0;         // this run's lines in the error log
    size_t workingNameLimit_ = 255;  // of the working folder's file system

    // The run's protocol and what its lines tell.
    std::unique_ptr<DiscProtocol> protocol_;
    std::string protocolBase_;        // also when the protocol could not be made
    std::vector<ProtocolLine> batch_;  // lines since the last batch, in the walk's order
    std::optional<size_t> line_;       // of the file at hand, in batch_
    std::chrono::steady_clock::time_point lastBatch_;
    std::string scanRoot_;  // the source folder as the walk began with it
    // Every file reached, by discPathKey: whether it was migrated, and the
    // SOP Instance UID its output carries. Bounded by the disc's files.
    struct Reached {
        bool migrated = false;
        std::string sopInstanceUid;
    };
    std::unordered_map<std::string, Reached> reached_;
    std::vector<std::pair<std::string, std::string>> dicomdirs_;  // relative path, path
    RunContents contents_;
    EarlierRuns earlier_;
    int32_t alreadyInDestination_ = 0;
    int32_t missingPerDicomdir_ = 0;
    bool protocolFailureShown_ = false;
    // A second pass: the files earlier runs migrated or set aside are passed over.
    bool onlyMissing_ = false;
    DoneFiles doneBefore_;
};

}  // namespace jor
