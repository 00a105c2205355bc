// cboPACS keeps the text the user typed when its list opens.
#include "app/win32/pacs_combo.h"

#include "app/win32/controls.h"

namespace jor::app {

void PacsCombo::attach(HWND combo, HWND window, UINT keepMessage) {
    combo_ = combo;
    window_ = window;
    keepMessage_ = keepMessage;
}

void PacsCombo::notified(int code) {
    if (code == CBN_DROPDOWN) {
        typed_ = windowText(combo_);
        PostMessageW(window_, keepMessage_, 0, 0);
    } else if (code == CBN_SELENDCANCEL && typed_) {
        PostMessageW(window_, keepMessage_, 0, 0);
    } else if (code == CBN_SELENDOK) {
        typed_.reset();  // an entry was chosen
    }
}

// The typed text stays; the list marks only the entry that equals it exactly.
void PacsCombo::keepTypedText() {
    if (!typed_) return;
    const std::wstring text = *typed_;
    if (!SendMessageW(combo_, CB_GETDROPPEDSTATE, 0, 0)) typed_.reset();
    LRESULT exact = CB_ERR;
    const LRESULT count = SendMessageW(combo_, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && exact == CB_ERR; ++i) {
        wchar_t entry[64] = {};
        if (SendMessageW(combo_, CB_GETLBTEXTLEN, i, 0) < 64) {
            SendMessageW(combo_, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
            if (text == entry) exact = i;
        }
    }
    SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(exact), 0);
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(combo_, &info) && info.hwndItem) {
        SetWindowTextW(info.hwndItem, text.c_str());
        SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
    }
}

}  // namespace jor::app
