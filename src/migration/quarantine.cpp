#include "migration/engine.h"

#include "platform/error.h"
#include "platform/utf8_text.h"

#include <optional>


namespace jor {
namespace {
// The numbered names of one object stop where the archive tools stopped.
constexpr int32_t MaxQuarantineNumber = 32767;

// The name less its last `count` characters; none when the name is shorter.
std::optional<std::string> withoutLastCharacters(const std::string& name, size_t count) {
    const size_t total = characterCount(name);
    if (total < count) return std::nullopt;
    return std::string(firstCharacters(name, total - count));
}
}  // namespace

void MigrationEngine::QuarantineBadObject(const FileEntry& sourceObject) {
    logError(err::Own, "File " + sourceObject.Name + " could not be migrated.", "CorrectImage", "");
    try {
        const std::string folder = pathUnder(pathUnder(window_.destText(), "BadObjects"), "");
        if (!fs_.FolderExists(folder)) fs_.CreateFolder(folder);
        const auto kept = withoutLastCharacters(sourceObject.Name, 4);
        if (!kept) throw Error(err::InvalidArgument, describeError(err::InvalidArgument));
        const std::string base = folder + *kept;

        // Gaps are filled: the search always starts again at 2.
        std::string target = base + ".err";
        for (int32_t n = 2; fs_.FileExists(target); ++n) {
            if (n > MaxQuarantineNumber) throw Error(err::Overflow, describeError(err::Overflow));
            target = base + std::to_string(n) + ".err";
        }
        // The object as stored on the medium, never over an earlier copy.
        fs_.CopyFile(sourceObject.Path, target, false);
        outputs_.push_back({target, sourceObject.Name});
        fs_.DeleteFile(state_.WorkingPath, false);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
