#include "migration/engine.h"

#include "platform/error.h"


namespace jor {
namespace {
// The numbered names of one object stop where the archive tools stopped.
constexpr int32_t MaxQuarantineNumber = 32767;
}  // namespace

void MigrationEngine::QuarantineBadObject(const FileEntry& sourceObject) {
    logError(err::Own, "File " + sourceObject.Name + " could not be migrated.", "CorrectImage", "");
    try {
        const std::string folder = window_.destText() + "/BadObjects/";
        if (!fs_.FolderExists(folder)) fs_.CreateFolder(folder);
        if (sourceObject.Name.size() < 4)
            throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
        const std::string base = folder + sourceObject.Name.substr(0, sourceObject.Name.size() - 4);

        // Gaps are filled: the search always starts again at 2.
        std::string target = base + ".err";
        for (int32_t n = 2; fs_.FileExists(target); ++n) {
            if (n > MaxQuarantineNumber) throw Error(err::Overflow, describeError(err::Overflow));
            target = base + std::to_string(n) + ".err";
        }
        // The object as stored on the medium, never over an earlier copy.
        fs_.CopyFile(sourceObject.Path, target, false);
        fs_.DeleteFile(state_.WorkingPath, false);
    } catch (const Error& e) {
        logError(e.number(), e.description(), "ScanFolder", e.number() == err::Own ? "" : state_.CurrentFileName);
    }
}

}  // namespace jor
