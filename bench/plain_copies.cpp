// Benchmark: plain copies, the engine against cp -r and openssl dgst.
//
// Plain copies ("HIPAX"): the engine, which hashes each output and writes
// the disc's protocol, against cp -r followed by openssl dgst -sha256 over
// the copies, on the same tree.
#include "support.h"

#include "diagnostics/disc_protocol.h"

#include <cstdio>
#include <cstring>
#include <map>

namespace bench {
namespace {

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

constexpr double Target = 1.10;

// SHA-256 by file, from the lines "<hex> *<path>" of openssl dgst -r.
std::map<std::string, std::string> digestsIn(const std::string& listing) {
    std::map<std::string, std::string> digests;
    size_t at = 0;
    for (size_t end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = listing.substr(at, end - at);
        const size_t star = line.find(" *");
        if (star != std::string::npos) digests[line.substr(star + 2)] = line.substr(0, star);
    }
    return digests;
}

// Every file of the run has its line, migrated, with the SHA-256 the shell
// side computed for its copy.
void checkProtocol(Checks& checks, const std::string& program, const std::string& cpOut,
                   const std::map<std::string, std::string>& digests, size_t expected) {
    const auto names = filesIn(jor::discsFolderOf(program));
    checks.expect(names.size() == 1, "plain: " + std::to_string(names.size()) + " files in Logs/Discs, 1 expected");
    if (names.empty()) return;
    size_t lines = 0, matching = 0;
    jor::readProtocol(program, names.front(), [&](const jor::ProtocolLine& line) {
        ++lines;
        const auto digest = digests.find(cpOut + "/" + line.file);
        if (line.result == jor::ProtocolResult::Migrated && digest != digests.end() && digest->second == line.sha256)
            ++matching;
    });
    checks.expect(lines == expected && matching == expected,
                  "plain: protocol has " + std::to_string(lines) + " lines, " + std::to_string(matching) +
                      " migrated with openssl's SHA-256; " + std::to_string(expected) + " expected");
}

}  // namespace

int benchPlain(const Options& o, const Scratch& scratch, Checks& checks) {
    const std::string src = scratch / "plain-src", cpOut = scratch / "plain-cp", dest = scratch / "plain-dest",
                      temp = scratch / "plain-temp";
    const std::string program = makeProgramFolder(o, scratch, "plain-prog");
    for (const auto& f : {dest, temp}) fs::create_directories(f);
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

    // The engine hashes each output as it writes it; the shell side hashes
    // the copies after cp -r has made them, every one in one openssl.
    std::vector<std::string> dgstArgs{"openssl", "dgst", "-sha256", "-r"};
    for (const auto& f : files) dgstArgs.push_back(cpOut + f.path.substr(src.size()));
    const std::string digests = scratch / "plain-digests";

    // Untimed, so that every timed run follows the deletion of a whole
    // output tree: on ext4 without a journal each new inode skips past the
    // recently deleted ones, and the first run would otherwise be spared.
    run({"cp", "-r", src, cpOut});
    std::vector<double> cpTimes, shellTimes, engineTimes;
    for (int round = 1; round <= o.rounds; ++round) {
        fs::remove_all(cpOut);
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        auto start = Clock::now();
        run({"cp", "-r", src, cpOut});
        cpTimes.push_back(since(start));
        if (!reapedOk(spawn(dgstArgs, digests))) fail("openssl dgst failed");
        shellTimes.push_back(since(start));
        fs::remove_all(cpOut);

        emptyFolder(dest);
        // Each round a first run into its destination, as the shell side is.
        fs::remove_all(program + "/Logs");
        settle();
        awaitQuiet(o.quietWait, "before a timed run");
        const EngineRun r = runEngine(o.window, src, dest, temp, "HIPAX", program);
        engineTimes.push_back(r.wall);
        std::printf("  round %d: cp -r %.3f s + openssl dgst %.3f s = %.3f s, engine %.3f s (own CPU %.3f s)\n", round,
                    cpTimes.back(), shellTimes.back() - cpTimes.back(), shellTimes.back(), r.wall, r.cpu);
        std::fflush(stdout);
        checkReport(checks, r, files.size());
        checkErrorLog(checks, program);
        checkOutputs<PlainFile>(
            checks, dest, files, [](const PlainFile& f) { return f.size; }, plainContent);
        checkProtocol(checks, program, cpOut, digestsIn(readFile(digests)), files.size());
        emptyFolder(dest);
    }
    fs::remove_all(src);
    fs::remove_all(dest);

    const Summary e = summarize(engineTimes), s = summarize(shellTimes), c = summarize(cpTimes);
    const double ratio = e.best / s.best;
    std::printf(
        "plain: engine %.2f s, cp -r + openssl dgst %.2f s, ratio %.2f (target \u2264 %.2f)   [best of %d, %s]\n",
        e.best, s.best, ratio, Target, o.rounds, windowName(o.window));
    std::printf("plain: engine %.2f s, cp -r + openssl dgst %.2f s, ratio %.2f                     [median]\n",
                e.median, s.median, e.median / s.median);
    std::printf("plain: cp -r alone %.2f s (median %.2f s): engine/cp -r %.2f (median %.2f), for reference\n", c.best,
                c.median, e.best / c.best, e.median / c.median);
    if (ratio > Target) {
        std::printf("TARGET MISSED: plain copies, engine/(cp -r + openssl dgst) = %.2f > %.2f\n", ratio, Target);
        return 1;
    }
    return 0;
}

}  // namespace bench
