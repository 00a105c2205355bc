// What the parts of bench_windows share: its options and the helpers of its runs and its breakdown.
#pragma once

// First: it takes back the A/W macros that would rename FileSystem's functions.
#include "platform/win32/windows_api.h"

#include <chrono>
#include <filesystem>
#include <string>

namespace jor::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    int objects = 200;
    int starts = 200;  // of the floor, per round
    int rounds = 5;
    fs::path programFolder = JOR_BENCH_PROGRAM_DIR;
    fs::path dir = fs::temp_directory_path();
    double quietWait = 20;
    bool breakdown = false;
    bool realWindow = true, fakeWindow = true;
};

[[noreturn]] void fail(const std::string& what);
double since(Clock::time_point start);
std::string utf8(const fs::path& p);
// The read-only bit of a disc's files would keep them from being removed.
void removeAll(const fs::path& folder);
// Waits up to `patience` seconds for the other processes to leave the processors alone.
void awaitQuiet(double patience);
// One start and wait of `program` with `arguments`, hidden, as bare as it
// gets: no handles passed on, none kept.
void startAndWait(const fs::path& program, const std::wstring& arguments, DWORD flags);
// The time of one such start, over `starts` of them.
double perStart(const fs::path& gunzip, const fs::path& file, int starts, DWORD flags);

// Where an object's time goes: the platform calls the conversion makes, in
// its order, each timed on its own. Keep in step with MigrationEngine's
// handleFile and ConvertCompressedObject.
void breakdown(const Options& o, const fs::path& program, const fs::path& source, const fs::path& scratch,
               const fs::path& small);

}  // namespace jor::bench
