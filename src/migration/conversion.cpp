// One compressed object: the decompressor's run and the wait for it, the payload's cut and the output.
#include "migration/migration_engine.h"

#include "migration/decompressor_outcome.h"
#include "migration/log_labels.h"
#include "migration/payload.h"
#include "migration/working_copy.h"
#include "platform/child_process.h"
#include "platform/error.h"
#include "platform/task_modul.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <optional>
#include <string_view>
#include <thread>

namespace jor {
namespace {

// The pause after a by-name check that found another gunzip.exe doubles up
// to 32 ms: the window still answers some 30 times a second, and the checks
// take a few percent of a core. A check walks all processes; where it costs
// more (very many processes), the pause is 30 times its processor time, up
// to 64 ms, so that the checks stay under 5 % of a core.
constexpr std::chrono::milliseconds FirstByNamePause{2};
constexpr std::chrono::milliseconds UsualByNamePause{32};
constexpr std::chrono::milliseconds LongestByNamePause{64};

// What the scan of a decompressed object holds at a time. The marker sits
// near the start of an object, so the first chunk nearly always ends the scan:
// a larger one would only copy what the scan never looks at.
constexpr size_t ScanChunkSize = 1 << 16;

}  // namespace

// Logged besides what the object's content leads to (quarantine or output).
void MigrationEngine::logDecompressorOutcome(const ChildProcess& child, const std::string& objectName) noexcept {
    try {
        const auto failure = decompressorOutcome(child.exitCode(), child.errorOutput(), objectName);
        if (!failure) return;
        logError(failure->number, failure->description, procedure::ScanFolder,
                 failure->number == err::Own ? "" : state_.CurrentFileName);
    } catch (...) {
        logCurrentFailure();
    }
}

// Our own child is waited for first: the by-name check alone could look
// before the child carries its name and read a file not yet written. The
// by-name wait then still holds while any other gunzip.exe runs; that one
// may run for long, so the checks space out instead of taking a whole core,
// and the yields keep the window answering in between.
bool MigrationEngine::waitForDecompressor(ChildProcess& child) {
    const auto yield = [this] { yieldToWindow(); };
    if (!child.waitUntilEnded(yield, [this] { return request_ != RunRequest::GoOn; })) return false;
    using Duration = std::chrono::steady_clock::duration;
    Duration pause = FirstByNamePause;
    for (;;) {
        if (!yieldToWindow()) return false;
        const std::clock_t checkStarted = std::clock();
        if (FindProcess("gunzip.exe", 1, yield) == 0) return true;
        const auto check = std::chrono::duration_cast<Duration>(
            std::chrono::duration<double>(double(std::clock() - checkStarted) / CLOCKS_PER_SEC));
        yieldToWindow();
        std::this_thread::sleep_for(std::min<Duration>(std::max(pause, 30 * check), LongestByNamePause));
        pause = std::min<Duration>(2 * pause, UsualByNamePause);
    }
}

void MigrationEngine::ConvertCompressedObject(const FileEntry& sourceObject) {
    try {
        const std::string decompressor = pathUnder(programFolder_, "gunzip.exe");
        if (!fs_.FileExists(decompressor)) {
            logError(err::Own, "GUNZIP.EXE not found.", procedure::ScanFolder, "");
            stopBox("Datei GUNZIP.EXE konnte nicht gefunden werden.");
            return;
        }
        const std::string decompressed = decompressedPathOf(state_.WorkingPath);
        // A file of that name left by an earlier object or run would be read
        // as this object's content if the decompressor writes nothing.
        if (fs_.FileExists(decompressed)) fs_.DeleteFile(decompressed, true);
        {
            // Separate arguments, no shell: names from the disc are never interpreted.
            ChildProcess child = ChildProcess::start(decompressor, {"-d", "-f", fileArgument(state_.WorkingPath)});
            // A close or the session's end during the wait ends the
            // decompressor: a hanging one would hold the stop up for ever.
            // The stopped run logs the interrupt once, naming this object;
            // its protocol line says it was not migrated.
            if (!waitForDecompressor(child)) {
                noteOnLine("nicht migriert: " + std::to_string(err::UserInterrupt) + " - " +
                           describeError(err::UserInterrupt));
                return;
            }
            logDecompressorOutcome(child, sourceObject.name);
        }

        // The object is never held whole: it may be larger than the memory.
        PayloadScanner scanner;
        fs_.ReadFileInChunks(decompressed, ScanChunkSize, [&](std::string_view chunk) {
            scanner.feed(chunk);
            return !scanner.done();
        });
        const std::optional<PayloadSlice> payload = scanner.payload();
        if (!payload) {
            QuarantineBadObject(sourceObject);
            return;
        }

        const std::string dest = window_.destText();
        const std::string name = nameSource().nextName();
        const std::string output = pathUnder(dest, name + ".dcm");
        Sha256 hash;
        DicomReader reader;
        fs_.WriteFileRange(decompressed, payload->offset, payload->length, output, [&](std::string_view bytes) {
            hash.update(bytes);
            if (!reader.done()) reader.feed(bytes);
        });
        outputs_.push_back({output, sourceObject.name, false, std::nullopt});
        recordOutput(ProtocolResult::Migrated, name + ".dcm", hash, &reader);
        state_.MigratedCount = checkedIncrement(state_.MigratedCount);
        outputs_.back().counted = true;
        if (isDebugOn(window_.debugValue())) logDebug(sourceObject.name + " is migrated.");
        fs_.DeleteFile(decompressed, false);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
