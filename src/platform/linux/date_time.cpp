// The date and time as the logs write them, in the user's locale.
#include "platform/date_time.h"

#include <clocale>

namespace jor {

void initLocale() { std::setlocale(LC_ALL, ""); }

std::string dateTimeText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[128];
    const bool midnight = local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0;
    const size_t n = std::strftime(buffer, sizeof buffer, midnight ? "%x" : "%x %X", &local);
    return std::string(buffer, n);
}

std::string fileStampText(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[32];
    return std::string(buffer, std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H-%M-%S", &local));
}

}  // namespace jor
