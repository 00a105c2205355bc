// Another gunzip.exe on Windows holds the conversion.
#include "migration/conversion_fixture.h"
#include "platform/child_process.h"
#include "platform/program_folder.h"
#include "platform/win32/windows_api.h"

namespace jor::test {
namespace {

// Any other gunzip.exe, found by the Toolhelp list, holds the conversion
// until it ends; the window is served all the while.
TEST_F(Conversion, ForeignDecompressorHoldsTheWait) {
    useRealDecompressor();
    object("IMG0001.Z", packed("gzip", archived(payload(8))));
    const std::string foreignExe = root / "foreign\\gunzip.exe";
    makeFolders(root / "foreign");
    std::filesystem::copy_file(fsPath(pathUnder(programFolder(), JOR_TEST_CHILD)), fsPath(foreignExe));
    ChildProcess foreign = ChildProcess::start(foreignExe, {"sleep", "800"});
    const ULONGLONG started = ::GetTickCount64();
    int yieldsWhileHeld = 0;
    w.onYield = [&] {
        if (!filesIn(work).empty() && !foreign.hasEnded()) ++yieldsWhileHeld;
    };

    run();

    EXPECT_GE(::GetTickCount64() - started, 800u);
    EXPECT_TRUE(foreign.hasEnded());
    EXPECT_GT(yieldsWhileHeld, 10);
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(8)});
}

}  // namespace
}  // namespace jor::test
