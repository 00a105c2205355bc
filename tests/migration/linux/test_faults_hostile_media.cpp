// Hostile media: looping folders, names that forge log lines or reach the length limit, huge trees.
#include "migration/linux/fault_fixture.h"
#include "support/linux/bind_mount.h"
#include "support/small_disk.h"

#include <fcntl.h>
#include <unistd.h>

namespace jor::test {
namespace {

TEST_F(FaultSource, FoldersThatLeadBackAreWalkedOnce) {
    medium("IMG1", image("IMG1"));
    medium("SUB/IMG2", image("IMG2"));
    makeFolders(src + "/SUB/LOOP");
    const BindMount loop(src, src + "/SUB/LOOP");
    if (!loop.mounted()) GTEST_SKIP() << loop.why();
    run();
    EXPECT_EQ(errorLines(),
              std::vector<std::string>{"-1 - Folder already scanned. - ScanFolder - " + src + "/SUB/LOOP"});
    EXPECT_EQ(expectEveryFileAccountedFor().migrated, 2);
}

// A name from the medium writes no line of its own, neither into the logs
// nor into the status label.
TEST_F(FaultDecompressor, NamesCannotForgeLogLines) {
    useFakeDecompressor("printf 'no layout' > \"${3%.z}\"");
    const std::string forged = "IMG\r\n08.12.2026 09:00:00 - -1 - Source folder doesn" + Acute + "t exist. - StartZ";
    const std::string shown = "IMG\\r\\n08.12.2026 09:00:00 - -1 - Source folder doesn" + Acute + "t exist. - StartZ";
    medium(forged, "object one");
    medium("ESC\x1B[2J\x07\tM\xFCller.Z", "object two");
    w.debug = 1;
    run();
    auto lines = errorLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "-1 - File ESC\\x1B[2J\\x07\\tM\xFCller.Z could not be migrated. - CorrectImage",
                         "-1 - File " + shown + " could not be migrated. - CorrectImage"}));
    EXPECT_EQ(debugLines().size(), 2u);
    EXPECT_EQ(w.eventsStartingWith("status Datei " + src + "/" + shown + " wird").size(), 1u);
    for (const auto& e : w.eventsStartingWith("status "))
        EXPECT_EQ(e.find_first_of("\r\n\x1B"), std::string::npos) << e;
    EXPECT_EQ(filesIn(dst + "/BadObjects").size(), 2u);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 2)});
}

// The working copy of a name at the file system's limit would pass it.
TEST_F(FaultDecompressor, NamesAtTheLengthLimitMigrate) {
    useRealDecompressor();
    for (const size_t length : {250, 253, 255}) {
        const std::string tag = "L" + std::to_string(length);
        medium(tag + std::string(length - tag.size() - 2, 'x') + ".Z", packed("gzip", archived(payloadOf(tag))),
               payloadOf(tag));
    }
    std::string umlauts;
    for (int i = 0; i < 126; ++i) umlauts += "\xC3\x84";  // 252 bytes of two-byte characters
    medium(umlauts + ".Z", packed("gzip", archived(payloadOf("U"))), payloadOf("U"));
    const std::string bad = std::string(253, 'B') + ".Z";
    medium(bad, packed("gzip", "no layout"));
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, 4);
    EXPECT_EQ(tally.setAside, 1);
    // Set aside under the medium's name, by its own rule.
    EXPECT_EQ(filesIn(dst + "/BadObjects"), std::vector<std::string>{std::string(251, 'B') + ".err"});
}

class FaultLargeMedium : public FaultFixture {};

// Tens of thousands of files are made and copied far faster in memory than
// on a disk; where mounting is refused, the folders stay where they are.
class FaultManyFiles : public FaultFixture {
protected:
    SmallDisk sourceDisk{src, 512 * 1024}, destinationDisk{dst, 512 * 1024};
};

TEST_F(FaultLargeMedium, TreeDeeperThanAHundredLevels) {
    std::string relative;
    for (int level = 1; level <= 120; ++level) {
        relative += "level" + std::to_string(level) + "/";
        if (level == 1 || level % 40 == 0 || level == 101)
            medium(relative + "IM" + std::to_string(level), image("L" + std::to_string(level)));
    }
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, 5);
    EXPECT_TRUE(errorLines().empty());
}

TEST_F(FaultManyFiles, FolderOfFortyThousandFiles) {
    constexpr int Count = 40000;
    const std::string folder = src + "/MANY";
    makeFolders(folder);
    selected.reserve(Count);
    for (int i = 0; i < Count; ++i) {
        const std::string name = "IM" + std::to_string(i);
        const std::string path = folder + "/" + name;
        const std::string content = std::to_string(i);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path;
        ASSERT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        ::close(fd);
        selected.push_back({path, name, content, content});
    }
    run();
    EXPECT_EQ(w.eventsStartingWith("max "), std::vector<std::string>{"max 40000"});
    EXPECT_EQ(w.eventsStartingWith("value ").at(Count - 1), "value 40000");
    EXPECT_EQ(w.eventsStartingWith("text " + std::to_string(Count) + " von").size(), 1u);
    EXPECT_NE(std::find(w.events.begin(), w.events.end(), finalProgressText(Count)), w.events.end());
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.migrated, Count);
    EXPECT_TRUE(errorLines().empty());
}

}  // namespace
}  // namespace jor::test
