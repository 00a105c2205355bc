// The main window in Win32: the window, its messages and the answers to the main form's view.
#include "app/win32/frm_main.h"

#include "app/win32/folder_dialog.h"
#include "app/win32/text_progress_bar.h"
#include "platform/win32/wide_text.h"

#include <commctrl.h>

#include <algorithm>

namespace jor::app {
namespace {

constexpr wchar_t MainClass[] = L"JorOrvek.frmMain";
constexpr UINT_PTR TimerIds[2] = {1, 2};  // FormTimer
constexpr UINT KeepTypedPacs = WM_APP + 1;
constexpr int ChoiceButtonId = 100;

// Looked up, not imported: comctl32 has it only in version 6, which a test
// program without the manifest does not load.
using TaskDialogIndirectCall = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
TaskDialogIndirectCall taskDialogIndirect() {
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    return comctl ? reinterpret_cast<TaskDialogIndirectCall>(
                        reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")))
                  : nullptr;
}

HINSTANCE instance() { return GetModuleHandleW(nullptr); }

}  // namespace

frmMain::frmMain(std::string programFolder) {
    folderDialog = ShowFolderDialog;
    processExit = [] { ::ExitProcess(0); };
    registerWindowClasses(windowProc, MainClass);
    HDC screen = GetDC(nullptr);
    dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    fonts_ = std::make_unique<Fonts>(dpi_);
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT rc{0, 0, px(ClientWidth), px(ClientHeight)};
    AdjustWindowRectEx(&rc, style, FALSE, 0);
    CreateWindowExW(0, MainClass, wideText(WindowCaption).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                    rc.right - rc.left, rc.bottom - rc.top, nullptr, nullptr, instance(), this);
    buildControls();
    form_ = std::make_unique<MainForm>(static_cast<MainFormView&>(*this), std::move(programFolder));
}

frmMain::~frmMain() {
    quitOnDestroy_ = false;
    if (hwnd_) DestroyWindow(hwnd_);
}

void frmMain::buildControls() {
    for (const ControlRow& row : ControlTable) {
        HWND parent = row.parent == ControlId::Window ? hwnd_ : control(row.parent);
        if (row.kind == ControlKind::Toolbar) {
            toolbar_ = std::make_unique<Toolbar>(parent, row, fonts_->get(row.font), dpi_);
            controls_[static_cast<size_t>(row.id)] = toolbar_->hwnd();
        } else {
            controls_[static_cast<size_t>(row.id)] = createControl(row, parent, *fonts_, dpi_);
        }
    }
    std::array<HWND, 10> order{};
    const auto stops = tabOrder();
    for (size_t i = 0; i < stops.size(); ++i) order[i] = control(stops[i]);
    keyboard_.setOrder(order);
    pacs_.attach(control(ControlId::cboPACS), hwnd_, KeepTypedPacs);
    showTab(0);
}

void frmMain::showTab(int index) {
    for (const TabFrame& tab : tabFrames(index)) ShowWindow(control(tab.frame), tab.visible ? SW_SHOW : SW_HIDE);
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
    // Messages while the window is made, before the form exists.
    if (!form_ && msg != WM_NCDESTROY) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
    case WM_COMMAND: {
        const int id = LOWORD(wp);
        if (id == controlWindowId(ControlId::cboPACS)) {
            pacs_.notified(HIWORD(wp));
            return 0;
        }
        if (HIWORD(wp) != BN_CLICKED) break;
        if (const int button = Toolbar::buttonOf(id))
            form_->DispatchToolbarButton(button);
        else if (id >= controlWindowId(ControlId::cmdSrcFolder0) && id <= controlWindowId(ControlId::cmdSrcFolder2))
            form_->ChooseFolder(static_cast<int16_t>(rowOf(static_cast<ControlId>(id - 1000)).index));
        else if (id == controlWindowId(ControlId::chkDebug))
            form_->chkDebugClicked();
        return 0;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lp);
        if (header->hwndFrom == control(ControlId::tabMain) && header->code == TCN_SELCHANGE)
            showTab(static_cast<int>(SendMessageW(header->hwndFrom, TCM_GETCURSEL, 0, 0)));
        return 0;
    }
    case KeepTypedPacs: pacs_.keepTypedText(); return 0;
    case WM_TIMER:
        for (const FormTimer timer : {FormTimer::tmrMig, FormTimer::ProgressPainter})
            if (wp == TimerIds[static_cast<int>(timer)]) {
                KillTimer(hwnd_, wp);
                form_->timerFired(timer);
                return 0;
            }
        break;
    case WM_ACTIVATE: keyboard_.activated(wp, hwnd_); return 0;
    case WM_CLOSE:
        if (form_->QueryUnload()) DestroyWindow(hwnd_);
        return 0;
    case WM_QUERYENDSESSION: return form_->holdSessionEnd() ? FALSE : TRUE;
    case WM_ENDSESSION:
        // Windows may end the process any time after this message: during a
        // run it is answered only once the run has unwound and ended the
        // process (resumed only where the process did not end).
        if (wp && form_->EndSession()) events_.leave();
        return 0;
    case WM_NCDESTROY:
        hwnd_ = nullptr;
        controls_.fill(nullptr);
        if (quitOnDestroy_) PostQuitMessage(0);
        break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

std::string frmMain::text(ControlId id) const {
    if (id == ControlId::ProgBar) return utf8FromWide(progressText(control(id)));
    return control(id) ? utf8FromWide(windowText(control(id))) : std::string();
}

void frmMain::setText(ControlId id, const std::string& text) {
    if (id == ControlId::ProgBar)
        jor::app::setProgressText(control(id), wideText(text));
    else
        SetWindowTextW(control(id), wideText(text).c_str());
}

void frmMain::addPacsEntry(const std::string& entry) {
    SendMessageW(control(ControlId::cboPACS), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wideText(entry).c_str()));
}

int32_t frmMain::checkValue() const {
    HWND box = control(ControlId::chkDebug);
    if (!box) return 0;
    switch (SendMessageW(box, BM_GETCHECK, 0, 0)) {
    case BST_CHECKED: return 1;
    case BST_INDETERMINATE: return 2;
    default: return 0;
    }
}

void frmMain::setCheckValue(int32_t value) {
    const WPARAM state = value == 1 ? BST_CHECKED : value == 2 ? BST_INDETERMINATE : BST_UNCHECKED;
    SendMessageW(control(ControlId::chkDebug), BM_SETCHECK, state, 0);
}

std::string frmMain::toolbarCaption(int button) const { return toolbar_ ? toolbar_->caption(button) : ""; }
void frmMain::setToolbarButtonEnabled(int button, bool enabled) {
    if (hwnd_) toolbar_->setEnabled(button, enabled);
}
void frmMain::setProgressMax(int32_t value) { setProgressMaximum(control(ControlId::ProgBar), value); }
void frmMain::setProgressValue(int32_t value) { jor::app::setProgressValue(control(ControlId::ProgBar), value); }

void frmMain::holdProgressPainting(bool hold) {
    if (!hwnd_) return;
    for (ControlId id : {ControlId::ProgBar, ControlId::lblLoadInfo}) {
        HWND c = control(id);
        SendMessageW(c, WM_SETREDRAW, hold ? FALSE : TRUE, 0);
        if (hold) continue;
        // The parent's background under the label too: a shorter text leaves none of the longer one.
        RECT r;
        GetWindowRect(c, &r);
        MapWindowPoints(nullptr, GetParent(c), reinterpret_cast<POINT*>(&r), 2);
        RedrawWindow(GetParent(c), &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    }
}

void frmMain::armTimer(FormTimer timer, std::chrono::milliseconds interval) {
    if (hwnd_) SetTimer(hwnd_, TimerIds[static_cast<int>(timer)], static_cast<UINT>(interval.count()), nullptr);
}
void frmMain::disarmTimer(FormTimer timer) {
    if (hwnd_) KillTimer(hwnd_, TimerIds[static_cast<int>(timer)]);
}

// Boxes have message loops of their own: on the event fiber, like the yields.
void frmMain::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    events_.run([&] {
        MessageBoxW(hwnd_, wideText(text).c_str(), wideText(title).c_str(),
                    MB_OK | (icon == MessageIcon::Stop      ? MB_ICONSTOP
                             : icon == MessageIcon::Warning ? MB_ICONWARNING
                                                            : MB_ICONINFORMATION));
    });
}

bool frmMain::askQuestion(const std::string& title, const std::string& text) {
    bool yes = false;
    events_.run([&] {
        yes = MessageBoxW(hwnd_, wideText(text).c_str(), wideText(title).c_str(),
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
    });
    return yes;
}

size_t frmMain::askChoice(const std::string& title, const std::string& text, const std::vector<std::string>& answers) {
    size_t taken = answers.size() - 1;
    events_.run([&] { taken = choiceBox(title, text, answers); });
    return taken;
}

size_t frmMain::choiceBox(const std::string& title, const std::string& text, const std::vector<std::string>& answers) {
    const std::wstring wideTitle = wideText(title), wideBody = wideText(text);
    std::vector<std::wstring> labels;
    std::vector<TASKDIALOG_BUTTON> buttons;
    for (const std::string& answer : answers) labels.push_back(wideText(answer));
    for (size_t i = 0; i < labels.size(); ++i)
        buttons.push_back({static_cast<int>(ChoiceButtonId + i), labels[i].c_str()});
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = hwnd_;
    config.dwFlags = TDF_USE_COMMAND_LINKS | TDF_ALLOW_DIALOG_CANCELLATION | TDF_USE_HICON_MAIN |
                     TDF_POSITION_RELATIVE_TO_WINDOW;
    config.pszWindowTitle = wideTitle.c_str();
    config.hMainIcon = LoadIconW(nullptr, IDI_QUESTION);
    config.pszContent = wideBody.c_str();
    config.cButtons = static_cast<UINT>(buttons.size());
    config.pButtons = buttons.data();
    config.nDefaultButton = ChoiceButtonId;
    int pressed = 0;
    const auto taskDialog = taskDialogIndirect();
    if (taskDialog && SUCCEEDED(taskDialog(&config, &pressed, nullptr, nullptr))) {
        const size_t index = static_cast<size_t>(pressed - ChoiceButtonId);
        return pressed >= ChoiceButtonId && index < answers.size() ? index : answers.size() - 1;
    }
    // Without the task dialog: Ja, Nein and Abbrechen, which the text explains.
    std::string explained = text + "\r\n";
    const char* const standard[] = {"Ja", "Nein", "Abbrechen"};
    for (size_t i = 0; i < answers.size() && i < 3; ++i) explained += "\r\n" + std::string(standard[i]) + ": " + answers[i];
    const int box = MessageBoxW(hwnd_, wideText(explained).c_str(), wideTitle.c_str(), MB_YESNOCANCEL | MB_ICONQUESTION);
    return box == IDYES ? 0 : box == IDNO ? std::min<size_t>(1, answers.size() - 1) : answers.size() - 1;
}

std::string frmMain::showFolderDialog(const std::string& title) { return folderDialog ? folderDialog(title) : ""; }

void frmMain::processEvents() { events_.run([this] { pumpEvents(); }); }

void frmMain::pumpEvents() {
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

void frmMain::closeWindow() { close(); }
void frmMain::closeWindowLater() {
    if (hwnd_) PostMessageW(hwnd_, WM_CLOSE, 0, 0);
}

void frmMain::holdSession(const std::string& reason, bool hold) {
    if (!hwnd_) return;
    if (hold)
        ShutdownBlockReasonCreate(hwnd_, wideText(reason).c_str());
    else
        ShutdownBlockReasonDestroy(hwnd_);
}

// The event fiber hands control back to the run instead.
void frmMain::closeBoxes() {}

void frmMain::endProcess() {
    if (processExit) processExit();
    events_.resumeLeft();
}

}  // namespace jor::app
