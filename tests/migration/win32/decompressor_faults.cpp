// The hanging decompressor on Windows: the test child (platform/win32/child) as gunzip.exe.
#include "migration/conversion_fixture.h"
#include "platform/program_folder.h"
#include "support/processes.h"

namespace jor::test {

// It writes decompressor.pid beside itself, then sleeps a minute.
void HangingDecompressorFixture::useHangingDecompressor() {
    std::filesystem::copy_file(fsPath(pathUnder(programFolder(), JOR_TEST_CHILD)),
                               fsPath(pathUnder(prog, "gunzip.exe")));
}

void HangingDecompressorFixture::expectHangingDecompressorEnded() {
    EXPECT_TRUE(hasEnded(static_cast<uint32_t>(std::stoul(readFile(hangingPid)))));
}

}  // namespace jor::test
