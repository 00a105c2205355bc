// The disc journal Logs/Journal.csv: its line format, appending a run, finding an earlier one.
#pragma once

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/volume_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

enum class JournalResult { Completed, Stopped, Skipped };

// "abgeschlossen", "abgebrochen", "ausgelassen"
std::string_view journalResultText(JournalResult result);

// One run; texts in UTF-8.
struct JournalRecord {
    std::string Start;  // date and time as the logs write them
    std::string End;
    std::string Label;
    std::string Serial;
    std::string Source;
    std::string Destination;
    std::string Pacs;
    int32_t Selected = 0;
    int32_t Migrated = 0;
    int32_t SetAside = 0;  // into BadObjects
    int32_t ErrorLines = 0;
    JournalResult Result = JournalResult::Completed;

    friend bool operator==(const JournalRecord&, const JournalRecord&) = default;
};

// The medium as the journal keeps it: a source on a fixed disk, or on a
// medium that tells no serial, goes without label and serial.
void setJournalMedium(JournalRecord& record, const VolumeIdentity& medium);

// One line as the file holds it, without its line end: 12 fields separated
// by ";", every text through escapeControls and in the system's code page,
// quoted where it holds ";" or '"' or begins or ends with a blank (quotes
// doubled), so that no text can shift a column or start a row.
std::string journalLine(const JournalRecord& record);
// The fields of one line, unquoted; nullopt for a line that breaks the
// quoting (an open quote, text after a closing one, a quote in an unquoted field).
std::optional<std::vector<std::string>> journalFields(std::string_view line);

// Appended to only, never rewritten: in the system's code page with CR LF, a
// header line first in a new or empty file, as a German spreadsheet opens it.
class Journal {
public:
    explicit Journal(std::string programFolder);

    // Raises jor::Error when the folder or the file cannot be written, as the logs do.
    void Append(const JournalRecord& record) const;

    // The last completed run with this label, serial, source and destination
    // (compared as the file holds them), its texts back in UTF-8. Never
    // raises: a missing or unreadable journal finds none, broken lines are
    // passed over, and an empty serial matches nothing.
    std::optional<JournalRecord> LastCompleted(const std::string& label, const std::string& serial,
                                               const std::string& source, const std::string& destination) const;

    std::string path() const { return pathUnder(folder(), "Journal.csv"); }

private:
    std::string folder() const { return pathUnder(programFolder_, "Logs"); }

    std::string programFolder_;
    FileSystem fs_;
};

}  // namespace jor
