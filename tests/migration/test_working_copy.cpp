// The working copy's name, cut to the working folder's limit, and where its content is decompressed to.
#include "migration/working_copy.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(WorkingCopy, NameFromTheMediumsName) {
    std::string umlauts;
    for (int i = 0; i < 126; ++i) umlauts += "\xC3\x84";  // 252 bytes of "Ä"
    const std::string x249(249, 'x');
    const struct {
        const char* name;
        std::string file;
        size_t limit;
        std::optional<std::string> working;
    } cases[] = {
        {"up to the last dot", "img.B.z", 255, "img.B.dcm.z"},
        {"no dot", "DICOMDIR", 255, std::nullopt},
        {"exactly at the limit", x249 + ".Z", 255, x249 + ".dcm.z"},
        {"past the limit", x249 + "yyyy.Z", 255, x249 + ".dcm.z"},
        {"never inside a character", umlauts + ".Z", 255, umlauts.substr(0, 248) + ".dcm.z"},
        {"a limit below the suffix", "IMG0001.Z", 4, ".dcm.z"},
    };
    for (const auto& c : cases) EXPECT_EQ(workingCopyName(c.file, c.limit), c.working) << c.name;
}

TEST(WorkingCopy, DecompressedPathDropsTheZ) {
    EXPECT_EQ(decompressedPathOf("C:\\Temp\\TempOrvek\\A.B.dcm.z"), "C:\\Temp\\TempOrvek\\A.B.dcm");
}

}  // namespace
}  // namespace jor
