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
        {"base and suffix", "IMG0001.Z", 255, "IMG0001.dcm.z"},
        {"up to the last dot", "A.B.R", 255, "A.B.dcm.z"},
        {"letter case kept", "img.z", 255, "img.dcm.z"},
        {"a dot first", ".Z", 255, ".dcm.z"},
        {"a dot last", "IMG.", 255, "IMG.dcm.z"},
        {"no dot", "DICOMDIR", 255, std::nullopt},
        {"no dot at any limit", "DICOMDIR", 3, std::nullopt},
        {"exactly at the limit", x249 + ".Z", 255, x249 + ".dcm.z"},
        {"one past the limit", x249 + "y.Z", 255, x249 + ".dcm.z"},
        {"a name of 255 bytes", x249 + "yyyy.Z", 255, x249 + ".dcm.z"},
        {"never inside a character", umlauts + ".Z", 255, umlauts.substr(0, 248) + ".dcm.z"},
        {"a small limit", "IMG0001.Z", 10, "IMG0.dcm.z"},
        {"a limit below the suffix", "IMG0001.Z", 4, ".dcm.z"},
    };
    for (const auto& c : cases) EXPECT_EQ(workingCopyName(c.file, c.limit), c.working) << c.name;
}

TEST(WorkingCopy, DecompressedPathDropsTheZ) {
    const struct { const char* working; const char* decompressed; } cases[] = {
        {"/tmp/TempOrvek/IMG0001.dcm.z", "/tmp/TempOrvek/IMG0001.dcm"},
        {"C:\\Temp\\TempOrvek\\A.B.dcm.z", "C:\\Temp\\TempOrvek\\A.B.dcm"},
        {".z", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(decompressedPathOf(c.working), c.decompressed) << c.working;
}

}  // namespace
}  // namespace jor
