// Benchmark: a small disc into a destination with a long journal of earlier runs.
//
// Earlier runs into the same destination: a journal of hundreds of runs, each
// with its protocol of hundreds of images. A small disc into that destination
// must start copying within a second, and looking up the earlier SOP Instance
// UIDs must not grow the peak memory by more than 64 MB.
#include "support.h"

#include "diagnostics/disc_protocol.h"
#include "diagnostics/journal.h"
#include "migration/earlier_runs.h"
#include "migration/unique_name_source.h"
#include "platform/date_time.h"
#include "platform/sha256.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <malloc.h>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace bench {
namespace {

constexpr double TargetSeconds = 1.0;
constexpr double TargetMB = 64;
constexpr std::time_t FirstRun = 1735721400;  // 2025-01-01 09:50 UTC
const std::string ExplicitLittle = "1.2.840.10008.1.2.1";
const std::string CtImage = "1.2.840.10008.5.1.4.1.1.2";

struct Patient {
    std::string id, name, birthDate;
};

// What a small disc's file shares with an earlier run: its UID, and what
// the new protocol must say of it.
struct Known {
    std::string sopInstanceUid, output, date;
};

// About 60 characters under a root of their own, distinct by run and image.
std::string uid(Rng& rng, uint64_t run, uint64_t item) {
    return "1.2.276.0.7230010.3.1.4." + std::to_string(1'000'000'000 + rng.below(9'000'000'000)) + "." +
           std::to_string(run) + "." + std::to_string(item) + "." + std::to_string(10'000'000 + rng.below(90'000'000));
}

Patient patientOf(Rng& rng, uint64_t number) {
    static const char* surnames[] = {"M\xC3\xBCller",
                                     "Schmidt",
                                     "Schneider",
                                     "Fischer",
                                     "Weber",
                                     "Meyer",
                                     "Wagner",
                                     "Becker",
                                     "Sch\xC3\xA4"
                                     "fer",
                                     "Koch",
                                     "Richter",
                                     "Klein"};
    static const char* given[] = {"Anna",   "J\xC3\xBCrgen", "Maria",         "Klaus",
                                  "Ursula", "Peter",         "Gis\xC3\xA9le", "Hans"};
    char birth[16];
    std::snprintf(birth, sizeof birth, "19%02d%02d%02d", int(20 + rng.below(80)), int(1 + rng.below(12)),
                  int(1 + rng.below(28)));
    return {"PAT" + std::to_string(100000 + number), std::string(surnames[rng.below(12)]) + "^" + given[rng.below(8)],
            birth};
}

std::string digest(Rng& rng) {
    std::string bytes(32, '\0');
    for (char& c : bytes) c = char(rng.next());
    return jor::hexText(bytes);
}

// One disc's protocol as the engine writes it, and its journal line; keeps
// the SOP Instance UID of image `keep` in `known`, when asked.
jor::JournalRecord earlierRun(const std::string& program, const std::string& dest, int run, int images, Rng& rng,
                              std::vector<Patient>& patients, std::optional<int> keep, std::vector<Known>& known) {
    const std::time_t start = FirstRun + std::time_t(run) * 5 * 3600;
    jor::JournalRecord record;
    record.start = jor::dateTimeText(start);
    record.end = jor::dateTimeText(start + 240);
    record.label = "ARCHIV_" + std::to_string(run + 1);
    char serial[16];
    std::snprintf(serial, sizeof serial, "%04X-%04X", unsigned(rng.below(0x10000)), unsigned(rng.below(0x10000)));
    record.serial = serial;
    record.source = "/media/cdrom";
    record.destination = dest;
    record.pacs = "HIPAX";
    // One or two patients a disc; now and then one seen on an earlier disc.
    std::vector<Patient> onDisc;
    for (uint64_t k = 0, n = 1 + rng.below(2); k < n; ++k) {
        if (!patients.empty() && rng.below(10) == 0)
            onDisc.push_back(patients[rng.below(patients.size())]);
        else
            onDisc.push_back(patients.emplace_back(patientOf(rng, patients.size())));
    }
    jor::DiscProtocol protocol(program, jor::protocolBaseName(jor::fileStampText(start), record.label));
    std::string text;
    std::string studyUid, seriesUid;
    for (int i = 0; i < images; ++i) {
        const Patient& patient = onDisc[size_t(i) * onDisc.size() / size_t(images)];
        if (i % 100 == 0) studyUid = uid(rng, uint64_t(run), 900000 + uint64_t(i));
        if (i % 50 == 0) seriesUid = uid(rng, uint64_t(run), 800000 + uint64_t(i));
        jor::ProtocolLine line;
        char file[64];
        std::snprintf(file, sizeof file, "DICOM/ST%06d/SE%06d/IM%06d", i / 100 + 1, i / 50 + 1, i + 1);
        line.file = file;
        line.size = 100 * KiB + rng.below(500 * KiB);
        line.result = jor::ProtocolResult::Migrated;
        line.output = "2.25." + jor::decimal128(rng.next(), rng.next()) + ".dcm";
        line.sha256 = digest(rng);
        line.patientId = patient.id;
        line.patientName = patient.name;
        line.birthDate = patient.birthDate;
        line.studyUid = studyUid;
        line.studyDate = jor::fileStampText(start).substr(0, 10);
        line.seriesUid = seriesUid;
        line.modality = "CT";
        line.sopInstanceUid = uid(rng, uint64_t(run), uint64_t(i));
        line.studyDescription = "CT Thorax mit KM";
        line.accessionNumber = "A" + std::to_string(2025000000 + run * 10 + i / 100);
        line.sopClassUid = CtImage;
        line.transferSyntax = ExplicitLittle;
        if (keep && *keep == i)
            known.push_back({line.sopInstanceUid, line.output, record.start.substr(0, record.start.find(' '))});
        text += jor::protocolLine(line) + "\r\n";
    }
    protocol.append(std::move(text));
    record.protocol = protocol.fileName();
    record.selected = record.migrated = record.images = images;
    record.patients = int32_t(onDisc.size());
    record.studies = (images + 99) / 100;
    record.series = (images + 49) / 50;
    return record;
}

