#include "app/win32/frm_main.h"

#include "app/win32/folder_dialog.h"
#include "app/win32/resource.h"
#include "app/win32/text_progress_bar.h"
#include "platform/win32/wide_text.h"
#include "settings/settings.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <iterator>

namespace jor::app {
namespace {

constexpr wchar_t kMainClass[] = L"JorOrvek.frmMain";
constexpr wchar_t kFrameClass[] = L"JorOrvek.Frame";  // frame without caption
constexpr wchar_t kPanelClass[] = L"JorOrvek.Panel";  // plain container
constexpr UINT_PTR kTmrMig = 1;
constexpr UINT_PTR kProgressPainter = 2;
// Some thirty pictures a second: smooth to the eye, and a run of small
// files no longer pays for a repaint of bar and label with every file.
constexpr ULONGLONG kProgressPaintInterval = 33;  // ms
// The engine yields for every file and every process it looks at; taking
// the window's events at most this often is more than any user can tell.
constexpr std::chrono::microseconds kYieldInterval{1000};
constexpr UINT kKeepTypedPacs = WM_APP + 1;

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

// Containers hand their children's notifications on to the main window,
// which handles every control.
LRESULT CALLBACK containerProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
        return SendMessageW(GetAncestor(hwnd, GA_ROOT), msg, wp, lp);
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

void registerClasses(WNDPROC mainProc) {
    static const bool registered = [mainProc] {
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
        main.lpszClassName = kMainClass;
        RegisterClassExW(&main);

        WNDCLASSEXW container = main;
        container.hIcon = container.hIconSm = nullptr;
        container.lpfnWndProc = frameProc;
        container.lpszClassName = kFrameClass;
        RegisterClassExW(&container);
        container.lpfnWndProc = containerProc;
        container.lpszClassName = kPanelClass;
        RegisterClassExW(&container);

        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_PROGRESS_CLASS |
                                                 ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&icc);
        return true;
    }();
    (void)registered;
}

// Tahoma at a size in hundredths of a point, for the screen's DPI.
HFONT tahoma(int centiPoints, int dpi, bool bold) {
    return CreateFontW(-MulDiv(centiPoints, dpi, 7200), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Tahoma");
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

int textWidth(HWND hwnd, const std::wstring& text) { return textExtent(hwnd, text).cx; }

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

HIMAGELIST imageList(int bitmapId) {
    HIMAGELIST list = ImageList_Create(32, 32, ILC_COLOR32, 2, 0);
    HBITMAP strip = static_cast<HBITMAP>(
        LoadImageW(instance(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ImageList_Add(list, strip, nullptr);
    DeleteObject(strip);
    return list;
}

}  // namespace

frmMain::frmMain(std::string programFolder)
    : programFolder_(std::move(programFolder)),
      logs_(programFolder_, [this] { return debugValue(); }) {
    showFolderDialog = ShowFolderDialog;
    endProcess = [] { ::ExitProcess(0); };
    registerClasses(windowProc);
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    font_ = tahoma(825, dpi_, false);
    buttonFont_ = tahoma(975, dpi_, true);
    progressFont_ = tahoma(825, dpi_, true);
    createWindow();
    buildControls();
    engine_ = std::make_unique<MigrationEngine>(*this, logs_, programFolder_);
}

frmMain::~frmMain() {
    quitOnDestroy_ = false;
    if (hwnd_) DestroyWindow(hwnd_);
    for (HFONT f : {font_, buttonFont_, progressFont_}) DeleteObject(f);
    for (HIMAGELIST l : {ImageList_, imgListDisable_}) ImageList_Destroy(l);
}

int frmMain::px(int twips) const { return MulDiv(twips, dpi_, 1440); }

void frmMain::createWindow() {
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT rc{0, 0, px(6090), px(4380)};
    AdjustWindowRectEx(&rc, style, FALSE, 0);
    CreateWindowExW(0, kMainClass, L"Jor - Orvek", style, CW_USEDEFAULT, CW_USEDEFAULT, rc.right - rc.left,
                    rc.bottom - rc.top, nullptr, nullptr, instance(), this);
}

HWND frmMain::add(Control id, HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle,
                  int left, int top, int width, int height) {
    HWND hwnd = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, px(left), px(top), px(width),
                                px(height), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(),
                                nullptr);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    controls_[static_cast<size_t>(static_cast<int>(id) - 1000)] = hwnd;
    return hwnd;
}

void frmMain::buildControls() {
    HWND toolbar = add(Control::Toolbar, hwnd_, TOOLBARCLASSNAMEW, nullptr,
                       WS_TABSTOP | TBSTYLE_FLAT | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0, 0, 0, 6090,
                       780);
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    ImageList_ = imageList(IDB_TOOLBAR);
    imgListDisable_ = imageList(IDB_TOOLBAR_DISABLED);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(ImageList_));
    SendMessageW(toolbar, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(imgListDisable_));
    SendMessageW(toolbar, TB_SETBITMAPSIZE, 0, MAKELPARAM(32, 32));
    // Image 1 of the lists is the power symbol, image 2 the migrate arrow.
    TBBUTTON buttons[2] = {
        {1, kToolbarCommand[0], TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(L"Migrieren")},
        {0, kToolbarCommand[1], TBSTATE_ENABLED, BTNS_BUTTON, {}, 0, reinterpret_cast<INT_PTR>(L"Beenden")},
    };
    SendMessageW(toolbar, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
    // At least the layout's width; wider where a caption needs it, so that
    // no caption is cut (Tahoma is wider on some systems than on others).
    int width = px(765);
    for (const TBBUTTON& b : buttons)
        width = std::max(width, textWidth(toolbar, reinterpret_cast<const wchar_t*>(b.iString)) +
                                    2 * (GetSystemMetrics(SM_CXEDGE) + px(75)));
    SendMessageW(toolbar, TB_SETBUTTONWIDTH, 0, MAKELPARAM(width, width));
    // Toolbars differ in what they add to the size asked for; correct by what
    // this one reports.
    int askedHeight = px(780);
    for (int i = 0; i < 3; ++i) {
        SendMessageW(toolbar, TB_SETBUTTONSIZE, 0, MAKELPARAM(width, askedHeight));
        RECT button{};
        SendMessageW(toolbar, TB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&button));
        if (button.bottom - button.top == px(780)) break;
        askedHeight += px(780) - (button.bottom - button.top);
    }

    HWND tab = add(Control::tabMain, hwnd_, WC_TABCONTROLW, L"", WS_TABSTOP | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0,
                   45, 855, 5985, 2535);
    const wchar_t* tabs[2] = {L"Allgmein", L"Einstellungen"};
    for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(tabs[i]);
        SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }

    const DWORD container = WS_CLIPSIBLINGS;
    HWND frame0 = add(Control::Frame2_0, tab, kFrameClass, L"", container, WS_EX_CONTROLPARENT, 45, 360, 5865, 2085);
    HWND frame1 = add(Control::Frame2_1, tab, kFrameClass, L"", container, WS_EX_CONTROLPARENT, 45, 360, 5865, 2085);

    HWND picture2 = add(Control::Picture2, frame0, kPanelClass, L"", container, WS_EX_CONTROLPARENT, 45, 180, 5775,
                        1815);
    const DWORD label = SS_LEFTNOWORDWRAP | SS_NOPREFIX;
    const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
    const DWORD button = WS_TABSTOP | BS_PUSHBUTTON;
    add(Control::Label1, picture2, WC_STATICW, L"Quellverzeichnis:", label, 0, 90, 90, 1215, 195);
    add(Control::txtSource, picture2, WC_EDITW, L"", edit, WS_EX_CLIENTEDGE, 90, 360, 4965, 345);
    add(Control::cmdSrcFolder0, picture2, WC_BUTTONW, L"...", button, 0, 5130, 360, 510, 360);
    add(Control::Label2, picture2, WC_STATICW, L"Zielverzeichnis:", label, 0, 90, 945, 1095, 195);
    add(Control::txtDest, picture2, WC_EDITW, L"", edit, WS_EX_CLIENTEDGE, 90, 1215, 4965, 345);
    add(Control::cmdSrcFolder1, picture2, WC_BUTTONW, L"...", button, 0, 5130, 1215, 510, 360);

    HWND picture3 = add(Control::Picture3, frame1, kPanelClass, L"", container, WS_EX_CONTROLPARENT, 90, 180, 5730,
                        1860);
    add(Control::Label3_1, picture3, WC_STATICW, L"Tempverzeichnis:", label, 0, 45, 90, 1245, 195);
    add(Control::txtTemp, picture3, WC_EDITW, L"", edit, WS_EX_CLIENTEDGE, 45, 360, 4965, 345);
    add(Control::cmdSrcFolder2, picture3, WC_BUTTONW, L"...", button, 0, 5085, 360, 510, 360);
    add(Control::Label3_0, picture3, WC_STATICW, L"PACS - System:", label, 0, 45, 990, 1125, 195);
    // No CBS_SORT: the list keeps its order. No completion: the text field
    // keeps what the user types (see keepTypedPacs).
    HWND combo = add(Control::cboPACS, picture3, WC_COMBOBOXW, L"",
                     WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 0, 1350, 945, 1905, 315 * 6);
    // The height given is the open list's; the closed box gets the layout's
    // height through the height of its edit field.
    for (int i = 0; i < 3; ++i) {
        RECT closed;
        GetWindowRect(combo, &closed);
        if (closed.bottom - closed.top == px(315)) break;
        const int itemHeight = static_cast<int>(SendMessageW(combo, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
        SendMessageW(combo, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1),
                     itemHeight + px(315) - (closed.bottom - closed.top));
    }
    // Clicks only switch between clear and ticked; the dimmed 2 comes from the settings.
    add(Control::chkDebug, picture3, WC_BUTTONW, L"Debug", WS_TABSTOP | BS_3STATE, 0, 45, 1395, 1320, 240);

    for (Control c : {Control::cmdSrcFolder0, Control::cmdSrcFolder1, Control::cmdSrcFolder2})
        SendMessageW(control(c), WM_SETFONT, reinterpret_cast<WPARAM>(buttonFont_), FALSE);

    // Paths from the disc are shown as they are: "&" is no mnemonic.
    add(Control::lblLoadInfo, hwnd_, WC_STATICW, L"", label, 0, 135, 3465, 5865, 240);
    RECT bar{px(45), px(3780), px(45) + px(6000), px(3780) + px(555)};
    HWND progBar = createTextProgressBar(hwnd_, static_cast<int>(Control::ProgBar), bar);
    controls_[static_cast<size_t>(static_cast<int>(Control::ProgBar) - 1000)] = progBar;
    SendMessageW(progBar, WM_SETFONT, reinterpret_cast<WPARAM>(progressFont_), FALSE);

    for (Control c : {Control::Label1, Control::Label2, Control::Label3_0, Control::Label3_1})
        fitCaption(control(c), 0);
    fitCaption(control(Control::chkDebug), GetSystemMetrics(SM_CXMENUCHECK) + px(90));

    showTab(0);
}

void frmMain::showTab(int index) {
    ShowWindow(control(Control::Frame2_0), index == 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(control(Control::Frame2_1), index == 1 ? SW_SHOW : SW_HIDE);
}

void frmMain::show(int showCommand) {
    RECT work, frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd_, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
}

void frmMain::close() {
    if (hwnd_) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void frmMain::InitMainWindow() {
    HWND combo = control(Control::cboPACS);
    for (const wchar_t* entry : {L"Arzt und Praxis", L"GEMED", L"HIPAX"})
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry));
    const SettingsValues values = LoadSettings(programFolder_);
    SetWindowTextW(control(Control::txtTemp), wideText(values.TempPath).c_str());
    SetWindowTextW(control(Control::txtDest), wideText(values.DestinationPath).c_str());
    SetWindowTextW(control(Control::txtSource), wideText(values.SourcePath).c_str());
    setDebugValue(values.DebugValue);
    SetWindowTextW(combo, wideText(values.Pacs).c_str());
}

void frmMain::SaveSettings() {
    SettingsValues values;
    values.TempPath = tempText();
    values.SourcePath = sourceText();
    values.DestinationPath = destText();
    values.DebugValue = debugValue();
    values.Pacs = pacsText();
    jor::SaveSettings(programFolder_, values);
}

void frmMain::ChooseFolder(int16_t index) {
    const std::string chosen = showFolderDialog("W\xC3\xA4hlen Sie Ihren Ordner ...");
    if (chosen.empty()) return;
    const Control boxes[3] = {Control::txtSource, Control::txtDest, Control::txtTemp};
    if (index >= 0 && index < 3) SetWindowTextW(control(boxes[index]), wideText(chosen).c_str());
}

void frmMain::DispatchToolbarButton(int commandId) {
    // By caption alone, as the toolbar was always dispatched.
    wchar_t caption[64] = {};
    const LRESULT length = SendMessageW(control(Control::Toolbar), TB_GETBUTTONTEXTW, commandId, 0);
    if (length < 0 || length >= static_cast<LRESULT>(std::size(caption))) return;
    SendMessageW(control(Control::Toolbar), TB_GETBUTTONTEXTW, commandId, reinterpret_cast<LPARAM>(caption));
    const std::string text = utf8FromWide(caption);
    if (text == "Migrieren")
        engine_->StartRun();
    else if (text == "Beenden")
        close();
}

bool frmMain::toolbarButtonEnabled(int index) const {
    if (index < 1 || index > 2) return false;
    return SendMessageW(control(Control::Toolbar), TB_ISBUTTONENABLED, kToolbarCommand[index - 1], 0) != 0;
}

void frmMain::setDebugValue(int32_t value) {
    const WPARAM state = value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
    SendMessageW(control(Control::chkDebug), BM_SETCHECK, state, 0);
}

// Opening the list selects an entry by its beginning without regard to
// case and puts it into the text field ("hip" became "HIPAX"). The typed
// text stays; the list marks only the entry that equals it exactly.
void frmMain::onPacsNotification(int code) {
    HWND combo = control(Control::cboPACS);
    if (code == CBN_DROPDOWN) {
        typedPacs_ = windowText(combo);
        // After the box has finished opening the list.
        PostMessageW(hwnd_, kKeepTypedPacs, 0, 0);
    } else if (code == CBN_SELENDCANCEL && typedPacs_) {
        PostMessageW(hwnd_, kKeepTypedPacs, 0, 0);
    } else if (code == CBN_SELENDOK) {
        typedPacs_.reset();  // an entry was chosen
    }
}

void frmMain::keepTypedPacs() {
    if (!typedPacs_) return;
    HWND combo = control(Control::cboPACS);
    const std::wstring text = *typedPacs_;
    if (!SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0)) typedPacs_.reset();
    LRESULT exact = CB_ERR;
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count && exact == CB_ERR; ++i) {
        wchar_t entry[64] = {};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 64) {
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
            if (text == entry) exact = i;
        }
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(exact), 0);
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    if (GetComboBoxInfo(combo, &info) && info.hwndItem) {
        SetWindowTextW(info.hwndItem, text.c_str());
        SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
    }
}

