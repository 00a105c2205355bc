// The one table of cases where gunzip.exe must leave what the host's gzip leaves, on every platform.
// Each case prepares the same folder twice, runs `gzip -d` in one and our gunzip.exe in the other,
// and compares what is left and the exit status, as far as the platform has it (linux/, win32/).
#include "gunzip/corpus.h"
#include "platform/path.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

namespace jor::test {
namespace {

using namespace std::string_literals;

std::vector<Case> cases() {
    const std::string small = text(5000, 3), large = text(2000000, 4), big = mixed();
    const std::string valid = gz(small), validLarge = gz(large), dotZ = lzw(small), dotZLarge = lzw(big);
    // A member that fills gzip's first read exactly, padded by its extra field.
    const std::string blockFiller = [] {
        const std::string content = noise(220000, 5);
        const size_t pad = 0x40000 - member(content, 0x04, "\0\0"s).size();
        return member(content, 0x04,
                      std::string{static_cast<char>(pad & 0xff), static_cast<char>(pad >> 8)} + std::string(pad, 'x'));
    }();
    const auto file = [](std::string name, std::string content, mode_t mode = 0644) {
        return [=](const std::string& folder) { writeFile(pathUnder(folder, name), content, mode); };
    };

    std::vector<Case> all = {
        {"valid", valid},
        {"valid, larger than the read and write buffers", validLarge},
        {"empty file", ""},
        {"gzip of nothing", gz("")},
        {"corrupt CRC", flipped(valid, valid.size() - 6)},
        {"corrupt length", flipped(valid, valid.size() - 2)},
        {"corrupt deflate data", flipped(validLarge, validLarge.size() / 2)},
        {"two members", valid + gz(large)},
        {"two members, the second empty", valid + gz("")},
        {"trailing garbage", valid + "garbage"},
        {"trailing zeros", valid + std::string(3000, '\0')},
        {"one trailing zero", valid + '\0'},
        {"trailing zeros, then garbage", valid + "\0\0\0x"s},
        {"one trailing byte", valid + "x"},
        {"trailing gzip magic only", valid + "\x1f\x8b"},
        {"trailing zip signature", valid + "PK\3\4 not a zip"},
        {"zip signature where gzip's second read begins",
         blockFiller + "PK\3\4 not a zip",
         "IMG.dcm.z",
         {},
         {"-d", "-f"},
         {},
         0644,
         true},
        {"zip signature a byte after gzip's second read begins", blockFiller + "\0PK\3\4 not a zip"},
        {"a .Z stream after a gzip member", valid + dotZ},
        {"stored name and comment are ignored", member(small, 0x18, "OTHER.NAME\0comment\0"s)},
        {"extra field", member(small, 0x04, "\x05\0abcde"s)},
        {"header checksum", member(small, 0x1e,
                                   "\x02\0ab"
                                   "NAME\0c\0"s)},
        {"wrong header checksum", member(small, 0x02, "", false)},
        {"old gzip magic", member(small, 0, "", true, "\x1f\x9e\x08")},
        {"unknown method", member(small, 0, "", true, "\x1f\x8b\x07")},
        {"reserved flag", member(small, 0x40)},
        {"encrypted flag", member(small, 0x20)},
        {"second member with an unknown method",
         valid + member(small, 0, "", true, "\x1f\x8b\x07"),
         "IMG.dcm.z",
         {},
         {"-d", "-f"},
         {},
         0644,
         true},
        {"second member with a reserved flag",
         valid + member(small, 0x80),
         "IMG.dcm.z",
         {},
         {"-d", "-f"},
         {},
         0644,
         true},
        {"second member cut in its header", valid + cut(valid, 6)},
        {"not compressed at all", "plain DICOM bytes, not packed"},
        {"one byte", "x"},
        {"one zero byte", "\0"s},
        {".Z", dotZ},
        {".Z with CLEAR codes, larger than the buffers", dotZLarge},
        {".Z of nothing", lzw("")},
        {".Z header only", cut(dotZ, 3)},
        {".Z cut in its header", cut(dotZ, 2)},
        {".Z cut in the middle", cut(dotZLarge, dotZLarge.size() / 3)},
        {".Z cut one byte short", cut(dotZLarge, dotZLarge.size() - 1)},
        {".Z corrupt in the middle", flipped(dotZLarge, dotZLarge.size() / 2, 0xff)},
        {".Z first code not a byte", "\x1f\x9d\x90\xff\xff\xff\xff"s},
        {".Z code beyond the table", "\x1f\x9d\x90\x41\xfe\xff"s},
        {".Z unknown flag", flipped(dotZ, 2, 0x20)},
        {".Z without block mode", flipped(dotZLarge, 2, 0x80)},
        {".Z of 17 bits", flipped(dotZ, 2, 0x01), "IMG.dcm.z", {}, {"-d", "-f"}, {}, 0644, true},
        {"output exists", valid, "IMG.dcm.z", file("IMG.dcm", "an older output")},
        {"output exists, input not compressed", "plain", "IMG.dcm.z", file("IMG.dcm", "an older output")},
        {"output exists, input corrupt", flipped(valid, valid.size() - 6), "IMG.dcm.z",
         file("IMG.dcm", "an older output")},
        {"output exists, no -f", valid, "IMG.dcm.z", file("IMG.dcm", "an older output"), {"-d"}},
        {"output name is a folder", valid, "IMG.dcm.z",
         [](const std::string& f) { makeFolders(pathUnder(f, "IMG.dcm")); }},
        {"read-only input", valid, "IMG.dcm.z", {}, {"-d", "-f"}, {}, 0444},
        {"input is a folder",
         "",
         "",
         [](const std::string& f) { makeFolders(pathUnder(f, "IMG.dcm.z")); },
         {"-d", "-f"},
         "IMG.dcm.z"},
        {"input missing", "", "", {}, {"-d", "-f"}, "IMG.dcm.z"},
        {"suffix .Z", valid, "IMG.dcm.Z"},
        {"suffix .GZ", valid, "IMG.GZ"},
        {"suffix .tgz", valid, "A.tgz"},
        {"suffix .TAZ", valid, "A.TAZ"},
        {"suffix -gz", valid, "IMG-gz"},
        {"suffix _z", valid, "IMG_z"},
        {"no known suffix", valid, "IMG.dcm"},
        {"nothing but the suffix", valid, ".z"},
        {"name without suffix, the file has one", valid, "IMG.dcm.z", {}, {"-d", "-f"}, "IMG.dcm"},
        {"name without suffix, nothing there", "", "", {}, {"-d", "-f"}, "IMG.dcm"},
    };

    for (const int bits : {9, 10, 11, 12, 13, 14, 15, 16})
        all.push_back({".Z of " + std::to_string(bits) + "-bit codes", lzw(big, bits)});
    for (const size_t at : {1, 2, 5, 10, 11, 100})
        all.push_back({"cut after " + std::to_string(at) + " bytes", cut(validLarge, at)});
    for (const size_t left : {validLarge.size() / 2, size_t{8}, size_t{5}, size_t{1}})
        all.push_back({"cut " + std::to_string(left) + " bytes short", cut(validLarge, validLarge.size() - left)});
    for (auto& c : platformCases(valid)) all.push_back(std::move(c));
    return all;
}

// Prepares `folder` for `c`; returns its description before the run.
std::string prepare(const Case& c, const std::string& folder) {
    makeFolders(folder);
    if (!c.file.empty()) writeFile(pathUnder(folder, c.file), c.object, c.mode);
    if (c.prepare) c.prepare(folder);
    settle(folder);
    return describe(folder, 1);
}

TEST(Differential, LeavesWhatGzipLeaves) {
    TempDir root;
    int index = 0;
    for (const Case& c : cases()) {
        const std::string theirs = root / ("gzip" + std::to_string(index)),
                          mine = root / ("ours" + std::to_string(index++));
        prepare(c, theirs);
        const std::string before = prepare(c, mine);
        const std::string operand = c.operand.empty() ? c.file : c.operand;
        const std::string gzipLeft = describe(theirs, gzipOnHost(c.options, pathUnder(theirs, operand)));
        const std::string weLeft = describe(mine, ours(c, pathUnder(mine, operand)));
        if (c.gzipLosesTheInput)
            EXPECT_EQ(weLeft, before) << "case: " << c.name << "\n(gzip left:\n" << gzipLeft << ")";
        else
            EXPECT_EQ(weLeft, gzipLeft) << "case: " << c.name;
    }
}

}  // namespace
}  // namespace jor::test
