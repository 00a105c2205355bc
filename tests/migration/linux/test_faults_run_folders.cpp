// The run's own folders: a destination that vanishes or lies in the medium, bad settings, a shared temporary folder.
#include "migration/linux/fault_fixture.h"
#include "settings/settings.h"

#include <sys/stat.h>
#include <unistd.h>

namespace jor::test {
namespace {

using namespace std::string_literals;

TEST_F(FaultDestination, VanishesMidRun) {
    for (int i = 0; i < 5; ++i) medium("IM" + std::to_string(i), image("IM" + std::to_string(i)));
    const std::string movedAway = root / "dst.gone";
    w.onYield = [&] {
        // Moved rather than deleted: what was written before stays countable.
        if (w.eventsStartingWith("value ").size() == 3 && exists(dst)) std::filesystem::rename(dst, movedAway);
    };
    run();
    const auto lines = errorLines();
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("76 - Path not found - ScanFolder - IM")) << l;
    const auto tally = expectEveryFileAccountedFor(w, RunEnd::Reported, {}, {dst, movedAway});
    EXPECT_EQ(tally.migrated, 2);
    EXPECT_EQ(tally.logged, 3);
    EXPECT_FALSE(exists(dst)) << "the run must not create the destination again";
}

TEST_F(FaultDestination, VanishesMidRunWhileConverting) {
    useRealDecompressor();
    for (int i = 0; i < 3; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("BAD00001.Z", packed("gzip", "no layout at all"));
    medium("BAD00002.Z", packed("gzip", "no layout either"));
    const std::string movedAway = root / "dst.gone";
    w.pacs = "Arzt und Praxis";
    w.onYield = [&] {
        if (w.eventsStartingWith("value ").size() == 3 && exists(dst)) std::filesystem::rename(dst, movedAway);
    };
    run();
    const auto tally = expectEveryFileAccountedFor(w, RunEnd::Reported, {}, {dst, movedAway});
    EXPECT_EQ(tally.logged, 3) << "from the third file on nothing can be written";
    EXPECT_FALSE(exists(dst));
}

// The run's own folders inside the medium's tree are never walked: their
// outputs and set-aside copies would be migrated again.
TEST_F(FaultDestination, InsideTheSourceIsNeverWalked) {
    for (int i = 0; i < 11; ++i)
        medium((i % 3 == 0 ? "" : "SERIE" + std::to_string(i % 3) + "/") + "IM" + std::to_string(i),
               image("IM" + std::to_string(i)));
    const std::string inside = src + "/MIGRIERT";
    makeFolders(inside);
    w.dest = inside;
    run();
    const auto tally = expectEveryFileAccountedFor(w, RunEnd::Reported, {}, {inside});
    EXPECT_EQ(tally.migrated, 11);
    EXPECT_TRUE(errorLines().empty());
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(11, 11)});
}

TEST_F(FaultDestination, InsideTheSourceWithTheWorkingFolderWhileConverting) {
    useRealDecompressor();
    w.pacs = "Arzt und Praxis";
    for (int i = 0; i < 3; ++i) {
        const std::string tag = "OBJ" + std::to_string(i);
        medium("OBJ0000" + std::to_string(i) + ".Z", packed("gzip", archived(payloadOf(tag))), payloadOf(tag));
    }
    medium("SUB/BAD00001.Z", packed("gzip", "no layout"));
    const std::string inside = src + "/MIGRIERT";
    makeFolders(inside);
    makeFolders(src + "/TEMP");
    w.dest = inside;
    w.temp = src + "/TEMP";
    run();
    const auto tally = expectEveryFileAccountedFor(w, RunEnd::Reported, {}, {inside});
    EXPECT_EQ(tally.migrated, 3);
    EXPECT_EQ(tally.setAside, 1);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(3, 4)});
    EXPECT_EQ(filesIn(inside + "/BadObjects"), std::vector<std::string>{"BAD000.err"}) << "set aside once";
}

class FaultSettings : public FaultFixture {};

