// The file system on Windows: error numbers, attributes, copies, planted links, names and long paths.
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/win32/win_error.h"
#include "platform/win32/windows_api.h"
#include "support/expect_error.h"
#include "support/host_tool.h"
#include "support/temp_tree.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace jor {
namespace {

using test::expectError;
using test::TempDir;

std::wstring wide(const std::string& path) { return test::fsPath(path).wstring(); }

DWORD attributesOf(const std::string& path) { return ::GetFileAttributesW(wide(path).c_str()); }

// A link made on the host, as no program under Wine can make one, and
// removed again before its folder: Wine would remove a folder link's target.
// Wine shows a link to a folder as a reparse point, as Windows does, but a
// link to a file as that file and a broken link not at all; only links to
// folders can therefore be tried here.
class HostLink {
public:
    HostLink(const std::string& target, const std::string& link) : link_(link) {
        made_ = test::onHost("ln -s \"$1\" \"$2\"", {target, link});
    }
    ~HostLink() { test::onHost("rm -f \"$1\"", {link_}); }
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;
    bool made() const { return made_; }

private:
    std::string link_;
    bool made_ = false;
};

TEST(WindowsErrors, LastErrorMapsOntoClassicNumbers) {
    struct Case {
        DWORD code;
        bool folder;
        int32_t number;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, false, 53},   {ERROR_FILE_NOT_FOUND, true, 76},
        {ERROR_PATH_NOT_FOUND, false, 76},   {ERROR_INVALID_NAME, false, 53},
        {ERROR_ACCESS_DENIED, false, 70},    {ERROR_SHARING_VIOLATION, false, 70},
        {ERROR_WRITE_PROTECT, false, 70},    {ERROR_FILE_EXISTS, false, 58},
        {ERROR_ALREADY_EXISTS, false, 58},   {ERROR_DIR_NOT_EMPTY, false, 58},
        {ERROR_DISK_FULL, false, 61},        {ERROR_HANDLE_DISK_FULL, false, 61},
        {ERROR_NOT_READY, false, 57},        {ERROR_CRC, false, 57},
        {ERROR_INVALID_PARAMETER, false, 5}, {ERROR_NOT_ENOUGH_MEMORY, false, 7},
        {ERROR_BAD_EXE_FORMAT, false, 75},
    };
    for (const auto& c : cases) EXPECT_EQ(numberForWinError(c.code, c.folder), c.number) << "code " << c.code;
}

// The working folder is removed only at exactly 16, so every real bit counts.
struct FolderBits {
    DWORD set;
    int32_t reported;
};

void PrintTo(const FolderBits& bits, std::ostream* out) { *out << bits.set << " -> " << bits.reported; }

class FolderAttributesOnWindows : public ::testing::TestWithParam<FolderBits> {};

