#include "platform/date_time.h"

#include <ctime>
#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(DateTimeText, ShortDateLongTimeAndMidnight) {
    initLocale();
    std::tm t{};
    t.tm_year = 108; t.tm_mon = 2; t.tm_mday = 24; t.tm_isdst = -1;
    t.tm_hour = 14; t.tm_min = 5; t.tm_sec = 9;
    char expected[64];
    std::strftime(expected, sizeof expected, "%x %X", &t);
    EXPECT_EQ(dateTimeText(std::mktime(&t)), expected);
    t.tm_hour = 0; t.tm_min = 0; t.tm_sec = 0;
    std::strftime(expected, sizeof expected, "%x", &t);
    EXPECT_EQ(dateTimeText(std::mktime(&t)), expected) << "only the date at midnight";
}

}  // namespace
}  // namespace jor