// A folder setting cut at a NUL byte would name another folder: one that the
// run deletes at its end (TempPath) or walks without end (SourcePath).
TEST_F(FaultSettings, NulByteInAFolderSettingNamesNoFolder) {
    const std::string victim = root / "victim";
    makeTree(victim, {"keep1.dcm=k1", "SUB/keep2.dcm=k2"});
    medium("IM1", image("IM1"));
    const std::string cut = victim + "\0/junk"s;
    const struct {
        const char* key;
        const char* box;
    } cases[] = {
        {"TempPath", "Tempverzeichnis exestiert nicht."},
        {"SourcePath", "Quellverzeichnis exestiert nicht."},
        {"DestinationPath", "Zielordner exestiert nicht."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const auto value = [&](const std::string& key, const std::string& good) { return key == c.key ? cut : good; };
        writeFile(settingsFilePath(prog), "[Temp]\r\nTempPath=" + value("TempPath", tmp) +
                                              "\r\n[Path]\r\nSourcePath=" + value("SourcePath", src) +
                                              "\r\nDestinationPath=" + value("DestinationPath", dst) +
                                              "\r\n[PACS]\r\nPACS=HIPAX\r\n");
        const SettingsValues loaded = readSettings(prog);
        w.temp = loaded.TempPath, w.source = loaded.SourcePath, w.dest = loaded.DestinationPath, w.pacs = loaded.Pacs;
        w.events.clear();
        run();
        EXPECT_EQ(w.boxes(), std::vector<std::string>{"box stop|Jor-Orvek|"s + c.box});
        EXPECT_EQ(listFiles(victim), (std::vector<std::string>{"SUB/keep2.dcm", "keep1.dcm"}));
    }
    // Set between the start and its tick: the walk names it and ends.
    w.source = src, w.dest = dst, w.temp = tmp;
    std::filesystem::remove(prog + "/Logs/Error.txt");
    engine.StartRun();
    ASSERT_TRUE(w.armed);
    w.source = cut;
    w.events.clear();
    engine.tmrMig_Timer();
    EXPECT_EQ(errorLines(),
              std::vector<std::string>{"52 - Bad file name or number - ScanFolder - " + victim + "\\x00/junk"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 0)});
    EXPECT_EQ(listFiles(victim), (std::vector<std::string>{"SUB/keep2.dcm", "keep1.dcm"}));
}

// A temporary folder that every user may write to (1777): another user can
// make TempOrvek first, or put a link in its place or inside it.
TEST_F(FaultSettings, SharedTemporaryFolderPlantsAreNeverUsed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    useRealDecompressor();
    w.pacs = "Arzt und Praxis";
    medium("IMG1.Z", packed("gzip", archived(payloadOf("I1"))), payloadOf("I1"));
    const std::string mine = root / "mine.txt", myFolder = root / "my folder";
    writeFile(mine, "the user's own file", 0600);
    makeTree(myFolder, {"letter.txt=kept"});
    ::chmod(root.path().c_str(), 0755);
    ::chmod(tmp.c_str(), 01777);
    const struct {
        const char* name;
        std::function<bool()> plant;  // as nobody
        std::string line;
        std::string box;
    } cases[] = {
        {"TempOrvek made by another user, with links at the working names",
         [&] {
             std::error_code ec;
             std::filesystem::create_directory(work, ec);
             ::chmod(work.c_str(), 0777);
             for (const char* name : {"IMG1.dcm.z.part", "IMG1.dcm.z", "IMG1.dcm"})
                 std::filesystem::create_symlink(mine, work + "/" + name, ec);
             return !ec;
         },
         "70 - Permission denied - Start - " + work,
         "Das Arbeitsverzeichnis " + work +
             " geh\xC3\xB6rt einem anderen Benutzer. Bitte w\xC3\xA4hlen Sie ein anderes Tempverzeichnis."},
        {"TempOrvek is another user's link to a folder of the user",
         [&] {
             std::error_code ec;
             std::filesystem::create_directory_symlink(myFolder, work, ec);
             return !ec;
         },
         "75 - Path/File access error - Start - " + work, "Arbeitsverzeichnis konnte nicht angelegt werden."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(work);
        std::filesystem::remove(prog + "/Logs/Error.txt");
        const auto plant = withoutRootsRights([&] { return c.plant() ? std::string() : "refused"; });
        if (!plant.ran || !plant.output.empty())
            GTEST_SKIP() << "nobody could not plant: " << plant.why << plant.output;
        w.events.clear();
        run();
        EXPECT_EQ(errorLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(w.boxes(), std::vector<std::string>{"box stop|Jor-Orvek|" + c.box});
        EXPECT_EQ(readFile(mine), "the user's own file");
        struct stat st;
        ASSERT_EQ(::stat(mine.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(listFiles(myFolder), std::vector<std::string>{"letter.txt"});
        EXPECT_TRUE(filesIn(dst).empty());
        struct stat planted;
        if (::lstat(work.c_str(), &planted) == 0 && S_ISDIR(planted.st_mode)) {
            EXPECT_EQ(planted.st_mode & 07777, 0777u) << "another user's folder is left as it was";
        }
    }
    // The user's own working folder there, new or left over open to every
    // user: none but the user may enter it while the run works in it.
    for (const bool leftOver : {false, true}) {
        SCOPED_TRACE(leftOver ? "left over, mode 0777" : "made by the run");
        std::filesystem::remove_all(work);
        std::filesystem::remove_all(dst);
        makeFolders(dst);
        if (leftOver) {
            makeTree(work, {"OLD.dcm.z=from an earlier run"});
            ::chmod(work.c_str(), 0777);
        }
        std::filesystem::remove(prog + "/Logs/Error.txt");
        mode_t during = 0;
        w.onYield = [&] {
            struct stat st;
            if (::lstat(work.c_str(), &st) == 0) during = st.st_mode & 07777;
        };
        w.events.clear();
        run();
        EXPECT_EQ(during, 0700u);
        EXPECT_EQ(expectEveryFileAccountedFor().migrated, 1);
        EXPECT_FALSE(exists(work)) << "removed at the end like one the run made";
    }
}

}  // namespace
}  // namespace jor::test
