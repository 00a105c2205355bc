// The disc journal Logs/Journal.csv: its line format, appending a run, the lines that wait, finding earlier runs.
#pragma once

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/volume_identity.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace jor {

enum class JournalResult { Completed, Stopped, Skipped, OnlyMissing };

// "abgeschlossen", "abgebrochen", "ausgelassen", "nur fehlende"
std::string_view journalResultText(JournalResult result);

// One run; texts in UTF-8. The counts after `result` and the protocol came
// with the disc protocols: lines written before have none, and read back as 0.
struct JournalRecord {
    std::string start;  // date and time as the logs write them
    std::string end;
    std::string label;
    std::string serial;
    std::string source;
    std::string destination;
    std::string pacs;
    int32_t selected = 0;
    int32_t migrated = 0;
    int32_t setAside = 0;  // into BadObjects
    int32_t errorLines = 0;
    JournalResult result = JournalResult::Completed;
    int32_t patients = 0;  // distinct among the run's DICOM outputs
    int32_t studies = 0;
    int32_t series = 0;
    int32_t images = 0;
    int32_t notDicom = 0;               // outputs that are no DICOM
    int32_t alreadyInDestination = 0;   // outputs an earlier run brought into the destination
    int32_t missingPerDicomdir = 0;
    int32_t differingPatients = 0;      // patient IDs with another name or birth date
    std::string protocol;               // its file name in Logs/Discs

    friend bool operator==(const JournalRecord&, const JournalRecord&) = default;
};

// The medium as the journal keeps it: a source on a fixed disk, or on a
// medium that tells no serial, goes without label and serial.
void setJournalMedium(JournalRecord& record, const VolumeIdentity& medium);

// One line as the file holds it, without its line end: 21 fields separated
// by ";", every text through escapeControls and in the system's code page,
// quoted and guarded as csv.h says, so that no text can shift a column or start a row.
std::string journalLine(const JournalRecord& record);
// A text as the journal gives it back (escaped, through the system's code
// page): compare a folder or label with a record's in this form.
std::string asJournalKeepsIt(const std::string& text);
// A line read back, of 21 fields or of the 12 of lines written before the
// protocols; nullopt for the header and for broken lines.
std::optional<JournalRecord> journalRecordOf(std::string_view line);

// Appended to only, never rewritten: in the system's code page with CR LF, a
// header line first in a new or empty file (and again above the first line
// with more columns than the header before it), as a German spreadsheet opens it.
class Journal {
public:
    explicit Journal(std::string programFolder);

    // Raises jor::Error when the folder or the file cannot be written, as the logs do.
    void append(const JournalRecord& record) const;

    // A run's line that is not (yet) in the journal waits beside its
    // protocol, in Logs/Discs/<protocol's base>.journal: a run killed on the
    // way leaves it there with the counts of its last batch, and a journal
    // held open by another program gets it once it can be written. Raises jor::Error.
    void keep(const JournalRecord& record) const;
    // Appends the waiting lines in the order of the runs, each removed once
    // appended, but for the one of `except` (the run at hand). Raises the
    // journal's failure; lines not appended go on waiting.
    void appendKept(const std::string& except = {}) const;

    // Every run the journal holds, then those waiting, in their order; texts
    // back in UTF-8. Never raises: a missing or unreadable journal holds none,
    // and broken lines are passed over.
    void forEachRun(const std::function<void(const JournalRecord&)>& run) const;
    // The runs with this label, serial, source and destination (compared as
    // the file holds them), in their order; an empty serial matches nothing.
    std::vector<JournalRecord> runsOfDisc(const std::string& label, const std::string& serial,
                                          const std::string& source, const std::string& destination) const;
    // The last of them that ran to its end (a second pass included).
    std::optional<JournalRecord> lastCompleted(const std::string& label, const std::string& serial,
                                               const std::string& source, const std::string& destination) const;

    std::string path() const { return pathUnder(folder(), "Journal.csv"); }

private:
    std::string folder() const { return pathUnder(programFolder_, "Logs"); }
    std::vector<FileEntry> keptLines() const;

    std::string programFolder_;
    FileSystem fs_;
};

}  // namespace jor
