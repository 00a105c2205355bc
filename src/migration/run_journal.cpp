// The disc journal's side of a run: what a run's line holds, when it is
// written, and the question before a disc already migrated goes again.
#include "migration/engine.h"

#include <exception>

namespace jor {

// Once the folder checks have passed: the run has a line from here on.
void MigrationEngine::beginJournal() {
    journalRecord_ = JournalRecord{};
    journalRecord_.Start = logs_.now();
    journalRecord_.Source = window_.sourceText();
    journalRecord_.Destination = window_.destText();
    journalRecord_.Pacs = window_.pacsText();
    try {
        setJournalMedium(journalRecord_, mediumOf(journalRecord_.Source));
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
    if (journalRecord_.Serial.empty()) return false;
    const auto before = journal_.LastCompleted(journalRecord_.Label, journalRecord_.Serial, journalRecord_.Source,
                                               journalRecord_.Destination);
    if (!before) return false;
    const std::string question =
        "Der Datentr\xC3\xA4ger " + escapeControls(before->Label) + " (Seriennummer " + escapeControls(before->Serial) +
        ") wurde am " + before->End.substr(0, before->End.find(' ')) + " bereits nach " +
        escapeControls(before->Destination) + " migriert (" + std::to_string(before->Migrated) + " von " +
        std::to_string(before->Selected) + " Dateien). Noch einmal migrieren?";
    if (window_.askQuestion(ProgramTitle, question)) return false;
    journalRun(JournalResult::Skipped);
    return true;
}

// Written when the run ends, with its final counts; a journal that cannot be
// written gets the logs' one box, and the run goes on.
void MigrationEngine::journalRun(JournalResult result) noexcept {
    try {
        JournalRecord record = journalRecord_;
        record.End = logs_.now();
        record.Result = result;
        if (result != JournalResult::Skipped) {
            record.Selected = state_.SelectedCount;
            record.Migrated = state_.MigratedCount;
            record.SetAside = setAside_;
            record.ErrorLines = errorLines_;
        }
        journal_.Append(record);
    } catch (...) {
        logsFailed();
    }
}

}  // namespace jor
