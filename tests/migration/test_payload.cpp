// The payload after the first 0x00 and before the marker, whole or scanned in chunks cut anywhere.
#include "migration/payload.h"

#include <gtest/gtest.h>

#include <random>

namespace jor {
namespace {

using namespace std::string_literals;

const std::string m = "#*lastfile*#";

struct Layout {
    const char* name;
    std::string content;
    std::string result;
};
const std::vector<Layout>& layouts() {
    static const std::vector<Layout> cases = {
        {"empty", "", "ERROR"},
        {"marker without 0x00", "abc" + m + "def", "ERROR"},
        {"marker only in the wrapper", "ab" + m + "cd\0ef"s, "ERROR"},
        {"no marker", "ab\0cdef"s, "ERROR"},
        {"starts with 0x00", "\0PAYLOAD"s + m, "\0PAYLOAD"s},
        {"0x00 then marker", "W\0"s + m, "\0"s},
        {"wrapper, payload, marker, tail, marker", "ABC\0\1\2"s + m + "XYZ" + m, "\0\1\2"s},
        {"later 0x00 bytes belong to the payload", "W\0a\0b\0"s + m, "\0a\0b\0"s},
        {"high bytes pass unchanged", "W\0\x80\xFF\xE4\xC3\xA4"s + m, "\0\x80\xFF\xE4\xC3\xA4"s},
        {"the text ERROR", "ERROR", "ERROR"},
        {"marker case counts", "W\0x#*LASTFILE*#"s, "ERROR"},
        {"partial marker at the end", "W\0x#*lastfile*"s, "ERROR"},
        {"marker straddling the 0x00 byte", "#*lastf\0ile*#"s + m, "\0ile*#"s},
        {"broken marker before the real one", "W\0#*lastfile*#*lastfile#"s + "#" + m, "\0"s},
        {"marker after a false start", "W\0##*last#*lastfile*#"s, "\0##*last"s},
    };
    return cases;
}

// What the scanner finds, fed `content` in pieces of the given sizes (the
// last size repeats), as the text ExtractPayload would give.
std::string scanned(std::string_view content, const std::vector<size_t>& sizes) {
    PayloadScanner scanner;
    size_t at = 0;
    for (size_t i = 0; at < content.size() && !scanner.done(); ++i) {
        const size_t n = sizes[std::min(i, sizes.size() - 1)];
        scanner.feed(content.substr(at, n));
        at += n;
    }
    const auto slice = scanner.payload();
    return slice ? std::string(content.substr(slice->offset, slice->length)) : "ERROR";
}

TEST(ExtractPayload, Layouts) {
    for (const auto& c : layouts()) EXPECT_EQ(ExtractPayload(c.content), c.result) << c.name;
}

TEST(ExtractPayload, LargePayloadComesBackWhole) {
    std::string payload(64u << 20, '\0');
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 131 % 251);
    payload[0] = '\0';
    // Keep the marker out of the payload.
    const std::string content = "HEADER" + payload + "#*lastfile*#" + "tail";
    const std::string result = ExtractPayload(content);
    ASSERT_EQ(result.size(), payload.size());
    EXPECT_TRUE(result == payload);
}

TEST(PayloadScanner, LayoutsAtEveryChunkSize) {
    for (const auto& c : layouts())
        for (size_t chunk = 1; chunk <= c.content.size() + 1; ++chunk)
            EXPECT_EQ(scanned(c.content, {chunk}), c.result) << c.name << ", chunks of " << chunk;
}

// Two chunks, cut at every position: the marker (and the 0x00 byte) split every way.
TEST(PayloadScanner, CutAtEveryPosition) {
    const std::string content = "WRAP#*\0PAY\0LOAD#*last"s + m + "tail" + m;
    const std::string expected = ExtractPayload(content);
    ASSERT_EQ(expected, "\0PAY\0LOAD#*last"s);
    for (size_t cut = 0; cut <= content.size(); ++cut)
        EXPECT_EQ(scanned(content, {cut, content.size()}), expected) << "cut at " << cut;
}

// Contents dense in 0x00 bytes and marker pieces, in random chunks of sizes
// around the marker's length.
TEST(PayloadScanner, AgreesWithExtractPayloadOnRandomContents) {
    std::mt19937 rng(20261208);
    const std::string pieces[] = {"\0"s, "#", "*", "l", "x", "#*", "#*last", "file*#", m, m.substr(0, 11)};
    for (int round = 0; round < 20000; ++round) {
        std::string content;
        const size_t parts = rng() % 12;
        for (size_t i = 0; i < parts; ++i) content += pieces[rng() % std::size(pieces)];
        std::vector<size_t> sizes;
        for (size_t i = 0; i < 8; ++i) sizes.push_back(1 + rng() % 26);
        ASSERT_EQ(scanned(content, sizes), ExtractPayload(content)) << "round " << round;
    }
}

// Offsets past 4 GiB: the wrapper is fed as the same chunk over and over.
TEST(PayloadScanner, OffsetsBeyondFourGigabytes) {
    const std::string wrapper(64u << 20, 'W');
    PayloadScanner scanner;
    const uint64_t wrapperSize = 80 * uint64_t(wrapper.size());
    for (int i = 0; i < 80; ++i) scanner.feed(wrapper);
    scanner.feed("\0PAY"s + m.substr(0, 5));
    scanner.feed(m.substr(5));
    ASSERT_TRUE(scanner.done());
    EXPECT_EQ(scanner.payload(), (PayloadSlice{wrapperSize, 4}));
}

}  // namespace
}  // namespace jor
