// The Win32 controls of the main form's table: classes, fonts, places in twips, captions that never clip.
#pragma once
// The Win32 controls of the main form's table: the container classes, the
// fonts, placing in twips at the screen's DPI, and captions that never clip.

#include "app/main_form.h"

#include <windows.h>

#include <string>

namespace jor::app {

// Window ids of the controls: 1000 plus their place in the table.
inline int controlWindowId(ControlId id) { return 1000 + static_cast<int>(id); }

// The fonts of the table, for one DPI.
class Fonts {
public:
    explicit Fonts(int dpi);
    ~Fonts();
    Fonts(const Fonts&) = delete;
    Fonts& operator=(const Fonts&) = delete;
    HFONT get(ControlFont kind) const { return fonts_[static_cast<int>(kind)]; }

private:
    HFONT fonts_[3];
};

// Registers the frame and panel classes (once); `mainProc` for the main window's class.
void registerWindowClasses(WNDPROC mainProc, const wchar_t* mainClass);

// Twips to pixels at `dpi`.
inline int pixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

// Creates the control of `row` (not the toolbar, which toolbar.h makes) in
// `parent`, placed, with its font, grown where its caption needs room.
HWND createControl(const ControlRow& row, HWND parent, const Fonts& fonts, int dpi);

std::wstring windowText(HWND hwnd);
std::wstring classOf(HWND hwnd);
// The width of one line of text in the control's font.
int textWidth(HWND hwnd, const std::wstring& text);

}  // namespace jor::app
