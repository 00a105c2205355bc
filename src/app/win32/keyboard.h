// The Win32 main window's keyboard: the tab order, Enter on a "..." button, the focus kept.
#pragma once
// The main window's keyboard: Tab and Shift+Tab follow the layout's tab
// order, Enter presses the focused "..." button, and the focus comes back to
// the control that had it when the window is activated again.

#include <windows.h>

#include <array>

namespace jor::app {

class Keyboard {
public:
    // The focus stops of the layout, in its tab order; the first one is the toolbar.
    void setOrder(const std::array<HWND, 10>& order) { order_ = order; }
    // Before a message of `window` is dispatched: true when it has been handled.
    bool preTranslate(const MSG& msg, HWND window);
    // WM_ACTIVATE
    void activated(WPARAM wp, HWND window);

private:
    bool moveFocus(bool backwards);
    std::array<HWND, 10> order_{};
    HWND lastFocus_ = nullptr;
};

}  // namespace jor::app
