// The hanging decompressor on Linux: a shell script with a worker of its own, reaped once ended.
#include "migration/conversion_fixture.h"
#include "support/processes.h"

#include <cerrno>
#include <csignal>

namespace jor::test {

void HangingDecompressorFixture::useHangingDecompressor() {
    // With a worker of its own, as a decompressor may start one.
    useFakeDecompressor("sleep 60 & echo $! > '" + hangingPid + ".worker'\necho $$ > '" + hangingPid + ".tmp' && mv '" +
                        hangingPid + ".tmp' '" + hangingPid + "'\nwait");
}

void HangingDecompressorFixture::expectHangingDecompressorEnded() {
    // Gone, not a zombie: its end was waited for.
    EXPECT_EQ(::kill(std::stoi(readFile(hangingPid)), 0), -1);
    EXPECT_EQ(errno, ESRCH);
    const pid_t worker = std::stoi(readFile(hangingPid + ".worker"));
    EXPECT_TRUE(hasEnded(worker, std::chrono::seconds(10))) << "the decompressor's worker is still running";
    if (!hasEnded(worker)) ::kill(worker, SIGKILL);
}

}  // namespace jor::test
