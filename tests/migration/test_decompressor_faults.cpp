// The decompressor that never ends and the full temporary disk, on every platform.
#include "diagnostics/disc_protocol.h"
#include "migration/conversion_fixture.h"
#include "support/small_disk.h"

#include <algorithm>
#include <chrono>

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
    // Small when packed, far larger than the disk when unpacked.
    const std::string big = "\0"s + std::string(2 * 1024 * 1024, 'x');
    object("BIG00001.Z", packed("gzip", archived(big)));
    object("SMALL001.Z", packed("gzip", archived(payload(1))));
    run();
    const auto lines = errorLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "61 - Disk full - ScanFolder - BIG00001.Z"), 1)
        << testing::PrintToString(lines);
    for (const auto& l : lines) EXPECT_NE(l.find("BIG00001.Z"), std::string::npos) << l;
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(1)});
    EXPECT_EQ(filesIn(pathUnder(dst, "BadObjects")), std::vector<std::string>{"BIG000.err"});
}

// Closing the window, or the desktop session's end, while the decompressor hangs.
class HangingDecompressor : public HangingDecompressorFixture, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Stop, HangingDecompressor, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SessionEnds" : "WindowCloses"; });

TEST_P(HangingDecompressor, IsEndedAndTheStopLoggedOnce) {
    useHangingDecompressor();
    object("HANG0001.Z", "packed");
    object("LATER/LATE0001.Z", "packed");
    w.onYield = [&] {
        if (hangingDecompressorRuns()) stopFromYield(GetParam());
    };
    const auto started = std::chrono::steady_clock::now();

    run();

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30))
        << "far below the minute the decompressor would take";
    ASSERT_TRUE(hangingDecompressorRuns());
    expectHangingDecompressorEnded();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HANG0001.Z"});
    EXPECT_TRUE(w.boxes().empty());
    EXPECT_TRUE(listFiles(dst).empty());
    EXPECT_FALSE(exists(work));
    for (const auto& e : w.eventsStartingWith("status Datei ")) EXPECT_EQ(e.find("LATER"), std::string::npos) << e;
    EXPECT_TRUE(w.beendenEnabled);
    EXPECT_TRUE(w.migrierenEnabled);
    // Neither migrated nor set aside: the disc's protocol says so plainly.
    std::vector<ProtocolLine> lines;
    const std::string discs = pathUnder(pathUnder(prog, "Logs"), "Discs");
    for (const std::string& name : filesIn(discs))
        if (name.ends_with(".csv")) readProtocol(prog, name, [&](const ProtocolLine& l) { lines.push_back(l); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].result, ProtocolResult::Failed);
    EXPECT_TRUE(lines[0].note.starts_with("nicht migriert: 18 - ")) << lines[0].note;
}

}  // namespace
}  // namespace jor::test
