// bench_windows: one "Arzt und Praxis" object on Windows, in the engine and bare.
//
// The cost of one "Arzt und Praxis" object on Windows (here
// under Wine) in a run of the engine, through the real window or a stand-in,
// against the floor no conversion can undercut: a bare start and wait of
// gunzip.exe with no console. See README.md for how to run it.

// First: it takes back the A/W macros that would rename FileSystem's functions.
#include "platform/win32/windows_api.h"

#include "bench_windows.h"

#include "app/win32/frm_main.h"
#include "migration/migration_engine.h"
#include "migration/payload.h"
#include "migration/unique_name_source.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/task_modul.h"
#include "platform/win32/wide_text.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace jor::bench {

using jor::app::ControlId;

constexpr double Target = 1.2;


struct Summary {
    double best, median;
};
Summary summarize(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", 1e3 * seconds);
    return text;
}

void writeFile(const fs::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary);
    out << data;
    if (!out) fail("cannot write " + utf8(path));
}

std::string readFile(const fs::path& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::string gzip(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) fail("deflateInit2");
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END) fail("deflate");
    return out;
}

// Object i: a wrapper, the payload from its first 0x00 byte (of a size of
// its own, so that an output tells which object it came from), the marker.
std::string payloadOf(int i) {
    std::string p(128, '\0');
    p += "DICM";
    uint32_t x = 2654435761u * static_cast<uint32_t>(i + 1);
    while (p.size() < 2000 + 13 * static_cast<size_t>(i)) {
        x = x * 1103515245u + 12345u;
        p.push_back(static_cast<char>(p.size() % 512 < 256 ? (x >> 16) % 16 : 'A' + (x >> 16) % 26));
    }
    return p;
}

std::string objectOf(int i) {
    return "ARCHIVE OBJECT " + std::to_string(i) + std::string(180, 'w') + payloadOf(i) + "#*lastfile*#\r\ntail";
}

// Message boxes of this thread, closed as they come up; "title|text" of each.
std::vector<std::string> boxes;
std::set<HWND> closedBoxes;

BOOL CALLBACK readStatic(HWND child, LPARAM text) {
    wchar_t cls[32] = {}, buffer[1024] = {};
    ::GetClassNameW(child, cls, 32);
    if (::lstrcmpiW(cls, L"Static") == 0 && ::GetWindowTextW(child, buffer, 1024))
        *reinterpret_cast<std::wstring*>(text) += buffer;
    return TRUE;
}

BOOL CALLBACK closeBox(HWND box, LPARAM) {
    wchar_t cls[32] = {}, title[256] = {};
    ::GetClassNameW(box, cls, 32);
    if (::lstrcmpW(cls, L"#32770") != 0 || !::IsWindowVisible(box) || !closedBoxes.insert(box).second) return TRUE;
    ::GetWindowTextW(box, title, 256);
    std::wstring text;
    ::EnumChildWindows(box, readStatic, reinterpret_cast<LPARAM>(&text));
    boxes.push_back(jor::utf8FromWide(title) + "|" + jor::utf8FromWide(text));
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return TRUE;
}

void CALLBACK watchBoxes(HWND, UINT, UINT_PTR, DWORD) { ::EnumThreadWindows(::GetCurrentThreadId(), closeBox, 0); }

// One click on "Migrieren" up to the end of the run, in the real window.
double runWindow(const fs::path& program, const fs::path& source, const fs::path& dest, const fs::path& temp) {
    jor::app::frmMain window(utf8(program));
    window.InitMainWindow();
    window.show();
    const auto set = [&](ControlId id, const std::string& text) {
        ::SetWindowTextW(window.control(id), jor::wideText(text).c_str());
    };
    set(ControlId::txtSource, utf8(source));
    set(ControlId::txtDest, utf8(dest));
    set(ControlId::txtTemp, utf8(temp));
    set(ControlId::cboPACS, "Arzt und Praxis");
    MSG msg;
    // Shown and painted before the click, as a user would see it.
    for (const auto shown = Clock::now(); since(shown) < 0.3; ::Sleep(5))
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);

    boxes.clear();
    closedBoxes.clear();
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 20, watchBoxes);
    const auto start = Clock::now();
    window.form().DispatchToolbarButton(1);
    while (window.engine().running() && ::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.preTranslate(msg)) continue;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    const double seconds = since(start);
    ::KillTimer(nullptr, timer);
    window.close();
    return seconds;
}

