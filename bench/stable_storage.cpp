// Benchmark: the outputs on stable storage, a flush per file against one syncfs.
//
// What it costs to have every output on stable storage before the report:
// a flush per file (fsync of the file and of its folder) against one syncfs
// of the destination's file system at the end of the run, each beside the
// same outputs written without any flush. The engine uses the second
// (FileSystem::FlushToStableStorage).
#include "support.h"

#include "migration/unique_name_source.h"
#include "platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace bench {
namespace {

enum class Flush { None, PerFile, SyncfsOnce };

void fsyncPath(const std::string& path, int flags) {
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) fail("cannot flush " + path + ": " + std::strerror(errno));
    ::close(fd);
}

// The outputs as the conversion writes them (a range of each source, under a
// temporary name renamed into place), flushed as asked.
double writeOutputs(const std::vector<std::pair<std::string, uint64_t>>& sources, const std::string& dest,
                    Flush flush) {
    const jor::FileSystem files;
    jor::UniqueNameSource names;
    std::vector<std::string> outputs;
    outputs.reserve(sources.size());
    const auto start = Clock::now();
    for (const auto& [source, size] : sources) {
        outputs.push_back(dest + "/" + names.nextName() + ".dcm");
        files.WriteFileRange(source, 200, size - 220, outputs.back());
        if (flush == Flush::PerFile) {
            fsyncPath(outputs.back(), O_RDONLY);
            fsyncPath(dest, O_RDONLY | O_DIRECTORY);
        }
    }
    if (flush == Flush::SyncfsOnce && !files.FlushToStableStorage(outputs).empty()) fail("syncfs failed on " + dest);
    return since(start);
}

}  // namespace

int benchStableStorage(const Options& o, Checks&) {
    std::printf("storage: %d outputs of 100-600 kB per measurement, best (median) of %d rounds\n", o.flushFiles,
                o.rounds);
    std::printf("  %-10s %-8s %12s %12s %12s %16s %16s\n", "where", "fs", "no flush", "per file", "syncfs once",
                "per file: +/obj", "syncfs: +/obj");
    for (const std::string where : {"/tmp", "/dev/shm"}) {
        if (!fs::is_directory(where)) continue;
        const Scratch scratch(where);
        const std::string sourceFolder = scratch / "sources";
        fs::create_directories(sourceFolder);
        std::vector<std::pair<std::string, uint64_t>> sources;
        Rng rng(3122026);
        std::string data;
        for (int i = 0; i < o.flushFiles; ++i) {
            const uint64_t size = 100 * KiB + rng.below(500 * KiB + 1);
            data.resize(size);
            for (auto& c : data) c = char(rng.next());
            sources.emplace_back(sourceFolder + "/S" + std::to_string(i), size);
            writeFile(sources.back().first, data);
        }
        ::sync();
        std::vector<double> times[3];
        for (int round = 0; round < o.rounds; ++round)
            for (const Flush flush : {Flush::None, Flush::PerFile, Flush::SyncfsOnce}) {
                const std::string dest = scratch / "dest";
                emptyFolder(dest);
                settle();
                times[int(flush)].push_back(writeOutputs(sources, dest, flush));
            }
        const Summary none = summarize(times[0]), perFile = summarize(times[1]), once = summarize(times[2]);
        const double n = o.flushFiles;
        const auto ms = [&](double total) { return 1000 * total / n; };
        const std::string type = fileSystemName(where);
        std::printf("  %-10s %-8s %9.2f ms %9.2f ms %9.2f ms %10.2f ms (%.2f) %10.2f ms (%.2f)   per object\n",
                    where.c_str(), type.c_str(), ms(none.best), ms(perFile.best), ms(once.best),
                    ms(perFile.best - none.best), ms(perFile.median - none.median), ms(once.best - none.best),
                    ms(once.median - none.median));
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace bench
