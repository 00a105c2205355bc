// Counts that overflow raise the classic error instead of wrapping.
#include "platform/error.h"
#include "support/expect_error.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(ErrorNumbers, CountsOverflowInsteadOfWrapping) {
    EXPECT_EQ(checkedIncrement(32767), 32768);  // past the old 16-bit limit
    test::expectError([] { checkedIncrement(INT32_MAX); }, 6, "the largest count plus one", "Overflow");
}

}  // namespace
}  // namespace jor