// A window that only keeps the values: the engine alone, without painting.
class FakeWindow : public jor::WindowPort {
public:
    std::string source, dest, temp;
    bool armed = false;
    std::string sourceText() const override { return source; }
    std::string destText() const override { return dest; }
    std::string tempText() const override { return temp; }
    std::string pacsText() const override { return "Arzt und Praxis"; }
    int32_t debugValue() const override { return 0; }
    void setProgressMax(int32_t) override {}
    void setProgressValue(int32_t) override {}
    void setProgressText(const std::string&) override {}
    void setStatusText(const std::string&) override {}
    void setMigrierenEnabled(bool) override {}
    void setBeendenEnabled(bool) override {}
    void armTimer() override { armed = true; }
    void disarmTimer() override { armed = false; }
    void showMessage(jor::MessageIcon, const std::string& title, const std::string& text) override {
        boxes.push_back(title + "|" + text);
    }
    bool askQuestion(const std::string&, const std::string&) override { return true; }
    size_t askChoice(const std::string&, const std::string&, const std::vector<std::string>&) override { return 0; }
    jor::RunRequest yield() override {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        return jor::RunRequest::GoOn;
    }
};

double runFake(const fs::path& program, const fs::path& source, const fs::path& dest, const fs::path& temp) {
    FakeWindow window;
    window.source = utf8(source);
    window.dest = utf8(dest);
    window.temp = utf8(temp);
    const jor::Logs logs(utf8(program), [] { return 0; });
    jor::MigrationEngine engine(window, logs, utf8(program));
    boxes.clear();
    const auto start = Clock::now();
    engine.StartRun();
    if (window.armed) engine.tmrMig_Timer();
    return since(start);
}

int checkRun(const Options& o, const fs::path& program, const fs::path& dest) {
    int failures = 0;
    const auto expect = [&](bool ok, const std::string& what) {
        if (ok) return;
        ++failures;
        std::printf("  CHECK FAILED: %s\n", what.c_str());
    };
    const std::string n = std::to_string(o.objects);
    const std::string report = "Migration abgeschlossen|" + n + " von " + n + " Dateien konnten erfolgreich migriert werden.";
    expect(boxes.size() == 1 && boxes[0].starts_with(report),
           "the report \"" + report + "\", seen: " + (boxes.empty() ? "none" : boxes[0]));
    std::vector<fs::path> outputs;
    for (const auto& e : fs::directory_iterator(dest))
        if (e.is_regular_file()) outputs.push_back(e.path());
    expect(outputs.size() == static_cast<size_t>(o.objects),
           std::to_string(outputs.size()) + " files in the destination, " + n + " expected");
    if (!outputs.empty()) {
        const std::string sample = readFile(outputs[outputs.size() / 2]);
        const int i = (static_cast<int>(sample.size()) - 2000) / 13;
        expect(i >= 0 && i < o.objects && sample == payloadOf(i), "an output that is no object's payload");
    }
    const fs::path errors = program / "Logs" / "Error.txt";
    expect(!fs::exists(errors), "the error log: " + readFile(errors).substr(0, 2000));
    return failures;
}

std::optional<Options> parse(int argc, wchar_t** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--breakdown") {
            o.breakdown = true;
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const std::wstring v = argv[++i];
        if (a == L"--objects")
            o.objects = std::stoi(v);
        else if (a == L"--starts")
            o.starts = std::stoi(v);
        else if (a == L"--rounds")
            o.rounds = std::stoi(v);
        else if (a == L"--program-folder")
            o.programFolder = v;
        else if (a == L"--dir")
            o.dir = v;
        else if (a == L"--quiet-wait")
            o.quietWait = std::stod(v);
        else if (a == L"--window" && (v == L"real" || v == L"fake" || v == L"both")) {
            o.realWindow = v != L"fake";
            o.fakeWindow = v != L"real";
        }
        else
            return std::nullopt;
    }
    if (o.objects < 1 || o.objects > 30000 || o.starts < 1 || o.rounds < (o.breakdown ? 0 : 1)) return std::nullopt;
    return o;
}

const char* architecture() {
#ifdef _WIN64
    return "x86_64";
#else
    return "x86";
#endif
}

const char* wineVersion() {
    using Get = const char*(__cdecl*)();
    const auto get = reinterpret_cast<Get>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return get ? get() : nullptr;
}

}  // namespace jor::bench

using namespace jor::bench;

