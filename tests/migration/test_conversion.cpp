// Packed objects turned into their payloads by the decompressor, and what goes aside or into the logs.
#include "migration/conversion_fixture.h"

#include "platform/file_system.h"
#include "platform/path.h"

namespace jor::test {
namespace {

using namespace std::string_literals;

TEST_F(Conversion, PackedObjectsBecomeTheirPayloadsAndBadOnesAreSetAside) {
    useRealDecompressor();
    const std::string bad = packed("gzip", "HEADER without payload marker\0data"s);
    object("GZIP0001.Z", packed("gzip", archived(payload(1))));
    object("SUB/COMP0001.Z", packed("compress", archived(payload(2))));
    object("BAD00001.Z", bad);
    std::vector<std::string> leftDecompressed;
    w.onMessage = [&](const std::string&) { leftDecompressed = filesIn(work); };

    run();

    std::vector<std::string> expected{payload(1), payload(2)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(outputContents(), expected);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(2, 3)});
    EXPECT_EQ(filesIn(dst + "/BadObjects"), std::vector<std::string>{"BAD000.err"});
    EXPECT_EQ(readFile(dst + "/BadObjects/BAD000.err"), bad);
    for (const auto& f : leftDecompressed) EXPECT_TRUE(f.starts_with("BAD00001")) << f;
    const auto lines = errorLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "-1 - File BAD00001.Z could not be migrated. - CorrectImage");
    for (const auto& l : lines) EXPECT_NE(l.find("BAD00001.Z"), std::string::npos) << l;
}

// An object gzip cannot read leaves nothing behind; what an earlier object
// or run left in the working folder under the same name must not stand in.
TEST_F(Conversion, LeftOverDecompressedFileIsNeverTakenForTheObject) {
    useRealDecompressor();
    makeFolders(work);
    writeFile(work + "/IMG0001.dcm", archived(payload(7)));
    object("IMG0001.Z", "not packed at all");
    run();
    EXPECT_TRUE(outputContents().empty());
    EXPECT_EQ(readFile(dst + "/BadObjects/IMG00.err"), "not packed at all");
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 1)});
}

TEST_F(Conversion, DebugLineOnlyWhenTickedAndOnlyForMigratedObjects) {
    useRealDecompressor();
    object("GOOD0001.Z", packed("gzip", archived(payload(3))));
    object("BAD00001.Z", packed("gzip", "no layout"));
    for (const int32_t value : {0, 1, 2}) {
        SCOPED_TRACE(value);
        std::filesystem::remove_all(fsPath(prog + "/Logs"));
        w.debug = value;
        run();
        const auto migrated = linesContaining(debugLines(), "is migrated.");
        if (value == 1)
            EXPECT_EQ(migrated, std::vector<std::string>{"GOOD0001.Z is migrated."});
        else
            EXPECT_TRUE(debugLines().empty());
    }
}

TEST_F(Conversion, DestinationWithTrailingSeparator) {
    useRealDecompressor();
    object("GOOD0001.Z", packed("gzip", archived(payload(4))));
    w.dest = dst + PathSeparator;
    run();
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(4)});
}

// The working path reaches the decompressor as one argument: on Windows, where
// arguments travel as one command line, a temporary folder with blanks once
// split it in several.
TEST_F(Conversion, TemporaryFolderWithBlanks) {
    useRealDecompressor();
    const std::string blanks = root / "temp folder  with blanks";
    makeFolders(blanks);
    w.temp = blanks;
    object("GOOD0001.Z", packed("gzip", archived(payload(8))));
    run();
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(8)});
    EXPECT_TRUE(errorLines().empty());
    EXPECT_FALSE(exists(workingFolderOf(blanks)));
}

struct ReadableObject {
    const char* name;  // as a test name
    const char* file;
    bool longWorkingPath;
    const char* trailer;  // after the packed object
};

void PrintTo(const ReadableObject& c, std::ostream* out) { *out << c.name; }

