// The Win32 controls of the main form's table, their classes and fonts.
#include "app/win32/controls.h"

#include "app/win32/resource.h"
#include "app/win32/text_progress_bar.h"
#include "platform/win32/wide_text.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>

namespace jor::app {
namespace {

constexpr wchar_t FrameClass[] = L"JorOrvek.Frame";  // frame without caption
constexpr wchar_t PanelClass[] = L"JorOrvek.Panel";  // plain container

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// Containers hand their children's notifications on to the main window,
// which handles every control.
LRESULT CALLBACK containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY: return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK frameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT rc;
        GetClientRect(hwnd, &rc);
        DrawEdge(dc, &rc, EDGE_ETCHED, BF_RECT);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return containerProc(hwnd, msg, wp, lp);
}

// Tahoma at a size in hundredths of a point, for the screen's DPI.
HFONT tahoma(int centiPoints, int dpi, bool bold) {
    return CreateFontW(-MulDiv(centiPoints, dpi, 7200), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// The size of one line of text in the control's font.
SIZE textExtent(HWND hwnd, const std::wstring& text) {
    HDC dc = GetDC(hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
    RECT need{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(hwnd, dc);
    return {need.right, need.bottom};
}

// A caption must never be cut: a label or check box whose text needs more
// room than its place gives grows to fit.
void fitCaption(HWND hwnd, int extraWidth) {
    const SIZE need = textExtent(hwnd, windowText(hwnd));
    RECT rc;
    GetWindowRect(hwnd, &rc);
    // Room for one more character: Wine's statics drop the last character
    // when the measured text fills them to within a pixel or two.
    const int width = std::max<int>(rc.right - rc.left, need.cx + extraWidth + need.cy / 3);
    const int height = std::max<int>(rc.bottom - rc.top, need.cy);
    SetWindowPos(hwnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The combo box is created with its open list's height; the closed box gets
// the layout's height through the height of its edit field.
void fitComboHeight(HWND combo, int height) {
    for (int i = 0; i < 3; ++i) {
        RECT closed;
        GetWindowRect(combo, &closed);
        if (closed.bottom - closed.top == height) break;
        const int itemHeight = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                     itemHeight + height - (closed.bottom - closed.top));
    }
}

}  // namespace

Fonts::Fonts(int dpi) : fonts_{tahoma(825, dpi, false), tahoma(975, dpi, true), tahoma(825, dpi, true)} {}

Fonts::~Fonts() {
    for (HFONT f : fonts_) DeleteObject(f);
}

void registerWindowClasses(WNDPROC mainProc, const wchar_t* mainClass) {
    static const bool registered = [mainProc, mainClass] {
        WNDCLASSEXW main{};
        main.cbSize = sizeof main;
        main.lpfnWndProc = mainProc;
        main.hInstance = instance();
        main.hIcon = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDI_JOR_ORVEK), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
        main.hIconSm = static_cast<HICON>(LoadImageW(instance(), MAKEINTRESOURCEW(IDI_JOR_ORVEK), IMAGE_ICON,
                                                     GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
        main.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
        main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        main.lpszClassName = mainClass;
        RegisterClassExW(&main);

        WNDCLASSEXW container = main;
        container.hIcon = container.hIconSm = nullptr;
        container.lpfnWndProc = frameProc;
        container.lpszClassName = FrameClass;
        RegisterClassExW(&container);
        container.lpfnWndProc = containerProc;
        container.lpszClassName = PanelClass;
        RegisterClassExW(&container);

        INITCOMMONCONTROLSEX icc{sizeof icc,
                                 ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        return true;
    }();
    (void)registered;
}

HWND createControl(const ControlRow& row, HWND parent, const Fonts& fonts, int dpi) {
    const wchar_t* cls = WC_STATICW;
    DWORD style = 0, exStyle = 0;
    int height = row.height;
    switch (row.kind) {
    case ControlKind::TabControl:
        cls = WC_TABCONTROLW;
        style = WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
        break;
    case ControlKind::Frame:
        cls = FrameClass;
        style = WS_CLIPSIBLINGS;
        exStyle = WS_EX_CONTROLPARENT;
        break;
    case ControlKind::Panel:
        cls = PanelClass;
        style = WS_CLIPSIBLINGS;
        exStyle = WS_EX_CONTROLPARENT;
        break;
    // Paths from the disc are shown as they are: "&" is no mnemonic.
    case ControlKind::Label: style = SS_LEFTNOWORDWRAP | SS_NOPREFIX; break;
    case ControlKind::TextBox:
        cls = WC_EDITW;
        style = WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
        exStyle = WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Button:
        cls = WC_BUTTONW;
        style = WS_TABSTOP | BS_PUSHBUTTON;
        break;
    // No CBS_SORT: the list keeps its order. No completion: the text field
    // keeps what the user types (pacs_combo.h). The height is the open list's.
    case ControlKind::ComboBox:
        cls = WC_COMBOBOXW;
        style = WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
        height = row.height * 6;
        break;
    // Clicks only switch between clear and ticked; the dimmed 2 comes from the settings.
    case ControlKind::CheckBox:
        cls = WC_BUTTONW;
        style = WS_TABSTOP | BS_3STATE;
        break;
    case ControlKind::ProgressBar: {
        const RECT place{pixels(row.left, dpi), pixels(row.top, dpi), pixels(row.left, dpi) + pixels(row.width, dpi),
                         pixels(row.top, dpi) + pixels(row.height, dpi)};
        HWND bar = createTextProgressBar(parent, controlWindowId(row.id), place);
        SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.get(row.font)), FALSE);
        return bar;
    }
    case ControlKind::Toolbar: return nullptr;
    }
    HWND hwnd = CreateWindowExW(
        exStyle, cls, wideText(row.caption).c_str(), WS_CHILD | WS_VISIBLE | style, pixels(row.left, dpi),
        pixels(row.top, dpi), pixels(row.width, dpi), pixels(height, dpi), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlWindowId(row.id))), instance(), nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fonts.get(row.font)), FALSE);
    if (row.kind == ControlKind::TabControl) {
        for (int i = 0; i < 2; ++i) {
            std::wstring caption = wideText(TabCaptions[i]);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = caption.data();
            SendMessageW(hwnd, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        }
    }
    if (row.kind == ControlKind::ComboBox) fitComboHeight(hwnd, pixels(row.height, dpi));
    if (row.mayGrow)
        fitCaption(hwnd, row.kind == ControlKind::CheckBox ? GetSystemMetrics(SM_CXMENUCHECK) + pixels(90, dpi) : 0);
    return hwnd;
}

std::wstring windowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), length + 1)));
    return text;
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, static_cast<int>(std::size(name)));
    return name;
}

int textWidth(HWND hwnd, const std::wstring& text) { return textExtent(hwnd, text).cx; }

}  // namespace jor::app