int wmain(int argc, wchar_t** argv) {
    std::optional<Options> options;
    try {
        options = parse(argc, argv);
    } catch (const std::exception&) {
    }
    if (!options) {
        std::printf(
            "usage: bench_windows [--objects N] [--starts N] [--rounds N] [--program-folder P] [--dir D]\n"
            "                     [--quiet-wait S] [--window real|fake|both] [--breakdown]\n"
            "  --objects N         archive objects of the run (default 200)\n"
            "  --starts N          bare starts of gunzip.exe per round of the floor (default 200)\n"
            "  --rounds N          rounds of each (default 5; 0 with --breakdown: only that)\n"
            "  --program-folder P  the folder gunzip.exe is taken from (default %s)\n"
            "  --dir D             parent of the scratch folder (default the temporary folder)\n"
            "  --quiet-wait S      before each timed round, wait up to S seconds (default 20) for\n"
            "                      other processes to leave the processors idle\n"
            "  --window W          real: the Win32 window, fake: one that only keeps the values,\n"
            "                      both (default): one run of each a round\n"
            "  --breakdown         after the rounds, time each step of an object on its own\n",
            JOR_BENCH_PROGRAM_DIR);
        return 2;
    }
    const Options& o = *options;
    const fs::path scratch = o.dir / (L"jor-bench-" + std::to_wstring(::GetCurrentProcessId()));
    const fs::path program = scratch / "prog", source = scratch / "disc", dest = scratch / "dest",
                   temp = scratch / "temp", gunzip = program / "gunzip.exe", small = scratch / "five.z";
    removeAll(scratch);  // one a crashed run left under the same process id
    for (const auto& f : {program, source, dest, temp}) fs::create_directories(f);
    std::error_code ec;
    fs::copy_file(o.programFolder / "gunzip.exe", gunzip, ec);
    if (ec) fail("no gunzip.exe in " + utf8(o.programFolder) + ": " + ec.message());
    size_t compressed = 0;
    for (int i = 0; i < o.objects; ++i) {
        wchar_t name[32];
        std::swprintf(name, 32, L"IMG%05d.Z", i + 1);
        const std::string z = gzip(objectOf(i));
        compressed += z.size();
        writeFile(source / name, z);
        // Read-only, as on a disc.
        ::SetFileAttributesW((source / name).c_str(), FILE_ATTRIBUTE_READONLY);
    }
    writeFile(small, "hello");
    const char* wine = wineVersion();
    std::printf("%s build%s%s, %d objects of %.1f kB (compressed), %d bare starts a round, %d rounds\n",
                architecture(), wine ? " under Wine " : " on Windows", wine ? wine : "", o.objects,
                double(compressed) / o.objects / 1024, o.starts, o.rounds);
    std::fflush(stdout);

    // A start with a console host as well, for reference: as the conversion started it before.
    awaitQuiet(o.quietWait);
    const double withConsole = perStart(gunzip, small, std::min(o.starts, 30), CREATE_NO_WINDOW);
    std::vector<double> floor;
    struct Window {
        const char* name;
        bool wanted;
        double (*run)(const fs::path&, const fs::path&, const fs::path&, const fs::path&);
        std::vector<double> perObject;
    };
    Window windows[] = {{"the real window", o.realWindow, runWindow, {}}, {"a fake window", o.fakeWindow, runFake, {}}};
    int failures = 0;
    for (int round = 0; round < o.rounds; ++round) {
        awaitQuiet(o.quietWait);
        floor.push_back(perStart(gunzip, small, o.starts, DETACHED_PROCESS));
        std::string line = "  round " + std::to_string(round + 1) + ": floor " + milliseconds(floor.back()) + " a start";
        for (Window& w : windows) {
            if (!w.wanted) continue;
            awaitQuiet(o.quietWait);
            w.perObject.push_back(w.run(program, source, dest, temp) / o.objects);
            failures += checkRun(o, program, dest);
            line += std::string(", ") + w.name + " " + milliseconds(w.perObject.back()) + " an object";
            for (const auto& e : fs::directory_iterator(dest)) fs::remove(e.path(), ec);
        }
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    if (o.breakdown) breakdown(o, program, source, scratch, small);
    removeAll(scratch);

    if (floor.empty()) return failures ? 1 : 0;
    const Summary f = summarize(floor);
    std::printf("floor: start and wait of gunzip.exe -t, no console: %.1f ms (median %.1f ms)\n", 1e3 * f.best,
                1e3 * f.median);
    std::printf("  with a console host (CREATE_NO_WINDOW), for reference: %.1f ms\n", 1e3 * withConsole);
    for (const Window& w : windows) {
        if (!w.wanted) continue;
        const Summary e = summarize(w.perObject);
        const double ratio = e.best / f.best;
        std::printf("engine, \"Arzt und Praxis\" run of %d objects in %s: %.1f ms an object (median %.1f ms), "
                    "its own cost %.1f ms\n",
                    o.objects, w.name, 1e3 * e.best, 1e3 * e.median, 1e3 * (e.best - f.best));
        std::printf("  ratio to the floor: %.2f (medians %.2f), target <= %.1f: %s\n", ratio, e.median / f.median,
                    Target, ratio <= Target ? "met" : "TARGET MISSED");
    }
    if (failures) {
        std::printf("%d check(s) FAILED\n", failures);
        return 1;
    }
    return 0;
}
