// The protocol of a disc: its columns, its lines, its file, reading it back.
#include "diagnostics/disc_protocol.h"

#include "diagnostics/csv.h"
#include "diagnostics/logs.h"
#include "platform/path.h"
#include "platform/utf8_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <vector>

namespace jor {
namespace {

// UTF-8 whatever the system's code page: a patient's name from any
// character set stays exact, and the mark tells a spreadsheet so.
constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view Header =
    "Datei;Gr\xC3\xB6\xC3\x9F"
    "e;Ergebnis;Ausgabe;SHA-256;Patienten-ID;Patientenname;Geburtsdatum;Studien-UID;Studiendatum;Serien-UID;"
    "Modalit\xC3\xA4t;SOP-Instanz-UID;Hinweis;Studienbeschreibung;Zugangsnummer;SOP-Klasse;Transfer-Syntax";
constexpr size_t ColumnCount = 18;
constexpr ProtocolResult Results[] = {ProtocolResult::Migrated,   ProtocolResult::BadObjects,
                                      ProtocolResult::NotSelected, ProtocolResult::PassedOver,
                                      ProtocolResult::Failed,     ProtocolResult::MissingPerDicomdir,
                                      ProtocolResult::AlreadyMigrated};
constexpr size_t LongestBaseName = 100;
constexpr std::string_view KeptSuffix = ".nachtrag";

// The text columns after the file, its size and the result, in their order.
constexpr std::array<std::string ProtocolLine::*, ColumnCount - 3> TextColumns = {
    &ProtocolLine::output,          &ProtocolLine::sha256,      &ProtocolLine::patientId,
    &ProtocolLine::patientName,     &ProtocolLine::birthDate,   &ProtocolLine::studyUid,
    &ProtocolLine::studyDate,       &ProtocolLine::seriesUid,   &ProtocolLine::modality,
    &ProtocolLine::sopInstanceUid,  &ProtocolLine::note,        &ProtocolLine::studyDescription,
    &ProtocolLine::accessionNumber, &ProtocolLine::sopClassUid, &ProtocolLine::transferSyntax};

// Windows takes none of these in a name; a disc's label may hold any.
bool unfitForAName(unsigned char c) { return c < 0x20 || c == 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos; }

}  // namespace

std::string_view protocolResultText(ProtocolResult result) {
    switch (result) {
    case ProtocolResult::Migrated: return "migriert";
    case ProtocolResult::BadObjects: return "BadObjects";
    case ProtocolResult::NotSelected: return "nicht ausgew\xC3\xA4hlt";
    case ProtocolResult::PassedOver: return "\xC3\xBC"
                                            "bergangen";
    case ProtocolResult::Failed: return "Fehler";
    case ProtocolResult::MissingPerDicomdir: return "fehlt laut DICOMDIR";
    case ProtocolResult::AlreadyMigrated: return "bereits migriert";
    }
    return {};
}

std::string_view protocolHeader() { return Header; }

std::string protocolLine(const ProtocolLine& line) {
    std::string text = csvField(escapeControls(line.file)) + ';';
    if (line.size) text += std::to_string(*line.size);
    text += ';';
    text.append(protocolResultText(line.result));
    for (const auto column : TextColumns) text += ';' + csvField(escapeControls(line.*column));
    return text;
}

std::optional<ProtocolLine> protocolLineOf(std::string_view text) {
    if (text.starts_with(ByteOrderMark)) text.remove_prefix(ByteOrderMark.size());
    const auto fields = csvFields(text);
    if (!fields || fields->size() < ColumnCount) return std::nullopt;
    ProtocolLine line;
    line.file = csvText((*fields)[0]);
    const std::string& size = (*fields)[1];
    if (!size.empty()) {
        uint64_t value = 0;
        const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), value);
        if (error != std::errc() || end != size.data() + size.size()) return std::nullopt;
        line.size = value;
    }
    const auto result = std::find_if(std::begin(Results), std::end(Results),
                                     [&](ProtocolResult r) { return protocolResultText(r) == (*fields)[2]; });
    if (result == std::end(Results)) return std::nullopt;
    line.result = *result;
    for (size_t i = 0; i < TextColumns.size(); ++i) line.*TextColumns[i] = csvText((*fields)[3 + i]);
    return line;
}

std::string discsFolderOf(const std::string& programFolder) {
    return pathUnder(pathUnder(programFolder, "Logs"), "Discs");
}