TEST_P(FolderAttributesOnWindows, AreTheRealBits) {
    TempDir dir;
    const FileSystem fs;
    const std::string folder = dir / "folder";
    fs.CreateFolder(folder);
    EXPECT_EQ(fs.FolderAttributes(folder), 16) << "a new folder";
    ASSERT_TRUE(::SetFileAttributesW(wide(folder).c_str(), GetParam().set));
    const DWORD kept = attributesOf(folder) & ~DWORD(FILE_ATTRIBUTE_DIRECTORY);
    ::SetFileAttributesW(wide(folder).c_str(), FILE_ATTRIBUTE_NORMAL);
    // Wine keeps only hidden and system on a folder.
    if (GetParam().reported != 16 && kept == 0) GTEST_SKIP() << "this file system keeps no bit " << GetParam().set;
    ASSERT_TRUE(::SetFileAttributesW(wide(folder).c_str(), GetParam().set));
    EXPECT_EQ(fs.FolderAttributes(folder), GetParam().reported);
    ::SetFileAttributesW(wide(folder).c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(Bits, FolderAttributesOnWindows,
                         ::testing::Values(FolderBits{FILE_ATTRIBUTE_NORMAL, 16},
                                           FolderBits{FILE_ATTRIBUTE_ARCHIVE, 48},
                                           FolderBits{FILE_ATTRIBUTE_READONLY, 17},
                                           FolderBits{FILE_ATTRIBUTE_HIDDEN, 18}, FolderBits{FILE_ATTRIBUTE_SYSTEM, 20},
                                           // says nothing about the folder's use
                                           FolderBits{FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 16}),
                         [](const auto& info) {
                             return "Set" + std::to_string(info.param.set) + "Reports" +
                                    std::to_string(info.param.reported);
                         });

TEST(WindowsFileSystem, ZeroClearsTheAttributesOfAFile) {
    TempDir dir;
    const FileSystem fs;
    const std::string file = dir / "IM1";
    test::writeFile(file, "x");
    const DWORD visible = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ASSERT_TRUE(::SetFileAttributesW(wide(file).c_str(), visible));
    // Wine keeps hidden and system in an extended attribute, which it writes
    // after taking the write permission away: only root gets it written.
    if ((attributesOf(file) & visible) != visible)
        GTEST_SKIP() << "this Wine, as a user other than root, cannot keep hidden and system on a read-only file";
    fs.SetFileAttributes(file, 0);
    // (Wine reports the archive bit on every file, whatever was set.)
    EXPECT_EQ(attributesOf(file) & visible, 0u);
    fs.SetFileAttributes(file, attr::ReadOnly | attr::Hidden);
    EXPECT_EQ(attributesOf(file) & visible, DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    expectError([&] { fs.SetFileAttributes(dir.path(), 0); }, 53, "a folder");
    fs.SetFileAttributes(file, 0);
}

TEST(WindowsFileSystem, CopyCarriesTheAttributesAndLeavesTheSourceAsItWas) {
    TempDir dir;
    const FileSystem fs;
    const std::string source = dir / "IM1", copy = dir / "copy";
    test::writeFile(source, std::string("\0\xFF data", 7), 0444);
    fs.CopyFile(source, copy, true);
    EXPECT_EQ(test::readFile(copy), std::string("\0\xFF data", 7));
    EXPECT_TRUE(attributesOf(copy) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(attributesOf(source) & FILE_ATTRIBUTE_READONLY);
    fs.CopyFile(source, dir / "working", true, false);
    EXPECT_FALSE(attributesOf(dir / "working") & FILE_ATTRIBUTE_READONLY) << "a copy that carries none";
    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"IM1", "copy", "working"}));
}

TEST(WindowsFileSystem, CopyFailuresLeaveNoPartialFile) {
    TempDir dir;
    const FileSystem fs;
    const std::string source = dir / "IM1", target = dir / "target";
    test::writeFile(source, "new");
    test::writeFile(target, "old");
    test::makeFolders(dir / "folder");

    expectError([&] { fs.CopyFile(dir / "missing", dir / "x", true); }, 53, "missing source");
    expectError([&] { fs.CopyFile(source, dir / "no folder/x", true); }, 76, "missing destination folder");
    expectError([&] { fs.CopyFile(source, target, false); }, 58, "existing target without overwrite");
    expectError([&] { fs.CopyFile(dir / "folder", dir / "x", true); }, 75, "a folder as source");
    EXPECT_EQ(test::readFile(target), "old");

    // A read-only target is not replaced, even with overwrite, as the system's own copy refuses.
    ASSERT_TRUE(::SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_READONLY));
    expectError([&] { fs.CopyFile(source, target, true); }, 70, "read-only target");
    ::SetFileAttributesW(wide(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(test::readFile(target), "old");

    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"IM1", "target"}));
}

// A shared folder may hold names another user planted: a link at the
// destination is replaced, never written through, and no temporary name
// can be foreseen. (Wine shows this link as its target; the host tells.)
TEST(WindowsFileSystem, PlantedLinksAreNeverWrittenThrough) {
    TempDir dir;
    const FileSystem fs;
    const std::string victim = dir / "victim.txt", source = dir / "source.dcm", shared = dir / "shared";
    test::writeFile(victim, "the user's own file");
    test::writeFile(source, "object");
    test::makeFolders(shared);
    const std::string destination = shared + "\\IMG1.dcm.z";
    const struct {
        const char* name;
        std::function<void()> write;
    } cases[] = {
        {"copy", [&] { fs.CopyFile(source, destination, true); }},
        {"write", [&] { fs.WriteFileAtomically(destination, "object"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(test::fsPath(destination));
        HostLink planted(victim, destination);
        ASSERT_TRUE(planted.made());
        c.write();
        EXPECT_EQ(test::readFile(victim), "the user's own file");
        EXPECT_TRUE(test::onHost("[ -f \"$1\" ] && [ ! -L \"$1\" ]", {destination})) << "a file of its own";
        EXPECT_EQ(test::readFile(destination), "object");
        EXPECT_EQ(test::listFiles(shared), std::vector<std::string>{"IMG1.dcm.z"}) << "no temporary file left";
    }
}

// A link to a folder is listed as a file and never followed.
TEST(WindowsFileSystem, LinksAreFilesThatAreNeverFollowed) {
    TempDir dir;
    const FileSystem fs;
    test::makeTree(dir.path(), {"medium/IM1=a", "elsewhere/IM2=b"});
    const std::string medium = dir / "medium", link = medium + "\\FOLDERLINK";
    HostLink folderLink(dir / "elsewhere", link);
    ASSERT_TRUE(folderLink.made());
    const auto listing = fs.GetFolder(medium);
    std::vector<std::string> files;
    for (const auto& f : listing.files) files.push_back(f.name);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"FOLDERLINK", "IM1"}));
    EXPECT_TRUE(listing.subFolders.empty());
    expectError([&] { fs.CopyFile(link, dir / "copy", true); }, 75, "copy");
    EXPECT_FALSE(test::exists(dir / "copy"));
    expectError([&] { fs.CheckPrivateFolder(link); }, 75, "a link as the working folder");
}

