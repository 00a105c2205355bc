// The disc journal's format and file: writing a run's line, reading earlier runs back.
#include "diagnostics/journal.h"

#include "diagnostics/logs.h"
#include "platform/system_text.h"

#include <charconv>

namespace jor {

namespace {

constexpr size_t ColumnCount = 12;
constexpr char HeaderLine[] =
    "Beginn;Ende;Datentr\xC3\xA4ger;Seriennummer;Quellverzeichnis;Zielverzeichnis;PACS;Ausgew\xC3\xA4hlt;Migriert;"
    "BadObjects;Fehlerzeilen;Ergebnis";

// A spreadsheet runs a cell that starts like a formula; a disc's label could
// start so. The apostrophe makes it text, and is taken off when read back.
bool formulaLike(std::string_view text) {
    return !text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos;
}

// Field by field: a text that is no UTF-8 stays as it is and does not keep
// the other fields of its line from being converted.
std::string inFile(const std::string& text) {
    const std::string field = toSystemText(escapeControls(text));
    return formulaLike(field) ? "'" + field : field;
}

std::string fromFile(const std::string& field) {
    const bool guarded = field.size() > 1 && field[0] == '\'' && formulaLike(std::string_view(field).substr(1));
    return fromSystemText(guarded ? field.substr(1) : field);
}

std::string quoted(const std::string& field) {
    const bool plain = field.find_first_of(";\"") == std::string::npos &&
                       (field.empty() || (field.front() != ' ' && field.back() != ' '));
    if (plain) return field;
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    return out + '"';
}

std::optional<int32_t> count(const std::string& text) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

// Of a completed run's fields.
std::optional<JournalRecord> completedRecord(const std::vector<std::string>& fields) {
    const auto selected = count(fields[7]), migrated = count(fields[8]), setAside = count(fields[9]),
               errorLines = count(fields[10]);
    if (!selected || !migrated || !setAside || !errorLines) return std::nullopt;
    return JournalRecord{fromFile(fields[0]), fromFile(fields[1]), fromFile(fields[2]), fromFile(fields[3]),
                         fromFile(fields[4]), fromFile(fields[5]), fromFile(fields[6]), *selected,
                         *migrated,           *setAside,           *errorLines,         JournalResult::Completed};
}

}  // namespace

std::string_view journalResultText(JournalResult result) {
    switch (result) {
    case JournalResult::Completed: return "abgeschlossen";
    case JournalResult::Stopped: return "abgebrochen";
    case JournalResult::Skipped: return "ausgelassen";
    }
    return {};
}

void setJournalMedium(JournalRecord& record, const VolumeIdentity& medium) {
    const bool known = medium.Removable && !medium.Serial.empty();
    record.Label = known ? medium.Label : std::string();
    record.Serial = known ? medium.Serial : std::string();
}

std::string journalLine(const JournalRecord& r) {
    std::string line;
    for (const std::string* text : {&r.Start, &r.End, &r.Label, &r.Serial, &r.Source, &r.Destination, &r.Pacs})
        line += quoted(inFile(*text)) + ';';
    for (const int32_t number : {r.Selected, r.Migrated, r.SetAside, r.ErrorLines})
        line += std::to_string(number) + ';';
    return line.append(journalResultText(r.Result));
}

std::optional<std::vector<std::string>> journalFields(std::string_view line) {
    std::vector<std::string> fields;
    size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size()) return std::nullopt;
                if (line[i] != '"') {
                    field.push_back(line[i]);
                } else if (i + 1 < line.size() && line[i + 1] == '"') {
                    field.push_back('"');
                    ++i;
                } else {
                    ++i;
                    break;
                }
            }
            if (i < line.size() && line[i] != ';') return std::nullopt;
        } else {
            const size_t end = std::min(line.find(';', i), line.size());
            field = line.substr(i, end - i);
            if (field.find('"') != std::string::npos) return std::nullopt;
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= line.size()) return fields;
        ++i;
    }
}

Journal::Journal(std::string programFolder) : programFolder_(std::move(programFolder)) {}

void Journal::Append(const JournalRecord& record) const {
    if (!fs_.FolderExists(folder())) fs_.CreateFolder(folder());
    std::optional<char> lastByte;
    if (fs_.FileExists(path())) {
        fs_.ReadSharedFileInChunks(path(), 64 * 1024, [&](std::string_view chunk) {
            lastByte = chunk.back();
            return true;
        });
    }
    std::string text;
    if (!lastByte) text = toSystemText(HeaderLine) + "\r\n";
    // A line an earlier run left cut short keeps to itself and does not take this one along.
    else if (*lastByte != '\n')
        text = "\r\n";
    text += journalLine(record) + "\r\n";
    fs_.AppendToFile(path(), text);
}

std::optional<JournalRecord> Journal::LastCompleted(const std::string& label, const std::string& serial,
                                                    const std::string& source, const std::string& destination) const {
    if (serial.empty()) return std::nullopt;
    try {
        if (!fs_.FileExists(path())) return std::nullopt;
        const std::string wanted[] = {inFile(label), inFile(serial), inFile(source), inFile(destination)};
        std::optional<JournalRecord> found;
        const auto take = [&](std::string_view line) {
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            const auto fields = journalFields(line);
            if (!fields || fields->size() != ColumnCount) return;
            if ((*fields)[11] != journalResultText(JournalResult::Completed)) return;
            if ((*fields)[2] != wanted[0] || (*fields)[3] != wanted[1] || (*fields)[4] != wanted[2] ||
                (*fields)[5] != wanted[3])
                return;
            if (auto record = completedRecord(*fields)) found = std::move(record);
        };
        std::string pending;
        fs_.ReadSharedFileInChunks(path(), 64 * 1024, [&](std::string_view chunk) {
            pending.append(chunk);
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
                take(std::string_view(pending).substr(start, end - start));
            pending.erase(0, start);
            return true;
        });
        take(pending);
        return found;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace jor