void frmMain::toggleDebug() {
    const bool ticked = SendMessageW(control(Control::chkDebug), BM_GETCHECK, 0, 0) == BST_CHECKED;
    setDebugValue(ticked ? 0 : 1);
}

// The keyboard focus follows the layout's tab order, not the windows'
// stacking order: the pages must lie above the tab control yet come after it.
bool frmMain::moveFocus(bool backwards) {
    const HWND order[] = {control(Control::Toolbar),       control(Control::tabMain),
                          control(Control::txtSource),     control(Control::txtDest),
                          control(Control::cmdSrcFolder0), control(Control::cmdSrcFolder1),
                          control(Control::cboPACS),       control(Control::chkDebug),
                          control(Control::cmdSrcFolder2), control(Control::txtTemp)};
    const int count = static_cast<int>(std::size(order));
    const HWND focus = GetFocus();
    int current = -1;
    for (int i = 0; i < count; ++i)
        if (order[i] == focus || IsChild(order[i], focus)) current = i;
    for (int step = 1; step <= count; ++step) {
        const int i = ((current < 0 && backwards ? 0 : current) + (backwards ? -step : step) + 2 * count) % count;
        HWND next = order[i];
        if (!IsWindowVisible(next) || !IsWindowEnabled(next)) continue;
        SetFocus(next);
        const std::wstring cls = classOf(next);
        if (cls == WC_EDITW) SendMessageW(next, EM_SETSEL, 0, -1);
        if (cls == WC_COMBOBOXW) SendMessageW(next, CB_SETEDITSEL, 0, MAKELPARAM(0, -1));
        if (next == order[0]) SendMessageW(next, TB_SETHOTITEM, 0, 0);
        return true;
    }
    return false;
}