// Two paths lead to the same folder exactly when their identities are equal.
TEST(WindowsFileSystem, FolderIdentityFollowsTheFolderNotItsSpelling) {
    TempDir dir;
    const FileSystem fs;
    test::makeTree(dir.path(), {"Work/IM1=a", "Other/"});
    const std::string work = dir / "Work";
    HostLink alias(work, dir / "Alias");
    ASSERT_TRUE(alias.made());
    const auto identity = fs.FolderIdentityOf(work);
    ASSERT_TRUE(identity);
    EXPECT_EQ(fs.GetFolder(work).identity, *identity);
    for (const std::string& same : {work + "\\", dir / "WORK", dir / "Other\\..\\Work", dir / "Alias"})
        EXPECT_EQ(fs.FolderIdentityOf(same), identity) << same;
    EXPECT_NE(fs.FolderIdentityOf(dir / "Other"), identity);
    for (const std::string& none : {dir / "Work\\IM1", dir / "missing", std::string("a\0b", 3)})
        EXPECT_FALSE(fs.FolderIdentityOf(none)) << none;
}

// The working folder must be the user's own: one that another user made,
// or a link in its place, is refused; one of the user's own that others can
// write to is refused until it is prepared, which shuts them out.
TEST(WindowsFileSystem, PrivateFolderIsTheUsersAlone) {
    TempDir dir;
    const FileSystem fs;
    const std::string own = dir / "TempOrvek";
    fs.CreatePrivateFolder(own);
    EXPECT_NO_THROW(fs.CheckPrivateFolder(own));
    EXPECT_EQ(fs.PreparePrivateFolder(own), FolderVerdict::Use);
    expectError([&] { fs.CreatePrivateFolder(own); }, 58, "made twice");
    test::writeFile(own + "\\IMG.dcm.z", "x");
    EXPECT_EQ(test::readFile(own + "\\IMG.dcm.z"), "x") << "the user works inside";

    test::makeTree(dir.path(), {"open/OLD.dcm.z=x", "foreign/", "file=x"});
    ASSERT_TRUE(test::onHost("chmod 777 \"$1\"", {dir / "open"}));
    expectError([&] { fs.CheckPrivateFolder(dir / "open"); }, 70, "open, before");
    EXPECT_EQ(fs.PreparePrivateFolder(dir / "open"), FolderVerdict::MakePrivate);
    EXPECT_NO_THROW(fs.CheckPrivateFolder(dir / "open"));
    EXPECT_EQ(test::readFile(dir / "open\\OLD.dcm.z"), "x");

    const struct {
        std::string path;
        int32_t number;
    } refused[] = {{dir / "file", 75}, {dir / "missing", 76}};
    for (const auto& c : refused) {
        expectError([&] { fs.CheckPrivateFolder(c.path); }, c.number, c.path);
        expectError([&] { fs.PreparePrivateFolder(c.path); }, c.number, c.path);
    }
    if (test::onHost("chown nobody \"$1\" && chmod 777 \"$1\"", {dir / "foreign"})) {
        expectError([&] { fs.CheckPrivateFolder(dir / "foreign"); }, 70, "another user's folder");
        EXPECT_EQ(fs.PreparePrivateFolder(dir / "foreign"), FolderVerdict::OtherOwner);
        EXPECT_TRUE(test::onHost("test \"$(stat -c %a \"$1\")\" = 777", {dir / "foreign"})) << "left as it was";
    }
}

TEST(WindowsFileSystem, TextsThatCannotNameAFileNameNothing) {
    TempDir dir;
    const FileSystem fs;
    test::writeFile(dir / "IM1", "x");
    const std::string withNul = dir.path() + std::string(1, '\0') + "IM1";
    const std::string notUtf8 = dir / "\xFF\xFE";
    // A NUL byte would cut the path short: it is a bad file name.
    for (const auto& path : {withNul, notUtf8, std::string()}) {
        const bool nul = path == withNul;
        EXPECT_FALSE(fs.FileExists(path));
        EXPECT_FALSE(fs.FolderExists(path));
        expectError([&] { fs.GetFolder(path); }, nul ? 52 : 76, "listing");
        expectError([&] { fs.DeleteFile(path); }, nul ? 52 : 53, "deleting");
        expectError([&] { fs.CopyFile(path, dir / "copy", true); }, nul ? 52 : 53, "copying");
    }
    EXPECT_TRUE(fs.FolderExists(dir.path()));
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"IM1"});
}

