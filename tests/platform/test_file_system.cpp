// The file system on every platform: NUL bytes in paths, ranges written, chunked reads and flushes.
#include "platform/error.h"
#include "platform/file_system.h"
#include "support/expect_error.h"
#include "support/small_disk.h"
#include "support/temp_tree.h"

#include <algorithm>
#include <filesystem>
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
        {"ReadSharedFileInChunks", [&] { fs.ReadSharedFileInChunks(file, 16, [](std::string_view) { return true; }); }},
        {"WriteFileAtomically", [&] { fs.WriteFileAtomically(file, "overwritten"); }},
        {"AppendToFile", [&] { fs.AppendToFile(file, "appended"); }},
    };
    for (const auto& c : cases) test::expectError(c.call, err::BadFileName, c.name, "Bad file name or number");
    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"victim/SUB/deeper.dcm", "victim/kept.dcm"}));
    EXPECT_EQ(test::readFile(victim + "/kept.dcm"), "k");
}

std::string pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 131 % 251);
    return s;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(test::fsPath(folder)))
        names.push_back(test::utf8Of(e.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

// Into the source's own file system and into another one (a small tmpfs),
// where the kernel's copy gives way to reading and writing.
TEST(WriteFileRange, WritesExactlyTheRangeOrLeavesTheEarlierFile) {
    TempDir dir;
    test::SmallDisk other(dir / "other", 16384);
    const std::string content = pattern((3 << 20) + 123);
    const uint64_t size = content.size();
    test::writeFile(dir / "source", content);
    struct Case {
        const char* name;
        uint64_t offset, length;
        int32_t error;
    };
    const Case cases[] = {
        {"whole file", 0, size, 0},
        {"middle, longer than a buffer", 1000, 2 << 20, 0},
        {"up to the last byte", 5, size - 5, 0},
        {"empty range", 7, 0, 0},
        {"one byte past the end", 5, size - 4, err::InputPastEnd},
        {"offset past the end", size + 1, 1, err::InputPastEnd},
    };
    std::vector<std::string> folders{dir / "same"};
    if (other.mounted()) folders.push_back(other.path() + "/sub");
    const FileSystem fs;
    for (const auto& folder : folders) {
        test::makeFolders(folder);
        for (const auto& c : cases) {
            const std::string out = folder + "/out.dcm";
            test::writeFile(out, "earlier");
            int32_t error = 0;
            try {
                fs.WriteFileRange(dir / "source", c.offset, c.length, out);
            } catch (const Error& e) {
                error = e.number();
            }
            EXPECT_EQ(error, c.error) << c.name << " into " << folder;
            const std::string expected = error ? "earlier" : content.substr(c.offset, c.length);
            EXPECT_TRUE(test::readFile(out) == expected) << c.name << " into " << folder;
            EXPECT_EQ(namesIn(folder), std::vector<std::string>{"out.dcm"}) << c.name << " into " << folder;
        }
    }
}

TEST(WriteFileRange, FullDiskLeavesNoFile) {
    TempDir dir;
    test::SmallDisk disk(dir / "small", 512);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    test::writeFile(dir / "source", pattern(2 << 20));
    test::expectError([&] { FileSystem().WriteFileRange(dir / "source", 0, 2 << 20, disk.path() + "/out.dcm"); },
                      err::DiskFull, "2 MB onto a disk of 512 kB");
    EXPECT_TRUE(namesIn(disk.path()).empty());
}

TEST(ReadFileInChunks, HandsTheFileOverInOrderUntilAskedToStop) {
    TempDir dir;
    const std::string content = pattern(10007);
    test::writeFile(dir / "object", content);
    const FileSystem fs;
    for (const size_t chunk : {size_t(1), size_t(4096), size_t(1) << 20}) {
        std::string seen;
        size_t largest = 0;
        fs.ReadFileInChunks(dir / "object", chunk, [&](std::string_view part) {
            seen += part;
            largest = std::max(largest, part.size());
            return true;
        });
        EXPECT_TRUE(seen == content) << "chunks of " << chunk;
        EXPECT_LE(largest, chunk);
    }
    int calls = 0;
    fs.ReadFileInChunks(dir / "object", 100, [&](std::string_view) { return ++calls < 3; });
    EXPECT_EQ(calls, 3);
    // What a decompressor that wrote nothing leaves: read as empty, and created.
    calls = 0;
    fs.ReadFileInChunks(dir / "missing", 100, [&](std::string_view) { return ++calls > 0; });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(test::readFile(dir / "missing"), "");
}

// Unlike ReadFileInChunks: a missing file is not made.
TEST(ReadSharedFileInChunks, AMissingFileRaisesAndStaysMissing) {
    TempDir dir;
    const FileSystem fs;
    test::expectError([&] { fs.ReadSharedFileInChunks(dir / "missing", 100, [](std::string_view) { return true; }); },
                      err::FileNotFound, "a missing file");
    EXPECT_FALSE(test::exists(dir / "missing"));
}

TEST(FlushToStableStorage, FlushesWhatIsThereAndSkipsWhatWasMovedAway) {
    TempDir dir;
    test::SmallDisk other(dir / "other", 1024);
    std::vector<std::string> paths = {dir / "a/1.dcm", dir / "a/2.dcm", dir / "b/BadObjects/3.err", dir / "gone/4.dcm",
                                      dir / "a/deleted.dcm"};
    if (other.mounted()) paths.push_back(other.path() + "/5.dcm");
    for (const auto& p : paths) test::writeFile(p, "x");
    std::filesystem::remove_all(dir / "gone");
    std::filesystem::remove(dir / "a/deleted.dcm");
    // A copy of a read-only object keeps the attribute, as a quarantine copy
    // of a CD's file does; a user who is not root may not open it for writing.
    test::writeFile(dir / "disc/IMG.Z", "x");
    std::filesystem::permissions(dir / "disc/IMG.Z", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::others_read);
    FileSystem().CopyFile(dir / "disc/IMG.Z", dir / "b/BadObjects/IMG.err", false);
    paths.push_back(dir / "b/BadObjects/IMG.err");
    const auto failures = FileSystem().FlushToStableStorage(paths);
    for (const auto& f : failures)
        ADD_FAILURE() << f.path << ": " << f.error.description() << " (" << f.error.origin() << ")";
    std::filesystem::permissions(dir / "disc/IMG.Z", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
}

}  // namespace
}  // namespace jor
