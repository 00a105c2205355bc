// What a decompressor's exit code and standard error put into the error log.
#include "migration/decompressor_outcome.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(DecompressorOutcome, ExitCodeAndLastLine) {
    const std::string at = "gunzip.exe: /tmp/TempOrvek/IMG0001.dcm.z: ";
    const std::string own = "-1 - File IMG0001.Z could not be decompressed: ";
    // The line as the error log shows it, less procedure and file; "" for none.
    const struct {
        const char* name;
        int exitCode;
        std::string errorOutput;
        std::string line;
    } cases[] = {
        {"success, whatever it said", 0, at + "No space left on device\n", ""},
        {"a warning only", 2, at + "decompression OK, trailing garbage ignored\n", ""},
        {"the platform cannot tell", -1, at + "Permission denied\n", ""},
        {"full disk", 1, at + "No space left on device\n", "61 - Disk full"},
        {"read-only", 1, at + "Read-only file system", "70 - Permission denied"},
        {"the system's text alone", 1, "Input/output error", "57 - Device I/O error"},
        {"the system's text ending its own", 1, at + "not No space left on device",
         own + at + "not No space left on device"},
        {"only the last line counts", 1, at + "No space left on device\n" + at + "unexpected end of file\n",
         own + at + "unexpected end of file"},
        {"line ends and blanks after it", 1, "first\r\n" + at + "File too large \r\n \n", "61 - Disk full"},
        {"silent", 4, " \r\n", own + "gunzip.exe ended with code 4."},
        {"a Windows exception", -1073741819, "", own + "gunzip.exe ended with code -1073741819."},
    };
    for (const auto& c : cases) {
        const auto failure = decompressorOutcome(c.exitCode, c.errorOutput, "IMG0001.Z");
        EXPECT_EQ(failure ? std::to_string(failure->number) + " - " + failure->description : "", c.line) << c.name;
    }
}

}  // namespace
}  // namespace jor
