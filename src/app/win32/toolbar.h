// The Win32 toolbar: its two buttons, their images and grey forms, their command ids.
#pragma once
// The toolbar: its two buttons with their images and the grey ones for a
// disabled button, at the layout's size, dispatched by their command ids.

#include "app/main_form.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace jor::app {

// The command ids of the toolbar buttons 1 "Migrieren" and 2 "Beenden".
inline constexpr int ToolbarCommand[2] = {2001, 2002};

class Toolbar {
public:
    Toolbar(HWND parent, const ControlRow& row, HFONT font, int dpi);
    ~Toolbar();
    Toolbar(const Toolbar&) = delete;
    Toolbar& operator=(const Toolbar&) = delete;

    HWND hwnd() const { return hwnd_; }
    // The button (1 or 2) a command id stands for; 0 for none.
    static int buttonOf(int commandId);
    std::string caption(int button) const;
    void setEnabled(int button, bool enabled);
    bool enabled(int button) const;

private:
    HWND hwnd_ = nullptr;
    HIMAGELIST ImageList_ = nullptr;
    HIMAGELIST imgListDisable_ = nullptr;
};

}  // namespace jor::app
