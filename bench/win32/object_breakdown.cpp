// bench_windows --breakdown: each platform call of an "Arzt und Praxis" object, timed on its own.
#include "bench_windows.h"

#include "migration/payload.h"
#include "migration/unique_name_source.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/task_modul.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace jor::bench {

void breakdown(const Options& o, const fs::path& program, const fs::path& source, const fs::path& scratch,
               const fs::path& small) {
    struct Step {
        const char* name;
        double seconds = 0;
    };
    std::vector<Step> steps;
    const auto step = [&](const char* name, const auto& body) {
        auto it = std::find_if(steps.begin(), steps.end(), [&](const Step& s) { return s.name == name; });
        if (it == steps.end()) it = steps.insert(steps.end(), Step{name});
        const auto start = Clock::now();
        body();
        it->seconds += since(start);
    };
    const fs::path work = scratch / "breakdown" / "TempOrvek", dest = scratch / "breakdown" / "dest";
    fs::create_directories(work);
    fs::create_directories(dest);
    const jor::FileSystem files;
    jor::UniqueNameSource names;
    const auto yield = [] {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    };
    const std::string decompressor = utf8(program / "gunzip.exe");
    std::vector<std::string> outputs;
    int seenAfterEnd = 0;
    awaitQuiet(o.quietWait);
    const auto start = Clock::now();
    for (int i = 0; i < o.objects; ++i) {
        wchar_t base[32];
        std::swprintf(base, 32, L"IMG%05d", i + 1);
        const std::string object = utf8(source / (std::wstring(base) + L".Z"));
        const std::string working = utf8(work / (std::wstring(base) + L".dcm.z"));
        const std::string decompressed = working.substr(0, working.size() - 2);
        step("working folder still private", [&] { files.CheckPrivateFolder(utf8(work)); });
        step("copy into the working folder", [&] { files.CopyFile(object, working, true, false); });
        step("gunzip.exe there, no leftover", [&] {
            (void)files.FileExists(decompressor);
            if (files.FileExists(decompressed)) files.DeleteFile(decompressed, true);
        });
        step("gunzip.exe: start and wait", [&] {
            jor::ChildProcess child = jor::ChildProcess::start(decompressor, {"-d", "-f", jor::fileArgument(working)});
            child.waitUntilEnded(yield, [] { return false; });
        });
        // Not an engine step: the floor, beside it.
        step("(a bare start and wait, -t)",
             [&] { startAndWait(program / "gunzip.exe", L"-t \"" + small.wstring() + L"\"", DETACHED_PROCESS); });
        step("FindProcess(\"gunzip.exe\") until 0", [&] {
            for (bool first = true; jor::FindProcess("gunzip.exe", 1, yield) != 0; first = false) {
                seenAfterEnd += first;
                ::Sleep(1);
            }
        });
        jor::PayloadScanner scanner;
        step("read and scan for the payload", [&] {
            files.ReadFileInChunks(decompressed, 1 << 16, [&](std::string_view chunk) {
                scanner.feed(chunk);
                return !scanner.done();
            });
        });
        const auto slice = scanner.payload();
        if (!slice) fail("no payload in " + decompressed);
        step("payload written by offset", [&] {
            outputs.push_back(utf8(dest / (names.nextName() + ".dcm")));
            files.WriteFileRange(decompressed, slice->offset, slice->length, outputs.back());
        });
        step("delete the decompressed file", [&] { files.DeleteFile(decompressed, false); });
    }
    step("flush the outputs (once a run)", [&] { (void)files.FlushToStableStorage(outputs); });
    const double total = since(start);
    std::printf("breakdown over %d objects: %.1f ms an object, the bare starts included\n", o.objects,
                1e3 * total / o.objects);
    for (const Step& s : steps) std::printf("  %-36s %9.0f us\n", s.name, 1e6 * s.seconds / o.objects);
    std::printf("  own gunzip.exe still listed after its end: %d of %d objects\n", seenAfterEnd, o.objects);
    removeAll(scratch / "breakdown");
}

}  // namespace jor::bench
