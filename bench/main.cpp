// bench_migration's entry: its options and which benchmarks run.
//
// bench_migration: the migration engine against the shell tools doing the
// same file work, and the bounds it keeps (memory, flushing, waiting). See
// README.md for how to run it.
#include "support.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

using namespace bench;

// The offscreen platform says on every window that it cannot pass size hints on.
QtMessageHandler standardHandler = nullptr;
void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.contains("propagateSizeHints")) return;
    if (standardHandler)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

void usage() {
    std::printf(
        "usage: bench_migration [--dir D] [--program-folder P] [--window qt|fake] [--only LIST]\n"
        "                       [--files N] [--objects N] [--rounds N] [--large-gib G] [--flush-files N]\n"
        "                       [--foreign-seconds S] [--earlier-runs N] [--earlier-images N] [--disc-files N]\n"
        "                       [--breakdown] [--quiet-wait S] [--settle S]\n"
        "  --dir              parent of the scratch folder (default /tmp; /dev/shm is tmpfs)\n"
        "  --program-folder   folder holding gunzip.exe (default %s)\n"
        "  --window           qt: the real window (default; offscreen without a display),\n"
        "                     fake: a window that only stores the values\n"
        "  --only LIST        some of plain,archive,large,earlier,storage,wait (comma-separated)\n"
        "  --large-gib G      size of the decompressed large object (default 2)\n"
        "  --flush-files N    files per flush measurement (default 300)\n"
        "  --foreign-seconds  how long the foreign gunzip.exe holds the wait (default 3)\n"
        "  --earlier-runs N   earlier runs into the destination, each with its protocol (default 500)\n"
        "  --earlier-images N images in each earlier run's protocol (default 400)\n"
        "  --disc-files N     DICOM files of the small disc migrated after them (default 20)\n"
        "  --breakdown        after the archive run, time each per-object step on its own\n"
        "  --quiet-wait S     before each timed run, wait up to S seconds (default 120) for\n"
        "                     other processes to leave the CPUs idle\n"
        "  --settle S         after each cleanup, pause S seconds before the next timed run\n"
        "                     (35 lets ext4 without a journal forget the deletions)\n",
        JOR_BENCH_PROGRAM_DIR);
}

std::optional<Options> parse(int argc, char** argv) {
    Options o;
    o.programFolder = JOR_BENCH_PROGRAM_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::runtime_error(a + " needs a value");
            return argv[++i];
        };
        if (a == "--dir")
            o.dir = value();
        else if (a == "--program-folder")
            o.programFolder = value();
        else if (a == "--files")
            o.files = std::stoi(value());
        else if (a == "--objects")
            o.objects = std::stoi(value());
        else if (a == "--rounds")
            o.rounds = std::stoi(value());
        else if (a == "--large-gib")
            o.largeGiB = std::stod(value());
        else if (a == "--flush-files")
            o.flushFiles = std::stoi(value());
        else if (a == "--foreign-seconds")
            o.foreignSeconds = std::stod(value());
        else if (a == "--earlier-runs")
            o.earlierRuns = std::stoi(value());
        else if (a == "--earlier-images")
            o.earlierImages = std::stoi(value());
        else if (a == "--disc-files")
            o.discFiles = std::stoi(value());
        else if (a == "--breakdown")
            o.breakdown = true;
        else if (a == "--quiet-wait")
            o.quietWait = std::stod(value());
        else if (a == "--settle")
            o.settle = std::stod(value());
        else if (a == "--window") {
            const std::string v = value();
            if (v != "qt" && v != "fake") return std::nullopt;
            o.window = v == "qt" ? WindowKind::Qt : WindowKind::Fake;
        } else if (a == "--only") {
            o.plain = o.archive = o.large = o.earlier = o.storage = o.wait = false;
            std::istringstream list(value());
            for (std::string part; std::getline(list, part, ',');) {
                if (part == "plain")
                    o.plain = true;
                else if (part == "archive")
                    o.archive = true;
                else if (part == "large")
                    o.large = true;
                else if (part == "earlier")
                    o.earlier = true;
                else if (part == "storage")
                    o.storage = true;
                else if (part == "wait")
                    o.wait = true;
                else
                    return std::nullopt;
            }
        } else
            return std::nullopt;
    }
    if (o.files < 1 || o.objects < 1 || o.rounds < 1 || o.largeGiB <= 0 || o.flushFiles < 1 || o.earlierRuns < 1 ||
        o.earlierImages < 1 || o.discFiles < 1)
        return std::nullopt;
    return o;
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
    // The real window needs a display; without one it paints off screen.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The engine's yield pumps this application's events, as the window's would.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    standardHandler = qInstallMessageHandler(quietQt);
    QApplication app(qtArgc, qtArgv);
    settleSeconds = options->settle;

    Checks checks;
    int missed = 0;
    try {
        const Scratch scratch(options->dir);
        std::printf("scratch folder %s, %d rounds, %ld cores, %s (%s), settle %.0f s\n", scratch.path().c_str(),
                    options->rounds, ::sysconf(_SC_NPROCESSORS_ONLN), windowName(options->window),
                    QGuiApplication::platformName().toStdString().c_str(), options->settle);
        std::fflush(stdout);
        // First, while the process's peak memory is still that of its start.
        if (options->large) missed += benchLargeObject(*options, scratch, checks);
        if (options->plain) missed += benchPlain(*options, scratch, checks);
        if (options->archive) missed += benchArchive(*options, scratch, checks);
        if (options->earlier) missed += benchEarlier(*options, scratch, checks);
        if (options->storage) missed += benchStableStorage(*options, checks);
        if (options->wait) missed += benchDecompressorWait(*options, scratch, checks);
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
