#include "migration/conversion_fixture.h"
#include "platform/child_process.h"
#include "platform/program_folder.h"
#include "platform/win32/windows_api.h"
#include "support/processes.h"

namespace jor::test {
namespace {

// Closing the window, or the desktop session's end, while the decompressor
// (the test child, platform/win32/child, as gunzip.exe) never finishes.
class HangingDecompressor : public Conversion, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Stop, HangingDecompressor, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SessionEnds" : "WindowCloses"; });

TEST_P(HangingDecompressor, IsEndedAndTheStopLoggedOnce) {
    std::filesystem::copy_file(fsPath(pathUnder(programFolder(), JOR_TEST_CHILD)),
                               fsPath(pathUnder(prog, "gunzip.exe")));
    const std::string pidFile = pathUnder(prog, "decompressor.pid");
    object("HANG0001.Z", "packed");
    object("LATER/LATE0001.Z", "packed");
    w.onYield = [&] {
        if (!exists(pidFile) || readFile(pidFile).empty()) return;
        if (GetParam())
            engine.EndSessionNow();
        else
            engine.requestStop();
    };
    const ULONGLONG started = ::GetTickCount64();

    run();

    EXPECT_LT(::GetTickCount64() - started, 30000u) << "far below the minute the decompressor would take";
    ASSERT_TRUE(exists(pidFile));
    EXPECT_TRUE(hasEnded(static_cast<uint32_t>(std::stoul(readFile(pidFile)))));
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HANG0001.Z"});
    EXPECT_TRUE(w.boxes().empty());
    EXPECT_TRUE(listFiles(dst).empty());
    EXPECT_FALSE(exists(work));
    for (const auto& e : w.eventsStartingWith("status Datei ")) EXPECT_EQ(e.find("LATER"), std::string::npos) << e;
    EXPECT_TRUE(w.beendenEnabled);
}

// Any other gunzip.exe, found by the Toolhelp list, holds the conversion
// until it ends; the window is served all the while.
TEST_F(Conversion, ForeignDecompressorHoldsTheWait) {
    useRealDecompressor();
    object("IMG0001.Z", packed("gzip", archived(payload(8))));
    const std::string foreignExe = root / "foreign\\gunzip.exe";
    makeFolders(root / "foreign");
    std::filesystem::copy_file(fsPath(pathUnder(programFolder(), JOR_TEST_CHILD)), fsPath(foreignExe));
    ChildProcess foreign = ChildProcess::Start(foreignExe, {"sleep", "800"});
    const ULONGLONG started = ::GetTickCount64();
    int yieldsWhileHeld = 0;
    w.onYield = [&] {
        if (!filesIn(work).empty() && !foreign.HasEnded()) ++yieldsWhileHeld;
    };

    run();

    EXPECT_GE(::GetTickCount64() - started, 800u);
    EXPECT_TRUE(foreign.HasEnded());
    EXPECT_GT(yieldsWhileHeld, 10);
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(8)});
}

}  // namespace
}  // namespace jor::test
