#include "platform/error.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(ErrorNumbers, CountsOverflowInsteadOfWrapping) {
    EXPECT_EQ(checkedIncrement(32767), 32768);  // past the old 16-bit limit
    try {
        checkedIncrement(INT32_MAX);
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), 6);
        EXPECT_EQ(e.description(), "Overflow");
    }
}

}  // namespace
}  // namespace jor
