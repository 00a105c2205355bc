// What a decompressor's exit code and standard error put into the error log.
#include "migration/decompressor_outcome.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

// As the error log shows it, less the procedure and the file; "" for no line.
std::string lineOf(const std::optional<DecompressorFailure>& failure) {
    return failure ? std::to_string(failure->number) + " - " + failure->description : "";
}

TEST(DecompressorOutcome, ExitCodeAndLastLine) {
    const std::string at = "gunzip.exe: /tmp/TempOrvek/IMG0001.dcm.z: ";
    const std::string own = "-1 - File IMG0001.Z could not be decompressed: ";
    const struct {
        const char* name;
        int exitCode;
        std::string errorOutput;
        std::string line;
    } cases[] = {
        {"success", 0, "", ""},
        {"success, whatever it said", 0, at + "No space left on device\n", ""},
        {"a warning only", 2, at + "decompression OK, trailing garbage ignored\n", ""},
        {"the platform cannot tell", -1, at + "Permission denied\n", ""},
        {"full disk", 1, at + "No space left on device\n", "61 - Disk full"},
        {"quota", 1, at + "Disk quota exceeded", "61 - Disk full"},
        {"file too large", 1, at + "File too large", "61 - Disk full"},
        {"no permission", 1, at + "Permission denied", "70 - Permission denied"},
        {"read-only", 1, at + "Read-only file system", "70 - Permission denied"},
        {"device", 1, at + "Input/output error", "57 - Device I/O error"},
        {"gone", 1, at + "No such file or directory", "53 - File not found"},
        {"memory", 1, at + "Cannot allocate memory", "7 - Out of memory"},
        {"the system's text alone", 1, "No space left on device", "61 - Disk full"},
        {"the system's text ending its own", 1, at + "not quite No space left on device",
         own + at + "not quite No space left on device"},
        {"a broken object", 1, at + "invalid compressed data--format violated\n",
         own + at + "invalid compressed data--format violated"},
        {"only the last line counts", 1, at + "No space left on device\n" + at + "unexpected end of file\n",
         own + at + "unexpected end of file"},
        {"the last line counts, full disk", 1, at + "unexpected end of file\r\n" + at + "No space left on device\r\n",
         "61 - Disk full"},
        {"blanks and line ends after it", 1, "first\r\nlast \r\n \n", own + "last"},
        {"silent", 4, "", own + "gunzip.exe ended with code 4."},
        {"only blanks", 1, " \r\n\n", own + "gunzip.exe ended with code 1."},
        {"a signal", 139, "", own + "gunzip.exe ended with code 139."},
        {"a Windows exception", -1073741819, "", own + "gunzip.exe ended with code -1073741819."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lineOf(decompressorOutcome(c.exitCode, c.errorOutput, "IMG0001.Z")), c.line) << c.name;
}

}  // namespace
}  // namespace jor
