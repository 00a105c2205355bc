// Runs without root's rights: what the user may not read or write, before and during the run.
#include "migration/linux/fault_fixture.h"

#include <sys/stat.h>

namespace jor::test {
namespace {

TEST_F(FaultDestination, TurnsReadOnlyMidRun) {
    for (int i = 0; i < 6; ++i) medium("IM" + std::to_string(i), image("IM" + std::to_string(i)));
    const auto run = runAsNobody([this](RecordingWindow& w, MigrationEngine&) {
        w.onYield = [&w, this] {
            // As the third file starts, before anything of it is written.
            if (w.eventsStartingWith("value ").size() == 3) ::chmod(dst.c_str(), 0555);
        };
    });
    SKIP_UNLESS_RAN(run);
    ::chmod(dst.c_str(), 0755);
    const auto lines = errorLines();
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("70 - Permission denied - ScanFolder - IM")) << l;
    const auto tally = expectEveryFileAccountedFor(run.window, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 2);
    EXPECT_EQ(tally.logged, 4);
    EXPECT_EQ(lines.size(), 4u);
}

TEST_F(FaultDestination, TurnsReadOnlyMidRunWhileConverting) {
    useRealDecompressor();
    for (int i = 0; i < 4; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    unselected("INDEX.TXT", "not an object");
    w.pacs = "Arzt und Praxis";
    const auto run = runAsNobody([this](RecordingWindow& w, MigrationEngine&) {
        w.onYield = [&w, this] {
            if (w.eventsStartingWith("value ").size() == 4) ::chmod(dst.c_str(), 0555);
        };
    });
    SKIP_UNLESS_RAN(run);
    ::chmod(dst.c_str(), 0755);
    const auto tally = expectEveryFileAccountedFor(run.window, RunEnd::Reported);
    EXPECT_LT(tally.migrated, 4) << "nothing can be written from the fourth file on";
    const auto lines = errorLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](auto& l) { return l.starts_with("70 - "); }));
    for (const auto& l : lines)
        EXPECT_TRUE(l.starts_with("70 - Permission denied - ScanFolder - ") || l.starts_with("-1 - File BAD0000") ||
                    l.starts_with("53 - File not found - ScanFolder - BAD0000"))
            << l;
}

TEST_F(FaultDestination, QuarantineFolderNotWritable) {
    useRealDecompressor();
    medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    makeFolders(dst + "/BadObjects");
    w.pacs = "Arzt und Praxis";
    ::chmod((dst + "/BadObjects").c_str(), 0555);
    const auto run = runAsNobody();
    ::chmod((dst + "/BadObjects").c_str(), 0755);
    SKIP_UNLESS_RAN(run);
    const auto lines = errorLines();
    for (const std::string name : {"BAD00001.Z", "BAD00002.Z"})
        EXPECT_NE(std::find(lines.begin(), lines.end(), "70 - Permission denied - ScanFolder - " + name), lines.end())
            << name;
    const auto tally = expectEveryFileAccountedFor(run.window, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 1);
    EXPECT_EQ(tally.logged, 2);
}

TEST_F(FaultSource, UnreadableFilesAreLoggedByName) {
    medium("IM1", image("IM1"));
    medium("LOCKED1", image("LOCKED1"), {}, 0000);
    medium("IM2", image("IM2"));
    medium("SUB/LOCKED2", image("LOCKED2"), {}, 0000);
    medium("SUB/IM3", image("IM3"));
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    auto lines = errorLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"70 - Permission denied - ScanFolder - LOCKED1",
                                               "70 - Permission denied - ScanFolder - LOCKED2"}));
    const auto tally = expectEveryFileAccountedFor(run.window, RunEnd::Reported);
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.logged, 2);
}

TEST_F(FaultSource, UnreadableSubfolderIsLoggedAndTheWalkGoesOn) {
    medium("IM1", image("IM1"));
    medium("A/IM2", image("IM2"));
    medium("LOCKED/IM3", image("IM3"));
    medium("LOCKED/DEEPER/IM4", image("IM4"));
    medium("Z/IM5", image("IM5"));
    ::chmod((src + "/LOCKED").c_str(), 0000);
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"70 - Permission denied - ScanFolder - " + src + "/LOCKED"});
    const auto tally = expectEveryFileAccountedFor(run.window, RunEnd::Reported, {"LOCKED/IM3", "LOCKED/DEEPER/IM4"});
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.unreached, 2);
}

TEST_F(FaultSource, UnreadableMediumStillEndsWithAReport) {
    medium("IM1", image("IM1"));
    ::chmod(src.c_str(), 0000);
    const auto run = runAsNobody();
    SKIP_UNLESS_RAN(run);
    EXPECT_EQ(errorLines(), std::vector<std::string>{"70 - Permission denied - ScanFolder - " + src});
    expectEveryFileAccountedFor(run.window, RunEnd::Reported, {"IM1"});
}

class FaultLogs : public FaultFixture {};

// However the logs fail, the run ends normally with its report.
TEST_F(FaultLogs, UnwritableLogsNeverStopTheRun) {
    const struct {
        const char* name;
        bool asNobody;
        std::function<void(const std::string& prog)> spoil;  // as root, before the tree is handed over
        std::string readOnly;                                // then made read-only, below the program folder
    } cases[] = {
        {"Logs is a file", false, [](const std::string& p) { writeFile(p + "/Logs", "not a folder"); }, ""},
        {"Logs is a read-only folder", true, [](const std::string& p) { makeFolders(p + "/Logs"); }, "/Logs"},
        {"the log files are read-only", true,
         [](const std::string& p) {
             writeFile(p + "/Logs/Error.txt", "", 0444);
             writeFile(p + "/Logs/DebugOrvek.log", "", 0444);
         },
         ""},
        {"program folder is read-only", true, [](const std::string&) {}, "/"},
    };
    w.pacs = "Arzt und Praxis";
    w.debug = 1;  // the debug log is written to as well
    useRealDecompressor();
    medium("GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    medium("SUB/GOOD0002.Z", packed("gzip", archived(payloadOf("G2"))), payloadOf("G2"));
    medium("BAD00001.Z", packed("gzip", "no layout"));
    unselected("INDEX.TXT", "index");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::chmod(prog.c_str(), 0755);
        for (const auto& f : {dst, prog + "/Logs"}) {
            ::chmod(f.c_str(), 0755);
            std::filesystem::remove_all(f);
        }
        makeFolders(dst);
        c.spoil(prog);
        RecordingWindow shown;
        if (c.asNobody) {
            if (!c.readOnly.empty()) ::chmod((prog + c.readOnly).c_str(), 0555);
            const auto run = runAsNobody();
            ::chmod(prog.c_str(), 0755);
            SKIP_UNLESS_RAN(run);
            shown = run.window;
        } else {
            w.events.clear();
            run();
            shown = w;
        }
        EXPECT_TRUE(errorLines().empty());
        EXPECT_TRUE(debugLines().empty());
        const auto boxes = shown.boxes();
        const std::string told = "box stop|Jor-Orvek|Protokolldatei konnte nicht geschrieben werden.";
        EXPECT_EQ(std::count(boxes.begin(), boxes.end(), told), 1) << "told once per run";
        const auto tally = expectEveryFileAccountedFor(shown, RunEnd::Reported);
        EXPECT_EQ(tally.migrated, 2);
        EXPECT_EQ(tally.setAside, 1);
    }
}

}  // namespace
}  // namespace jor::test
