// What a run's DICOM outputs hold: distinct patients, studies, series and images, and patients with two identities.
#pragma once

#include "migration/dicom_reader.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace jor {

// A patient as an output names them.
struct PatientIdentity {
    std::string name;
    std::string birthDate;
    bool operator==(const PatientIdentity&) const = default;
};

// "<name>, <birth date>" as the protocol's note names another identity.
std::string identityText(const PatientIdentity& identity);

// Counted as outputs come; reported, never acted on: every output is
// written whatever it holds, since the new archive merges by UID.
class RunContents {
public:
    // How an earlier run into the same destination knew a patient ID, if at all.
    using EarlierPatient = std::function<std::optional<PatientIdentity>(const std::string& patientId)>;

    explicit RunContents(EarlierPatient earlier = {}) : earlier_(std::move(earlier)) {}

    // One output. Returns the other identity its patient ID already has
    // (this disc's first, else an earlier run's), when it differs.
    std::optional<PatientIdentity> add(const DicomVerdict& verdict);

    int32_t patients() const { return static_cast<int32_t>(patients_.size()); }
    int32_t studies() const { return static_cast<int32_t>(studies_.size()); }
    int32_t series() const { return static_cast<int32_t>(series_.size()); }
    int32_t images() const { return static_cast<int32_t>(images_.size()); }
    int32_t notDicom() const { return notDicom_; }
    int32_t differingPatients() const { return static_cast<int32_t>(differing_.size()); }

private:
    EarlierPatient earlier_;
    std::unordered_map<std::string, PatientIdentity> patients_;
    std::unordered_set<std::string> studies_, series_, images_, differing_;
    int32_t notDicom_ = 0;
};

}  // namespace jor
