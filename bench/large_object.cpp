// Benchmark: one archive object of several GiB, the engine's memory and its output.
//
// One archive object that decompresses to several GiB: the engine's peak
// memory must grow by no more than 64 MB, and the output must be the payload
// byte for byte. The object is made and checked as a stream, so the
// benchmark itself never holds it either.
#include "support.h"

#include "migration/payload.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace bench {
namespace {

constexpr double TargetMB = 64;
const std::string Wrapper = "ARCHIVE OBJECT LARGE v2 / one study of many series, packed whole / ";
const std::string Tail = "\r\nEND OF OBJECT";

// Payload byte i, a function of i alone: a 16 KiB run of 16-bit ramps,
// repeated to 64 KiB, with another slope in the next 64 KiB. gzip packs it
// fast (about 4:1) but not to nothing. No '#', so no marker.
void payloadBytes(uint64_t from, char* out, size_t n) {
    uint64_t seed = 0, slope = 1, phase = 0, block = UINT64_MAX;
    for (size_t k = 0; k < n; ++k) {
        const uint64_t i = from + k;
        if (i == 0) {
            out[k] = '\0';
            continue;
        }
        if ((i >> 16) != block) {
            block = i >> 16;
            seed = Rng(block * 7919 + 1).next();
            slope = 1 + seed % 13;
            phase = (seed >> 8) % 65536;
        }
        const uint16_t v = uint16_t(((i & 0x3FFF) >> 1) * slope + phase);
        const char c = char(i & 1 ? v >> 8 : v & 0xFF);
        out[k] = c == '#' ? '$' : c;
    }
}

void writeAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) fail(std::string("cannot write to gzip: ") + std::strerror(errno));
        data += w;
        n -= size_t(w);
    }
}

long maxrssKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int benchLargeObject(const Options& o, const Scratch& scratch, Checks& checks) {
    const uint64_t payloadSize = uint64_t(o.largeGiB * 1024 * MiB);
    const std::string src = scratch / "large-src", dest = scratch / "large-dest", temp = scratch / "large-temp";
    const std::string program = makeProgramFolder(o, scratch, "large-prog");
    for (const auto& f : {src, dest, temp}) fs::create_directories(f);
    struct statvfs space {};
    if (::statvfs(scratch.path().c_str(), &space) == 0 &&
        double(space.f_bavail) * double(space.f_frsize) < 2.2 * double(payloadSize))
        fail("large: " + scratch.path() + " has too little room for the decompressed object and its output");

    std::printf("large: packing one object of %.2f GiB (gzip -1, as a stream) ...\n", double(payloadSize) / (1 << 30));
    std::fflush(stdout);
    const auto packStart = Clock::now();
    int toGzip = -1;
    const pid_t gzip = spawn({"gzip", "-1", "-c", "-n"}, src + "/STUDY001.Z", &toGzip);
    writeAll(toGzip, Wrapper.data(), Wrapper.size());
    std::vector<char> buffer(MiB);
    for (uint64_t at = 0; at < payloadSize; at += buffer.size()) {
        const size_t n = size_t(std::min<uint64_t>(buffer.size(), payloadSize - at));
        payloadBytes(at, buffer.data(), n);
        writeAll(toGzip, buffer.data(), n);
    }
    const std::string end = std::string(jor::TrailerMarker) + Tail;
    writeAll(toGzip, end.data(), end.size());
    ::close(toGzip);
    if (!reapedOk(gzip)) fail("gzip -1 failed");
    std::printf("large: packed to %.1f MB in %.1f s\n", double(fs::file_size(src + "/STUDY001.Z")) / 1e6,
                since(packStart));

    settle();
    awaitQuiet(o.quietWait, "before the large object");
    const bool peakReset = resetPeak();
    const long rssBefore = statusKiB("VmRSS"), maxrssBefore = maxrssKiB();
    const EngineRun r = runEngine(o.window, src, dest, temp, "Arzt und Praxis", program);
    const long hwmAfter = statusKiB("VmHWM"), maxrssAfter = maxrssKiB();
    std::printf("large: engine %.1f s (own CPU %.1f s; the decompression runs in gunzip.exe)\n", r.wall, r.cpu);
    checkReport(checks, r, 1);
    checkErrorLog(checks, program);

    // Byte for byte, as a stream against the generator.
    const auto names = filesIn(dest);
    checks.expect(names.size() == 1,
                  "large: " + std::to_string(names.size()) + " files in the destination, 1 expected");
    bool identical = false;
    uint64_t hash = 0xcbf29ce484222325ull, compared = 0;
    if (names.size() == 1) {
        const std::string output = dest + "/" + names[0];
        const int fd = ::open(output.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) fail("cannot open " + output);
        std::vector<char> expected(MiB);
        identical = fs::file_size(output) == payloadSize;
        while (identical) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            payloadBytes(compared, expected.data(), size_t(n));
            identical = std::memcmp(buffer.data(), expected.data(), size_t(n)) == 0;
            for (ssize_t k = 0; k < n; ++k) hash = (hash ^ uint8_t(buffer[size_t(k)])) * 0x100000001b3ull;
            compared += uint64_t(n);
        }
        ::close(fd);
        identical = identical && compared == payloadSize;
    }
    checks.expect(identical, "large: the output is not the payload byte for byte");
    std::printf("large: output %s (%llu bytes compared, FNV-1a %016llx)\n",
                identical ? "byte-identical to the payload" : "DIFFERS", (unsigned long long)compared,
                (unsigned long long)hash);

    const double byMaxrss = double(maxrssAfter - maxrssBefore) / 1024;
    std::printf("large: ru_maxrss %.1f MB before, %.1f MB after: growth %.1f MB (target \u2264 %.0f MB)\n",
                double(maxrssBefore) / 1024, double(maxrssAfter) / 1024, byMaxrss, TargetMB);
    double growth = byMaxrss;
    if (peakReset && rssBefore > 0 && hwmAfter > 0) {
        growth = double(hwmAfter - rssBefore) / 1024;
        std::printf("large: VmRSS %.1f MB before, peak (VmHWM, reset before the run) %.1f MB: growth %.1f MB\n",
                    double(rssBefore) / 1024, double(hwmAfter) / 1024, growth);
    }
    fs::remove_all(src);
    fs::remove_all(dest);
    const double worst = std::max(growth, byMaxrss);
    if (worst > TargetMB) {
        std::printf("TARGET MISSED: large object, peak memory growth %.1f MB > %.0f MB\n", worst, TargetMB);
        return 1;
    }
    return 0;
}

}  // namespace bench
