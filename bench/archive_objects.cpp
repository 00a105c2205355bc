// Benchmark: compressed archive objects, the engine against cp and gzip -d.
//
// Compressed archive objects ("Arzt und Praxis"): the engine with the real
// gunzip.exe against a shell loop of cp and gzip -d -f on the same objects.
#include "support.h"

#include "migration/payload.h"
#include "migration/unique_name_source.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/task_modul.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

namespace bench {
namespace {

constexpr double Target = 0.60;
const std::string Marker(jor::TrailerMarker);

struct ArchiveObject {
    std::string path;  // the compressed object on the medium
    uint64_t seed;
    size_t total;  // before compression
    size_t payloadSize = 0;
};

struct ObjectParts {
    std::string wrapper, payload, tail;
};

std::string printable(Rng& rng, size_t n) {
    // No 0x00, and no '#' or '*', so the wrapper and tail never hold the marker.
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,;:-_=+/()[]<>";
    std::string s(n, ' ');
    for (char& c : s) c = alphabet[rng.below(sizeof alphabet - 1)];
    return s;
}

ObjectParts objectParts(const ArchiveObject& o) {
    Rng rng(o.seed);
    ObjectParts p;
    p.wrapper = "ARCHIVE OBJECT " + printable(rng, 185 + rng.below(1801));
    p.tail = "\r\n" + printable(rng, 14 + rng.below(49));
    const size_t payloadSize = o.total - p.wrapper.size() - Marker.size() - p.tail.size();
    p.payload.assign(128, '\0');
    p.payload += "DICM";
    // Smooth 16-bit ramps with a little noise: compresses moderately, like real images.
    const uint32_t width = 512, slopeX = 1 + uint32_t(rng.below(5)), slopeY = 1 + uint32_t(rng.below(7));
    const uint32_t phase = uint32_t(rng.below(4096));
    p.payload.reserve(payloadSize);
    uint64_t noise = 0;
    for (uint32_t i = 0; p.payload.size() < payloadSize; ++i) {
        if (i % 16 == 0) noise = rng.next();
        const uint32_t x = i % width, y = i / width;
        const uint16_t v = uint16_t(((x * slopeX + y * slopeY + phase) % 4096) + (noise & 0xF));
        noise >>= 4;
        p.payload.push_back(char(v & 0xFF));
        if (p.payload.size() < payloadSize) p.payload.push_back(char(v >> 8));
    }
    if (p.payload.find(Marker) != std::string::npos) fail("generated payload holds the marker");
    return p;
}

std::string objectPayload(const ArchiveObject& o) { return objectParts(o).payload; }

// Where the engine's time goes per archive object: the same platform calls
// the conversion makes, in its order, each timed on its own. Keep in step
// with MigrationEngine::handleFile and ConvertCompressedObject.
void breakdownArchive(const std::vector<ArchiveObject>& objects, const std::string& programFolder,
                      const Scratch& scratch, double quietWait) {
    struct Step {
        const char* name;
        double wall = 0, cpu = 0;
        long calls = 0;
    };
    std::vector<Step> steps;
    const auto step = [&](const char* name, const auto& body) {
        auto it = std::find_if(steps.begin(), steps.end(), [&](const Step& s) { return s.name == name; });
        if (it == steps.end()) it = steps.insert(steps.end(), Step{name});
        const double cpu0 = ownCpuSeconds();
        const auto start = Clock::now();
        body();
        it->wall += since(start);
        it->cpu += ownCpuSeconds() - cpu0;
        ++it->calls;
    };
    const std::string work = scratch / "breakdown-temp/TempOrvek", dest = scratch / "breakdown-dest";
    fs::create_directories(work);
    fs::create_directories(dest);
    const jor::FileSystem files;
    jor::UniqueNameSource names;
    // As the window yields: events at most every millisecond.
    QElapsedTimer sinceYield;
    const auto yield = [&sinceYield] {
        if (sinceYield.isValid() && sinceYield.nsecsElapsed() < 1'000'000) return;
        QCoreApplication::processEvents();
        sinceYield.start();
    };
    const std::string decompressor = programFolder + "/gunzip.exe", gzip = onPath("gzip");
    std::vector<std::string> outputs;
    double referenceWall = 0;
    settle();
    awaitQuiet(quietWait, "before the breakdown");

    const double cpu0 = ownCpuSeconds();
    const auto start = Clock::now();
    for (const ArchiveObject& obj : objects) {
        const std::string base = fs::path(obj.path).stem().string();
        const std::string workingPath = work + "/" + base + ".dcm.z";
        step("copy to working folder", [&] { files.CopyFile(obj.path, workingPath, true); });
        step("reset attributes", [&] { files.SetFileAttributes(workingPath, 0); });
        step("gunzip.exe: start + wait", [&] {
            (void)files.FileExists(decompressor);
            jor::ChildProcess child = jor::ChildProcess::start(decompressor, {"-d", "-f", workingPath});
            child.waitUntilEnded(yield, [] { return false; });
        });
        step("FindProcess(\"gunzip.exe\")", [&] {
            while (jor::FindProcess("gunzip.exe", 1, yield) != 0) yield();
        });
        const std::string decompressed = workingPath.substr(0, workingPath.size() - 2);
        jor::PayloadScanner scanner;
        step("read + scan payload", [&] {
            files.ReadFileInChunks(decompressed, 1 << 16, [&](std::string_view chunk) {
                scanner.feed(chunk);
                return !scanner.done();
            });
        });
        const auto slice = scanner.payload();
        if (!slice) fail("no payload found in " + decompressed);
        step("write output by offset", [&] {
            outputs.push_back(dest + "/" + names.nextName() + ".dcm");
            files.WriteFileRange(decompressed, slice->offset, slice->length, outputs.back());
        });
        step("delete decompressed", [&] { files.DeleteFile(decompressed, false); });
        step("window yields (x3)", [&] {
            for (int i = 0; i < 3; ++i) yield();
        });
        // Not an engine step: what the same decompression costs in the system's gzip.
        const std::string reference = work + "/" + base + ".ref.dcm.z";
        files.CopyFile(obj.path, reference, true);
        const auto referenceStart = Clock::now();
        {
            jor::ChildProcess child = jor::ChildProcess::start(gzip, {"-d", "-f", reference});
            child.waitUntilEnded(yield, [] { return false; });
        }
        referenceWall += since(referenceStart);
        files.DeleteFile(reference.substr(0, reference.size() - 2), false);
    }
    step("flush outputs (once a run)", [&] { (void)files.FlushToStableStorage(outputs); });
    double wall = since(start), cpu = ownCpuSeconds() - cpu0;
    wall -= referenceWall;
    std::printf(
        "archive breakdown over %zu objects: engine steps wall %.2f s, own CPU %.2f s "
        "(CPU includes the reference gzip runs)\n",
        objects.size(), wall, cpu);
    std::printf("  %-28s %9s %9s %12s %12s\n", "step", "wall s", "CPU s", "wall/object", "CPU/object");
    for (const Step& s : steps)
        std::printf("  %-28s %9.3f %9.3f %9.0f us %9.0f us\n", s.name, s.wall, s.cpu,
                    1e6 * s.wall / double(objects.size()), 1e6 * s.cpu / double(objects.size()));
    std::printf("  %-28s %9.3f %9s %9.0f us   (reference, not an engine step)\n", "gzip -d started directly",
                referenceWall, "", 1e6 * referenceWall / double(objects.size()));
    fs::remove_all(scratch / "breakdown-temp");
    fs::remove_all(dest);
}

}  // namespace

int benchArchive(const Options& o, const Scratch& scratch, Checks& checks) {
    const std::string src = scratch / "archive-src", raw = scratch / "archive-raw", dest = scratch / "archive-dest",
                      temp = scratch / "archive-temp", shellWork = scratch / "archive-shell";
    const std::string program = makeProgramFolder(o, scratch, "archive-prog");
    for (const auto& f : {raw, dest, temp, shellWork}) fs::create_directories(f);
    std::vector<std::string> folders;
    for (const char* f : {"DISC/A", "DISC/A/B", "DISC/C", "DISC/C/D", "DISC/E"}) folders.push_back(src + "/" + f);
    for (const auto& f : folders) fs::create_directories(f);

    std::printf("archive: generating %d objects of 100-600 kB in %zu folders (gzip -c) ...\n", o.objects,
                folders.size());
    std::fflush(stdout);
    std::vector<ArchiveObject> objects;
    Rng sizes(8122026);
    uint64_t totalRaw = 0, totalPacked = 0;
    // Two gzip processes at a time: generation is not what is measured.
    std::vector<std::pair<pid_t, std::string>> pending;
    const auto reapOne = [&] {
        const auto [pid, rawPath] = pending.front();
        pending.erase(pending.begin());
        if (!reapedOk(pid)) fail("gzip -c failed");
        fs::remove(rawPath);
    };
    for (int i = 0; i < o.objects; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG%05d", i + 1);
        const std::string& folder = folders[size_t(i) * folders.size() / size_t(o.objects)];
        ArchiveObject obj{folder + "/" + name + ".Z", 0xA4C0000ull + uint64_t(i),
                          100 * KiB + sizes.below(500 * KiB + 1)};
        const ObjectParts p = objectParts(obj);
        obj.payloadSize = p.payload.size();
        const std::string rawPath = raw + "/" + name;
        writeFile(rawPath, p.wrapper + p.payload + Marker + p.tail);
        totalRaw += obj.total;
        pending.emplace_back(spawn({"gzip", "-c", "-n", rawPath}, obj.path), rawPath);
        if (pending.size() >= 2) reapOne();
        objects.push_back(std::move(obj));
    }
    while (!pending.empty()) reapOne();
    fs::remove_all(raw);
    for (const auto& obj : objects) {
        totalPacked += fs::file_size(obj.path);
        warm(obj.path);
    }
    std::printf("archive: %.1f MB before, %.1f MB after compression (%.2f:1)\n", double(totalRaw) / 1e6,
                double(totalPacked) / 1e6, double(totalRaw) / double(totalPacked));

    // The same file work by hand: copy in as <base>.dcm.z, decompress in place.
    const std::string loop =
        "w=$1; shift; for f in \"$@\"; do b=${f##*/}; b=${b%.*}; "
        "cp \"$f\" \"$w/$b.dcm.z\" && gzip -d -f \"$w/$b.dcm.z\" || exit 1; done";
    std::vector<std::string> shellArgs{"bash", "-c", loop, "bash", shellWork};
    for (const auto& obj : objects) shellArgs.push_back(obj.path);

    std::vector<double> shellTimes, engineTimes, cpuShares;
    run(shellArgs);  // untimed: every timed run then follows a deletion, as for the plain copies
    for (int round = 1; round <= o.rounds; ++round) {
        emptyFolder(shellWork);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        auto start = Clock::now();
        run(shellArgs);
        shellTimes.push_back(since(start));
        checks.expect(filesIn(shellWork).size() == objects.size(), "shell loop left an unexpected file count");
        emptyFolder(shellWork);

        emptyFolder(dest);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        // The engine waits while any gunzip.exe runs, not only its own.
        if (jor::FindProcess("gunzip.exe", 1) != 0)
            std::printf("  note: another gunzip.exe is running; the engine will wait for it\n");
        const EngineRun r = runEngine(o.window, src, dest, temp, "Arzt und Praxis", program);
        engineTimes.push_back(r.wall);
        cpuShares.push_back(r.cpu / r.wall);
        std::printf("  round %d: shell loop %.3f s, engine %.3f s, own CPU %.3f s (%.2f of wall)\n", round,
                    shellTimes.back(), r.wall, r.cpu, r.cpu / r.wall);
        std::fflush(stdout);
        checkReport(checks, r, objects.size());
        checkErrorLog(checks, program);
        checks.expect(!fs::exists(temp + "/TempOrvek"), "working folder TempOrvek left behind");
        checkOutputs<ArchiveObject>(
            checks, dest, objects, [](const ArchiveObject& a) { return a.payloadSize; }, objectPayload);
        emptyFolder(dest);
    }
    if (o.breakdown) breakdownArchive(objects, program, scratch, o.quietWait);
    fs::remove_all(src);

    const Summary e = summarize(engineTimes), s = summarize(shellTimes), share = summarize(cpuShares);
    const double ratio = e.best / s.best;
    std::printf("archive: engine %.2f s, shell loop %.2f s, ratio %.2f (target \u2264 %.2f)   [best of %d, %s]\n",
                e.best, s.best, ratio, Target, o.rounds, windowName(o.window));
    std::printf("archive: engine %.2f s, shell loop %.2f s, ratio %.2f                     [median]\n", e.median,
                s.median, e.median / s.median);
    std::printf("archive: engine own CPU %.2f of its wall time [median]\n", share.median);
    if (ratio > Target) {
        std::printf("TARGET MISSED: archive objects, engine/shell loop = %.2f > %.2f\n", ratio, Target);
        return 1;
    }
    return 0;
}

}  // namespace bench
