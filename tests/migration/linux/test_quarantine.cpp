#include "migration/quarantine_fixture.h"

namespace jor::test {
namespace {

// Some 32767 files: minutes under Wine, so this one runs where the files are cheap.
TEST_F(Quarantine, NumbersEndAt32767) {
    makeFolders(bad);
    writeFile(bad + "/IMAGE001.err", "");
    for (int n = 2; n <= 32766; ++n) writeFile(bad + "/IMAGE001" + std::to_string(n) + ".err", "");

    quarantine("IMAGE001.ARZ", "last");
    EXPECT_EQ(readFile(bad + "/IMAGE00132767.err"), "last");

    quarantine("IMAGE001.ARZ", "one too many");
    EXPECT_FALSE(exists(bad + "/IMAGE00132768.err"));
    EXPECT_EQ(errorLines().back(), "6 - Overflow - ScanFolder - IMAGE001.ARZ");
    EXPECT_TRUE(exists(engine.state().WorkingPath));
}

// Windows names are UTF-16: only here can a name hold a byte outside UTF-8.
TEST_F(Quarantine, ByteOutsideUtf8IsOneCharacter) {
    quarantine("Foto 5\xB0" "C.r", "l");  // "Foto 5°C.r" in Latin-1 loses "°C.r"
    EXPECT_EQ(readFile(bad + "/Foto 5.err"), "l");
}

}  // namespace
}  // namespace jor::test
