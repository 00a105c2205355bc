// The date and time as the logs write them, in the user's regional settings.
#include "platform/date_time.h"

#include "platform/win32/wide_text.h"
#include "platform/win32/windows_api.h"

#include <cstdio>

namespace jor {
namespace {

// Seconds between 1601-01-01 (FILETIME) and 1970-01-01 (time_t).
constexpr long long EpochDifference = 11644473600LL;

std::wstring formatted(int(WINAPI* format)(LCID, DWORD, const SYSTEMTIME*, LPCWSTR, LPWSTR, int), DWORD flags,
                       const SYSTEMTIME& when) {
    const int size = format(LOCALE_USER_DEFAULT, flags, &when, nullptr, nullptr, 0);
    if (size <= 0) return {};
    std::wstring text(static_cast<size_t>(size), L'\0');
    const int n = format(LOCALE_USER_DEFAULT, flags, &when, nullptr, text.data(), size);
    text.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
    return text;
}

// The zone's rule for that date, not today's offset.
bool localTimeOf(std::time_t when, SYSTEMTIME& local) {
    const unsigned long long ticks = (static_cast<long long>(when) + EpochDifference) * 10000000ULL;
    FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utcTime;
    return ::FileTimeToSystemTime(&utc, &utcTime) && ::SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local);
}

}  // namespace

// The regional settings are read by every call: nothing to take at start-up.
void initLocale() {}

std::string dateTimeText(std::time_t when) {
    SYSTEMTIME local;
    if (!localTimeOf(when, local)) return {};
    const bool midnight = local.wHour == 0 && local.wMinute == 0 && local.wSecond == 0;
    std::wstring text = formatted(::GetDateFormatW, DATE_SHORTDATE, local);
    if (!midnight) text += L" " + formatted(::GetTimeFormatW, 0, local);
    return utf8FromWide(text);
}

std::string fileStampText(std::time_t when) {
    SYSTEMTIME t;
    if (!localTimeOf(when, t)) return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u-%02u-%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return buffer;
}

}  // namespace jor
