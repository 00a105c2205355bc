// A run from start to report: refused starts, the mode, the working folder, the counts and leftovers.
#include "migration/migration_fixture.h"

#include <set>

namespace jor::test {
namespace {

size_t indexOf(const std::vector<std::string>& events, const std::string& event) {
    return static_cast<size_t>(std::find(events.begin(), events.end(), event) - events.begin());
}

TEST_F(MigrationRun, RefusedStartReportsOnlyTheFirstMissingFolder) {
    struct Case {
        const char* name;
        std::string source, dest, temp;
        const char* description;
        const char* box;
    };
    const std::string missing = root / "missing", file = root / "plain-file";
    writeFile(file, "x");
    const Case cases[] = {
        {"source missing", missing, dst, tmp, "Source folder doesn", "Quellverzeichnis exestiert nicht."},
        {"source empty", "", dst, tmp, "Source folder doesn", "Quellverzeichnis exestiert nicht."},
        {"source is a file", file, dst, tmp, "Source folder doesn", "Quellverzeichnis exestiert nicht."},
        {"destination missing", src, missing, tmp, "Destination folder doesn", "Zielordner exestiert nicht."},
        {"destination empty", src, "", tmp, "Destination folder doesn", "Zielordner exestiert nicht."},
        {"temp missing", src, dst, missing, "Temp folder doesn", "Tempverzeichnis exestiert nicht."},
        {"temp empty", src, dst, "", "Temp folder doesn", "Tempverzeichnis exestiert nicht."},
        {"all three missing", missing, missing, missing, "Source folder doesn", "Quellverzeichnis exestiert nicht."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(fsPath(prog + "/Logs/Error.txt"));
        RecordingWindow window;
        window.source = c.source, window.dest = c.dest, window.temp = c.temp;
        MigrationEngine e(window, logs, prog);
        e.state().TempFolder = "earlier";
        e.state().PacsMode = "earlier";
        e.state().SelectedCount = 7;

        e.StartRun();

        EXPECT_EQ(errorLines(),
                  std::vector<std::string>{"-1 - " + std::string(c.description) + Acute + "t exist. - Start"});
        EXPECT_EQ(window.boxes(), std::vector<std::string>{"box stop|Jor-Orvek|" + std::string(c.box)});
        // Disabled while checking, enabled again once the box is closed.
        const auto& ev = window.events;
        EXPECT_LT(indexOf(ev, "beenden 0"), indexOf(ev, window.boxes().at(0)));
        EXPECT_GT(indexOf(ev, "beenden 1"), indexOf(ev, window.boxes().at(0)));
        EXPECT_TRUE(window.beendenEnabled);
        EXPECT_TRUE(window.migrierenEnabled);
        EXPECT_FALSE(window.armed);
        EXPECT_TRUE(window.eventsStartingWith("arm").empty());
        EXPECT_EQ(e.state().TempFolder, "earlier");
        EXPECT_EQ(e.state().PacsMode, "earlier");
        EXPECT_EQ(e.state().SelectedCount, 7);
        EXPECT_FALSE(exists(tmp + "/TempOrvek"));
    }
}

TEST_F(MigrationRun, CorrectedFolderCanBeStartedAgain) {
    w.source = root / "not-yet";
    engine.StartRun();
    ASSERT_FALSE(w.armed);
    w.source = src;
    run();
    EXPECT_EQ(w.boxes().back(), reportText(0, 0));
    EXPECT_EQ(errorLines().size(), 1u);
}

// The mode from the PACS text replaces the last run's; test_selection.cpp has the texts.
TEST_F(MigrationRun, StartPreparesTheRunAndChoosesTheMode) {
    w.pacs = "GEMED";
    engine.state().PacsMode = "Z";
    engine.StartRun();
    EXPECT_TRUE(w.armed);
    EXPECT_FALSE(w.beendenEnabled);
    EXPECT_FALSE(w.migrierenEnabled);
    EXPECT_TRUE(std::filesystem::is_directory(fsPath(work)));
    EXPECT_EQ(engine.state().TempFolder, tmp);
    EXPECT_EQ(engine.state().PacsMode, "");
    EXPECT_TRUE(w.boxes().empty());
    EXPECT_FALSE(exists(prog + "/Logs/Error.txt"));
}

TEST_F(MigrationRun, LeftOverWorkingFolderIsUsedAsItIs) {
    writeFile(work + "/left-over.dcm.z", "old");
    makeTree(src, {"IM1=a"});
    bool keptDuringRun = true;
    w.onYield = [&] { keptDuringRun = keptDuringRun && exists(work + "/left-over.dcm.z"); };
    run();
    EXPECT_GT(w.yields, 0);
    EXPECT_TRUE(keptDuringRun);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 1)});
}

