// ProgBar in Win32: the system's progress bar with its text drawn over the bar.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace jor::app {

// ProgBar: the system's progress bar with a text drawn over the bar. The
// text is the window text; maximum and value are kept as the program set
// them, whatever the bar can show.
HWND createTextProgressBar(HWND parent, int id, const RECT& place);

void setProgressMaximum(HWND bar, int32_t maximum);
void setProgressValue(HWND bar, int32_t value);
void setProgressText(HWND bar, const std::wstring& text);

int32_t progressMaximum(HWND bar);
int32_t progressValue(HWND bar);
std::wstring progressText(HWND bar);

}  // namespace jor::app