// Names Windows would otherwise trim or refuse still name their file: a disc
// may hold them, and the trimmed name may be another file.
TEST(WindowsFileSystem, NamesWithTrailingDotsAndLongPaths) {
    TempDir dir;
    const FileSystem fs;
    std::string deep = dir.path();
    for (int i = 0; i < 6; ++i) {
        deep = pathUnder(deep, std::string(60, static_cast<char>('a' + i)));
        fs.CreateFolder(deep);
    }
    ASSERT_GT(deep.size(), 300u);
    const std::string dotted = pathUnder(deep, "IMG. "), plain = pathUnder(deep, "IMG");
    fs.WriteFileAtomically(plain, "plain");
    fs.WriteFileAtomically(dotted, "dotted");
    const auto listing = fs.GetFolder(deep);
    ASSERT_EQ(listing.files.size(), 2u);
    for (const auto& file : listing.files) {
        fs.CopyFile(file.path, file.path + ".copy", false);
        EXPECT_EQ(fs.ReadWholeFile(file.path + ".copy"), file.name == "IMG" ? "plain" : "dotted") << file.name;
    }
    fs.DeleteFile(dotted);
    EXPECT_TRUE(fs.FileExists(plain));
    fs.DeleteFolder(pathUnder(dir.path(), std::string(60, 'a')));
    EXPECT_TRUE(test::listFiles(dir.path()).empty());
}

TEST(WindowsFileSystem, ListingNamesInAnyScript) {
    TempDir dir;
    const FileSystem fs;
    // Greek, Cyrillic, CJK and a character beyond the 16-bit plane.
    const std::vector<std::string> names = {"\xCE\xB1\xCE\xB2", "\xD0\x96.Z", "\xE5\x9B\xBE\xE5\x83\x8F",
                                            "\xF0\x9F\x98\x80"};
    for (const auto& name : names) test::writeFile(dir / name, name);
    fs.CreateFolder(dir / "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0");
    const auto listing = fs.GetFolder(dir.path() + PathSeparator);
    ASSERT_EQ(listing.files.size(), names.size());
    for (const auto& file : listing.files) {
        EXPECT_EQ(file.path, dir.path() + PathSeparator + file.name) << "one separator after one given";
        EXPECT_EQ(fs.ReadWholeFile(file.path), file.name);
    }
    ASSERT_EQ(listing.subFolders.size(), 1u);
    EXPECT_EQ(listing.subFolders[0].name, "\xD0\x9F\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0");
}

TEST(WindowsFileSystem, DeletingWithoutForceSparesReadOnlyContent) {
    TempDir dir;
    const FileSystem fs;
    test::makeTree(dir.path(), {"work/a=1", "work/sub/b=2 [ro]", "file=3 [ro]"});
    expectError([&] { fs.DeleteFolder(dir / "work"); }, 70, "read-only content");
    expectError([&] { fs.DeleteFile(dir / "file"); }, 70, "read-only file");
    EXPECT_EQ(test::listFiles(dir.path()), (std::vector<std::string>{"file", "work/a", "work/sub/b"}));
    expectError([&] { fs.DeleteFile(dir / "work"); }, 53, "a folder as file");
    expectError([&] { fs.DeleteFolder(dir / "file"); }, 76, "a file as folder");
    fs.DeleteFolder(dir / "work", true);
    fs.DeleteFile(dir / "file", true);
    EXPECT_TRUE(test::listFiles(dir.path()).empty());
    EXPECT_FALSE(fs.FolderExists(dir / "work"));
}

// Leftovers of a run cut short go, read-only ones too; a temporary file
// another run is writing (it holds it open) and a folder stay.
TEST(RemoveOwnTemporaryFiles, OnlyWhatNoRunHolds) {
    TempDir dir;
    const std::string held = dir / "jor-00000000000000aa.part", left = dir / "jor-00000000000000bb.part";
    test::writeFile(held, "being written");
    test::writeFile(left, "left over", 0444);
    CreateDirectoryW(wide(dir / "jor-00000000000000cc.part").c_str(), nullptr);
    const HANDLE writer = CreateFileW(wide(held).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    FileSystem().RemoveOwnTemporaryFiles(dir.path());
    EXPECT_EQ(test::listFiles(dir.path()), std::vector<std::string>{"jor-00000000000000aa.part"});
    EXPECT_TRUE(attributesOf(dir / "jor-00000000000000cc.part") & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(writer);
    FileSystem().RemoveOwnTemporaryFiles(dir.path());
    EXPECT_FALSE(test::exists(held)) << "left over once its writer has gone";
}

}  // namespace
}  // namespace jor
