// gunzip.exe under Wine against the host's gzip: each case prepares the same
// folder twice, runs `gzip -d` on the host in one and our gunzip.exe in the
// other, and compares what is left (names, contents, the read-only
// attribute) and the exit status. Links, modes, pipes and times, which
// Windows has otherwise or not at all, are compared on Linux only.
#include "gunzip/corpus.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "support/host_tool.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

namespace jor::test {

std::string through(const std::string& command, const std::string& content) {
    static const TempDir scratch;
    writeFile(scratch / "in", content);
    writeFile(scratch / "out", "");
    // compress exits with 2 when its output is not smaller than its input.
    EXPECT_TRUE(onHost(command + " < \"$1\" > \"$2\"; [ $? -le 2 ]", {scratch / "in", scratch / "out"})) << command;
    return readFile(scratch / "out");
}

namespace {

namespace stdfs = std::filesystem;

// Everything in `folder`, one line per entry, and the exit status.
std::string describe(const std::string& folder, int exitStatus) {
    std::map<std::string, std::string> lines;
    for (const auto& e : stdfs::directory_iterator(fsPath(folder))) {
        const std::string name = utf8Of(e.path().filename());
        std::string line = name;
        if (e.is_directory()) {
            line += " folder";
        } else {
            const std::string content = readFile(pathUnder(folder, name));
            const auto crc =
                crc32(0, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
            const bool readOnly = (e.status().permissions() & stdfs::perms::owner_write) == stdfs::perms::none;
            line += " " + std::to_string(content.size()) + " bytes crc " + std::to_string(crc) +
                    (readOnly ? " read-only" : "");
        }
        lines[name] = line;
    }
    std::string text = "exit " + std::to_string(exitStatus) + "\n";
    for (const auto& [name, line] : lines) text += "  " + line + "\n";
    return text;
}

int gzipOnHost(const std::vector<std::string>& options, const std::string& operand, const std::string& folder) {
    std::string call = "gzip";
    for (const auto& o : options) call += " " + o;
    const std::string status = folder + ".status";
    writeFile(status, "");
    EXPECT_TRUE(onHost(call + " \"$1\" 2>/dev/null; echo $? > \"$2\"", {pathUnder(folder, operand), status}));
    const int code = std::stoi(readFile(status));
    stdfs::remove(fsPath(status));
    return code;
}

ChildProcess gunzipExe(std::vector<std::string> arguments) {
    auto child = ChildProcess::start(pathUnder(JOR_PROGRAM_DIR, "gunzip.exe"), arguments);
    EXPECT_TRUE(child.waitUntilEnded({}, {}));
    return child;
}

// `verbatim`: the \\?\ form, as the program hands it over.
int ours(const std::vector<std::string>& options, const std::string& operand, const std::string& folder,
         bool verbatim) {
    std::vector<std::string> arguments = options;
    const std::string path = pathUnder(folder, operand);
    arguments.push_back(verbatim ? fileArgument(path) : path);
    return gunzipExe(arguments).exitCode();
}

struct Case {
    std::string name;
    std::string object;  // written as `file`, unless `file` is empty
    std::string file = "IMG.dcm.z";
    std::function<void(const std::string& folder)> prepare = {};
    std::vector<std::string> options = {"-d", "-f"};
    std::string operand = {};  // `file` when empty
    bool readOnly = false;
    bool verbatim = false;
};

TEST(Differential, LeavesWhatGzipLeaves) {
    const std::string small = text(5000, 3), large = text(2000000, 4), big = mixed();
    const std::string valid = gz(small), validLarge = gz(large), dotZ = lzw(small), dotZLarge = lzw(big);
    const auto older = [](const std::string& f) { writeFile(pathUnder(f, "IMG.dcm"), "an older output"); };
    const Case cases[] = {
        {"valid", valid},
        {"valid, larger than the read and write buffers", validLarge},
        {"empty file", ""},
        {"gzip of nothing", gz("")},
        {"corrupt CRC", flipped(valid, valid.size() - 6)},
        {"corrupt deflate data", flipped(validLarge, validLarge.size() / 2)},
        {"two members", valid + gz(large)},
        {"trailing garbage", valid + "garbage"},
        {"trailing zeros", valid + std::string(3000, '\0')},
        {"header fields", member(small, 0x1e,
                                 std::string("\x02\0ab"
                                             "NAME\0c\0",
                                             11))},
        {"not compressed at all", "plain DICOM bytes, not packed"},
        {".Z", dotZ},
        {".Z with CLEAR codes, larger than the buffers", dotZLarge},
        {".Z of 9-bit codes", lzw(big, 9)},
        {".Z cut in the middle", cut(dotZLarge, dotZLarge.size() / 3)},
        {".Z corrupt in the middle", flipped(dotZLarge, dotZLarge.size() / 2, 0xff)},
        {"cut after 10 bytes", cut(validLarge, 10)},
        {"cut 8 bytes short", cut(validLarge, validLarge.size() - 8)},
        {"output exists", valid, "IMG.dcm.z", older},
        {"output exists, input corrupt", flipped(valid, valid.size() - 6), "IMG.dcm.z", older},
        {"output exists, no -f", valid, "IMG.dcm.z", older, {"-d"}},
        {"output name is a folder", valid, "IMG.dcm.z",
         [](const std::string& f) { makeFolders(pathUnder(f, "IMG.dcm")); }},
        {"read-only input", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, true},
        {"input is a folder",
         "",
         "",
         [](const std::string& f) { makeFolders(pathUnder(f, "IMG.dcm.z")); },
         {"-d", "-f"},
         "IMG.dcm.z"},
        {"input missing", "", "", {}, {"-d", "-f"}, "IMG.dcm.z"},
        {"suffix .Z", valid, "IMG.dcm.Z"},
        {"suffix -gz", valid, "IMG-gz"},
        {"no known suffix", valid, "IMG.dcm"},
        {"name without suffix, the file has one", valid, "IMG.dcm.z", {}, {"-d", "-f"}, "IMG.dcm"},
        {"\\\\?\\ path", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, false, true},
        {"\\\\?\\ path, read-only input", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, true, true},
        {"\\\\?\\ path, output exists", valid, "IMG.dcm.z", older, {"-d", "-f"}, {}, false, true},
        {"\\\\?\\ path without suffix, the file has one", valid, "IMG.dcm.z", {}, {"-d", "-f"}, "IMG.dcm", false, true},
    };
    TempDir root;
    int index = 0;
    for (const Case& c : cases) {
        const std::string theirs = root / ("gzip" + std::to_string(index)),
                          mine = root / ("ours" + std::to_string(index++));
        for (const auto& folder : {theirs, mine}) {
            makeFolders(folder);
            if (!c.file.empty()) writeFile(pathUnder(folder, c.file), c.object, c.readOnly ? 0444 : 0644);
            if (c.prepare) c.prepare(folder);
        }
        const std::string operand = c.operand.empty() ? c.file : c.operand;
        const std::string gzipLeft = describe(theirs, gzipOnHost(c.options, operand, theirs));
        EXPECT_EQ(describe(mine, ours(c.options, operand, mine, c.verbatim)), gzipLeft) << "case: " << c.name;
    }
}

// A name Win32 reads as a device is a file to gzip, whether the path comes
// in the \\?\ form or plain (from someone other than the program).
TEST(GunzipNames, DeviceNamesAreFiles) {
    TempDir root;
    const FileSystem fs;
    const std::string content = text(5000, 5);
    for (const std::string base : {"CON", "aux", "LPT1", "nul"}) {
        for (const bool verbatim : {true, false}) {
            SCOPED_TRACE(base + (verbatim ? " as \\\\?\\ path" : " as plain path"));
            const std::string input = root / (base + ".dcm.z"), output = root / (base + ".dcm");
            fs.WriteFileAtomically(input, gz(content));
            const ChildProcess child = gunzipExe({"-d", "-f", verbatim ? fileArgument(input) : input});
            EXPECT_EQ(child.exitCode(), 0);
            EXPECT_EQ(child.errorOutput(), "");
            EXPECT_FALSE(fs.FileExists(input));
            ASSERT_TRUE(fs.FileExists(output));
            EXPECT_EQ(fs.ReadWholeFile(output), content);
            fs.DeleteFile(output);
        }
    }
}

// Complaints name the path as a reader knows it, in gzip's English words.
TEST(GunzipNames, ComplaintsNameTheUsualPath) {
    TempDir root;
    const std::string missing = root / "IMG.dcm.z";
    const ChildProcess child = gunzipExe({"-d", "-f", fileArgument(missing)});
    EXPECT_EQ(child.exitCode(), 1);
    EXPECT_EQ(child.errorOutput(), "gunzip.exe: " + missing + ": No such file or directory\n");
}

}  // namespace
}  // namespace jor::test
