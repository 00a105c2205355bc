// The disc's protocol as a run writes it: a line for each file reached, in batches once their outputs are on stable storage, and what the DICOMDIRs name.
#include "migration/migration_engine.h"

#include "migration/dicomdir.h"
#include "migration/disc_paths.h"
#include "migration/log_labels.h"
#include "platform/ascii_case.h"
#include "platform/date_time.h"
#include "platform/error.h"

#include <ctime>

namespace jor {
namespace {

constexpr std::string_view MediaStorageDirectory = "1.2.840.10008.1.3.10";

void addNote(ProtocolLine& line, const std::string& note) {
    line.note += line.note.empty() ? note : "; " + note;
}

}  // namespace

void MigrationEngine::beginProtocol() {
    batch_.clear();
    line_.reset();
    reached_.clear();
    dicomdirs_.clear();
    earlier_ = EarlierRuns();
    contents_ = RunContents([this](const std::string& patientId) { return earlier_.patient(patientId); });
    alreadyInDestination_ = missingPerDicomdir_ = 0;
    protocolFailureShown_ = false;
    lastBatch_ = std::chrono::steady_clock::now();
    protocolBase_ = protocolBaseName(fileStampText(std::time(nullptr)), journalRecord_.label);
    protocol_.reset();
    try {
        protocol_ = std::make_unique<DiscProtocol>(programFolder_, protocolBase_);
        protocolBase_ = protocol_->baseName();
    } catch (...) {
        logsFailed();
    }
    journalRecord_.protocol = protocolBase_ + ".csv";
    // Until the run's end writes its line, a line that says it was cut short
    // waits beside the protocol: a killed run is journalled all the same.
    journalProgress();
}

std::string MigrationEngine::relativeToSource(const std::string& path) const {
    std::string relative = path.starts_with(scanRoot_) ? path.substr(scanRoot_.size()) : path;
    relative.erase(0, relative.find_first_not_of(PathSeparator));
    return relative;
}

void MigrationEngine::openLine(const FileEntry& file) {
    ProtocolLine line;
    line.file = relativeToSource(file.path);
    line.size = file.size;
    batch_.push_back(std::move(line));
    line_ = batch_.size() - 1;
    if (upperAscii(file.name) == "DICOMDIR") dicomdirs_.emplace_back(batch_.back().file, file.path);
}

void MigrationEngine::closeLine() noexcept {
    line_.reset();
    writeBatchWhenDue();
}

void MigrationEngine::noteOnLine(const std::string& note) noexcept {
    try {
        if (line_) addNote(batch_[*line_], note);
    } catch (...) {
        // Out of memory for a note: the error log has it.
    }
}

void MigrationEngine::recordOutput(ProtocolResult result, const std::string& output, Sha256& hash,
                                   DicomReader* reader) noexcept {
    if (!line_) return;
    try {
        ProtocolLine& line = batch_[*line_];
        outputs_.back().line = *line_;
        line.result = result;
        line.output = output;
        line.sha256 = hash.hexDigest();
        if (!reader) return;
        const DicomVerdict verdict = reader->finish();
        const DicomAttributes& a = verdict.attributes;
        line.patientId = a.patientId;
        line.patientName = a.patientName;
        line.birthDate = a.patientBirthDate;
        line.studyUid = a.studyInstanceUid;
        line.studyDate = a.studyDate;
        line.seriesUid = a.seriesInstanceUid;
        line.modality = a.modality;
        line.sopInstanceUid = a.sopInstanceUid;
        line.studyDescription = a.studyDescription;
        line.accessionNumber = a.accessionNumber;
        line.sopClassUid = a.sopClassUid.empty() ? a.mediaStorageSopClassUid : a.sopClassUid;
        line.transferSyntax = a.transferSyntax;
        if (!verdict.isDicom) addNote(line, "kein DICOM: " + verdict.reason);
        else if (a.mediaStorageSopClassUid == MediaStorageDirectory)
            addNote(line, "DICOMDIR, kein Bild");
        if (!a.sopInstanceUid.empty())
            if (const auto before = earlier_.image(a.sopInstanceUid)) {
                ++alreadyInDestination_;
                addNote(line, "bereits im Ziel: " + before->output + " (" + before->date + ")");
            }
        if (const auto other = contents_.add(verdict))
            addNote(line, "Patienten-ID " + a.patientId + " auch als " + identityText(*other));
    } catch (...) {
        noteOnLine("Protokoll unvollst\xC3\xA4ndig: " + describeError(err::OutOfMemory));
    }
}

void MigrationEngine::writeBatchWhenDue() noexcept {
    if (std::chrono::steady_clock::now() - lastBatch_ >= ProtocolBatchInterval) writeBatch();
}

// The outputs first, then the lines that name them: a line never claims an
// image that is not yet on stable storage.
void MigrationEngine::writeBatch() noexcept {
    flushOutputs();
    try {
        std::string text;
        for (const ProtocolLine& line : batch_) {
            reached_[discPathKey(line.file)] = {line.result == ProtocolResult::Migrated ||
                                                    line.result == ProtocolResult::AlreadyMigrated,
                                                line.sopInstanceUid};
            text += protocolLine(line) + "\r\n";
        }
        batch_.clear();
        line_.reset();
        if (protocol_) protocol_->append(std::move(text));
    } catch (const Error& e) {
        protocolFailed(e);
    } catch (...) {
        logsFailed();
    }
    lastBatch_ = std::chrono::steady_clock::now();
    journalProgress();
}

void MigrationEngine::protocolFailed(const Error& e) noexcept {
    if (!e.inUse()) return logsFailed();
    if (protocolFailureShown_ || sessionEnds()) return;
    protocolFailureShown_ = true;
    try {
        stopBox("Das Protokoll " + protocol_->path() +
                " ist in einem anderen Programm ge\xC3\xB6" "ffnet. Seine Zeilen werden nachgetragen, sobald es dort "
                "geschlossen ist.");
    } catch (...) {}
}

void MigrationEngine::missingPerDicomdir(const std::string& file, const std::string& sopInstanceUid,
                                         const std::string& note) {
    ProtocolLine line;
    line.file = file;
    line.result = ProtocolResult::MissingPerDicomdir;
    line.sopInstanceUid = sopInstanceUid;
    line.note = note;
    batch_.push_back(std::move(line));
    ++missingPerDicomdir_;
    // A DICOMDIR of a million records must not fill the memory with its lines.
    if (batch_.size() >= 4096) writeBatch();
}

void MigrationEngine::checkDicomdir(const std::string& relativePath, const std::string& path) {
    const size_t slash = relativePath.rfind(PathSeparator);
    const std::string folder = slash == std::string::npos ? std::string() : relativePath.substr(0, slash);
    DicomDirReader reader([&](DicomDirRecord&& record) {
        const auto referenced = referencedPath(folder, record.fileId);
        if (!referenced) {
            std::string named;
            for (const std::string& part : record.fileId) named += (named.empty() ? "" : "\\") + part;
            return missingPerDicomdir(named, record.sopInstanceUid,
                                      "Verweis f\xC3\xBChrt aus dem Quellverzeichnis, nicht gefolgt (" + relativePath + ")");
        }
        const auto found = reached_.find(discPathKey(*referenced));
        if (found == reached_.end())
            missingPerDicomdir(*referenced, record.sopInstanceUid, "nicht auf dem Datentr\xC3\xA4ger");
        else if (!found->second.migrated)
            missingPerDicomdir(*referenced, record.sopInstanceUid, "nicht migriert, siehe seine Zeile");
        else if (!record.sopInstanceUid.empty() && found->second.sopInstanceUid != record.sopInstanceUid)
            missingPerDicomdir(*referenced, record.sopInstanceUid,
                               "Ausgabe tr\xC3\xA4gt SOP-Instanz-UID " + found->second.sopInstanceUid);
    });
    fs_.ReadSharedFileInChunks(path, 1 << 16, [&](std::string_view chunk) {
        reader.feed(chunk);
        return true;
    });
    if (const auto failure = reader.finish()) {
        ProtocolLine line;
        line.file = relativePath;
        line.result = ProtocolResult::Failed;
        line.note = "DICOMDIR nicht ganz lesbar: " + *failure;
        batch_.push_back(std::move(line));
    }
}

// After the walk, every file a DICOMDIR names must be in the destination,
// carrying the UID the DICOMDIR gives it.
void MigrationEngine::checkDicomdirs() noexcept {
    writeBatch();  // every file reached is known in reached_
    for (const auto& [relativePath, path] : dicomdirs_) {
        try {
            checkDicomdir(relativePath, path);
        } catch (const Error& e) {
            ProtocolLine line;
            line.file = relativePath;
            line.result = ProtocolResult::Failed;
            line.note = "DICOMDIR nicht lesbar: " + std::to_string(e.number()) + " - " + e.description();
            try {
                batch_.push_back(std::move(line));
            } catch (...) {}
        } catch (...) {
            logError(err::OutOfMemory, describeError(err::OutOfMemory), procedure::ScanFolder, relativePath);
        }
    }
    reached_.clear();
    writeBatch();
}

// The one case in which an image may be lost from the practice's archive:
// the technician must know while the disc is still in the drive.
void MigrationEngine::warnOfMissingImages() noexcept {
    if (missingPerDicomdir_ == 0 || sessionEnds()) return;
    const std::string count = std::to_string(missingPerDicomdir_);
    const std::string where = protocol_ ? protocol_->path() : pathUnder(discsFolderOf(programFolder_), protocolBase_ + ".csv");
    try {
        window_.showMessage(MessageIcon::Warning, ProgramTitle,
                            (missingPerDicomdir_ == 1 ? "Laut DICOMDIR fehlt 1 Bild"
                                                      : "Laut DICOMDIR fehlen " + count + " Bilder") +
                                " dieses Datentr\xC3\xA4gers im Ziel.\r\n\r\nSie stehen im Protokoll " + where +
                                " mit \"fehlt laut DICOMDIR\". Bitte pr\xC3\xBC" "fen Sie den Datentr\xC3\xA4ger, "
                                "solange er noch im Laufwerk liegt.");
    } catch (...) {}
}

}  // namespace jor
