// Wall-time comparison of the migration engine against the shell tools doing
// the same file work. See README.md for how to run it.
#include "diagnostics/logs.h"
#include "migration/engine.h"
#include "migration/payload.h"
#include "migration/unique_name_source.h"
#include "migration/window_port.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/task_modul.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

void writeFile(const std::string& path, const std::string& data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create " + path + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            fail("cannot write " + path + ": " + std::strerror(errno));
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) fail("cannot close " + path);
}

std::string readFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("cannot open " + path + ": " + std::strerror(errno));
    std::string data;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            fail("cannot read " + path);
        }
        if (n == 0) break;
        data.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

// Brings a file into the page cache so no timed side pays for the disc.
void warm(const std::string& path) { (void)readFile(path); }

pid_t spawn(const std::vector<std::string>& args, const std::string& stdoutPath = {}) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (!stdoutPath.empty())
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, stdoutPath.c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) fail("cannot start " + args[0] + ": " + std::strerror(rc));
    return pid;
}

bool reapedOk(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void run(const std::vector<std::string>& args) {
    if (!reapedOk(spawn(args))) fail("command failed: " + args[0]);
}

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

struct Summary {
    double best, median;
};

Summary summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return {values.front(), median};
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void emptyFolder(const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// Cleanup happens outside the timed region; writing back what the previous
// run left dirty keeps it from landing in the next. ext4 without a journal
// makes every new inode skip those deleted in the last ~30 s, so a pause
// lets each run start as on a destination nobody has just cleaned up.
double settleSeconds = 0;
void settle() {
    ::sync();
    if (settleSeconds > 0) ::usleep(static_cast<useconds_t>(settleSeconds * 1e6));
}

// The share of all cores busy over a quarter second while this program
// sleeps; with two cores, a build next to the run spoils the figures.
std::optional<double> othersBusyShare() {
    const auto sample = [](uint64_t& busy, uint64_t& total) {
        const std::string stat = readFile("/proc/stat");
        unsigned long long v[8] = {};
        if (std::sscanf(stat.c_str(), "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                        &v[4], &v[5], &v[6], &v[7]) != 8)
            return false;
        total = v[0] + v[1] + v[2] + v[3] + v[4] + v[5] + v[6] + v[7];
        busy = total - v[3] - v[4];
        return true;
    };
    uint64_t b0, t0, b1, t1;
    if (!sample(b0, t0)) return std::nullopt;
    ::usleep(250'000);
    if (!sample(b1, t1) || t1 == t0) return std::nullopt;
    return double(b1 - b0) / double(t1 - t0);
}

// Waits up to `patience` seconds for the other processes to calm down.
void awaitQuiet(double patience, const char* when) {
    const auto start = Clock::now();
    std::optional<double> share;
    while ((share = othersBusyShare()) && *share > 0.15 && since(start) < patience) {
    }
    if (share && *share > 0.15)
        std::printf("  note: other processes kept %.0f%% of the CPUs busy %s; timings are unreliable\n",
                    100 * *share, when);
    else if (since(start) > 1)
        std::printf("  (waited %.0f s for other processes to finish %s)\n", since(start), when);
}

// The full path of a program on PATH, for a spawn that does not search it.
std::string onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = std::min(dirs.find(':', start), dirs.size());
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    fail(program + " not found on PATH");
}

// ----------------------------------------------------------- fake window

class BenchWindow : public jor::WindowPort {
public:
    std::string source, dest, temp, pacs;
    bool armed = false;
    int32_t progressMax = 0, progressValue = 0;
    std::string progressText, statusText;
    struct Message {
        jor::MessageIcon icon;
        std::string title, text;
    };
    std::vector<Message> messages;

    std::string sourceText() const override { return source; }
    std::string destText() const override { return dest; }
    std::string tempText() const override { return temp; }
    std::string pacsText() const override { return pacs; }
    int32_t debugValue() const override { return 0; }

    void setProgressMax(int32_t v) override { progressMax = v; }
    void setProgressValue(int32_t v) override { progressValue = v; }
    void setProgressText(const std::string& t) override { progressText = t; }
    void setStatusText(const std::string& t) override { statusText = t; }
    void setMigrierenEnabled(bool) override {}
    void setBeendenEnabled(bool) override {}
    void armTimer() override { armed = true; }
    void disarmTimer() override { armed = false; }
    void showMessage(jor::MessageIcon icon, const std::string& title, const std::string& text) override {
        messages.push_back({icon, title, text});
    }
    // The real window pumps its event loop here; the cost belongs to the run.
    void yield() override { QCoreApplication::processEvents(); }
};

struct EngineRun {
    double wall = 0, cpu = 0;
    std::vector<BenchWindow::Message> messages;
};

// One "Migrieren" click and the timer tick that follows it, as the window delivers them.
EngineRun runEngine(const std::string& source, const std::string& dest, const std::string& temp,
                    const std::string& pacs, const std::string& programFolder, const std::string& logFolder) {
    BenchWindow window;
    window.source = source;
    window.dest = dest;
    window.temp = temp;
    window.pacs = pacs;
    const jor::Logs logs(logFolder, [] { return 0; });
    jor::MigrationEngine engine(window, logs, programFolder);

    EngineRun result;
    const double cpu0 = ownCpuSeconds();
    const auto start = Clock::now();
    engine.StartRun();
    if (window.armed) engine.tmrMig_Timer();
    result.wall = since(start);
    result.cpu = ownCpuSeconds() - cpu0;
    result.messages = std::move(window.messages);
    return result;
}

// ------------------------------------------------------------------ checks

struct Checks {
    int failures = 0;
    void expect(bool ok, const std::string& what) {
        if (ok) return;
        ++failures;
        std::printf("  CHECK FAILED: %s\n", what.c_str());
    }
};

const std::regex OutputName(R"(2\.25\.[0-9]+\.dcm)");

// The engine's own report must say every selected file made it.
void checkReport(Checks& checks, const EngineRun& run, size_t expected) {
    const std::string n = std::to_string(expected);
    const std::string wanted = n + " von " + n + " Dateien konnten erfolgreich migriert werden.";
    const bool ok = run.messages.size() == 1 && run.messages[0].icon == jor::MessageIcon::Information &&
                    run.messages[0].text.starts_with(wanted);
    std::string seen;
    for (const auto& m : run.messages) seen += " [" + m.title + ": " + m.text.substr(0, 80) + "]";
    checks.expect(ok, "report \"" + wanted + "\" expected, got" + (seen.empty() ? " nothing" : seen));
}

void checkErrorLog(Checks& checks, const std::string& logFolder) {
    const std::string path = logFolder + "/Logs/Error.txt";
    if (!fs::exists(path)) return;
    const std::string log = readFile(path);
    checks.expect(false, "error log is not empty:\n" + log.substr(0, 2000));
    fs::remove(path);
}

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

// ---------------------------------------------------------------- options

struct Options {
    std::string dir = "/tmp";
    std::string programFolder = JOR_BENCH_PROGRAM_DIR;
    int files = 2000;
    int objects = 500;
    int rounds = 3;
    bool plain = true, archive = true;
    bool breakdown = false;
    double quietWait = 120;
    double settle = 0;
};

void usage() {
    std::printf(
        "usage: bench_migration [--dir D] [--program-folder P] [--files N] [--objects N]\n"
        "                       [--rounds N] [--only plain|archive] [--breakdown] [--quiet-wait S]\n"
        "                       [--settle S]\n"
        "  --dir             parent of the scratch folder (default /tmp)\n"
        "  --program-folder  folder holding gunzip.exe (default %s)\n"
        "  --breakdown       after the archive run, time each per-object step on its own\n"
        "  --quiet-wait S    before each timed run, wait up to S seconds (default 120) for\n"
        "                    other processes to leave the CPUs idle\n"
        "  --settle S        after each cleanup, pause S seconds before the next timed run\n"
        "                    (35 lets ext4 without a journal forget the deletions)\n",
        JOR_BENCH_PROGRAM_DIR);
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--dir") o.dir = value();
        else if (a == "--program-folder") o.programFolder = value();
        else if (a == "--files") o.files = std::stoi(value());
        else if (a == "--objects") o.objects = std::stoi(value());
        else if (a == "--rounds") o.rounds = std::stoi(value());
        else if (a == "--breakdown") o.breakdown = true;
        else if (a == "--quiet-wait") o.quietWait = std::stod(value());
        else if (a == "--settle") o.settle = std::stod(value());
        else if (a == "--only") {
            const std::string v = value();
            o.plain = v == "plain";
            o.archive = v == "archive";
            if (!o.plain && !o.archive) return std::nullopt;
        } else
            return std::nullopt;
    }
    if (o.files < 1 || o.objects < 1 || o.rounds < 1) return std::nullopt;
    return o;
}

// Everything the program makes lives below one folder, removed on every exit path.
class Scratch {
public:
    explicit Scratch(const std::string& parent) {
        std::string pattern = parent + "/jor-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) fail("cannot create a scratch folder in " + parent);
        path_ = pattern;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// ------------------------------------------------------------ plain copies

constexpr size_t KiB = 1024;

struct PlainFile {
    std::string path;
    size_t size;
    uint64_t seed;
};

std::string plainContent(const PlainFile& f) {
    std::string data(f.size, '\0');
    Rng rng(f.seed);
    size_t i = 0;
    for (; i + 8 <= data.size(); i += 8) {
        const uint64_t v = rng.next();
        std::memcpy(data.data() + i, &v, 8);
    }
    const uint64_t v = rng.next();
    std::memcpy(data.data() + i, &v, data.size() - i);
    return data;
}

// Five top-level folders with one subfolder each: ten folders, files spread evenly.
std::vector<std::string> makeFolderTree(const std::string& root) {
    std::vector<std::string> folders;
    for (int t = 1; t <= 5; ++t) {
        const std::string top = root + "/SERIES" + std::to_string(t);
        folders.push_back(top);
        folders.push_back(top + "/SUB1");
    }
    for (const auto& f : folders) fs::create_directories(f);
    return folders;
}

int benchPlain(const Options& o, const Scratch& scratch, Checks& checks) {
    const std::string src = scratch / "plain-src", cpOut = scratch / "plain-cp", dest = scratch / "plain-dest",
                      temp = scratch / "plain-temp", logFolder = scratch / "plain-prog";
    for (const auto& f : {dest, temp, logFolder}) fs::create_directories(f);
    const auto folders = makeFolderTree(src);

    std::printf("plain: generating %d files of 100-600 kB in %zu folders ...\n", o.files, folders.size());
    std::fflush(stdout);
    std::vector<PlainFile> files;
    Rng sizes(20261208);
    uint64_t total = 0;
    for (int i = 0; i < o.files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IM%06d", i + 1);
        const std::string& folder = folders[size_t(i) * folders.size() / size_t(o.files)];
        PlainFile f{folder + "/" + name, 100 * KiB + sizes.below(500 * KiB + 1), 0x5EED0000ull + uint64_t(i)};
        writeFile(f.path, plainContent(f));
        total += f.size;
        files.push_back(std::move(f));
    }
    for (const auto& f : files) warm(f.path);
    std::printf("plain: %.1f MB in total\n", double(total) / 1e6);

    // Untimed, so that every timed run follows the deletion of a whole
    // output tree: on ext4 without a journal each new inode skips past the
    // recently deleted ones, and the first run would otherwise be spared.
    run({"cp", "-r", src, cpOut});
    std::vector<double> cpTimes, engineTimes;
    for (int round = 1; round <= o.rounds; ++round) {
        fs::remove_all(cpOut);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        auto start = Clock::now();
        run({"cp", "-r", src, cpOut});
        cpTimes.push_back(since(start));
        fs::remove_all(cpOut);

        emptyFolder(dest);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        const EngineRun r = runEngine(src, dest, temp, "HIPAX", o.programFolder, logFolder);
        engineTimes.push_back(r.wall);
        std::printf("  round %d: cp -r %.3f s, engine %.3f s (own CPU %.3f s)\n", round, cpTimes.back(), r.wall,
                    r.cpu);
        std::fflush(stdout);
        checkReport(checks, r, files.size());
        checkErrorLog(checks, logFolder);
        checkOutputs<PlainFile>(
            checks, dest, files, [](const PlainFile& f) { return f.size; }, plainContent);
        emptyFolder(dest);
    }
    fs::remove_all(src);
    fs::remove_all(dest);

    const Summary e = summarize(engineTimes), c = summarize(cpTimes);
    const double ratio = e.best / c.best;
    std::printf("plain: engine %.2f s, cp -r %.2f s, ratio %.2f (target \u2264 1.30)   [best of %d]\n", e.best,
                c.best, ratio, o.rounds);
    std::printf("plain: engine %.2f s, cp -r %.2f s, ratio %.2f                     [median]\n", e.median,
                c.median, e.median / c.median);
    if (ratio > 1.30) {
        std::printf("TARGET MISSED: plain copies, engine/cp -r = %.2f > 1.30\n", ratio);
        return 1;
    }
    return 0;
}

// --------------------------------------------------------- archive objects

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
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,;:-_=+/()[]<>";
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
    const auto yield = [] { QCoreApplication::processEvents(); };
    const std::string decompressor = programFolder + "/gunzip.exe", gzip = onPath("gzip");
    std::vector<Clock::time_point> referenceSteps;
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
            jor::ChildProcess child = jor::ChildProcess::Start(decompressor, {"-d", "-f", workingPath});
            child.WaitUntilEnded(yield, [] { return false; });
        });
        step("FindProcess(\"gunzip.exe\")", [&] {
            while (jor::FindProcess("gunzip.exe", 1, yield) != 0) yield();
        });
        const std::string decompressed = workingPath.substr(0, workingPath.size() - 2);
        std::string payload;
        step("read + extract payload", [&] { payload = jor::ExtractPayload(files.ReadWholeFile(decompressed)); });
        step("write output", [&] { files.WriteFileAtomically(dest + "/" + names.NextName() + ".dcm", payload); });
        step("delete decompressed", [&] { files.DeleteFile(decompressed, false); });
        step("window yields (x3)", [&] {
            for (int i = 0; i < 3; ++i) yield();
        });
        // Not an engine step: what the same decompression costs without the wrapper process.
        const std::string reference = work + "/" + base + ".ref.dcm.z";
        files.CopyFile(obj.path, reference, true);
        referenceSteps.push_back(Clock::now());
        {
            jor::ChildProcess child = jor::ChildProcess::Start(gzip, {"-d", "-f", reference});
            child.WaitUntilEnded(yield, [] { return false; });
        }
        referenceWall += since(referenceSteps.back());
        files.DeleteFile(reference.substr(0, reference.size() - 2), false);
    }
    double wall = since(start), cpu = ownCpuSeconds() - cpu0;
    wall -= referenceWall;
    std::printf("archive breakdown over %zu objects: engine steps wall %.2f s, own CPU %.2f s "
                "(CPU includes the reference gzip runs)\n",
                objects.size(), wall, cpu);
    std::printf("  %-28s %9s %9s %12s %12s\n", "step", "wall s", "CPU s", "wall/call", "CPU/call");
    for (const Step& s : steps)
        std::printf("  %-28s %9.3f %9.3f %9.0f us %9.0f us\n", s.name, s.wall, s.cpu, 1e6 * s.wall / double(s.calls),
                    1e6 * s.cpu / double(s.calls));

    std::printf("  %-28s %9.3f %9s %9.0f us   (reference, not an engine step)\n", "gzip -d started directly",
                referenceWall, "", 1e6 * referenceWall / double(objects.size()));

    // The by-name lookup alone, with and without the yield after each entry.
    size_t processes = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) ++processes;
    }
    for (const bool withYield : {true, false}) {
        const int calls = 200;
        const double c0 = ownCpuSeconds();
        const auto t0 = Clock::now();
        for (int i = 0; i < calls; ++i)
            (void)jor::FindProcess("gunzip.exe", 1, withYield ? std::function<void()>(yield) : std::function<void()>());
        std::printf("  FindProcess alone, %s yield: %.0f us wall, %.0f us CPU per call (%zu processes)\n",
                    withYield ? "with" : "without", 1e6 * since(t0) / calls, 1e6 * (ownCpuSeconds() - c0) / calls,
                    processes);
    }
    fs::remove_all(scratch / "breakdown-temp");
    fs::remove_all(dest);
}

