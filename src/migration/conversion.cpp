#include "migration/engine.h"

#include "migration/payload.h"
#include "platform/child_process.h"
#include "platform/error.h"
#include "platform/task_modul.h"

#include <optional>
#include <string_view>

namespace jor {
namespace {

// The last line the decompressor wrote on its standard error: where it says
// why it failed, as gzip does ("gzip: <file>: No space left on device").
std::string lastLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    const size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

// System failures behind a decompressor's reason keep their classic number,
// so that the log tells a full disk from a broken object.
std::optional<int32_t> classicNumberOf(std::string_view reason) {
    static constexpr struct {
        std::string_view text;
        int32_t number;
    } known[] = {
        {"No space left on device", err::DiskFull}, {"Disk quota exceeded", err::DiskFull},
        {"File too large", err::DiskFull},          {"Permission denied", err::PermissionDenied},
        {"Read-only file system", err::PermissionDenied}, {"Input/output error", err::DeviceIo},
        {"No such file or directory", err::FileNotFound}, {"Cannot allocate memory", err::OutOfMemory},
    };
    for (const auto& k : known) {
        if (!reason.ends_with(k.text)) continue;
        const std::string_view before = reason.substr(0, reason.size() - k.text.size());
        if (before.empty() || before.ends_with(": ")) return k.number;
    }
    return std::nullopt;
}

}  // namespace

// Logged besides what the object's content leads to (quarantine or output).
void MigrationEngine::logDecompressorFailure(const ChildProcess& child, const std::string& objectName) noexcept {
    try {
        const std::string reason = lastLine(child.errorOutput());
        if (const auto number = classicNumberOf(reason)) {
            logError(*number, describeError(*number), "ScanFolder", state_.CurrentFileName);
            return;
        }
        const std::string why =
            reason.empty() ? "gunzip.exe ended with code " + std::to_string(child.exitCode()) + "." : reason;
        logError(err::Own, "File " + objectName + " could not be decompressed: " + why, "ScanFolder", "");
    } catch (...) {
        logCurrentFailure();
    }
}

// Our own child is waited for first: the by-name check alone could look
// before the child carries its name and read a file not yet written. The
// by-name wait then still holds while any other gunzip.exe runs.
bool MigrationEngine::waitForDecompressor(ChildProcess& child) {
    const auto yield = [this] { window_.yield(); };
    if (!child.WaitUntilEnded(yield, [this] { return stopRequested_; })) return false;
    for (;;) {
        window_.yield();
        if (stopRequested_) return false;
        if (FindProcess("gunzip.exe", 1, yield) == 0) return true;
        window_.yield();
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
            // The stopped run logs the interrupt once, naming this object.
            if (!waitForDecompressor(child)) return;
            if (const int code = child.exitCode(); code != 0 && code != -1)
                logDecompressorFailure(child, sourceObject.Name);
        }

        std::string payload;
        {
            const std::string content = fs_.ReadWholeFile(decompressed);
            payload = ExtractPayload(content);
        }
        if (payload == "ERROR") {
            QuarantineBadObject(sourceObject);
            return;
        }

        const std::string dest = window_.destText();
        const std::string name = nameSource().NextName();
        fs_.WriteFileAtomically(pathUnder(dest, name + ".dcm"), payload);
        payload = {};
        state_.MigratedCount = checkedIncrement(state_.MigratedCount);
        if (window_.debugValue() == 1) logDebug(sourceObject.Name + " is migrated.");
        fs_.DeleteFile(decompressed, false);
    } catch (...) {
        logCurrentFailure();
    }
}

}  // namespace jor
