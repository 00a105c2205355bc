#include "platform/error.h"
#include "platform/file_system.h"
#include "support/temp_tree.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace jor {
namespace {

using namespace std::string_literals;
using test::TempDir;

// The system reads a path only up to a NUL byte: "victim\0/junk" would act on
// "victim". Every operation must take such a path for what it is, a name of
// nothing.
TEST(FileSystemPaths, APathWithANulByteNamesNothing) {
    TempDir dir;
    const std::string victim = dir / "victim";
    test::makeTree(victim, {"kept.dcm=k", "SUB/deeper.dcm=d"});
    const std::string bad = victim + "\0/junk"s;
    FileSystem fs;
    EXPECT_FALSE(fs.FolderExists(bad));
    EXPECT_FALSE(fs.FileExists(victim + "/kept.dcm\0.x"s));
    EXPECT_FALSE(fs.FolderIdentityOf(bad));

    const struct {
        const char* name;
        std::function<void()> call;
    } cases[] = {
        {"DeleteFolder", [&] { fs.DeleteFolder(bad, true); }},
        {"DeleteFile", [&] { fs.DeleteFile(victim + "/kept.dcm\0.x"s, true); }},
        {"CreateFolder", [&] { fs.CreateFolder(bad); }},
        {"CreatePrivateFolder", [&] { fs.CreatePrivateFolder(bad); }},
        {"CheckPrivateFolder", [&] { fs.CheckPrivateFolder(bad); }},
        {"GetFolder", [&] { fs.GetFolder(bad); }},
        {"FolderAttributes", [&] { fs.FolderAttributes(bad); }},
        {"SetFileAttributes", [&] { fs.SetFileAttributes(victim + "/kept.dcm\0.x"s, 0); }},
        {"CopyFile from", [&] { fs.CopyFile(victim + "/kept.dcm\0.x"s, dir / "copy", true); }},
        {"CopyFile to", [&] { fs.CopyFile(victim + "/kept.dcm", victim + "/kept.dcm\0.x"s, true); }},
        {"ReadWholeFile", [&] { fs.ReadWholeFile(victim + "/kept.dcm\0.x"s); }},
        {"WriteFileAtomically", [&] { fs.WriteFileAtomically(victim + "/kept.dcm\0.x"s, "overwritten"); }},
        {"AppendToFile", [&] { fs.AppendToFile(victim + "/kept.dcm\0.x"s, "appended"); }},
    };
    for (const auto& c : cases) {
        try {
            c.call();
            ADD_FAILURE() << c.name << " acted on the path";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), err::BadFileName) << c.name;
            EXPECT_EQ(e.description(), "Bad file name or number") << c.name;
        }
    }
    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"victim/SUB/deeper.dcm", "victim/kept.dcm"}));
    EXPECT_EQ(test::readFile(victim + "/kept.dcm"), "k");
}

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

TEST(FileSystemFolders, PrivateFolderIsARealFolderOfTheUserAlone) {
    TempDir dir;
    FileSystem fs;
    fs.CreatePrivateFolder(dir / "made");
    struct stat st;
    ASSERT_EQ(::lstat((dir / "made").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    test::makeFolders(dir / "open");
    ::chmod((dir / "open").c_str(), 0777);
    test::makeFolders(dir / "group");
    ::chmod((dir / "group").c_str(), 0770);
    test::makeFolders(dir / "readable");
    ::chmod((dir / "readable").c_str(), 0755);
    std::filesystem::create_directory_symlink(dir / "made", dir / "link");
    test::writeFile(dir / "file", "x");
    const struct { const char* name; int32_t number; } cases[] = {
        {"made", 0}, {"readable", 0}, {"open", err::PermissionDenied}, {"group", err::PermissionDenied},
        {"link", err::PathFileAccess}, {"file", err::PathFileAccess}, {"missing", err::PathNotFound},
    };
    for (const auto& c : cases) {
        int32_t number = 0;
        try {
            fs.CheckPrivateFolder(dir / c.name);
        } catch (const Error& e) {
            number = e.number();
        }
        EXPECT_EQ(number, c.number) << c.name;
    }
    if (::geteuid() == 0) {
        test::makeFolders(dir / "theirs");
        ASSERT_EQ(::chown((dir / "theirs").c_str(), 65534, 65534), 0);
        EXPECT_THROW(fs.CheckPrivateFolder(dir / "theirs"), Error) << "another user's folder";
    }
}

TEST(FileSystemFolders, IdentityIsTheFolderNotThePath) {
    TempDir dir;
    test::makeFolders(dir / "a/b");
    test::makeFolders(dir / "c");
    std::filesystem::create_directory_symlink(dir / "a", dir / "link");
    FileSystem fs;
    const auto a = fs.FolderIdentityOf(dir / "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(fs.FolderIdentityOf(dir / "link"), a);
    EXPECT_EQ(fs.FolderIdentityOf(dir / "a/b/.."), a);
    EXPECT_EQ(fs.GetFolder(dir / "link").Identity, *a);
    EXPECT_NE(fs.FolderIdentityOf(dir / "c"), a);
    EXPECT_FALSE(fs.FolderIdentityOf(dir / "missing"));
    EXPECT_EQ(fs.MaxNameLength(dir.path()), 255u);
}

}  // namespace
}  // namespace jor
