// The quarantine: copies keep the medium's bytes and never overwrite; an unwritable log holds nothing back.
#include "migration/quarantine_fixture.h"

namespace jor::test {
namespace {

using namespace std::string_literals;

// The object as the medium holds it, under the shortened name; a later
// failure of the same object never overwrites it.
TEST_F(Quarantine, CopiesKeepTheMediumBytesAndNeverOverwrite) {
    const std::string medium = "\x1F\x9D\x90\0\xFF compressed"s;
    quarantine("IMAGE001.ARZ", medium);
    EXPECT_EQ(readFile(src + "/IMAGE001.ARZ"), medium);
    EXPECT_FALSE(exists(engine.state().WorkingPath));
    EXPECT_EQ(errorLines(), std::vector<std::string>{notMigrated("IMAGE001.ARZ")});
    quarantine("IMAGE001.ARZ", "second");
    EXPECT_EQ(filesIn(bad), (std::vector<std::string>{"IMAGE001.err", "IMAGE0012.err"}));
    EXPECT_EQ(readFile(bad + "/IMAGE001.err"), medium);
    EXPECT_EQ(readFile(bad + "/IMAGE0012.err"), "second");
    EXPECT_EQ(errorLines().size(), 2u);
}

TEST_F(Quarantine, FailuresAfterTheFirstLine) {
    struct Case {
        const char* name;
        std::string object;
        bool removeMedium, withWorkingCopy;
        std::string secondLine;
        std::vector<std::string> copies;
        bool workingCopyStays;
    };
    const Case cases[] = {
        {"name shorter than 4",
         "A.Z",
         false,
         true,
         "5 - Invalid procedure call or argument - ScanFolder - A.Z",
         {},
         true},
        {"working copy already gone",
         "IMAGE001.ARZ",
         false,
         false,
         "53 - File not found - ScanFolder - IMAGE001.ARZ",
         {"IMAGE001.err"},
         false},
        {"medium file gone", "IMAGE002.ARZ", true, true, "53 - File not found - ScanFolder - IMAGE002.ARZ", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(fsPath(dst));
        std::filesystem::remove_all(fsPath(prog + "/Logs"));
        makeFolders(dst);
        writeFile(src + "/" + c.object, "medium");
        makeFolders(work);
        engine.state().CurrentFileName = c.object;
        engine.state().WorkingPath = work + "/" + c.object + ".dcm.z";
        if (c.withWorkingCopy) writeFile(engine.state().WorkingPath, "working copy");
        if (c.removeMedium) std::filesystem::remove(fsPath(src + "/" + c.object));

        engine.QuarantineBadObject(FileEntry{c.object, src + "/" + c.object});

        EXPECT_EQ(errorLines(), (std::vector<std::string>{notMigrated(c.object), c.secondLine}));
        EXPECT_TRUE(std::filesystem::is_directory(fsPath(bad)));
        EXPECT_EQ(filesIn(bad), c.copies);
        EXPECT_EQ(exists(engine.state().WorkingPath), c.workingCopyStays);
    }
}

TEST_F(Quarantine, UnwritableLogDoesNotKeepTheObjectBack) {
    writeFile(prog + "/Logs", "not a folder");
    quarantine("IMAGE001.ARZ", "medium");
    EXPECT_EQ(readFile(bad + "/IMAGE001.err"), "medium");
    EXPECT_FALSE(exists(engine.state().WorkingPath));
}

}  // namespace
}  // namespace jor::test
