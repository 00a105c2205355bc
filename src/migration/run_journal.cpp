// The disc journal's side of a run: its line, when it is written, the question before a repeat.
//
// The disc journal's side of a run: what a run's line holds, when it is
// written, and the question before a disc already migrated goes again.
#include "migration/migration_engine.h"

#include <algorithm>
#include <exception>

namespace jor {

void MigrationEngine::recoverJournal() noexcept {
    appendKeptProtocolLines(programFolder_);
    try {
        journal_.appendKept();
    } catch (...) {
        // Still held open, or not writable: the lines go on waiting.
    }
}

// Once the folder checks have passed: the run has a line from here on.
void MigrationEngine::beginJournal() {
    recoverJournal();
    journalRecord_ = JournalRecord{};
    journalRecord_.start = logs_.now();
    journalRecord_.source = window_.sourceText();
    journalRecord_.destination = window_.destText();
    journalRecord_.pacs = window_.pacsText();
    try {
        setJournalMedium(journalRecord_, mediumOf(journalRecord_.source));
    } catch (const std::exception&) {
        // An unknown medium is journalled without label and serial.
    }
    setAside_ = 0;
    errorLines_ = 0;
}

// The commonest slip of disc after disc: a disc done before put in again.
// Only a removable or optical medium with a serial can be recognised; a
// journal that cannot be read asks nothing. When earlier runs left files of
// it behind (stopped, killed, unreadable), the default brings only those.
bool MigrationEngine::skippedAsDoneBefore() {
    onlyMissing_ = false;
    doneBefore_.clear();
    const JournalRecord& run = journalRecord_;
    const auto runs = journal_.runsOfDisc(run.label, run.serial, run.source, run.destination);
    const auto isRun = [](const JournalRecord& r) { return r.result != JournalResult::Skipped; };
    const auto latest = std::find_if(runs.rbegin(), runs.rend(), isRun);
    if (latest == runs.rend()) return false;
    DoneFiles done = doneFilesOf(programFolder_, runs);
    const int32_t missing = countMissing(done);
    const std::string disc = "Der Datentr\xC3\xA4ger " +
                             (latest->label.empty() ? "" : escapeControls(latest->label) + " ") + "(Seriennummer " +
                             escapeControls(latest->serial) + ") wurde am ";
    const auto dayOf = [](const std::string& stamp) { return stamp.substr(0, stamp.find(' ')); };
    if (missing > 0) {
        const std::string question =
            disc + dayOf(latest->end) + " nach " + escapeControls(latest->destination) + " migriert, aber " +
            (missing == 1 ? "1 Datei fehlt" : std::to_string(missing) + " Dateien fehlen") +
            " dort noch.\r\n\r\nWas soll migriert werden?";
        const size_t answer = window_.askChoice(
            ProgramTitle, question,
            {missing == 1 ? "Nur die fehlende Datei" : "Nur die " + std::to_string(missing) + " fehlenden Dateien",
             "Alle Dateien noch einmal", "Nichts"});
        if (answer == 0) {
            onlyMissing_ = true;
            doneBefore_ = std::move(done);
        }
        if (answer <= 1) return false;
    } else {
        const auto before = journal_.lastCompleted(run.label, run.serial, run.source, run.destination);
        if (!before) return false;
        const std::string question = disc + dayOf(before->end) + " bereits nach " +
                                     escapeControls(before->destination) + " migriert (" +
                                     std::to_string(before->migrated) + " von " + std::to_string(before->selected) +
                                     " Dateien). Noch einmal migrieren?";
        if (window_.askQuestion(ProgramTitle, question)) return false;
    }
    beginProtocol();
    journalRun(JournalResult::Skipped);
    return true;
}

namespace {

void setCounts(JournalRecord& record, const RunState& state, int32_t setAside, int32_t errorLines) {
    record.selected = state.SelectedCount;
    record.migrated = state.MigratedCount;
    record.setAside = setAside;
    record.errorLines = errorLines;
}

}  // namespace

void MigrationEngine::journalProgress() noexcept {
    try {
        JournalRecord record = journalRecord_;
        record.end = logs_.now();
        record.result = JournalResult::Stopped;
        setCounts(record, state_, setAside_, errorLines_);
        journal_.keep(record);
    } catch (...) {
        logsFailed();
    }
}

// Written when the run ends, with its final counts, after the lines earlier
// runs could not write; a journal that cannot be written keeps the line
// waiting and gets the logs' one box, and the run goes on.
void MigrationEngine::journalRun(JournalResult result) noexcept {
    try {
        JournalRecord record = journalRecord_;
        record.end = logs_.now();
        record.result = result;
        if (result != JournalResult::Skipped) {
            setCounts(record, state_, setAside_, errorLines_);
            record.patients = contents_.patients();
            record.studies = contents_.studies();
            record.series = contents_.series();
            record.images = contents_.images();
            record.notDicom = contents_.notDicom();
            record.alreadyInDestination = alreadyInDestination_;
            record.missingPerDicomdir = missingPerDicomdir_;
            record.differingPatients = contents_.differingPatients();
        }
        try {
            if (protocol_) protocol_->close();
        } catch (const Error& e) {
            protocolFailed(e);
        }
        journal_.keep(record);
        journal_.appendKept();
    } catch (const Error& e) {
        if (!e.inUse()) return logsFailed();
        if (sessionEnds()) return;
        try {
            stopBox("Das Journal " + journal_.path() +
                    " ist in einem anderen Programm ge\xC3\xB6"
                    "ffnet. Die Zeile dieses Laufs wird nachgetragen, sobald es dort geschlossen ist.");
        } catch (...) {}
    } catch (...) {
        logsFailed();
    }
}

}  // namespace jor