// ------------------------------------------------------ the small disc

void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}

void put32(std::string& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

// One element in explicit VR little endian, its value padded to an even length.
void element(std::string& out, uint16_t group, uint16_t number, const std::string& vr, std::string value) {
    if (value.size() % 2) value.push_back(vr == "UI" || vr == "OB" ? '\0' : ' ');
    put16(out, group);
    put16(out, number);
    out += vr;
    if (vr == "OB" || vr == "OW") {
        put16(out, 0);
        put32(out, uint32_t(value.size()));
    } else {
        put16(out, uint16_t(value.size()));
    }
    out += value;
}

std::string dicomFile(const std::string& sopInstanceUid, const std::string& studyUid, const std::string& seriesUid,
                      const Patient& patient, size_t pixelBytes, Rng& rng) {
    std::string meta;
    element(meta, 0x0002, 0x0001, "OB", std::string("\0\1", 2));
    element(meta, 0x0002, 0x0002, "UI", CtImage);
    element(meta, 0x0002, 0x0003, "UI", sopInstanceUid);
    element(meta, 0x0002, 0x0010, "UI", ExplicitLittle);
    element(meta, 0x0002, 0x0012, "UI", "1.2.276.0.7230010.3.0.3.6.8");
    std::string out(128, '\0');
    out += "DICM";
    std::string length;
    put32(length, uint32_t(meta.size()));
    element(out, 0x0002, 0x0000, "UL", length);
    out += meta;
    element(out, 0x0008, 0x0016, "UI", CtImage);
    element(out, 0x0008, 0x0018, "UI", sopInstanceUid);
    element(out, 0x0008, 0x0020, "DA", "20261209");
    element(out, 0x0008, 0x0050, "SH", "A2026120901");
    element(out, 0x0008, 0x0060, "CS", "CT");
    element(out, 0x0008, 0x1030, "LO", "CT Abdomen");
    element(out, 0x0010, 0x0010, "PN", patient.name);
    element(out, 0x0010, 0x0020, "LO", patient.id);
    element(out, 0x0010, 0x0030, "DA", patient.birthDate);
    element(out, 0x0020, 0x000D, "UI", studyUid);
    element(out, 0x0020, 0x000E, "UI", seriesUid);
    std::string pixels(pixelBytes & ~size_t(1), '\0');
    for (char& c : pixels) c = char(rng.next() & 0x0F);
    element(out, 0x7FE0, 0x0010, "OW", std::move(pixels));
    return out;
}

// ------------------------------------------------------------ watching

// The moment the first output takes its name in the folder, seen by a thread
// of its own while the engine runs on this one.
class FirstOutput {
public:
    explicit FirstOutput(const std::string& folder) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (fd_ < 0 || ::inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO) < 0)
            fail("cannot watch " + folder);
        thread_ = std::thread([this] { watch(); });
    }
    ~FirstOutput() {
        if (thread_.joinable()) (void)finish();
    }
    FirstOutput(const FirstOutput&) = delete;
    FirstOutput& operator=(const FirstOutput&) = delete;

    std::optional<Clock::time_point> finish() {
        stop_ = true;
        thread_.join();
        ::close(fd_);
        return seen_;
    }

