// Decompressor faults: missing, crashing, failing, held up while the window closes.
#include "migration/linux/fault_fixture.h"
#include "support/processes.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace jor::test {
namespace {

TEST_F(FaultDecompressor, Missing) {
    typicalMedium();
    run();
    const auto tally = expectEveryFileAccountedFor();
    EXPECT_EQ(tally.logged, 3);
    EXPECT_EQ(w.eventsStartingWith("box stop|").size(), 3u);
}

// Whatever the decompressor does, only the file it leaves decides.
TEST_F(FaultDecompressor, CrashesOrWritesGarbage) {
    const struct {
        const char* name;
        std::string script;
    } cases[] = {
        {"crashes", "kill -SEGV $$"},
        {"crashes after writing half", "head -c 100 \"$3\" > \"${3%.z}\"; kill -SEGV $$"},
        {"writes garbage", "printf 'garbage\\001\\002 no layout' > \"${3%.z}\""},
        {"writes garbage with a 0x00 and no end marker", "printf 'head\\000garbage' > \"${3%.z}\""},
        {"leaves a folder as its output", "mkdir \"${3%.z}\""},
    };
    typicalMedium();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startOverWithFakeDecompressor(c.script);
        run();
        const auto tally = expectEveryFileAccountedFor();
        EXPECT_EQ(tally.migrated, 0);
    }
}

// What the decompressor says when it fails is logged for the object besides
// what its content leads to; a system failure keeps its classic number.
TEST_F(FaultDecompressor, ItsReasonForFailingIsLogged) {
    const std::string setAside = "-1 - File BAD00001.Z could not be migrated. - CorrectImage";
    const struct {
        const char* name;
        std::string script;
        std::string line;
    } cases[] = {
        {"full disk", "echo \"gunzip.exe: $3: No space left on device\" >&2; exit 1",
         "61 - Disk full - ScanFolder - BAD00001.Z"},
        {"no permission", "echo \"gunzip.exe: $3: Permission denied\" >&2; exit 1",
         "70 - Permission denied - ScanFolder - BAD00001.Z"},
        {"broken object, last line counts",
         "echo 'gunzip.exe: first complaint' >&2; echo 'gunzip.exe: x.dcm.z: invalid compressed data' >&2; exit 1",
         "-1 - File BAD00001.Z could not be decompressed: gunzip.exe: x.dcm.z: invalid compressed data - ScanFolder"},
        {"control characters in the reason", "printf 'gunzip.exe: \\033]0;title\\007 broken\\r\\n' >&2; exit 1",
         "-1 - File BAD00001.Z could not be decompressed: gunzip.exe: \\x1B]0;title\\x07 broken - ScanFolder"},
        {"silent", "exit 4",
         "-1 - File BAD00001.Z could not be decompressed: gunzip.exe ended with code 4. - ScanFolder"},
    };
    medium("BAD00001.Z", "packed object");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        startOverWithFakeDecompressor(c.script);
        run();
        EXPECT_EQ(errorLines(), (std::vector<std::string>{c.line, setAside}));
        EXPECT_EQ(expectEveryFileAccountedFor().setAside, 1);
    }
}

// Our own child of that name that has not ended, or 0.
pid_t ownChildNamed(const std::string& name) {
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        const std::string pid = e.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        // "<pid> (<name>) <state> <parent> ..."
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == ::getpid() && state != 'Z' && stat.substr(open + 1, close - open - 1) == name)
            return std::stoi(pid);
    }
    return 0;
}

// The real decompressor, held up in the middle of a large object as a
// stalled disk would hold it: closing the window ends it.
TEST_F(FaultDecompressor, RealDecompressorHeldUpWhileTheWindowIsClosed) {
    useRealDecompressor();
    // 256 MB once decompressed: still at work when the wait first yields.
    std::string zeros = packed("gzip", std::string(1 << 20, '\0')), members;
    for (int i = 0; i < 256; ++i) members += zeros;
    medium("HUGE0001.Z", members);
    medium("LATER/GOOD0001.Z", packed("gzip", archived(payloadOf("G1"))), payloadOf("G1"));
    pid_t heldUp = 0;
    int yieldsWhileHeldUp = 0;
    w.onYield = [&] {
        if (heldUp == 0 && (heldUp = ownChildNamed("gunzip.exe")) != 0) ::kill(heldUp, SIGSTOP);
        if (heldUp != 0 && ++yieldsWhileHeldUp == 20) stopFromYield(false);
    };
    run();
    ASSERT_GT(heldUp, 0) << "the decompressor was never seen at work";
    const bool ended = hasEnded(heldUp, std::chrono::seconds(10));
    if (!ended) ::kill(heldUp, SIGKILL);
    EXPECT_TRUE(ended) << "the decompressor is still there";
    EXPECT_EQ(errorLines(), std::vector<std::string>{"18 - User interrupt occurred - ScanFolder - HUGE0001.Z"});
    const auto tally = expectEveryFileAccountedFor(RunEnd::Stopped);
    EXPECT_EQ(tally.unreached, 1) << "LATER is never walked";
}

}  // namespace
}  // namespace jor::test
