// A destination longer than 255 characters, from the settings file through a restart into a run.
#include "migration/conversion_fixture.h"

#include "platform/file_system.h"
#include "platform/path.h"
#include "settings/settings.h"

namespace jor::test {
namespace {

using namespace std::string_literals;

// Folders below `root` up to a path of exactly `length` characters, made one
// level at a time by the program's own file system (on Windows past MAX_PATH
// too). Every path on the way is returned, the last one first.
std::vector<std::string> foldersUpTo(const std::string& root, size_t length, size_t alsoAt) {
    std::vector<std::string> made;
    std::string path = root;
    for (char letter = 'a'; path.size() < length; ++letter) {
        const size_t target = path.size() < alsoAt ? alsoAt : length;
        const size_t left = target - path.size() - 1;
        // Never leave a single character to go: a part needs at least one.
        path += PathSeparator + std::string(left <= 60 ? left : std::min<size_t>(60, left - 2), letter);
        FileSystem().CreateFolder(path);
        made.insert(made.begin(), path);
    }
    return made;
}

// The fault this guards against: the setting came back cut to 255
// characters, which named an existing parent folder; the run put every
// image there, reported success and stored the cut value on close.
TEST_F(Conversion, DestinationOf300CharactersSurvivesARestartAndTakesTheImages) {
    ASSERT_LT(root.path().size(), 200u);
    const auto folders = foldersUpTo(root.path(), 300, 255);
    const std::string dest = folders.front();
    const auto cut = std::find_if(folders.begin(), folders.end(), [](const auto& f) { return f.size() == 255; });
    ASSERT_EQ(dest.size(), 300u);
    ASSERT_NE(cut, folders.end());

    useRealDecompressor();
    const std::string bad = packed("gzip", "HEADER without payload marker\0data"s);
    object("IMG00001.Z", packed("gzip", archived(payload(1))));
    object("IMG00002.Z", packed("gzip", archived(payload(2))));
    object("BAD00001.Z", bad);

    // Typed in the window and stored when it closed; read at the next start.
    writeSettings(prog, SettingsValues{tmp, src, dest, 0, "Arzt und Praxis"});
    const SettingsValues loaded = readSettings(prog);
    ASSERT_EQ(loaded.DestinationPath, dest);
    w.temp = loaded.TempPath, w.source = loaded.SourcePath, w.dest = loaded.DestinationPath, w.pacs = loaded.Pacs;

    run();

    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(2, 3)});
    const FileSystem fs;
    std::vector<std::string> outputs;
    for (const auto& f : fs.GetFolder(dest).files) {
        EXPECT_TRUE(f.name.ends_with(".dcm")) << f.name;
        outputs.push_back(fs.ReadWholeFile(f.path));
    }
    std::sort(outputs.begin(), outputs.end());
    std::vector<std::string> expected{payload(1), payload(2)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputs, expected);
    EXPECT_EQ(fs.ReadWholeFile(pathUnder(pathUnder(dest, "BadObjects"), "BAD000.err")), bad);
    // Nothing landed on the way: each folder above holds the next one alone.
    for (auto f = folders.begin() + 1; f != folders.end(); ++f) {
        const auto listing = fs.GetFolder(*f);
        EXPECT_TRUE(listing.files.empty()) << f->size() << " characters";
        EXPECT_EQ(listing.subFolders.size(), 1u) << f->size() << " characters";
    }

    // Closed again: the value stays whole for the start after.
    writeSettings(prog, loaded);
    EXPECT_EQ(readSettings(prog).DestinationPath, dest);

    // By the program's own means, which reach past MAX_PATH on Windows.
    fs.DeleteFolder(folders.back(), true);
}

}  // namespace
}  // namespace jor::test
