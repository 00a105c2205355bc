// The folder scan: its order, progress counts, texts read for every file, vanishing folders and the stop.
#include "migration/folder_scan_fixture.h"

#include <set>

namespace jor::test {
namespace {

using namespace std::string_literals;

TEST_F(FolderScan, ProgressCountsTheFilesOfEachFolderWithFiles) {
    makeTree(src, {"IM1=a", "IM2=b", "EMPTY/DEEP/IM3=c"});
    run();
    const std::vector<std::string> expected{
        "max 2",
        "text 0 von 2 Dateien durchsucht ...",
        "value 1",
        "text 1 von 2 Dateien durchsucht ...",
        "value 2",
        // EMPTY has no files of its own: nothing changes until DEEP.
        "max 1",
        "text 0 von 1 Dateien durchsucht ...",
        "value 1",
        finalProgressText(1),
        "text ",
        "value 0",
    };
    EXPECT_EQ(progressEvents(), expected);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(3, 3)});
}

TEST_F(FolderScan, ThreeFilesShowZeroToTwoAndValuesOneToThree) {
    makeTree(src, {"A=1", "B=2", "C=3"});
    run();
    const std::vector<std::string> expected{"max 3",   "text 0 von 3 Dateien durchsucht ...",
                                            "value 1", "text 1 von 3 Dateien durchsucht ...",
                                            "value 2", "text 2 von 3 Dateien durchsucht ...",
                                            "value 3", finalProgressText(3),
                                            "text ",   "value 0"};
    EXPECT_EQ(progressEvents(), expected);
    const auto order = visited();
    EXPECT_EQ(std::set<std::string>(order.begin(), order.end()), (std::set<std::string>{"A", "B", "C"}));
}

TEST_F(FolderScan, OwnFilesFirstThenEachSubtreeWhole) {
    makeTree(src, {"F1=1", "F2=2", "A/A1=3", "A/AA/AA1=4", "B/B1=5", "B/BB/BB1=6"});
    run();
    const auto order = visited();
    ASSERT_EQ(order.size(), 6u);
    EXPECT_EQ(std::set<std::string>(order.begin(), order.begin() + 2), (std::set<std::string>{"F1", "F2"}));
    const std::vector<std::string> aFirst{"A/A1", "A/AA/AA1", "B/B1", "B/BB/BB1"};
    const std::vector<std::string> bFirst{"B/B1", "B/BB/BB1", "A/A1", "A/AA/AA1"};
    const std::vector<std::string> rest(order.begin() + 2, order.end());
    EXPECT_TRUE(rest == aFirst || rest == bFirst) << testing::PrintToString(order);
}

// The PACS text is read for every file: changed during the run, it holds
// from the next file on. A name left out is selected all the same.
TEST_F(FolderScan, PlainCopyRulesFollowThePacsTextOfEachFile) {
    const std::string im1 = "\0\x01\x80\xFF image 1"s, readme = "read me"s, later = "later"s;
    makeTree(src, {"IM000001", "README.TXT=" + readme, "SUB/LATER.TXT=" + later});
    writeFile(src + "/IM000001", im1);
    w.pacs = "GEMED";
    w.onYield = [&] {
        if (!w.eventsStartingWith("max 1").empty()) w.pacs = "HIPAX";
    };
    run();
    std::vector<std::string> expected{im1, later};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputContents(), expected);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(2, 3)});
    EXPECT_TRUE(errorLines().empty());
}

// In mode "Z" a selected name without a dot has no working copy: it fails
// alone, named once; a name the mode does not take leaves no trace.
TEST_F(FolderScan, NameWithoutADotFailsAloneInModeZ) {
    makeTree(src, {"DICOMDIR=d", "IMAGE.DCM=i"});
    w.pacs = "Arzt und Praxis";
    run();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"5 - Invalid procedure call or argument - ScanFolder - DICOMDIR"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 1)});
    EXPECT_EQ(visited().size(), 2u);
    EXPECT_TRUE(filesIn(dst).empty());
}

TEST_F(FolderScan, DestinationTextWithTrailingSeparatorIsJoinedUnchanged) {
    makeTree(src, {"IM1=a"});
    w.dest = dst + PathSeparator;
    run();
    EXPECT_EQ(outputContents(), std::vector<std::string>{"a"});
    EXPECT_TRUE(engine.state().WorkingPath.starts_with(dst + PathSeparator + PathSeparator + "2.25."))
        << engine.state().WorkingPath;
}

TEST_F(FolderScan, DestinationTextIsReadForEveryFile) {
    const std::string second = root / "second";
    makeFolders(second);
    makeTree(src, {"A=1", "B=2", "C=3"});
    w.onYield = [&] {
        if (w.eventsStartingWith("value ").size() == 2) w.dest = second;
    };
    run();
    EXPECT_EQ(filesIn(dst).size(), 1u);
    EXPECT_EQ(filesIn(second).size(), 2u);
}

TEST_F(FolderScan, DestinationRemovedDuringTheRun) {
    makeTree(src, {"A=1", "B=2", "C=3"});
    w.onYield = [&] {
        // At the second file, before anything of it is written.
        if (w.eventsStartingWith("value ").size() == 2 && exists(dst)) std::filesystem::remove_all(fsPath(dst));
    };
    run();
    const auto order = visited();
    ASSERT_EQ(order.size(), 3u);
    const auto lines = errorLines();
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_TRUE(lines[i].ends_with(" - ScanFolder - " + order[i + 1])) << lines[i];
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 3)});
    for (const auto& f : listFiles(root.path())) EXPECT_FALSE(f.ends_with(".part")) << f;
}

TEST_F(FolderScan, SubfolderThatVanishesIsLoggedAndTheWalkGoesOn) {
    makeTree(src, {"F1=1", "GONE/G1=2", "KEPT/K1=3"});
    w.onYield = [&] {
        if (!w.eventsStartingWith("status ").empty()) std::filesystem::remove_all(fsPath(src + "/GONE"));
    };
    run();
    // Named by its own path: none of its files can be named.
    EXPECT_EQ(errorLines(),
              std::vector<std::string>{"76 - Path not found - ScanFolder - " + src + PathSeparator + "GONE"});
    EXPECT_EQ(outputContents(), (std::vector<std::string>{"1", "3"}));
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(2, 2)});
}

TEST_F(FolderScan, ClosingTheWindowEndsTheRunAfterTheFileAtHand) {
    makeTree(src, {"IM1=a", "IM2=b", "LATER/IM3=c"});
    w.onYield = [&] {
        if (!w.eventsStartingWith("status ").empty()) w.request = RunRequest::StopAfterFile;
    };
    run();
    EXPECT_EQ(outputContents().size(), 1u);
    ASSERT_EQ(visited().size(), 1u);
    EXPECT_TRUE(w.boxes().empty());
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - " + visited()[0]});
    EXPECT_FALSE(exists(work));
    EXPECT_TRUE(w.beendenEnabled);
    EXPECT_TRUE(w.migrierenEnabled);
}

TEST_F(FolderScan, ClosingBeforeTheTickLogsTheStopWithoutAFile) {
    makeTree(src, {"IM1=a"});
    engine.StartRun();
    w.request = RunRequest::StopAfterFile;
    engine.tmrMig_Timer();
    EXPECT_TRUE(visited().empty());
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder"});
}

}  // namespace
}  // namespace jor::test
