// ProgBar in Win32: the system's progress bar with its text drawn over the bar.
#include "app/win32/text_progress_bar.h"

#include <commctrl.h>

#include <algorithm>

namespace jor::app {
namespace {

constexpr UINT_PTR SubclassId = 1;

struct BarState {
    int32_t maximum = 100;
    int32_t value = 0;
    HFONT font = nullptr;
};

BarState* stateOf(HWND bar) { return reinterpret_cast<BarState*>(GetWindowLongPtrW(bar, GWLP_USERDATA)); }

// The bar shows 0 to max(maximum, 1): a maximum of 0 or less is an empty bar.
void applyRange(HWND bar, const BarState& s) {
    SendMessageW(bar, PBM_SETRANGE32, 0, std::max(s.maximum, 1));
    SendMessageW(bar, PBM_SETPOS, s.maximum > 0 ? std::clamp(s.value, 0, s.maximum) : 0, 0);
}

// The control paints itself into a memory bitmap; the text goes on top, so
// it never flickers and the themed bar stays as the system draws it.
void paint(HWND bar, const BarState& s) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(bar, &ps);
    RECT rc;
    GetClientRect(bar, &rc);
    HDC mem = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
    HGDIOBJ oldBitmap = SelectObject(mem, bitmap);
    FillRect(mem, &rc, GetSysColorBrush(COLOR_BTNFACE));
    DefSubclassProc(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT | PRF_ERASEBKGND);
    const int length = GetWindowTextLengthW(bar);
    if (length > 0) {
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(bar, text.data(), length + 1)));
        HGDIOBJ oldFont = SelectObject(mem, s.font ? s.font : GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(mem, TRANSPARENT);
        SetTextColor(mem, RGB(0, 0, 0));
        DrawTextW(mem, text.c_str(), static_cast<int>(text.size()), &rc,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        SelectObject(mem, oldFont);
    }
    BitBlt(dc, 0, 0, rc.right, rc.bottom, mem, 0, 0, SRCCOPY);
    SelectObject(mem, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(mem);
    EndPaint(bar, &ps);
}

LRESULT CALLBACK barProc(HWND bar, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    auto* s = reinterpret_cast<BarState*>(data);
    switch (msg) {
    case WM_PAINT: paint(bar, *s); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETFONT:
        s->font = reinterpret_cast<HFONT>(wp);
        if (LOWORD(lp)) InvalidateRect(bar, nullptr, FALSE);
        return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(s->font);
    case WM_SETTEXT: {
        const LRESULT r = DefSubclassProc(bar, msg, wp, lp);
        InvalidateRect(bar, nullptr, FALSE);
        return r;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrW(bar, GWLP_USERDATA, 0);
        RemoveWindowSubclass(bar, barProc, id);
        delete s;
        break;
    }
    return DefSubclassProc(bar, msg, wp, lp);
}

}  // namespace

HWND createTextProgressBar(HWND parent, int id, const RECT& place) {
    HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, place.left, place.top,
                               place.right - place.left, place.bottom - place.top, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (!bar) return nullptr;
    auto* s = new BarState;
    SetWindowLongPtrW(bar, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(s));
    SetWindowSubclass(bar, barProc, SubclassId, reinterpret_cast<DWORD_PTR>(s));
    applyRange(bar, *s);
    return bar;
}

void setProgressMaximum(HWND bar, int32_t maximum) {
    if (BarState* s = stateOf(bar)) {
        s->maximum = maximum;
        applyRange(bar, *s);
    }
}

void setProgressValue(HWND bar, int32_t value) {
    if (BarState* s = stateOf(bar)) {
        s->value = value;
        applyRange(bar, *s);
    }
}

void setProgressText(HWND bar, const std::wstring& text) { SetWindowTextW(bar, text.c_str()); }

int32_t progressMaximum(HWND bar) {
    const BarState* s = stateOf(bar);
    return s ? s->maximum : 0;
}

int32_t progressValue(HWND bar) {
    const BarState* s = stateOf(bar);
    return s ? s->value : 0;
}

std::wstring progressText(HWND bar) {
    const int length = GetWindowTextLengthW(bar);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(bar, text.data(), length + 1)));
    return text;
}

}  // namespace jor::app
