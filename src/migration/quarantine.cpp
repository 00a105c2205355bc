// Setting a bad object aside in BadObjects, as the medium holds it; what the copy is called is quarantine_name.h's.
#include "migration/migration_engine.h"

#include "migration/log_labels.h"
#include "migration/quarantine_name.h"
#include "platform/error.h"

namespace jor {

void MigrationEngine::QuarantineBadObject(const FileEntry& sourceObject) {
    logError(err::Own, "File " + sourceObject.name + " could not be migrated.", procedure::CorrectImage, "");
    try {
        const std::string folder = pathUnder(pathUnder(window_.destText(), "BadObjects"), "");
        if (!fs_.FolderExists(folder)) fs_.CreateFolder(folder);
        const auto base = quarantineBase(sourceObject.name);
        if (!base) throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
        const auto target =
            quarantineTarget(folder + *base, [this](const std::string& path) { return fs_.FileExists(path); });
        if (!target) throw Error(err::Overflow, describeError(err::Overflow));
        // The object as stored on the medium, never over an earlier copy.
        Sha256 hash;
        fs_.CopyFile(sourceObject.path, *target, false, true, [&](std::string_view bytes) { hash.update(bytes); });
        outputs_.push_back({*target, sourceObject.name, false, std::nullopt});
        recordOutput(ProtocolResult::BadObjects, pathUnder("BadObjects", target->substr(folder.size())), hash,
                     nullptr);
        ++setAside_;
        fs_.DeleteFile(state_.WorkingPath, false);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