std::string protocolBaseName(const std::string& stamp, const std::string& label) {
    std::string safe;
    for (size_t at = 0; at < label.size();) {
        const size_t n = characterBytes(label, at);
        const auto c = static_cast<unsigned char>(label[at]);
        // A byte that is no UTF-8 could not be turned into a Windows name.
        safe += (n == 1 && (c >= 0x80 || unfitForAName(c))) ? std::string("_") : label.substr(at, n);
        at += n;
    }
    // Dots and blanks at the ends are dropped by Windows, or lead upwards.
    const auto edge = [](char c) { return c == '.' || c == ' '; };
    while (!safe.empty() && edge(safe.back())) safe.pop_back();
    safe.erase(0, std::find_if_not(safe.begin(), safe.end(), edge) - safe.begin());
    std::string name = safe.empty() ? stamp : stamp + " " + safe;
    name = std::string(firstCharacters(name, LongestBaseName));
    while (!name.empty() && edge(name.back())) name.pop_back();
    return name;
}

DiscProtocol::DiscProtocol(const std::string& programFolder, const std::string& baseName)
    : folder_(discsFolderOf(programFolder)) {
    const std::string logs = pathUnder(programFolder, "Logs");
    if (!fs_.FolderExists(logs)) fs_.CreateFolder(logs);
    if (!fs_.FolderExists(folder_)) fs_.CreateFolder(folder_);
    baseName_ = baseName;
    for (int n = 2; fs_.FileExists(path()) || fs_.FileExists(pathUnder(folder_, baseName_ + ".journal")); ++n)
        baseName_ = baseName + " (" + std::to_string(n) + ")";
    fs_.AppendToFile(path(), std::string(ByteOrderMark) + std::string(Header) + "\r\n");
}

std::string DiscProtocol::path() const { return pathUnder(folder_, fileName()); }

void DiscProtocol::append(std::string lines) {
    kept_ += lines;
    if (kept_.empty()) return;
    fs_.AppendToFile(path(), kept_);
    kept_.clear();
    for (const auto& failure : fs_.FlushToStableStorage({path()})) throw failure.error;
}

void DiscProtocol::close() {
    if (kept_.empty()) return;
    const std::string side = pathUnder(folder_, baseName_ + std::string(KeptSuffix));
    fs_.AppendToFile(side, kept_);
    kept_.clear();
    for (const auto& failure : fs_.FlushToStableStorage({side})) throw failure.error;
}

void appendKeptProtocolLines(const std::string& programFolder) noexcept {
    try {
        const FileSystem fs;
        const std::string folder = discsFolderOf(programFolder);
        if (!fs.FolderExists(folder)) return;
        for (const FileEntry& file : fs.GetFolder(folder).files) {
            if (!file.name.ends_with(KeptSuffix)) continue;
            try {
                std::string text;
                fs.ReadSharedFileInChunks(file.path, 1 << 16, [&](std::string_view chunk) {
                    text.append(chunk);
                    return true;
                });
                const std::string protocol =
                    pathUnder(folder, file.name.substr(0, file.name.size() - KeptSuffix.size()) + ".csv");
                fs.AppendToFile(protocol, text);
                if (fs.FlushToStableStorage({protocol}).empty()) fs.DeleteFile(file.path, true);
            } catch (...) {
                // Still held open: the lines wait for the next time.
            }
        }
    } catch (...) {
        // No protocols to look at: nothing waits.
    }
}

void readProtocol(const std::string& programFolder, const std::string& fileName,
                  const std::function<void(const ProtocolLine&)>& line) {
    const FileSystem fs;
    const std::string folder = discsFolderOf(programFolder);
    const std::string base = fileName.ends_with(".csv") ? fileName.substr(0, fileName.size() - 4) : fileName;
    const auto take = [&](std::string_view text) {
        if (auto read = protocolLineOf(text)) line(*read);
    };
    const auto readLines = [&](const std::string& path) {
        std::string pending;
        fs.ReadSharedFileInChunks(path, 1 << 20, [&](std::string_view chunk) {
            pending.append(chunk);
            takeLines(pending, take);
            return true;
        });
        if (!pending.empty()) take(pending);
    };
    readLines(pathUnder(folder, fileName));
    if (const std::string kept = pathUnder(folder, base + std::string(KeptSuffix)); fs.FileExists(kept)) readLines(kept);
}

}  // namespace jor
