// The date and time as the user's regional settings write them.
#pragma once

#include <ctime>
#include <string>

namespace jor {

// Takes the user's regional settings for dates and times; call once at start-up.
void initLocale();

// The locale's short date, a blank and its long time; only the date at exactly midnight.
std::string dateTimeText(std::time_t when);

inline std::string nowText() { return dateTimeText(std::time(nullptr)); }

// Local "YYYY-MM-DD HH-MM-SS", whatever the regional settings: sorts as it
// runs, and may stand in a file name.
std::string fileStampText(std::time_t when);

}  // namespace jor
