// Texts on Windows: the ANSI code page both ways, and the date and time of the regional settings.
#include "platform/date_time.h"
#include "platform/system_text.h"
#include "platform/win32/windows_api.h"

#include <gtest/gtest.h>

namespace jor {
namespace {

TEST(SystemTextOnWindows, AnsiCodePageBothWays) {
    ASSERT_EQ(::GetACP(), 1252u) << "the test prefix runs with code page 1252";
    struct Case {
        std::string utf8, ansi;
    };
    const Case cases[] = {
        {"", ""},
        {"plain ASCII - 53", "plain ASCII - 53"},
        {"doesn\xC2\xB4t \xC3\x84rzte \xC3\xBC \xC3\x9F \xE2\x82\xAC", "doesn\xB4t \xC4rzte \xFC \xDF \x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(toSystemText(c.utf8), c.ansi) << c.utf8;
        EXPECT_EQ(fromSystemText(c.ansi), c.utf8) << c.utf8;
    }
    EXPECT_EQ(toSystemText("\xD0\x96 \xE5\x9B\xBE"), "? ?");
}

// Only the test prefix's registry makes the settings German (scripts/build-windows.sh).
TEST(DateTimeOnWindows, ShortDateAndLongTimeOfTheRegionalSettings) {
    wchar_t format[80] = L"";
    ::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, format, 80);
    ASSERT_EQ(std::wstring(format), L"dd.MM.yyyy")
        << "the test prefix has German regional settings (scripts/wine-prefix.sh); a Wine start in "
           "another locale than the tests' C.UTF-8 resets them";
    SYSTEMTIME local{2008, 3, 1, 24, 14, 5, 9, 0};
    SYSTEMTIME utc;
    ASSERT_TRUE(::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    FILETIME ticks;
    ASSERT_TRUE(::SystemTimeToFileTime(&utc, &ticks));
    const long long seconds = ((static_cast<long long>(ticks.dwHighDateTime) << 32) | ticks.dwLowDateTime) / 10000000LL;
    const auto when = static_cast<std::time_t>(seconds - 11644473600LL);

    initLocale();
    EXPECT_EQ(dateTimeText(when), "24.03.2008 14:05:09");
    EXPECT_EQ(dateTimeText(when - (14 * 3600 + 5 * 60 + 9)), "24.03.2008") << "only the date at midnight";
    EXPECT_EQ(dateTimeText(when - (14 * 3600 + 5 * 60 + 8)), "24.03.2008 00:00:01");
}

}  // namespace
}  // namespace jor