private:
    void watch() {
        alignas(inotify_event) char buffer[4096];
        while (!stop_ && !seen_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            const auto now = Clock::now();
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && std::regex_match(std::string(event->name), OutputName)) seen_ = now;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    int fd_;
    std::atomic<bool> stop_{false};
    std::optional<Clock::time_point> seen_;
    std::thread thread_;
};

// Bench-made memory handed back first, so that what the engine allocates
// shows as growth and not as reuse.
long trimmedRssKiB() {
    ::malloc_trim(0);
    return statusKiB("VmRSS");
}

}  // namespace

int benchEarlier(const Options& o, const Scratch& scratch, Checks& checks) {
    const std::string src = scratch / "earlier-src", dest = scratch / "earlier-dest", temp = scratch / "earlier-temp";
    const std::string program = makeProgramFolder(o, scratch, "earlier-prog");
    for (const auto& f : {src, dest, temp}) fs::create_directories(f);

    std::printf("earlier: writing %d earlier runs of %d images each into one destination ...\n", o.earlierRuns,
                o.earlierImages);
    std::fflush(stdout);
    const auto writeStart = Clock::now();
    Rng rng(20261209);
    std::vector<Patient> patients;
    std::vector<Known> known;
    const jor::Journal journal(program);
    // A fourth of the small disc was migrated before, from discs spread over the years.
    const int knownCount = std::min(o.discFiles / 4, o.earlierRuns);
    for (int run = 0; run < o.earlierRuns; ++run) {
        std::optional<int> keep;
        if (knownCount > 0 && run % std::max(1, o.earlierRuns / knownCount) == 0 && int(known.size()) < knownCount)
            keep = int(rng.below(uint64_t(o.earlierImages)));
        journal.append(earlierRun(program, dest, run, o.earlierImages, rng, patients, keep, known));
    }
    const std::string discs = jor::discsFolderOf(program), journalCopy = scratch / "earlier-journal.csv";
    const auto earlierNames = filesIn(discs);
    const std::set<std::string> earlierFiles(earlierNames.begin(), earlierNames.end());
    uint64_t protocolBytes = 0;
    for (const auto& name : earlierNames) protocolBytes += fs::file_size(discs + "/" + name);
    fs::copy_file(journal.path(), journalCopy);
    std::printf("earlier: %zu protocols of %.1f MB, journal %.1f kB, %zu patients, written in %.1f s\n",
                earlierNames.size(), double(protocolBytes) / 1e6, double(fs::file_size(journalCopy)) / 1e3,
                patients.size(), since(writeStart));

    // The small disc: one patient known from before, two series.
    const Patient& patient = patients[patients.size() / 2];
    const std::string studyUid = uid(rng, 999999, 1);
    std::vector<std::string> discUids;
    for (int i = 0; i < o.discFiles; ++i) {
        const std::string folder = src + "/DICOM/ST000001/SE00000" + std::to_string(1 + i * 2 / o.discFiles);
        fs::create_directories(folder);
        discUids.push_back(size_t(i) < known.size() ? known[size_t(i)].sopInstanceUid
                                                    : uid(rng, 999999, 100 + uint64_t(i)));
        char name[16];
        std::snprintf(name, sizeof name, "IM%06d", i + 1);
        writeFile(folder + "/" + name,
                  dicomFile(discUids.back(), studyUid, uid(rng, 999999, 2 + uint64_t(i * 2 / o.discFiles)), patient,
                            200 * KiB + rng.below(300 * KiB), rng));
        warm(folder + "/" + name);
    }
    for (const auto& name : earlierNames) warm(discs + "/" + name);

    // The lookup on its own, as the run's tick makes it.
    settle();
    awaitQuiet(o.quietWait, "before the lookup");
    long rssBefore = trimmedRssKiB();
    bool peakReset = resetPeak();
    auto start = Clock::now();
    {
        const jor::EarlierRuns lookup(program, dest, "");
        const double seconds = since(start);
        const long hwm = statusKiB("VmHWM");
        if (!known.empty())
            checks.expect(lookup.image(known.front().sopInstanceUid).has_value(),
                          "earlier: the lookup does not find an earlier image");
        std::printf(
            "earlier: the lookup alone reads them in %.3f s, peak (VmHWM) %.1f MB over VmRSS %.1f MB: +%.1f MB\n",
            seconds, double(hwm) / 1024, double(rssBefore) / 1024, peakReset ? double(hwm - rssBefore) / 1024 : -1.0);
    }

    std::vector<double> firstTimes, totalTimes, growths;
    for (int round = 1; round <= o.rounds; ++round) {
        // Each round finds the same earlier runs: this one's line and protocol go.
        fs::copy_file(journalCopy, journal.path(), fs::copy_options::overwrite_existing);
        for (const auto& name : filesIn(discs))
            if (!earlierFiles.contains(name)) fs::remove(discs + "/" + name);
        emptyFolder(dest);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        FirstOutput watcher(dest);
        Clock::time_point click;
        const EngineRun r = runEngine(o.window, src, dest, temp, "HIPAX", program, [&] {
            rssBefore = trimmedRssKiB();
            peakReset = resetPeak();
            click = Clock::now();
        });
        const long hwm = statusKiB("VmHWM");
        const auto first = watcher.finish();
        checks.expect(first.has_value(), "earlier: no output seen in the destination");
        checks.expect(peakReset, "earlier: the kernel refused to reset VmHWM");
        firstTimes.push_back(first ? std::chrono::duration<double>(*first - click).count() : 1e9);
        totalTimes.push_back(r.wall);
        growths.push_back(double(hwm - rssBefore) / 1024);
        std::printf(
            "  round %d: first output after %.3f s, run %.3f s (own CPU %.3f s), VmHWM %.1f MB over VmRSS %.1f MB: "
            "+%.1f MB\n",
            round, firstTimes.back(), r.wall, r.cpu, double(hwm) / 1024, double(rssBefore) / 1024, growths.back());
        std::fflush(stdout);

        checkReport(checks, r, size_t(o.discFiles));
        checkErrorLog(checks, program);
        size_t outputs = 0;
        for (const auto& name : filesIn(dest)) outputs += std::regex_match(name, OutputName);
        checks.expect(outputs == size_t(o.discFiles),
                      "earlier: " + std::to_string(outputs) + " outputs, " + std::to_string(o.discFiles) + " expected");
        // The files migrated before, and only they, are noted as already in the destination.
        std::string protocol;
        for (const auto& name : filesIn(discs))
            if (!earlierFiles.contains(name) && name.ends_with(".csv")) protocol = name;
        size_t lines = 0, rightNotes = 0;
        if (!protocol.empty())
            jor::readProtocol(program, protocol, [&](const jor::ProtocolLine& line) {
                ++lines;
                const auto k = std::find_if(known.begin(), known.end(),
                                            [&](const Known& e) { return e.sopInstanceUid == line.sopInstanceUid; });
                const bool noted = line.note.find("bereits im Ziel") != std::string::npos;
                if (k == known.end()
                        ? !noted
                        : line.note.find("bereits im Ziel: " + k->output + " (" + k->date + ")") != std::string::npos)
                    ++rightNotes;
            });
        checks.expect(lines == size_t(o.discFiles) && rightNotes == lines,
                      "earlier: the protocol has " + std::to_string(lines) + " lines, " + std::to_string(rightNotes) +
                          " of them with the right note on earlier images");
    }
    fs::remove_all(src);
    fs::remove_all(dest);
    fs::remove_all(program);

    const Summary first = summarize(firstTimes), total = summarize(totalTimes), growth = summarize(growths);
    const double worstGrowth = *std::max_element(growths.begin(), growths.end());
    std::printf(
        "earlier: click to first output %.3f s (median %.3f s; target < %.1f s), run of %d files %.3f s "
        "(median %.3f s)   [best of %d, %s]\n",
        first.best, first.median, TargetSeconds, o.discFiles, total.best, total.median, o.rounds, windowName(o.window));
    std::printf(
        "earlier: peak memory growth %.1f MB at most (median %.1f MB; target \u2264 %.0f MB), %zu of %d files "
        "known from before\n",
        worstGrowth, growth.median, TargetMB, known.size(), o.discFiles);
    int missed = 0;
    if (first.best >= TargetSeconds) {
        std::printf("TARGET MISSED: earlier runs, click to first output %.3f s \u2265 %.1f s\n", first.best,
                    TargetSeconds);
        ++missed;
    }
    if (worstGrowth > TargetMB) {
        std::printf("TARGET MISSED: earlier runs, peak memory growth %.1f MB > %.0f MB\n", worstGrowth, TargetMB);
        ++missed;
    }
    return missed;
}

}  // namespace bench
