// Benchmark: the by-name wait for a foreign gunzip.exe, its lookup's cost and the engine's CPU.
//
// The by-name wait: once the engine's own gunzip.exe has ended, any other
// process named gunzip.exe still holds the conversion. Measured: the cost of
// one lookup, and the engine's own CPU while a foreign gunzip.exe (a copy of
// sleep under that name) holds it, beside the wait without pauses (every
// lookup straight after the last) for the same time.
#include "support.h"

#include "platform/child_process.h"
#include "platform/task_modul.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace bench {
namespace {

constexpr double TargetShare = 0.05;

// While the foreign process holds the wait (its first and last quarter
// second left out: the conversion and the report are not the wait): the
// longest gap between the ticks of a 10 ms timer, which shows whether the
// window keeps answering, and the program's own CPU.
class HeldWait {
public:
    explicit HeldWait(double seconds) {
        clock_.start();
        QObject::connect(&timer_, &QTimer::timeout, [this, seconds] {
            const qint64 now = clock_.elapsed();
            if (now > 250 && now < 1000 * seconds - 250) {
                longest_ = std::max(longest_, now - last_);
                if (firstMs_ < 0) {
                    firstMs_ = now;
                    firstCpu_ = ownCpuSeconds();
                }
                lastMs_ = now;
                lastCpu_ = ownCpuSeconds();
            }
            last_ = now;
        });
        timer_.start(10);
    }
    double longestGapMs() const { return double(longest_); }
    double cpuShare() const {
        return lastMs_ > firstMs_ ? (lastCpu_ - firstCpu_) / (1e-3 * double(lastMs_ - firstMs_)) : 1;
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, longest_ = 0, firstMs_ = -1, lastMs_ = -1;
    double firstCpu_ = 0, lastCpu_ = 0;
};

jor::ChildProcess startForeign(const std::string& path, double seconds) {
    return jor::ChildProcess::start(path, {std::to_string(seconds)});
}

}  // namespace

int benchDecompressorWait(const Options& o, const Scratch& scratch, Checks& checks) {
    const auto yield = [] { QCoreApplication::processEvents(); };
    if (jor::FindProcess("gunzip.exe", 1) != 0)
        std::printf("  note: another gunzip.exe is running; the figures below include waiting for it\n");

    // One lookup, with and without the yield after each process entry.
    const size_t processes = processCount();
    for (const bool withYield : {true, false}) {
        const int calls = 200;
        const double c0 = ownCpuSeconds();
        const auto t0 = Clock::now();
        for (int i = 0; i < calls; ++i)
            (void)jor::FindProcess("gunzip.exe", 1, withYield ? std::function<void()>(yield) : std::function<void()>());
        std::printf("wait: one FindProcess(\"gunzip.exe\"), %s yields: %.0f us wall, %.0f us CPU (%zu processes)\n",
                    withYield ? "with" : "without", 1e6 * since(t0) / calls, 1e6 * (ownCpuSeconds() - c0) / calls,
                    processes);
    }

    // A foreign gunzip.exe: a copy of sleep under that name.
    const std::string foreignFolder = scratch / "foreign", foreign = foreignFolder + "/gunzip.exe";
    fs::create_directories(foreignFolder);
    fs::copy_file("/bin/sleep", foreign);
    fs::permissions(foreign, fs::perms::owner_all);

    // The wait without pauses, for reference.
    double spinShare = 0;
    {
        jor::ChildProcess holder = startForeign(foreign, o.foreignSeconds);
        const double c0 = ownCpuSeconds();
        const auto t0 = Clock::now();
        while (jor::FindProcess("gunzip.exe", 1, yield) != 0) yield();
        const double wall = since(t0);
        spinShare = (ownCpuSeconds() - c0) / wall;
        std::printf("wait: without pauses, %.2f s held: own CPU %.0f%% of a core\n", wall, 100 * spinShare);
    }

    // The engine, one small object, while the foreign one holds the wait.
    const std::string src = scratch / "wait-src", dest = scratch / "wait-dest", temp = scratch / "wait-temp";
    const std::string program = makeProgramFolder(o, scratch, "wait-prog");
    for (const auto& f : {src, dest, temp}) fs::create_directories(f);
    writeFile(src + "/raw", "WRAPPER " + std::string(1, '\0') + "PAYLOAD#*lastfile*#tail");
    run({"sh", "-c", "gzip -c -n \"$0\" > \"$1\"", src + "/raw", src + "/IMG00001.Z"});
    fs::remove(src + "/raw");

    settle();
    awaitQuiet(o.quietWait, "before the held wait");
    std::optional<jor::ChildProcess> holder;
    std::optional<HeldWait> held;
    const EngineRun r = runEngine(o.window, src, dest, temp, "Arzt und Praxis", program, [&] {
        holder.emplace(startForeign(foreign, o.foreignSeconds));
        held.emplace(o.foreignSeconds);
    });
    const double share = held->cpuShare();
    checkReport(checks, r, 1);
    checkErrorLog(checks, program);
    checks.expect(r.wall > 0.9 * o.foreignSeconds,
                  "wait: the run ended after " + std::to_string(r.wall) + " s, before the foreign gunzip.exe");
    std::printf(
        "wait: engine held %.2f s by the foreign gunzip.exe: own CPU while held %.1f%% of a core "
        "(target < %.0f%%; without pauses %.0f%%; whole run %.1f%%), window answered within %.0f ms\n",
        r.wall, 100 * share, 100 * TargetShare, 100 * spinShare, 100 * r.cpu / r.wall, held->longestGapMs());
    if (share >= TargetShare) {
        std::printf("TARGET MISSED: by-name wait, own CPU %.1f%% >= %.0f%%\n", 100 * share, 100 * TargetShare);
        return 1;
    }
    return 0;
}

}  // namespace bench
