#include "migration/payload.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

using namespace std::string_literals;

TEST(ExtractPayload, Layouts) {
    const std::string m = "#*lastfile*#";
    struct Case { const char* name; std::string content; std::string result; };
    const Case cases[] = {
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
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractPayload(c.content), c.result) << c.name;
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

}  // namespace
}  // namespace jor
