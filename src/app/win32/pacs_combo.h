// cboPACS in Win32: a combo box that keeps what the user typed.
#pragma once
// cboPACS keeps what the user typed: opening its list would otherwise put
// the entry that begins like the text, in any letter case, in its place
// ("hip" became "HIPAX"), and the start command compares the text exactly.

#include <windows.h>

#include <optional>
#include <string>

namespace jor::app {

class PacsCombo {
public:
    // The combo box, and the window and message that are posted back to it
    // (as `keepTypedText`) once the box has finished opening its list.
    void attach(HWND combo, HWND window, UINT keepMessage);
    // WM_COMMAND from the combo box.
    void notified(int code);
    void keepTypedText();

private:
    HWND combo_ = nullptr, window_ = nullptr;
    UINT keepMessage_ = 0;
    std::optional<std::wstring> typed_;  // the text while the list is open
};

}  // namespace jor::app
