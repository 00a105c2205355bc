// MigrationEngine: the order of a run's steps and what they share; the decisions they take have headers of their own.
#pragma once

#include "diagnostics/journal.h"
#include "diagnostics/logs.h"
#include "migration/run_state.h"
#include "migration/window_port.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/volume_identity.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace jor {

inline constexpr const char* ProgramTitle = "Jor-Orvek";

// The run's working folder under a temporary folder.
inline std::string workingFolderOf(const std::string& tempFolder) { return pathUnder(tempFolder, "TempOrvek"); }

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
    // The window was closed during a run: the run ends after the file at
    // hand, without a report but with one error-log line naming that file.
    void requestStop() { stopRequested_ = true; }
    // The desktop session ends during a run, and the process with it: the run
    // ends now, from inside the yield that brought the news. The decompressor
    // at hand is ended, the stop logged as a close logs it, what was written
    // flushed and the working folder removed. Whatever the engine was doing
    // when it yielded is not taken up again.
    void EndSessionNow();

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
    void journalRun(JournalResult result) noexcept;
    void resetAfterRun();
    void handleFile(const FileEntry& file, int32_t& position);
    bool isRunFolder(const FolderIdentity& folder) const;
    bool waitForDecompressor(class ChildProcess& child);
    void logDecompressorOutcome(const class ChildProcess& child, const std::string& objectName) noexcept;
    UniqueNameSource& nameSource();
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
    // What this run wrote into the destination (.dcm and .err), with the
    // medium's file each came from, to be on stable storage before the report.
    struct RunOutput {
        std::string path;
        std::string sourceName;
        bool counted = false;  // in MigratedCount
    };
    std::vector<RunOutput> outputs_;
    bool running_ = false;
    bool stopRequested_ = false;
    bool sessionEnded_ = false;
    bool finished_ = false;                       // the run's work is done: the report shows
    bool fileOfThisRun_ = false;                  // CurrentFileName names a file of this run
    class ChildProcess* decompressor_ = nullptr;  // while one runs
    bool logFailureShown_ = false;
    std::set<FolderIdentity> scannedFolders_;  // of this run
    Journal journal_;
    JournalRecord journalRecord_;    // of the run at hand
    int32_t setAside_ = 0;           // this run's copies into BadObjects
    int32_t errorLines_ = 0;         // this run's lines in the error log
    size_t workingNameLimit_ = 255;  // of the working folder's file system
};

}  // namespace jor
