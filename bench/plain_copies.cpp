// Plain copies ("HIPAX"): the engine against cp -r on the same tree.
#include "support.h"

#include <cstdio>
#include <cstring>

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
        const EngineRun r = runEngine(o.window, src, dest, temp, "HIPAX", program);
        engineTimes.push_back(r.wall);
        std::printf("  round %d: cp -r %.3f s, engine %.3f s (own CPU %.3f s)\n", round, cpTimes.back(), r.wall, r.cpu);
        std::fflush(stdout);
        checkReport(checks, r, files.size());
        checkErrorLog(checks, program);
        checkOutputs<PlainFile>(
            checks, dest, files, [](const PlainFile& f) { return f.size; }, plainContent);
        emptyFolder(dest);
    }
    fs::remove_all(src);
    fs::remove_all(dest);

    const Summary e = summarize(engineTimes), c = summarize(cpTimes);
    const double ratio = e.best / c.best;
    std::printf("plain: engine %.2f s, cp -r %.2f s, ratio %.2f (target \u2264 %.2f)   [best of %d, %s]\n", e.best,
                c.best, ratio, Target, o.rounds, windowName(o.window));
    std::printf("plain: engine %.2f s, cp -r %.2f s, ratio %.2f                     [median]\n", e.median, c.median,
                e.median / c.median);
    if (ratio > Target) {
        std::printf("TARGET MISSED: plain copies, engine/cp -r = %.2f > %.2f\n", ratio, Target);
        return 1;
    }
    return 0;
}

}  // namespace bench
