#include "migration/engine.h"

#include "migration/payload.h"
#include "platform/child_process.h"
#include "platform/error.h"
#include "platform/task_modul.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <optional>
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

// What the scan of a decompressed object holds at a time.
constexpr size_t ScanChunkSize = 1 << 20;

}  // namespace

// Our own child is waited for first: the by-name check alone could look
// before the child carries its name and read a file not yet written. The
// by-name wait then still holds while any other gunzip.exe runs; that one
// may run for long, so the checks space out instead of taking a whole core,
// and the yields keep the window answering in between.
bool MigrationEngine::waitForDecompressor(ChildProcess& child) {
    const auto yield = [this] { window_.yield(); };
    if (!child.WaitUntilEnded(yield, [this] { return stopRequested_; })) return false;
    using Duration = std::chrono::steady_clock::duration;
    Duration pause = FirstByNamePause;
    for (;;) {
        window_.yield();
        if (stopRequested_) return false;
        const std::clock_t checkStarted = std::clock();
        if (FindProcess("gunzip.exe", 1, yield) == 0) return true;
        const auto check = std::chrono::duration_cast<Duration>(
            std::chrono::duration<double>(double(std::clock() - checkStarted) / CLOCKS_PER_SEC));
        window_.yield();
        std::this_thread::sleep_for(std::min<Duration>(std::max(pause, 30 * check), LongestByNamePause));
        pause = std::min<Duration>(2 * pause, UsualByNamePause);
    }
}

void MigrationEngine::ConvertCompressedObject(const FileEntry& sourceObject) {
    try {
        const std::string decompressor = pathUnder(programFolder_, "gunzip.exe");
        if (!fs_.FileExists(decompressor)) {
            logError(err::Own, "GUNZIP.EXE not found.", "ScanFolder", "");
            stopBox("Datei GUNZIP.EXE konnte nicht gefunden werden.");
            return;
        }
        const std::string decompressed = state_.WorkingPath.substr(0, state_.WorkingPath.size() - 2);
        // A file of that name left by an earlier object or run would be read
        // as this object's content if the decompressor writes nothing.
        if (fs_.FileExists(decompressed)) fs_.DeleteFile(decompressed, true);
        {
            // Separate arguments, no shell: names from the disc are never interpreted.
            ChildProcess child = ChildProcess::Start(decompressor, {"-d", "-f", state_.WorkingPath});
            if (!waitForDecompressor(child)) {
                logError(err::UserInterrupt, describeError(err::UserInterrupt), "ScanFolder",
                         state_.CurrentFileName);
                return;
            }
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
        const std::string name = nameSource().NextName();
        const std::string output = pathUnder(dest, name + ".dcm");
        fs_.WriteFileRange(decompressed, payload->offset, payload->length, output);
        outputs_.push_back({output, sourceObject.Name});
        state_.MigratedCount = checkedIncrement(state_.MigratedCount);
        outputs_.back().counted = true;
        if (window_.debugValue() == 1) logDebug(sourceObject.Name + " is migrated.");
        fs_.DeleteFile(decompressed, false);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
