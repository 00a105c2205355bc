// What earlier runs brought into a destination, read from the journal and their protocols.
#include "migration/earlier_runs.h"

#include "diagnostics/disc_protocol.h"

#include <algorithm>

namespace jor {
namespace {

// FNV-1a: the same 64 bits on both Windows builds, where size_t has 32.
uint64_t uidHash(std::string_view uid) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : uid) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return h;
}

}  // namespace

EarlierRuns::EarlierRuns(const std::string& programFolder, const std::string& destination, const std::string& except)
    : programFolder_(programFolder) {
    const std::string wanted = asJournalKeepsIt(destination);
    Journal(programFolder).forEachRun([&](const JournalRecord& run) {
        if (run.destination != wanted || run.protocol.empty() || run.protocol == except) return;
        if (std::any_of(protocols_.begin(), protocols_.end(),
                        [&](const Protocol& p) { return p.fileName == run.protocol; }))
            return;
        const auto index = static_cast<uint32_t>(protocols_.size());
        protocols_.push_back({run.protocol, run.start.substr(0, run.start.find(' '))});
        try {
            readProtocol(programFolder, run.protocol, [&](const ProtocolLine& line) {
                if (line.result != ProtocolResult::Migrated) return;
                if (!line.sopInstanceUid.empty()) images_.emplace_back(uidHash(line.sopInstanceUid), index);
                if (!line.patientId.empty())
                    patients_.try_emplace(line.patientId, PatientIdentity{line.patientName, line.birthDate});
            });
        } catch (...) {
            // A protocol that cannot be read tells nothing of its images.
        }
    });
    std::sort(images_.begin(), images_.end());
    images_.erase(std::unique(images_.begin(), images_.end()), images_.end());
}

std::optional<EarlierImage> EarlierRuns::image(const std::string& sopInstanceUid) const {
    const uint64_t h = uidHash(sopInstanceUid);
    for (auto it = std::lower_bound(images_.begin(), images_.end(), std::pair<uint64_t, uint32_t>{h, 0});
         it != images_.end() && it->first == h; ++it) {
        const Protocol& protocol = protocols_[it->second];
        std::optional<EarlierImage> found;
        try {
            readProtocol(programFolder_, protocol.fileName, [&](const ProtocolLine& line) {
                if (!found && line.result == ProtocolResult::Migrated && line.sopInstanceUid == sopInstanceUid)
                    found = EarlierImage{line.output, protocol.date};
            });
        } catch (...) {
            // Gone since the start: no more to tell.
        }
        if (found) return found;
    }
    return std::nullopt;
}

std::optional<PatientIdentity> EarlierRuns::patient(const std::string& patientId) const {
    const auto known = patients_.find(patientId);
    if (known == patients_.end()) return std::nullopt;
    return known->second;
}

std::string doneKey(const std::string& file, std::optional<uint64_t> size) {
    return file + '\n' + (size ? std::to_string(*size) : std::string("?"));
}

DoneFiles doneFilesOf(const std::string& programFolder, const std::vector<JournalRecord>& runs) {
    DoneFiles done;
    for (const JournalRecord& run : runs) {
        if (run.protocol.empty() || run.result == JournalResult::Skipped) continue;
        try {
            readProtocol(programFolder, run.protocol, [&](const ProtocolLine& line) {
                // A file of unknown size is never taken for one done before.
                if (!line.size) return;
                if (line.result == ProtocolResult::Migrated || line.result == ProtocolResult::BadObjects ||
                    line.result == ProtocolResult::AlreadyMigrated)
                    done.insert_or_assign(doneKey(line.file, line.size), line);
            });
        } catch (...) {
            // Its files count as not done: the pass brings them again.
        }
    }
    return done;
}

}  // namespace jor
