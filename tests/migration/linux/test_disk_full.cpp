// Runs into a destination disk that fills up on Linux: plain and converted outputs leave no partial file.
#include "migration/migration_fixture.h"
#include "support/small_disk.h"

namespace jor::test {
namespace {

// 300 kB of bytes that differ from file to file.
std::string image(int seed) {
    std::string s(300 * 1024, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 131) % 253);
    return s;
}

struct DiskFull : MigrationFixture {
    SmallDisk disk{root / "small", 1024};
    void SetUp() override {
        if (!disk.mounted()) GTEST_SKIP() << disk.why();
        w.dest = disk.path();
    }
    // Nothing half-written may stay on the disk.
    void expectNoPartialFiles() {
        for (const auto& f : listFiles(disk.path())) EXPECT_FALSE(f.ends_with(".part")) << f;
    }
};

TEST_F(DiskFull, PlainCopiesStopAtAFullDiskWithoutPartialFiles) {
    std::vector<std::string> originals;
    for (int i = 0; i < 6; ++i) {
        originals.push_back(image(i));
        writeFile(src + "/IM" + std::to_string(i), originals.back());
    }
    w.pacs = "HIPAX";
    run();

    const auto outputs = listFiles(disk.path());
    ASSERT_GE(outputs.size(), 1u);
    ASSERT_LT(outputs.size(), 6u) << "the disk holds at most three of them";
    std::vector<std::string> copied;
    for (const auto& f : outputs) copied.push_back(readFile(disk.path() + "/" + f));
    for (const auto& c : copied)
        EXPECT_NE(std::find(originals.begin(), originals.end(), c), originals.end()) << "a copy that is not whole";
    expectNoPartialFiles();

    // Each file that did not fit has its line, and the run still reports.
    const auto lines = errorLines();
    EXPECT_EQ(lines.size(), 6 - outputs.size());
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("61 - Disk full - ScanFolder - IM")) << l;
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(static_cast<int>(outputs.size()), 6)});
}

TEST_F(DiskFull, ConvertedOutputsStopAtAFullDiskWithoutPartialFiles) {
    useRealDecompressor();
    for (int i = 0; i < 6; ++i)
        writeFile(src + "/IMG000" + std::to_string(i) + ".Z",
                  packed("gzip", "WRAP" + std::string(1, '\0') + image(i) + "#*lastfile*#"));
    w.pacs = "Arzt und Praxis";
    run();

    const auto outputs = listFiles(disk.path());
    ASSERT_LT(outputs.size(), 6u);
    for (const auto& f : outputs) EXPECT_EQ(readFile(disk.path() + "/" + f).size(), 300u * 1024 + 1) << f;
    expectNoPartialFiles();
    const auto lines = errorLines();
    EXPECT_EQ(lines.size(), 6 - outputs.size());
    for (const auto& l : lines) EXPECT_TRUE(l.starts_with("61 - Disk full - ScanFolder - IMG000")) << l;
}

}  // namespace
}  // namespace jor::test
