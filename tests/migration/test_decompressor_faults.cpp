#include "migration/conversion_fixture.h"
#include "support/small_disk.h"

#include <algorithm>

namespace jor::test {
namespace {

using namespace std::string_literals;

// The real gunzip.exe on a temporary disk too small for one object: its
// reason keeps the classic number, in English, and the next object migrates.
TEST_F(Conversion, FullTemporaryDiskIsToldFromABrokenObject) {
    SmallDisk disk{root / "small-temp", 256};
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    w.temp = disk.path();
    useRealDecompressor();
    const std::string big = "\0"s + std::string(2 * 1024 * 1024, 'x');
    object("BIG00001.Z", packed("gzip", archived(big)));
    object("SMALL001.Z", packed("gzip", archived(payload(1))));
    run();
    const auto lines = errorLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "61 - Disk full - ScanFolder - BIG00001.Z"), 1)
        << testing::PrintToString(lines);
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(1)});
    EXPECT_EQ(filesIn(dst + "\\BadObjects"), std::vector<std::string>{"BIG000.err"});
}

}  // namespace
}  // namespace jor::test
