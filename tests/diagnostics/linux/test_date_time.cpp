// The date and time texts on Linux, in the short date and long time of known regional settings.
#include "platform/date_time.h"

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace jor {
namespace {

// Fixed texts of known regional settings, not strftime's own answer.
// scripts/setup.sh generates the German locale.
TEST(DateTimeText, ShortDateLongTimeAndOnlyTheDateAtMidnight) {
    struct Case {
        const char* locale;
        const char* afternoon;
        const char* midnight;
    };
    const Case cases[] = {
        {"de_DE.UTF-8", "24.03.2008 14:05:09", "24.03.2008"},
        {"C", "03/24/08 14:05:09", "03/24/08"},
    };
    const char* old = std::getenv("LC_ALL");
    const std::string saved = old ? old : "";
    for (const auto& c : cases) {
        ::setenv("LC_ALL", c.locale, 1);
        initLocale();
        if (std::string(std::setlocale(LC_TIME, nullptr)) != c.locale) {
            ADD_FAILURE() << "locale " << c.locale << " missing: scripts/setup.sh generates it";
            continue;
        }
        std::tm t{};
        t.tm_year = 108;
        t.tm_mon = 2;
        t.tm_mday = 24;
        t.tm_isdst = -1;
        t.tm_hour = 14;
        t.tm_min = 5;
        t.tm_sec = 9;
        EXPECT_EQ(dateTimeText(std::mktime(&t)), c.afternoon) << c.locale;
        t.tm_hour = 0;
        t.tm_min = 0;
        t.tm_sec = 0;
        EXPECT_EQ(dateTimeText(std::mktime(&t)), c.midnight) << c.locale;
    }
    old ? ::setenv("LC_ALL", saved.c_str(), 1) : ::unsetenv("LC_ALL");
    initLocale();
}

}  // namespace
}  // namespace jor
