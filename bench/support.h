// What the benchmarks of bench_migration share.
//
// What every benchmark of bench_migration shares: options, scratch space,
// files, child processes, clocks, checks and a run of the engine.
#pragma once

#include "migration/window_port.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

inline constexpr size_t KiB = 1024;
inline constexpr uint64_t MiB = 1024 * 1024;

// ---------------------------------------------------------------- options

enum class WindowKind { Qt, Fake };

struct Options {
    std::string dir = "/tmp";
    std::string programFolder;  // holds gunzip.exe
    WindowKind window = WindowKind::Qt;
    int files = 2000;
    int objects = 500;
    int rounds = 5;
    double largeGiB = 2;
    int flushFiles = 300;
    double foreignSeconds = 3;
    int earlierRuns = 500;
    int earlierImages = 400;
    int discFiles = 20;
    bool plain = true, archive = true, large = true, earlier = true, storage = true, wait = true;
    bool breakdown = false;
    double quietWait = 120;
    double settle = 0;
};

// ---------------------------------------------------------------- helpers

struct Rng {
    uint64_t state;
    explicit Rng(uint64_t seed) : state(seed) {}
    uint64_t next() {  // splitmix64: fast, and the same bytes on every machine
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return next() % n; }
};

[[noreturn]] void fail(const std::string& what);

void writeFile(const std::string& path, const std::string& data);
std::string readFile(const std::string& path);
// Brings a file into the page cache so no timed side pays for the disc.
void warm(const std::string& path);

// Starts a program found on PATH; stdout to a file when given, stdin from a
// pipe whose write end is returned in *stdinPipe when that is not null.
pid_t spawn(const std::vector<std::string>& args, const std::string& stdoutPath = {}, int* stdinPipe = nullptr);
bool reapedOk(pid_t pid);
void run(const std::vector<std::string>& args);
// The full path of a program on PATH, for a spawn that does not search it.
std::string onPath(const std::string& program);

double since(Clock::time_point start);
double ownCpuSeconds();

struct Summary {
    double best, median;
};
Summary summarize(std::vector<double> values);

std::vector<std::string> filesIn(const std::string& folder);
void emptyFolder(const std::string& folder);

// Cleanup happens outside the timed region; see README (--settle).
void settle();
extern double settleSeconds;
// Waits up to `patience` seconds for the other processes to leave the CPUs idle.
void awaitQuiet(double patience, const char* when);

// KiB from /proc/self/status ("VmRSS", "VmHWM").
long statusKiB(const char* field);
// Lets VmHWM start again from the present; false where the kernel refuses.
bool resetPeak();

// "tmpfs", "ext4", ... for the file system holding `path`.
std::string fileSystemName(const std::string& path);

// Running processes, as the by-name lookup walks them.
size_t processCount();

// Everything the program makes lives below one folder, removed on every exit path.
class Scratch {
public:
    explicit Scratch(const std::string& parent);
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A program folder of the scratch space: gunzip.exe and the logs, as the
// window finds them beside its executable.
std::string makeProgramFolder(const Options& o, const Scratch& scratch, const std::string& name);

// ------------------------------------------------------------ engine runs

struct Message {
    jor::MessageIcon icon;
    std::string title, text;
};

struct EngineRun {
    double wall = 0, cpu = 0;
    std::vector<Message> messages;
};

// One "Migrieren" click up to the closed report and the end of the tick, in
// the real window (Qt) or in one that only stores the values (Fake). Logs go
// to <programFolder>/Logs. `beforeClick` runs just before the click, once
// the window is up.
EngineRun runEngine(WindowKind kind, const std::string& source, const std::string& dest, const std::string& temp,
                    const std::string& pacs, const std::string& programFolder,
                    const std::function<void()>& beforeClick = {});

const char* windowName(WindowKind kind);

// ------------------------------------------------------------------ checks

struct Checks {
    int failures = 0;
    void expect(bool ok, const std::string& what);
};

inline const std::regex OutputName(R"(2\.25\.[0-9]+\.dcm)");

// The engine's own report must say every selected file made it.
void checkReport(Checks& checks, const EngineRun& run, size_t expected);
void checkErrorLog(Checks& checks, const std::string& programFolder);

// Outputs carry fresh random names, so a sample is matched to its source by
// size, then compared whole against each candidate of that size.
template <class Item>
void checkOutputs(Checks& checks, const std::string& dest, const std::vector<Item>& items,
                  const std::function<size_t(const Item&)>& expectedSize,
                  const std::function<std::string(const Item&)>& expectedContent) {
    const auto names = filesIn(dest);
    size_t outputs = 0;
    for (const auto& name : names) {
        if (std::regex_match(name, OutputName))
            ++outputs;
        else
            checks.expect(false, "unexpected file in destination: " + name);
    }
    checks.expect(outputs == items.size(), "destination holds " + std::to_string(outputs) + " .dcm files, " +
                                               std::to_string(items.size()) + " expected");
    if (names.empty()) return;
    const std::string sampleName = names[names.size() / 2];
    const std::string sample = readFile(dest + "/" + sampleName);
    bool matched = false;
    for (const Item& item : items) {
        if (expectedSize(item) != sample.size()) continue;
        if (expectedContent(item) == sample) {
            matched = true;
            break;
        }
    }
    checks.expect(matched, "sampled output " + sampleName + " (" + std::to_string(sample.size()) +
                               " bytes) equals no expected content");
}

// ------------------------------------------------------------- the benches

// Each returns the number of targets it missed; failed checks go to `checks`.
int benchPlain(const Options& o, const Scratch& scratch, Checks& checks);
int benchArchive(const Options& o, const Scratch& scratch, Checks& checks);
int benchLargeObject(const Options& o, const Scratch& scratch, Checks& checks);
int benchEarlier(const Options& o, const Scratch& scratch, Checks& checks);
int benchStableStorage(const Options& o, Checks& checks);
int benchDecompressorWait(const Options& o, const Scratch& scratch, Checks& checks);

}  // namespace bench
