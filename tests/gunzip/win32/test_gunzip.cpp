// gunzip.exe under Wine against the host's gzip: the \\?\ cases, a folder's names, contents and read-only attribute, device names, complaints.
#include "gunzip/corpus.h"
#include "platform/child_process.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "support/host_tool.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <filesystem>
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

namespace stdfs = std::filesystem;

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

void settle(const std::string&) {}

int gzipOnHost(const std::vector<std::string>& options, const std::string& path) {
    std::string call = "gzip";
    for (const auto& o : options) call += " " + o;
    const std::string status = path.substr(0, path.find_last_of('\\')) + ".status";  // beside the folder
    writeFile(status, "");
    EXPECT_TRUE(onHost(call + " \"$1\" 2>/dev/null; echo $? > \"$2\"", {path, status}));
    const int code = std::stoi(readFile(status));
    stdfs::remove(fsPath(status));
    return code;
}

namespace {

ChildProcess gunzipExe(std::vector<std::string> arguments) {
    auto child = ChildProcess::start(pathUnder(JOR_PROGRAM_DIR, "gunzip.exe"), arguments);
    EXPECT_TRUE(child.waitUntilEnded({}, {}));
    return child;
}

}  // namespace

int ours(const Case& c, const std::string& path) {
    std::vector<std::string> arguments = c.options;
    arguments.push_back(c.verbatim ? fileArgument(path) : path);
    return gunzipExe(arguments).exitCode();
}

std::vector<Case> platformCases(const std::string& valid) {
    const auto older = [](const std::string& f) { writeFile(pathUnder(f, "IMG.dcm"), "an older output"); };
    return {
        {.name = "\\\\?\\ path", .object = valid, .verbatim = true},
        {.name = "\\\\?\\ path, read-only input", .object = valid, .mode = 0444, .verbatim = true},
        {.name = "\\\\?\\ path, output exists", .object = valid, .prepare = older, .verbatim = true},
        {.name = "\\\\?\\ path without suffix, the file has one",
         .object = valid,
         .operand = "IMG.dcm",
         .verbatim = true},
    };
}

namespace {

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
