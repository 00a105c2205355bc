// What a run's DICOM outputs hold, counted as they come.
#include "migration/run_contents.h"

namespace jor {

std::string identityText(const PatientIdentity& identity) { return identity.name + ", " + identity.birthDate; }

std::optional<PatientIdentity> RunContents::add(const DicomVerdict& verdict) {
    if (!verdict.isDicom) {
        ++notDicom_;
        return std::nullopt;
    }
    const DicomAttributes& a = verdict.attributes;
    for (const auto& [set, uid] : {std::pair{&studies_, &a.studyInstanceUid}, std::pair{&series_, &a.seriesInstanceUid},
                                   std::pair{&images_, &a.sopInstanceUid}})
        if (!uid->empty()) set->insert(*uid);
    if (a.patientId.empty()) return std::nullopt;
    const PatientIdentity identity{a.patientName, a.patientBirthDate};
    auto [known, isNew] = patients_.try_emplace(a.patientId, identity);
    std::optional<PatientIdentity> other;
    if (!isNew && known->second != identity)
        other = known->second;
    else if (earlier_)
        if (auto before = earlier_(a.patientId); before && *before != identity) other = std::move(before);
    if (other) differing_.insert(a.patientId);
    return other;
}

}  // namespace jor
