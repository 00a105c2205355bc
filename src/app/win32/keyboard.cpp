// The main window's keyboard: tab order, Enter on a button, focus on activation.
#include "app/win32/keyboard.h"

#include "app/win32/controls.h"

#include <commctrl.h>

#include <iterator>

namespace jor::app {

// The focus follows the layout's tab order, not the windows' stacking order:
// the pages must lie above the tab control yet come after it.
bool Keyboard::moveFocus(bool backwards) {
    const int count = static_cast<int>(std::size(order_));
    const HWND focus = GetFocus();
    int current = -1;
    for (int i = 0; i < count; ++i)
        if (order_[i] == focus || IsChild(order_[i], focus)) current = i;
    for (int step = 1; step <= count; ++step) {
        const int i = ((current < 0 && backwards ? 0 : current) + (backwards ? -step : step) + 2 * count) % count;
        HWND next = order_[i];
        if (!IsWindowVisible(next) || !IsWindowEnabled(next)) continue;
        SetFocus(next);
        const std::wstring cls = classOf(next);
        if (cls == WC_EDITW) SendMessageW(next, EM_SETSEL, 0, -1);
        if (cls == WC_COMBOBOXW) SendMessageW(next, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
        if (next == order_[0]) SendMessageW(next, TB_SETHOTITEM, 0, 0);
        return true;
    }
    return false;
}

bool Keyboard::preTranslate(const MSG& msg, HWND window) {
    if (!window || (msg.hwnd != window && !IsChild(window, msg.hwnd))) return false;
    if (msg.message != WM_KEYDOWN) return false;
    const bool ctrlOrAlt = (GetKeyState(VK_CONTROL) & 0x8000) || (GetKeyState(VK_MENU) & 0x8000);
    if (msg.wParam == VK_TAB && !ctrlOrAlt) return moveFocus(GetKeyState(VK_SHIFT) & 0x8000);
    // Enter presses the focused "..." button, as Space does.
    if (msg.wParam == VK_RETURN && !ctrlOrAlt && classOf(msg.hwnd) == WC_BUTTONW &&
        (GetWindowLongW(msg.hwnd, GWL_STYLE) & BS_TYPEMASK) == BS_PUSHBUTTON) {
        SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

// As in a dialog.
void Keyboard::activated(WPARAM wp, HWND window) {
    if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(window, focus)) lastFocus_ = focus;
    } else if (!HIWORD(wp)) {
        if (lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_)) {
            SetFocus(lastFocus_);
        } else {
            // The first stop of the tab order, without lighting up a button
            // the user has not pointed at.
            SetFocus(order_[0]);
            SendMessageW(order_[0], TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
        }
    }
}

}  // namespace jor::app