class ReadableObjects : public Conversion, public ::testing::WithParamInterface<ReadableObject> {};

// Names Win32 reads as devices, a working path past Windows' 260 characters
// and an object gzip only warns about (exit status 2) are all the
// decompressor can read: each migrates, and nothing is logged.
TEST_P(ReadableObjects, MigrateWithoutAnErrorLine) {
    const ReadableObject& c = GetParam();
    const FileSystem fs;
    useRealDecompressor();
    const std::string deepTop = pathUnder(tmp, std::string(60, 'a'));
    if (c.longWorkingPath) {
        std::string deep = tmp;
        for (char part = 'a'; pathUnder(workingFolderOf(deep), "IMG0001.dcm.z").size() < 260; ++part) {
            deep = pathUnder(deep, std::string(60, part));
            fs.CreateFolder(deep);
        }
        w.temp = deep;
    }
    // Through the platform: the standard library would open the device CON on Windows.
    fs.WriteFileAtomically(pathUnder(src, c.file), packed("gzip", archived(payload(11))) + c.trailer);

    run();

    EXPECT_TRUE(outputContents() == std::vector<std::string>{payload(11)}) << "the payload, once";
    EXPECT_EQ(errorLines(), std::vector<std::string>{});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 1)});
    // The temporary folder's own removal reaches neither such a name nor such a depth on Windows.
    fs.DeleteFolder(src, true);
    if (c.longWorkingPath) fs.DeleteFolder(deepTop, true);
}

INSTANTIATE_TEST_SUITE_P(Decompressor, ReadableObjects,
                         ::testing::Values(ReadableObject{"DeviceNameCon", "CON.Z", false, ""},
                                           ReadableObject{"DeviceNameAux", "aux.R", false, ""},
                                           ReadableObject{"DeviceNameLpt1", "LPT1.Z", false, ""},
                                           ReadableObject{"WorkingPathOf260OrMore", "IMG0001.Z", true, ""},
                                           ReadableObject{"TrailingGarbage", "GARB0001.Z", false, "garbage"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Conversion, MissingDecompressorIsReportedForEveryObject) {
    object("IMG0001.Z", "packed 1");
    object("IMG0002.Z", "packed 2");
    std::vector<std::string> workingCopies;
    w.onMessage = [&](const std::string& box) {
        if (box.starts_with("box info")) workingCopies = filesIn(work);
    };
    run();
    const std::string line = "-1 - GUNZIP.EXE not found. - ScanFolder";
    EXPECT_EQ(errorLines(), (std::vector<std::string>{line, line}));
    const std::string box = "box stop|Jor-Orvek|Datei GUNZIP.EXE konnte nicht gefunden werden.";
    EXPECT_EQ(w.boxes(), (std::vector<std::string>{box, box, reportText(0, 2)}));
    EXPECT_EQ(workingCopies, (std::vector<std::string>{"IMG0001.dcm.z", "IMG0002.dcm.z"}));
    EXPECT_TRUE(filesIn(dst).empty());
    EXPECT_FALSE(exists(work));
}

// The object is read in pieces: wherever the marker falls, also across the
// end of a piece, the output is the payload whole.
TEST_F(Conversion, LargeObjectsAreCutWhereverTheMarkerFalls) {
    useRealDecompressor();
    const std::string wrapper = "ARCHIVE HEADER v2 ";
    std::vector<std::string> expected;
    for (const size_t markerAt : {(1u << 20) - 7, 1u << 20, (2u << 20) + 1}) {
        std::string p = payload(9);
        while (wrapper.size() + p.size() < markerAt)
            p += p.substr(1, std::min(p.size() - 1, markerAt - wrapper.size() - p.size()));
        object("BIG" + std::to_string(markerAt) + ".Z", packed("gzip", wrapper + p + Marker + "tail"));
        expected.push_back(p);
    }
    run();
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(outputContents() == expected);
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(3, 3)});
}

}  // namespace
}  // namespace jor::test