int benchArchive(const Options& o, const Scratch& scratch, Checks& checks) {
    const std::string decompressor = o.programFolder + "/gunzip.exe";
    if (::access(decompressor.c_str(), X_OK) != 0) fail(decompressor + " is missing; build target gunzip_exe");
    const std::string src = scratch / "archive-src", raw = scratch / "archive-raw", dest = scratch / "archive-dest",
                      temp = scratch / "archive-temp", shellWork = scratch / "archive-shell",
                      logFolder = scratch / "archive-prog";
    for (const auto& f : {raw, dest, temp, shellWork, logFolder}) fs::create_directories(f);
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
        ArchiveObject obj{folder + "/" + name + ".Z", 0xA4C0000ull + uint64_t(i), 100 * KiB + sizes.below(500 * KiB + 1)};
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
    warm(decompressor);
    std::printf("archive: %.1f MB before, %.1f MB after compression (%.2f:1)\n", double(totalRaw) / 1e6,
                double(totalPacked) / 1e6, double(totalRaw) / double(totalPacked));

    // The same file work by hand: copy in as <base>.dcm.z, decompress in place.
    const std::string loop =
        "w=$1; shift; for f in \"$@\"; do b=${f##*/}; b=${b%.*}; "
        "cp \"$f\" \"$w/$b.dcm.z\" && gzip -d -f \"$w/$b.dcm.z\" || exit 1; done";
    std::vector<std::string> shellArgs{"bash", "-c", loop, "bash", shellWork};
    for (const auto& obj : objects) shellArgs.push_back(obj.path);

    std::vector<double> shellTimes, engineTimes, cpuShares;
    std::vector<double> cpuTimes;
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
        const EngineRun r = runEngine(src, dest, temp, "Arzt und Praxis", o.programFolder, logFolder);
        engineTimes.push_back(r.wall);
        cpuTimes.push_back(r.cpu);
        cpuShares.push_back(r.cpu / r.wall);
        std::printf("  round %d: shell loop %.3f s, engine %.3f s, own CPU %.3f s (%.2f of wall)\n", round,
                    shellTimes.back(), r.wall, r.cpu, r.cpu / r.wall);
        std::fflush(stdout);
        checkReport(checks, r, objects.size());
        checkErrorLog(checks, logFolder);
        checks.expect(!fs::exists(temp + "/TempOrvek"), "working folder TempOrvek left behind");
        checkOutputs<ArchiveObject>(
            checks, dest, objects, [](const ArchiveObject& a) { return a.payloadSize; }, objectPayload);
        emptyFolder(dest);
    }
    if (o.breakdown) breakdownArchive(objects, o.programFolder, scratch, o.quietWait);
    fs::remove_all(src);

    const Summary e = summarize(engineTimes), s = summarize(shellTimes), cpu = summarize(cpuTimes),
                  share = summarize(cpuShares);
    const double ratio = e.best / s.best;
    std::printf("archive: engine %.2f s, shell loop %.2f s, ratio %.2f (target \u2264 1.20)   [best of %d]\n",
                e.best, s.best, ratio, o.rounds);
    std::printf("archive: engine %.2f s, shell loop %.2f s, ratio %.2f                     [median]\n", e.median,
                s.median, e.median / s.median);
    std::printf("archive: engine own CPU %.2f s (best) / %.2f s (median), %.2f of engine wall [median] "
                "(target < 0.25)\n",
                cpu.best, cpu.median, share.median);
    int missed = 0;
    if (ratio > 1.20) {
        std::printf("TARGET MISSED: archive objects, engine/shell loop = %.2f > 1.20\n", ratio);
        ++missed;
    }
    if (share.median >= 0.25) {
        std::printf("TARGET MISSED: archive objects, engine own CPU = %.2f of wall >= 0.25\n", share.median);
        ++missed;
    }
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options;
    try {
        options = parse(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    if (!options) {
        usage();
        return 2;
    }
    // The engine's yield pumps this application's events, as the window's would.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    settleSeconds = options->settle;

    Checks checks;
    int missed = 0;
    try {
        const Scratch scratch(options->dir);
        std::printf("scratch folder %s, %d rounds, %ld cores, settle %.0f s\n", scratch.path().c_str(),
                    options->rounds, ::sysconf(_SC_NPROCESSORS_ONLN), options->settle);
        
        if (options->plain) missed += benchPlain(*options, scratch, checks);
        if (options->archive) missed += benchArchive(*options, scratch, checks);
    } catch (const std::exception& e) {
        std::printf("ERROR: %s\n", e.what());
        return 2;
    }
    if (checks.failures > 0) {
        std::printf("%d check(s) FAILED\n", checks.failures);
        return 1;
    }
    if (missed)
        std::printf("all checks passed; %d target(s) missed\n", missed);
    else
        std::printf("all checks passed; all targets met\n");
    return 0;
}