TEST_F(MigrationRun, WorkingFolderThatCannotBeCreatedStopsTheStart) {
    expectStartRefusedWhileWorkingFolderIsBlocked([](const std::string& p) { writeFile(p, "x"); });
}

TEST_F(MigrationRun, CompletionShowsTheLastFolderCountThenReportsThenResets) {
    std::vector<std::string> tree;
    for (int i = 0; i < 37; ++i) tree.push_back("IM" + std::to_string(i) + "=" + std::to_string(i));
    for (int i = 0; i < 3; ++i) tree.push_back("SUB/IS" + std::to_string(i) + "=s");
    makeTree(src, tree);
    bool folderDuringReport = false, buttonsDuringReport = true;
    w.onMessage = [&](const std::string&) {
        folderDuringReport = std::filesystem::is_directory(fsPath(work));
        buttonsDuringReport = w.beendenEnabled || w.migrierenEnabled;
    };

    run();

    const std::vector<std::string> tail(w.events.end() - 7, w.events.end());
    const std::vector<std::string> expected{finalProgressText(3), reportText(40, 40), "text ", "value 0", "status "};
    EXPECT_EQ(std::vector<std::string>(tail.begin(), tail.begin() + 5), expected);
    EXPECT_EQ(std::set<std::string>(tail.begin() + 5, tail.end()), (std::set<std::string>{"beenden 1", "migrieren 1"}));
    EXPECT_TRUE(folderDuringReport);
    EXPECT_FALSE(buttonsDuringReport);
    EXPECT_FALSE(exists(work));
    EXPECT_EQ(engine.state().MigratedCount, 0);
    EXPECT_EQ(engine.state().SelectedCount, 0);
    EXPECT_EQ(outputContents().size(), 40u);

    // The counts start again at 0.
    w.events.clear();
    run();
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(40, 40)});
}

TEST_F(MigrationRun, FinalCountsOfTrivialTrees) {
    const struct {
        const char* name;
        std::vector<std::string> tree;
        int lastCount, migrated;
    } cases[] = {
        {"empty source", {}, 0, 0},
        {"last folder without files", {"IM1=a", "IM2=b", "EMPTY/"}, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(fsPath(src));
        makeFolders(src);
        makeTree(src, c.tree);
        w.events.clear();
        run();
        EXPECT_EQ(w.eventsStartingWith("text ").at(w.eventsStartingWith("text ").size() - 2),
                  finalProgressText(c.lastCount));
        EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(c.migrated, c.migrated)});
    }
}

TEST_F(MigrationRun, RemovesTheWorkingFolderUnderTheTempTextAtTheEnd) {
    const std::string other = root / "other";
    makeFolders(other + "/TempOrvek");
    makeTree(src, {"IM1=a"});
    w.onYield = [&] { w.temp = other; };
    run();
    EXPECT_TRUE(std::filesystem::is_directory(fsPath(work)));
    EXPECT_FALSE(exists(other + "/TempOrvek"));
}

TEST_F(MigrationRun, UnwritableLogNeverStopsTheRun) {
    writeFile(prog + "/Logs", "not a folder");
    w.pacs = "Arzt und Praxis";
    makeTree(src, {"DICOMDIR=d"});
    run();
    // Told once, however many lines were lost.
    EXPECT_EQ(w.boxes(), (std::vector<std::string>{"box stop|Jor-Orvek|Protokolldatei konnte nicht geschrieben werden.",
                                                   reportText(0, 1)}));
    EXPECT_TRUE(w.beendenEnabled);
}

TEST_F(MigrationRun, SourceThatTurnsIntoAFileBeforeTheTickStillEndsTheRun) {
    engine.StartRun();
    ASSERT_TRUE(w.armed);
    std::filesystem::remove_all(fsPath(src));
    writeFile(src, "no longer a folder");
    engine.tmrMig_Timer();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"76 - Path not found - ScanFolder - " + src});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 0)});
    EXPECT_TRUE(w.beendenEnabled);
    EXPECT_FALSE(exists(work));
}

// A run cut short by a power cut or the session's end leaves its temporary
// file beside the outputs; the next run takes it away, and nothing else.
TEST_F(MigrationRun, StartRemovesTheTemporaryFilesACutShortRunLeft) {
    const std::string ours = "jor-0123456789abcdef.part";
    const std::vector<std::string> others = {"jor-0123456789abcdeg.part", "jor-0123.part", "x.part", "2.25.1.dcm"};
    for (const std::string& folder : {dst, dst + "/BadObjects"}) {
        writeFile(folder + "/" + ours, "half an image", 0444);
        for (const auto& name : others) writeFile(folder + "/" + name, "kept");
    }
    run();
    for (const std::string& folder : {dst, dst + "/BadObjects"}) {
        std::vector<std::string> expected = others;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(filesIn(folder), expected) << folder;
    }
}

}  // namespace
}  // namespace jor::test
