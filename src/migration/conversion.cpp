#include "migration/engine.h"

#include "migration/payload.h"
#include "platform/child_process.h"
#include "platform/error.h"
#include "platform/task_modul.h"


namespace jor {

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
