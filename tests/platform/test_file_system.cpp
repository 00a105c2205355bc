#include "platform/error.h"
#include "platform/file_system.h"
#include "support/temp_tree.h"

#include <functional>
#include <gtest/gtest.h>

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
    const std::string file = victim + "/kept.dcm\0.x"s;
    FileSystem fs;
    EXPECT_FALSE(fs.FolderExists(bad));
    EXPECT_FALSE(fs.FileExists(file));
    EXPECT_FALSE(fs.FolderIdentityOf(bad));
    const struct {
        const char* name;
        std::function<void()> call;
    } cases[] = {
        {"DeleteFolder", [&] { fs.DeleteFolder(bad, true); }},
        {"DeleteFile", [&] { fs.DeleteFile(file, true); }},
        {"CreatePrivateFolder", [&] { fs.CreatePrivateFolder(bad); }},
        {"GetFolder", [&] { fs.GetFolder(bad); }},
        {"CopyFile to", [&] { fs.CopyFile(victim + "/kept.dcm", file, true); }},
        {"ReadWholeFile", [&] { fs.ReadWholeFile(file); }},
        {"WriteFileAtomically", [&] { fs.WriteFileAtomically(file, "overwritten"); }},
        {"AppendToFile", [&] { fs.AppendToFile(file, "appended"); }},
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

}  // namespace
}  // namespace jor
