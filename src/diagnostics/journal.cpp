// The disc journal's format and file: writing a run's line, the lines that wait, reading earlier runs back.
#include "diagnostics/journal.h"

#include "diagnostics/csv.h"
#include "diagnostics/disc_protocol.h"
#include "diagnostics/logs.h"
#include "platform/system_text.h"

#include <algorithm>
#include <charconv>

namespace jor {

namespace {

constexpr size_t EarlierColumnCount = 12;  // before the disc protocols
constexpr size_t ColumnCount = 21;
constexpr char HeaderLine[] =
    "Beginn;Ende;Datentr\xC3\xA4ger;Seriennummer;Quellverzeichnis;Zielverzeichnis;PACS;Ausgew\xC3\xA4hlt;Migriert;"
    "BadObjects;Fehlerzeilen;Ergebnis;Patienten;Studien;Serien;Bilder;Kein DICOM;Bereits im Ziel;"
    "Fehlen laut DICOMDIR;Abweichende Patientendaten;Protokoll";
constexpr std::string_view HeaderStart = "Beginn;Ende;";
constexpr std::string_view KeptSuffix = ".journal";
constexpr JournalResult Results[] = {JournalResult::Completed, JournalResult::Stopped, JournalResult::Skipped,
                                     JournalResult::OnlyMissing};

// Field by field: a text that is no UTF-8 stays as it is and does not keep
// the other fields of its line from being converted.
std::string inFile(const std::string& text) { return csvField(toSystemText(escapeControls(text))); }
std::string fromFile(const std::string& field) { return fromSystemText(csvText(field)); }

std::optional<int32_t> count(const std::string& text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

using Texts = std::string JournalRecord::*;
constexpr Texts LeadingTexts[] = {&JournalRecord::start,  &JournalRecord::end,         &JournalRecord::label,
                                  &JournalRecord::serial, &JournalRecord::source,      &JournalRecord::destination,
                                  &JournalRecord::pacs};
using Counts = int32_t JournalRecord::*;
constexpr Counts RunCounts[] = {&JournalRecord::selected, &JournalRecord::migrated, &JournalRecord::setAside,
                                &JournalRecord::errorLines};
constexpr Counts ContentCounts[] = {&JournalRecord::patients,           &JournalRecord::studies,
                                    &JournalRecord::series,             &JournalRecord::images,
                                    &JournalRecord::notDicom,           &JournalRecord::alreadyInDestination,
                                    &JournalRecord::missingPerDicomdir, &JournalRecord::differingPatients};

// Calls `line` for every line of the file; never raises.
template <typename Line>
void forEachLine(const FileSystem& fs, const std::string& path, const Line& line) {
    try {
        if (!fs.FileExists(path)) return;
        std::string pending;
        fs.ReadSharedFileInChunks(path, 64 * 1024, [&](std::string_view chunk) {
            pending.append(chunk);
            takeLines(pending, line);
            return true;
        });
        if (!pending.empty()) line(std::string_view(pending));
    } catch (...) {
        // Unreadable: no runs from it.
    }
}

}  // namespace

std::string_view journalResultText(JournalResult result) {
    switch (result) {
    case JournalResult::Completed: return "abgeschlossen";
    case JournalResult::Stopped: return "abgebrochen";
    case JournalResult::Skipped: return "ausgelassen";
    case JournalResult::OnlyMissing: return "nur fehlende";
    }
    return {};
}

void setJournalMedium(JournalRecord& record, const VolumeIdentity& medium) {
    const bool known = medium.removable && !medium.serial.empty();
    record.label = known ? medium.label : std::string();
    record.serial = known ? medium.serial : std::string();
}

std::string journalLine(const JournalRecord& r) {
    std::string line;
    for (const Texts text : LeadingTexts) line += inFile(r.*text) + ';';
    for (const Counts number : RunCounts) line += std::to_string(r.*number) + ';';
    line.append(journalResultText(r.result));
    for (const Counts number : ContentCounts) line += ';' + std::to_string(r.*number);
    return line + ';' + inFile(r.protocol);
}

std::string asJournalKeepsIt(const std::string& text) { return fromSystemText(toSystemText(escapeControls(text))); }

std::optional<JournalRecord> journalRecordOf(std::string_view line) {
    const auto fields = csvFields(line);
    if (!fields || (fields->size() != ColumnCount && fields->size() != EarlierColumnCount)) return std::nullopt;
    JournalRecord record;
    size_t at = 0;
    for (const Texts text : LeadingTexts) record.*text = fromFile((*fields)[at++]);
    for (const Counts number : RunCounts) {
        const auto value = count((*fields)[at++]);
        if (!value) return std::nullopt;
        record.*number = *value;
    }
    const auto result = std::find_if(std::begin(Results), std::end(Results),
                                     [&](JournalResult r) { return journalResultText(r) == (*fields)[at]; });
    if (result == std::end(Results)) return std::nullopt;
    record.result = *result;
    if (fields->size() == EarlierColumnCount) return record;
    for (const Counts number : ContentCounts) {
        const auto value = count((*fields)[++at]);
        if (!value) return std::nullopt;
        record.*number = *value;
    }
    record.protocol = fromFile((*fields)[++at]);
    return record;
}

Journal::Journal(std::string programFolder) : programFolder_(std::move(programFolder)) {}

void Journal::append(const JournalRecord& record) const {
    if (!fs_.FolderExists(folder())) fs_.CreateFolder(folder());
    const std::string header = toSystemText(HeaderLine);
    std::optional<char> lastByte;
    std::string lastHeader, pending;
    if (fs_.FileExists(path())) {
        fs_.ReadSharedFileInChunks(path(), 64 * 1024, [&](std::string_view chunk) {
            lastByte = chunk.back();
            pending.append(chunk);
            takeLines(pending, [&](std::string_view line) {
                if (line.starts_with(HeaderStart)) lastHeader = line;
            });
            return true;
        });
    }
    std::string text;
    // A line an earlier run left cut short keeps to itself and does not take this one along.
    if (lastByte && *lastByte != '\n') text = "\r\n";
    // A journal begun before the protocols names the new columns above the first line that has them.
    if (lastHeader != header) text += header + "\r\n";
    text += journalLine(record) + "\r\n";
    fs_.AppendToFile(path(), text);
}

void Journal::keep(const JournalRecord& record) const {
    const std::string discs = discsFolderOf(programFolder_);
    if (!fs_.FolderExists(folder())) fs_.CreateFolder(folder());
    if (!fs_.FolderExists(discs)) fs_.CreateFolder(discs);
    const std::string base =
        record.protocol.ends_with(".csv") ? record.protocol.substr(0, record.protocol.size() - 4) : record.protocol;
    const std::string kept = pathUnder(discs, base + std::string(KeptSuffix));
    fs_.WriteFileAtomically(kept, journalLine(record) + "\r\n");
    for (const auto& failure : fs_.FlushToStableStorage({kept})) throw failure.error;
}

std::vector<FileEntry> Journal::keptLines() const {
    std::vector<FileEntry> kept;
    try {
        const std::string discs = discsFolderOf(programFolder_);
        if (!fs_.FolderExists(discs)) return kept;
        for (FileEntry& file : fs_.GetFolder(discs).files)
            if (file.name.ends_with(KeptSuffix)) kept.push_back(std::move(file));
    } catch (...) {
        // No folder to look in: nothing waits.
    }
    // The names begin with the run's start: sorted, they are in the order of the runs.
    std::sort(kept.begin(), kept.end(), [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
    return kept;
}

void Journal::appendKept(const std::string& except) const {
    for (const FileEntry& file : keptLines()) {
        if (!except.empty() && file.name == except + std::string(KeptSuffix)) continue;
        std::optional<JournalRecord> record;
        forEachLine(fs_, file.path, [&](std::string_view line) {
            if (!record) record = journalRecordOf(line);
        });
        if (record) append(*record);
        fs_.DeleteFile(file.path, true);
    }
}

void Journal::forEachRun(const std::function<void(const JournalRecord&)>& run) const {
    const auto take = [&](std::string_view line) {
        if (const auto record = journalRecordOf(line)) run(*record);
    };
    forEachLine(fs_, path(), take);
    for (const FileEntry& file : keptLines()) forEachLine(fs_, file.path, take);
}

std::vector<JournalRecord> Journal::runsOfDisc(const std::string& label, const std::string& serial,
                                               const std::string& source, const std::string& destination) const {
    std::vector<JournalRecord> runs;
    if (serial.empty()) return runs;
    forEachRun([&](const JournalRecord& run) {
        if (run.label == asJournalKeepsIt(label) && run.serial == asJournalKeepsIt(serial) &&
            run.source == asJournalKeepsIt(source) && run.destination == asJournalKeepsIt(destination))
            runs.push_back(run);
    });
    return runs;
}

std::optional<JournalRecord> Journal::lastCompleted(const std::string& label, const std::string& serial,
                                                    const std::string& source, const std::string& destination) const {
    const auto runs = runsOfDisc(label, serial, source, destination);
    const auto last = std::find_if(runs.rbegin(), runs.rend(),
                                   [](const JournalRecord& run) {
                                       return run.result == JournalResult::Completed ||
                                              run.result == JournalResult::OnlyMissing;
                                   });
    if (last == runs.rend()) return std::nullopt;
    return *last;
}

}  // namespace jor
