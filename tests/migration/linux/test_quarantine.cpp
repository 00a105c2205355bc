// The quarantine's numbering on Linux, where 32767 files are cheap: it ends there with an overflow line.
#include "migration/quarantine_fixture.h"

namespace jor::test {
namespace {

// Some 32767 files: minutes under Wine, so this one runs where the files are cheap.
TEST_F(Quarantine, NumbersEndAt32767) {
    makeFolders(bad);
    writeFile(bad + "/IMAGE001.err", "");
    for (int n = 2; n <= 32767; ++n) writeFile(bad + "/IMAGE001" + std::to_string(n) + ".err", "");

    quarantine("IMAGE001.ARZ", "one too many");
    EXPECT_FALSE(exists(bad + "/IMAGE00132768.err"));
    EXPECT_EQ(errorLines().back(), "6 - Overflow - ScanFolder - IMAGE001.ARZ");
    EXPECT_TRUE(exists(engine.state().WorkingPath));
}

}  // namespace
}  // namespace jor::test