bool frmMain::preTranslate(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
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

void frmMain::yield() {
    const auto now = std::chrono::steady_clock::now();
    if (lastYield_ && now - *lastYield_ < kYieldInterval) return;
    lastYield_ = now;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Left for the outer loop, which ends the program.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (preTranslate(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void frmMain::tmrMig_Timer() {
    engine_->tmrMig_Timer();
    ShutdownBlockReasonDestroy(hwnd_);
    // A close asked for during the run is carried out now that the scan has
    // left the stack.
    if (closePending_) {
        closePending_ = false;
        PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    }
}

void frmMain::onClose() {
    if (engine_->running()) {
        engine_->requestStop();
        closePending_ = true;
        return;
    }
    if (!settingsSaved_) {
        settingsSaved_ = true;
        SaveSettings();
    }
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK frmMain::windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<frmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCCREATE) {
        self = static_cast<frmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    // An exception must not unwind through the system's frames.
    try {
        return self->handle(msg, wp, lp);
    } catch (...) {
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

LRESULT frmMain::handle(UINT msg, WPARAM wp, LPARAM lp) {
    const HWND hwnd = hwnd_;
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (id == static_cast<int>(Control::cboPACS)) {
            onPacsNotification(HIWORD(wp));
            return 0;
        }
        if (HIWORD(wp) != BN_CLICKED) break;
        if (id == kToolbarCommand[0] || id == kToolbarCommand[1])
            DispatchToolbarButton(id);
        else if (id >= static_cast<int>(Control::cmdSrcFolder0) && id <= static_cast<int>(Control::cmdSrcFolder2))
            ChooseFolder(static_cast<int16_t>(id - static_cast<int>(Control::cmdSrcFolder0)));
        else if (id == static_cast<int>(Control::chkDebug))
            toggleDebug();
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lp);
        if (header->hwndFrom == control(Control::tabMain) && header->code == TCN_SELCHANGE)
            showTab(static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case kKeepTypedPacs:
        keepTypedPacs();
        return 0;
    case WM_TIMER:
        if (wp == kTmrMig) {
            tmrMig_Timer();
            return 0;
        }
        if (wp == kProgressPainter) {
            paintProgress();
            return 0;
        }
        break;
    case WM_ACTIVATE:
        // Focus comes back to the control that had it, as in a dialog.
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
        } else if (!HIWORD(wp)) {
            if (lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_)) {
                SetFocus(lastFocus_);
            } else {
                // The first stop of the tab order, without lighting up a
                // button the user has not pointed at.
                SetFocus(control(Control::Toolbar));
                SendMessageW(control(Control::Toolbar), TB_SETHOTITEM, static_cast<WPARAM>(-1), 0);
            }
        }
        return 0;
    case WM_CLOSE:
        onClose();
        return 0;
    case WM_QUERYENDSESSION:
        // A run is held up against the session's end, with the reason Windows
        // shows the user; the run goes on unless the user ends the session anyway.
        if (!engine_->running()) return TRUE;
        ShutdownBlockReasonCreate(hwnd_, L"Migration l\u00e4uft");
        return FALSE;
    case WM_ENDSESSION: {
        if (!wp) return 0;
        // Windows may end the process any time after this message: a run
        // ends now, and the settings are stored as a close would store them.
        const bool running = engine_->running();
        engine_->EndSessionNow();
        if (!settingsSaved_) {
            settingsSaved_ = true;
            SaveSettings();
        }
        // The scan this message came through must not take up its file again.
        if (running) endProcess();
        return 0;
    }
    case WM_NCDESTROY:
        hwnd_ = nullptr;
        controls_.fill(nullptr);
        if (quitOnDestroy_) PostQuitMessage(0);
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

std::string frmMain::textOf(Control c) const { return utf8FromWide(windowText(control(c))); }

std::string frmMain::sourceText() const { return textOf(Control::txtSource); }
std::string frmMain::destText() const { return textOf(Control::txtDest); }
std::string frmMain::tempText() const { return textOf(Control::txtTemp); }
std::string frmMain::pacsText() const { return textOf(Control::cboPACS); }

int32_t frmMain::debugValue() const {
    HWND box = control(Control::chkDebug);
    if (!box) return 0;
    switch (SendMessageW(box, BM_GETCHECK, 0, 0)) {
    case BST_CHECKED: return 1;
    case BST_INDETERMINATE: return 2;
    default: return 0;
    }
}

void frmMain::setProgressMax(int32_t value) {
    jor::app::setProgressMaximum(control(Control::ProgBar), value);
    progressChanged();
}
void frmMain::setProgressValue(int32_t value) {
    jor::app::setProgressValue(control(Control::ProgBar), value);
    progressChanged();
}
void frmMain::setProgressText(const std::string& text) {
    jor::app::setProgressText(control(Control::ProgBar), wideText(text));
    progressChanged();
}
void frmMain::setStatusText(const std::string& text) {
    SetWindowTextW(control(Control::lblLoadInfo), wideText(text).c_str());
    progressChanged();
}

// The controls take every value at once, so what they report is current;
// only their painting waits. A change after a quiet spell is painted at the
// next yield; within the interval, the timer paints the latest values.
void frmMain::progressChanged() {
    if (progressHeld_ || !hwnd_) return;
    const ULONGLONG sincePaint = GetTickCount64() - lastProgressPaint_;
    if (sincePaint >= kProgressPaintInterval) {
        lastProgressPaint_ = GetTickCount64();
        return;
    }
    for (Control c : {Control::ProgBar, Control::lblLoadInfo}) SendMessageW(control(c), WM_SETREDRAW, FALSE, 0);
    progressHeld_ = true;
    SetTimer(hwnd_, kProgressPainter, static_cast<UINT>(kProgressPaintInterval - sincePaint), nullptr);
}

void frmMain::paintProgress() {
    KillTimer(hwnd_, kProgressPainter);
    progressHeld_ = false;
    for (Control c : {Control::ProgBar, Control::lblLoadInfo}) {
        SendMessageW(control(c), WM_SETREDRAW, TRUE, 0);
        // The parent's background under the label too: a shorter text leaves none of the longer one.
        RECT r;
        GetWindowRect(control(c), &r);
        MapWindowPoints(nullptr, GetParent(control(c)), reinterpret_cast<POINT*>(&r), 2);
        RedrawWindow(GetParent(control(c)), &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
    lastProgressPaint_ = GetTickCount64();
}
void frmMain::setMigrierenEnabled(bool enabled) {
    SendMessageW(control(Control::Toolbar), TB_ENABLEBUTTON, kToolbarCommand[0], MAKELPARAM(enabled, 0));
}
void frmMain::setBeendenEnabled(bool enabled) {
    SendMessageW(control(Control::Toolbar), TB_ENABLEBUTTON, kToolbarCommand[1], MAKELPARAM(enabled, 0));
}
void frmMain::armTimer() { SetTimer(hwnd_, kTmrMig, 1, nullptr); }
void frmMain::disarmTimer() {
    if (hwnd_) KillTimer(hwnd_, kTmrMig);
}

void frmMain::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    MessageBoxW(hwnd_, wideText(text).c_str(), wideText(title).c_str(),
                MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : MB_ICONINFORMATION));
}

}  // namespace jor::app
