// Writes into shared folders on Linux: planted links never written through, only unheld leftovers removed.
#include "platform/file_system.h"
#include "support/temp_tree.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jor {
namespace {

using test::TempDir;

// A shared folder may hold names planted by another user: links at the
// temporary names of old, or at the destination itself. None is written through.
TEST(FileSystemWrites, PlantedLinksAreNeverWrittenThrough) {
    TempDir dir;
    const std::string victim = dir / "victim.txt", source = dir / "source.dcm", shared = dir / "shared";
    test::writeFile(victim, "the user's own file", 0600);
    test::writeFile(source, "object");
    test::makeFolders(shared);
    ::chmod(shared.c_str(), 01777);
    FileSystem fs;
    const struct {
        const char* name;
        std::string planted;  // a link to the victim
        std::function<void(const std::string& destination)> write;
    } cases[] = {
        {"copy, link at <name>.part", "IMG1.dcm.z.part", [&](auto& d) { fs.CopyFile(source, d, true); }},
        {"copy, link at the destination", "IMG1.dcm.z", [&](auto& d) { fs.CopyFile(source, d, true); }},
        {"write, link at <name>.part", "IMG1.dcm.z.part", [&](auto& d) { fs.WriteFileAtomically(d, "object"); }},
        {"write, link at the destination", "IMG1.dcm.z", [&](auto& d) { fs.WriteFileAtomically(d, "object"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(shared + "/IMG1.dcm.z");
        std::filesystem::remove_all(shared + "/IMG1.dcm.z.part");
        std::filesystem::create_symlink(victim, shared + "/" + c.planted);
        c.write(shared + "/IMG1.dcm.z");
        EXPECT_EQ(test::readFile(victim), "the user's own file");
        struct stat st;
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        ASSERT_EQ(::lstat((shared + "/IMG1.dcm.z").c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << "the destination is a file of its own";
        EXPECT_EQ(test::readFile(shared + "/IMG1.dcm.z"), "object");
    }
}

// Leftovers of a run cut short go; a temporary file another run is writing
// (it holds its lock), a folder, and a link's target stay.
TEST(RemoveOwnTemporaryFiles, OnlyWhatNoRunHolds) {
    TempDir dir;
    const std::string held = dir / "jor-00000000000000aa.part", left = dir / "jor-00000000000000bb.part";
    test::writeFile(held, "being written");
    test::writeFile(left, "left over", 0444);
    test::writeFile(dir / "target", "kept");
    test::makeFolders(dir / "jor-00000000000000cc.part");
    std::filesystem::create_symlink(dir / "target", dir / "jor-00000000000000dd.part");
    const int writer = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    FileSystem().RemoveOwnTemporaryFiles(dir.path());
    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"jor-00000000000000aa.part", "target"}));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "jor-00000000000000cc.part"));
    ::close(writer);
    FileSystem().RemoveOwnTemporaryFiles(dir.path());
    EXPECT_FALSE(test::exists(held)) << "left over once its writer has gone";
}

}  // namespace
}  // namespace jor
