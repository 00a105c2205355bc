// The toolbar: its buttons, images and state.
#include "app/win32/toolbar.h"

#include "app/win32/controls.h"
#include "app/win32/resource.h"
#include "platform/win32/wide_text.h"

#include <algorithm>
#include <iterator>

namespace jor::app {
namespace {

HIMAGELIST imageList(int bitmapId) {
    HIMAGELIST list = ImageList_Create(32, 32, ILC_COLOR32, 2, 0);
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ImageList_Add(list, strip, nullptr);
    DeleteObject(strip);
    return list;
}

}  // namespace

Toolbar::Toolbar(HWND parent, const ControlRow& row, HFONT font, int dpi) {
    const auto px = [dpi](int twips) { return pixels(twips, dpi); };
    hwnd_ = CreateWindowExW(
        0, TOOLBARCLASSNAMEW, nullptr,
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBSTYLE_FLAT | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
        px(row.left), px(row.top), px(row.width), px(row.height), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlWindowId(row.id))), GetModuleHandleW(nullptr), nullptr);
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SendMessageW(hwnd_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ImageList_ = imageList(IDB_TOOLBAR);
    imgListDisable_ = imageList(IDB_TOOLBAR_DISABLED);
    SendMessageW(hwnd_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(ImageList_));
    SendMessageW(hwnd_, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(imgListDisable_));
    SendMessageW(hwnd_, TB_SETBITMAPSIZE, 0, MAKELPARAM(32, 32));
    // Image 1 of the lists is the power symbol, image 2 the migrate arrow.
    const std::wstring captions[2] = {wideText(ToolbarCaptions[0]), wideText(ToolbarCaptions[1])};
    TBBUTTON buttons[2] = {
        {1, ToolbarCommand[0], TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(captions[0].c_str())},
        {0, ToolbarCommand[1], TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(captions[1].c_str())},
    };
    SendMessageW(hwnd_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
    // At least the layout's width; wider where a caption needs it, so that
    // no caption is cut (Tahoma is wider on some systems than on others).
    int width = px(765);
    for (const std::wstring& caption : captions)
        width = std::max(width, textWidth(hwnd_, caption) + 2 * (GetSystemMetrics(SM_CXEDGE) + px(75)));
    SendMessageW(hwnd_, TB_SETBUTTONWIDTH, 0, MAKELPARAM(width, width));
    // Toolbars differ in what they add to the size asked for; correct by what
    // this one reports.
    int askedHeight = px(780);
    for (int i = 0; i < 3; ++i) {
        SendMessageW(hwnd_, TB_SETBUTTONSIZE, 0, MAKELPARAM(width, askedHeight));
        RECT button{};
        SendMessageW(hwnd_, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button));
        if (button.bottom - button.top == px(780)) break;
        askedHeight += px(780) - (button.bottom - button.top);
    }
}

Toolbar::~Toolbar() {
    for (HIMAGELIST l : {ImageList_, imgListDisable_}) ImageList_Destroy(l);
}

int Toolbar::buttonOf(int commandId) {
    for (int i = 0; i < 2; ++i)
        if (ToolbarCommand[i] == commandId) return i + 1;
    return 0;
}

std::string Toolbar::caption(int button) const {
    if (button < 1 || button > 2 || !hwnd_) return {};
    wchar_t text[64] = {};
    const LRESULT length = SendMessageW(hwnd_, TB_GETBUTTONTEXTW, ToolbarCommand[button - 1], 0);
    if (length < 0 || length >= static_cast<LRESULT>(std::size(text))) return {};
    SendMessageW(hwnd_, TB_GETBUTTONTEXTW, ToolbarCommand[button - 1], reinterpret_cast<LPARAM>(text));
    return utf8FromWide(text);
}

void Toolbar::setEnabled(int button, bool enabled) {
    if (button >= 1 && button <= 2 && hwnd_)
        SendMessageW(hwnd_, TB_ENABLEBUTTON, ToolbarCommand[button - 1], MAKELPARAM(enabled, 0));
}

bool Toolbar::enabled(int button) const {
    if (button < 1 || button > 2 || !hwnd_) return false;
    return SendMessageW(hwnd_, TB_ISBUTTONENABLED, ToolbarCommand[button - 1], 0) != 0;
}

}  // namespace jor::app
