// What earlier runs brought into a destination, from the journal and their protocols: images by SOP Instance UID, patients.
#pragma once

#include "diagnostics/disc_protocol.h"
#include "diagnostics/journal.h"
#include "migration/run_contents.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace jor {

struct EarlierImage {
    std::string output;  // relative to the destination
    std::string date;    // of the run's start
};

// Read once at a run's start. Thousands of earlier discs hold hundreds of
// thousands of images: each is kept as a 64-bit hash of its UID and the
// protocol it stands in, and only a match is read again for its output.
class EarlierRuns {
public:
    EarlierRuns() = default;
    // The runs into `destination` that have a protocol, but for `except` (the run at hand).
    EarlierRuns(const std::string& programFolder, const std::string& destination, const std::string& except);

    std::optional<EarlierImage> image(const std::string& sopInstanceUid) const;
    std::optional<PatientIdentity> patient(const std::string& patientId) const;

private:
    struct Protocol {
        std::string fileName;
        std::string date;
    };
    std::string programFolder_;
    std::vector<Protocol> protocols_;
    std::vector<std::pair<uint64_t, uint32_t>> images_;  // sorted: UID's hash, index into protocols_
    std::unordered_map<std::string, PatientIdentity> patients_;  // as first known
};

// What earlier runs of one disc into one destination have done with its
// files: each migrated or set aside, by doneKey, with the line that says so.
using DoneFiles = std::unordered_map<std::string, ProtocolLine>;

std::string doneKey(const std::string& file, std::optional<uint64_t> size);
// From the protocols of `runs`; one that cannot be read adds nothing.
DoneFiles doneFilesOf(const std::string& programFolder, const std::vector<JournalRecord>& runs);

}  // namespace jor
