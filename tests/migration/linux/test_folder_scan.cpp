// The folder scan on Linux: read-only files, links never followed off the medium, and pipes.
#include "migration/folder_scan_fixture.h"

#include <filesystem>
#include <sys/stat.h>

namespace jor::test {
namespace {

using namespace std::string_literals;

TEST_F(FolderScan, ReadOnlyFileOnTheMediumGivesAnOrdinaryCopy) {
    const std::string bytes = "\0DICM\x80\xFE"s + std::string(5000, '\x7F');
    writeFile(src + "/IM1", bytes, 0444);
    run();
    const auto names = filesIn(dst);
    ASSERT_EQ(names.size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat((dst + "/" + names[0]).c_str(), &st), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    EXPECT_EQ(readFile(dst + "/" + names[0]), bytes);
    ASSERT_EQ(::stat((src + "/IM1").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_EQ(readFile(src + "/IM1"), bytes);
}

// Links of every kind are files of their folder: counted, and logged by the
// copy that refuses to follow them.
TEST_F(FolderScan, LinksAreNeverFollowedOffTheMedium) {
    makeTree(src, {"IM1=a"});
    makeTree(root / "elsewhere", {"IM2=local secret", "FOLDER/IM3=c"});
    std::filesystem::create_symlink(root / "elsewhere/IM2", src + "/LINK");
    std::filesystem::create_symlink(root / "elsewhere/FOLDER", src + "/FOLDERLINK");
    std::filesystem::create_symlink(root / "nowhere", src + "/BROKEN");
    run();
    EXPECT_EQ(outputContents(), std::vector<std::string>{"a"});
    auto lines = errorLines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"75 - Path/File access error - ScanFolder - BROKEN",
                                               "75 - Path/File access error - ScanFolder - FOLDERLINK",
                                               "75 - Path/File access error - ScanFolder - LINK"}));
    EXPECT_EQ(w.eventsStartingWith("max "), std::vector<std::string>{"max 4"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 4)});
}

TEST_F(FolderScan, PipeOnTheMediumFailsAloneInsteadOfBlocking) {
    makeTree(src, {"IM1=a"});
    ASSERT_EQ(::mkfifo((src + "/PIPE").c_str(), 0644), 0);
    run();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"75 - Path/File access error - ScanFolder - PIPE"});
    EXPECT_EQ(outputContents(), std::vector<std::string>{"a"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 2)});
}

}  // namespace
}  // namespace jor::test
