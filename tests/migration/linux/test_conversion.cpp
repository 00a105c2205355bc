// Conversion on Linux: mode bits, scripts as the decompressor, hostile names, another gunzip process.
#include "migration/conversion_fixture.h"
#include "platform/child_process.h"

#include <chrono>
#include <csignal>
#include <optional>
#include <sys/stat.h>

namespace jor::test {
namespace {

using namespace std::string_literals;

mode_t currentUmask() {
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// The medium's mode bits (set-user-id, execute) never reach the set-aside copy.
TEST_F(Conversion, QuarantineCopyHasOrdinaryPermissions) {
    useRealDecompressor();
    object("EVIL0001.Z", "#!/bin/sh\necho not an image\n");
    ASSERT_EQ(::chmod((src + "/EVIL0001.Z").c_str(), 04755), 0);
    run();
    struct stat st;
    ASSERT_EQ(::stat((dst + "/BadObjects/EVIL00.err").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~currentUmask());
}

TEST_F(Conversion, DecompressorThatCannotStartIsLoggedOnce) {
    writeFile(prog + "/gunzip.exe", "#!/bin/sh\nexit 0\n", 0644);
    object("IMG0001.Z", "packed");
    run();
    EXPECT_EQ(errorLines(), std::vector<std::string>{"70 - Permission denied - ScanFolder - IMG0001.Z"});
    EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 1)});
    EXPECT_FALSE(exists(dst + "/BadObjects"));
    EXPECT_TRUE(filesIn(dst).empty());
}

// Only the file it leaves decides what becomes of the object, whatever its
// speed; a failing status is logged besides.
TEST_F(Conversion, WhatTheDecompressorLeavesDecides) {
    const std::string good = archived(payload(5));
    writeFile(root / "good.bin", good);
    const std::string failed = "-1 - File OBJ00001.Z could not be decompressed: gunzip.exe ended with code ";
    const struct {
        const char* name;
        std::string script;
        bool migrated;
        std::string statusLine;
    } cases[] = {
        {"slow", "sleep 1\nexec gzip \"$@\"", true, ""},
        {"valid output, failing status", "cp '" + root / "good.bin" + "' \"${3%.z}\"\nexit 3", true,
         failed + "3. - ScanFolder"},
        {"writes nothing", "exit 0", false, ""},
        {"writes garbage", "head -c 4096 /dev/urandom | tr -d '\\000' > \"${3%.z}\"", false, ""},
        {"crashes", "kill -SEGV $$", false, failed + std::to_string(128 + SIGSEGV) + ". - ScanFolder"},
    };
    const std::string medium = packed("gzip", good);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startOverWithFakeDecompressor(c.script);
        object("OBJ00001.Z", medium);

        run();

        std::vector<std::string> lines;
        if (!c.statusLine.empty()) lines.push_back(c.statusLine);
        if (c.migrated) {
            EXPECT_EQ(outputContents(), std::vector<std::string>{payload(5)});
            EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(1, 1)});
        } else {
            EXPECT_TRUE(filesIn(dst).empty());
            EXPECT_EQ(readFile(dst + "/BadObjects/OBJ000.err"), medium);
            EXPECT_EQ(w.boxes(), std::vector<std::string>{reportText(0, 1)});
            lines.push_back("-1 - File OBJ00001.Z could not be migrated. - CorrectImage");
        }
        EXPECT_EQ(errorLines(), lines);
    }
}

TEST_F(Conversion, NamesFromTheMediumAreNeverInterpreted) {
    useRealDecompressor();
    const std::string name = "IMG 'one' \"two\"; $(touch pwned) `touch pwned`.Z";
    object(name, packed("gzip", archived(payload(6))));
    run();
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(6)});
    EXPECT_TRUE(errorLines().empty());
    for (const auto& f : listFiles(root.path())) EXPECT_NE(std::filesystem::path(f).filename(), "pwned") << f;
    EXPECT_FALSE(exists("pwned"));
}

// Any other process whose executable name holds "gunzip.exe", in any letter
// case, keeps the finished conversion waiting until it ends; the window is
// served all the while.
TEST_F(Conversion, AnotherGunzipProcessHoldsTheConversion) {
    useRealDecompressor();
    const std::string decompressed = work + "/GOOD0001.dcm", content = archived(payload(8));
    object("GOOD0001.Z", packed("gzip", content));
    const std::string holder = root / "Archiv-GUNZIP.EXE-Dienst";
    std::filesystem::copy_file("/bin/sleep", holder);
    std::filesystem::permissions(holder, std::filesystem::perms::owner_all);
    ChildProcess held = ChildProcess::start(holder, {"600"});
    std::optional<std::chrono::steady_clock::time_point> decompressedAt;
    int yieldsWhileHeld = 0;
    std::vector<std::string> outputsWhileHeld{"not held"};
    w.onYield = [&] {
        if (held.hasEnded() || !exists(decompressed) || readFile(decompressed).size() != content.size()) return;
        ++yieldsWhileHeld;
        if (!decompressedAt) decompressedAt = std::chrono::steady_clock::now();
        if (std::chrono::steady_clock::now() - *decompressedAt < std::chrono::seconds(1)) return;
        outputsWhileHeld = filesIn(dst);
        held.stop();
    };
    run();
    EXPECT_TRUE(outputsWhileHeld.empty()) << "written while the other process ran";
    EXPECT_GT(yieldsWhileHeld, 10);
    EXPECT_EQ(outputContents(), std::vector<std::string>{payload(8)});
}

}  // namespace
}  // namespace jor::test
