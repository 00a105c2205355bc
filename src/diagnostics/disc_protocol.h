// The protocol of a disc, Logs/Discs/<start> <label>.csv: its columns, its lines, its file, reading it back.
#pragma once

#include "platform/file_system.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace jor {

enum class ProtocolResult { Migrated, BadObjects, NotSelected, PassedOver, Failed, MissingPerDicomdir, AlreadyMigrated };

// "migriert", "BadObjects", "nicht ausgewählt", "übergangen", "Fehler",
// "fehlt laut DICOMDIR", "bereits migriert"
std::string_view protocolResultText(ProtocolResult result);

// One file of the disc; texts in UTF-8.
struct ProtocolLine {
    std::string file;  // relative to the source folder
    std::optional<uint64_t> size;
    ProtocolResult result = ProtocolResult::NotSelected;
    std::string output;  // relative to the destination
    std::string sha256;
    std::string patientId;
    std::string patientName;
    std::string birthDate;
    std::string studyUid;
    std::string studyDate;
    std::string seriesUid;
    std::string modality;
    std::string sopInstanceUid;
    std::string note;
    std::string studyDescription;
    std::string accessionNumber;
    std::string sopClassUid;
    std::string transferSyntax;

    bool operator==(const ProtocolLine&) const = default;
};

// The header line, without its line end.
std::string_view protocolHeader();
// One line without its line end: every text through escapeControls and the
// journal's quoting and formula guard, so no name from a disc shifts a
// column or starts a row.
std::string protocolLine(const ProtocolLine& line);
// A line read back; nullopt for the header and for a line that is none of ours.
std::optional<ProtocolLine> protocolLineOf(std::string_view line);

// Logs/Discs under the program folder.
std::string discsFolderOf(const std::string& programFolder);
// "<stamp> <label>" as a file name: whatever the label holds (separators,
// "..", device names, control characters, 300 characters), the name stays a
// plain name in the folder it is made for, and no longer than 100 characters.
std::string protocolBaseName(const std::string& stamp, const std::string& label);

// One run's protocol, written as the run goes: lines are appended in batches
// and brought to stable storage with each. A protocol another program holds
// open (a spreadsheet showing it) keeps what it could not append and appends
// it with the next batch; what is still kept at the end waits in
// "<base>.nachtrag" beside it until the protocol can be written again.
class DiscProtocol {
public:
    // Creates Logs/Discs/<base>.csv, new, with the byte-order mark and the
    // header ("<base> (2)" and so on when the name is taken). Raises jor::Error.
    DiscProtocol(const std::string& programFolder, const std::string& baseName);

    const std::string& baseName() const { return baseName_; }
    std::string fileName() const { return baseName_ + ".csv"; }
    std::string path() const;

    // Appends the lines (each ended by CR LF) after those kept before, then
    // flushes the file. Raises jor::Error, keeping the lines for the next call.
    void append(std::string lines);
    // At the run's end: what could not be appended goes to "<base>.nachtrag". Raises jor::Error.
    void close();

private:
    FileSystem fs_;
    std::string folder_;
    std::string baseName_;
    std::string kept_;
};

// Appends each "<base>.nachtrag" of Logs/Discs to its protocol and removes
// it. Never raises: what cannot be appended now waits for the next time.
void appendKeptProtocolLines(const std::string& programFolder) noexcept;

// Calls `line` for each file line of Logs/Discs/<fileName>, those waiting in
// its "<base>.nachtrag" included. Raises jor::Error when it cannot be read.
void readProtocol(const std::string& programFolder, const std::string& fileName,
                  const std::function<void(const ProtocolLine&)>& line);

}  // namespace jor
