#include "migration/conversion_fixture.h"
#include "platform/program_folder.h"
#include "platform/win32/windows_api.h"

namespace jor::test {
namespace {

bool running(uint32_t pid) {
    const HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!h) return false;
    const bool alive = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return alive;
}

// The test child (platform/win32/child) as gunzip.exe: it never finishes.
TEST_F(Conversion, ClosingTheWindowEndsAHangingDecompressor) {
    std::filesystem::copy_file(fsPath(pathUnder(programFolder(), JOR_TEST_CHILD)), fsPath(pathUnder(prog, "gunzip.exe")));
    const std::string pidFile = pathUnder(prog, "decompressor.pid");
    object("HANG0001.Z", "packed");
    object("LATER/LATE0001.Z", "packed");
    w.onYield = [&] {
        if (exists(pidFile) && !readFile(pidFile).empty()) engine.requestStop();
    };
    const ULONGLONG started = ::GetTickCount64();

    run();

    EXPECT_LT(::GetTickCount64() - started, 30000u) << "far below the minute the decompressor would take";
    ASSERT_TRUE(exists(pidFile));
    EXPECT_FALSE(running(static_cast<uint32_t>(std::stoul(readFile(pidFile)))));
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HANG0001.Z"});
    EXPECT_TRUE(w.boxes().empty());
    EXPECT_TRUE(listFiles(dst).empty());
    EXPECT_FALSE(exists(work));
    for (const auto& e : w.eventsStartingWith("status Datei ")) EXPECT_EQ(e.find("LATER"), std::string::npos) << e;
    EXPECT_TRUE(w.beendenEnabled);
}

}  // namespace
}  // namespace jor::test
