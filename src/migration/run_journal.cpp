// The disc journal's side of a run: what a run's line holds, when it is
// written, and the question before a disc already migrated goes again.
#include "migration/engine.h"

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
// journal that cannot be read asks nothing.
bool MigrationEngine::skippedAsDoneBefore() {
    if (journalRecord_.serial.empty()) return false;
    const auto before = journal_.LastCompleted(journalRecord_.label, journalRecord_.serial, journalRecord_.source,
                                               journalRecord_.destination);
    if (!before) return false;
    const std::string question =
        "Der Datentr\xC3\xA4ger " + (before->label.empty() ? "" : escapeControls(before->label) + " ") +
        "(Seriennummer " + escapeControls(before->serial) + ") wurde am " + before->end.substr(0, before->end.find(' ')) +
        " bereits nach " + escapeControls(before->destination) + " migriert (" + std::to_string(before->migrated) +
        " von " + std::to_string(before->selected) + " Dateien). Noch einmal migrieren?";
    if (window_.askQuestion(ProgramTitle, question)) return false;
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
        if (sessionEnded_) return;
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
