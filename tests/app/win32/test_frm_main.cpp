// The Win32 window itself: its layout, fonts, boxes and painting, and what it stores.
#include "app/win32/frm_main.h"
#include "app/win32/text_progress_bar.h"
#include "platform/win32/wide_text.h"
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

namespace jor::app {
namespace {

using test::BoxWatcher;
using test::TempDir;

std::string text(HWND w) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(w, buffer, 1024);
    return utf8FromWide(buffer);
}

void click(HWND w, const RECT& r) {
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(w, WM_LBUTTONUP, 0, at);
}

void pump() {
    test::waitFor([] { return false; }, 30);
}

struct WindowTest : ::testing::Test {
    TempDir programFolder;
    std::unique_ptr<frmMain> window;
    int dpi = 96;

    void SetUp() override {
        HDC dc = GetDC(nullptr);
        dpi = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(nullptr, dc);
        open();
    }
    void open() {
        window = std::make_unique<frmMain>(programFolder.path());
        window->InitMainWindow();
        window->show();
        pump();
    }
    void closeAndReopen() {
        window->close();
        open();
    }
    HWND c(ControlId id) const { return window->control(id); }
    int px(int twips) const { return MulDiv(twips, dpi, 1440); }
    void setText(ControlId id, const std::string& t) { SetWindowTextW(c(id), wideText(t).c_str()); }
    void clickToolbarButton(int index) {
        RECT r{};
        SendMessageW(c(ControlId::Toolbar), TB_GETRECT, ToolbarCommand[index - 1], reinterpret_cast<LPARAM>(&r));
        click(c(ControlId::Toolbar), r);
    }
    void clickTab(int index) {
        RECT r{};
        SendMessageW(c(ControlId::tabMain), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
        click(c(ControlId::tabMain), r);
    }
    // What a run of 200 files stopped part-way leaves, and a close after it stores nothing again.
    void expectStoppedEarlyAndStoredOnce(const TempDir& work) {
        EXPECT_TRUE(BoxWatcher::seen.empty()) << "no report for a stopped run";
        EXPECT_LT(test::countFiles(work / "dest"), 200u) << "the run stopped early";
        EXPECT_FALSE(test::exists(work / "TempOrvek"));
        EXPECT_NE(test::readFile(programFolder / "Settings.ini").find("PACS=HIPAX"), std::string::npos);
        test::writeFile(programFolder / "Settings.ini", "marker");
        window->close();
        window.reset();
        EXPECT_EQ(test::readFile(programFolder / "Settings.ini"), "marker") << "stored once";
    }
    // A HIPAX disc under work\src (half of it in a subfolder), the destination work\dest, temp work.
    void prepareRun(const TempDir& work, int files) {
        for (int i = 0; i < files; ++i)
            test::writeFile(work / ("src\\" + std::string(i % 2 ? "sub\\" : "") + "IM" + std::to_string(i)), "x");
        CreateDirectoryW(wideText(work / "dest").c_str(), nullptr);
        setText(ControlId::txtSource, work / "src");
        setText(ControlId::txtDest, work / "dest");
        setText(ControlId::txtTemp, work.path());
        setText(ControlId::cboPACS, "HIPAX");
    }
};

TEST_F(WindowTest, FrameSizePlaceAndIcon) {
    HWND w = window->hwnd();
    EXPECT_EQ(text(w), "Jor - Orvek");
    RECT client, work, frame;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, px(6090)) << "406 at 96 DPI";
    EXPECT_EQ(client.bottom, px(4380)) << "292 at 96 DPI";
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), WS_MINIMIZEBOX) << "fixed, no maximise";
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(w, &frame);
    EXPECT_NEAR(frame.left + frame.right, work.left + work.right, 1) << "centred with its frame";
    EXPECT_NEAR(frame.top + frame.bottom, work.top + work.bottom, 1);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(GetClassLongPtrW(w, GCLP_HICON)), &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXICON)) << "32 at 96 DPI";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(WindowTest, ControlsStandWhereTheLayoutPutsThem) {
    // Labels and the check box may grow so that no caption is cut, and so may
    // the closed combo box above 96 DPI.
    for (const ControlRow& row : ControlTable) {
        RECT r;
        GetWindowRect(c(row.id), &r);
        MapWindowPoints(HWND_DESKTOP, GetParent(c(row.id)), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(GetParent(c(row.id)), row.parent == ControlId::Window ? window->hwnd() : c(row.parent)) << row.name;
        EXPECT_EQ(r.left * 10000 + r.top, px(row.left) * 10000 + px(row.top)) << row.name << " " << row.index;
        if (row.mayGrow || (row.id == ControlId::cboPACS && dpi > 96)) {
            EXPECT_GE(r.right - r.left, px(row.width)) << row.name << " " << row.index;
            EXPECT_GE(r.bottom - r.top, px(row.height)) << row.name << " " << row.index;
        } else {
            EXPECT_EQ(r.right - r.left, px(row.width)) << row.name << " " << row.index;
            EXPECT_EQ(r.bottom - r.top, px(row.height)) << row.name << " " << row.index;
        }
    }
    // Toolbar buttons: 765 x 780 twips side by side, wider only for a caption
    // that needs it; 32 x 32 images from two lists; no tooltips.
    HWND toolbar = c(ControlId::Toolbar);
    LONG right = 0;
    for (int i = 0; i < 2; ++i) {
        RECT r{};
        SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        EXPECT_EQ(r.left, right) << "button " << i + 1;
        EXPECT_GE(r.right - r.left, std::max(px(765), 48)) << "button " << i + 1 << ": Migrieren needs 48 px";
        EXPECT_EQ(r.bottom - r.top, px(780)) << "button " << i + 1;
        right = r.right;
    }
    for (UINT message : {TB_GETIMAGELIST, TB_GETDISABLEDIMAGELIST}) {
        auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, message, 0, 0));
        int cx = 0, cy = 0;
        ImageList_GetIconSize(list, &cx, &cy);
        EXPECT_EQ(ImageList_GetImageCount(list) * 10000 + cx * 100 + cy, 23232);
    }
    EXPECT_EQ(SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0), 0);
}

TEST_F(WindowTest, FontsAreTahomaWithBoldButtonsAndBar) {
    struct Case {
        ControlId id;
        int centiPoints;
        bool bold;
    };
    const Case cases[] = {{ControlId::Label1, 825, false},       {ControlId::cboPACS, 825, false},
                          {ControlId::Toolbar, 825, false},      {ControlId::tabMain, 825, false},
                          {ControlId::cmdSrcFolder2, 975, true}, {ControlId::ProgBar, 825, true}};
    for (const Case& k : cases) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(c(k.id), WM_GETFONT, 0, 0));
        LOGFONTW lf{};
        ASSERT_TRUE(GetObjectW(font, sizeof lf, &lf));
        const std::string name = rowOf(k.id).name;
        EXPECT_EQ(lf.lfHeight, -MulDiv(k.centiPoints, dpi, 7200)) << name;
        EXPECT_EQ(lf.lfWeight >= FW_BOLD, k.bold) << name;
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        EXPECT_EQ(utf8FromWide(face), "Tahoma")
            << name << " (under Wine fonts-wine's tahoma*.ttf belong in windows\\Fonts)";
    }
}

TEST_F(WindowTest, TabOrderFollowsTheLayoutAndTabsShowOnePage) {
    const auto sequence = [&] {
        std::vector<int> seen;
        SetFocus(c(ControlId::Toolbar));
        for (int i = 0; i < 7; ++i) {
            HWND focus = GetFocus();
            for (size_t id = 0; id < ControlCount; ++id)
                if (HWND w = c(static_cast<ControlId>(id));
                    w == focus || (static_cast<ControlId>(id) == ControlId::cboPACS && IsChild(w, focus)))
                    seen.push_back(static_cast<int>(id));
            MSG tab{focus, WM_KEYDOWN, VK_TAB, 0, 0, {}};
            EXPECT_TRUE(window->preTranslate(tab));
        }
        return seen;
    };
    auto n = [](ControlId x) { return static_cast<int>(x); };
    setText(ControlId::txtSource, "C:\\x");
    // Only the page in front takes the focus.
    EXPECT_EQ(sequence(), (std::vector<int>{n(ControlId::Toolbar), n(ControlId::tabMain), n(ControlId::txtSource),
                                            n(ControlId::txtDest), n(ControlId::cmdSrcFolder0),
                                            n(ControlId::cmdSrcFolder1), n(ControlId::Toolbar)}));
    clickTab(1);
    EXPECT_FALSE(IsWindowVisible(c(ControlId::txtSource)));
    EXPECT_EQ(sequence(), (std::vector<int>{n(ControlId::Toolbar), n(ControlId::tabMain), n(ControlId::cboPACS),
                                            n(ControlId::chkDebug), n(ControlId::cmdSrcFolder2), n(ControlId::txtTemp),
                                            n(ControlId::Toolbar)}));
    clickTab(0);
    EXPECT_FALSE(IsWindowVisible(c(ControlId::txtTemp)));
    EXPECT_EQ(window->form().sourceText(), "C:\\x");
}

TEST_F(WindowTest, PacsListAndTypedTextStayAsTheyAre) {
    const char* entries[] = {"Arzt und Praxis", "GEMED", "HIPAX"};
    ASSERT_EQ(SendMessageW(c(ControlId::cboPACS), CB_GETCOUNT, 0, 0), 3);
    for (int i = 0; i < 3; ++i) {
        wchar_t entry[64] = {};
        SendMessageW(c(ControlId::cboPACS), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        EXPECT_EQ(utf8FromWide(entry), entries[i]);
    }
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(c(ControlId::cboPACS), &info));
    for (const char* typed : {"hipax", "Arzt", "gemed "}) {
        SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
        for (const char* p = typed; *p; ++p) SendMessageW(info.hwndItem, WM_CHAR, static_cast<WPARAM>(*p), 0);
        pump();
        EXPECT_EQ(window->form().pacsText(), typed);
    }
    // Opening and closing the list completes nothing either.
    setText(ControlId::cboPACS, "hip");
    SendMessageW(c(ControlId::cboPACS), CB_SHOWDROPDOWN, TRUE, 0);
    pump();
    SendMessageW(c(ControlId::cboPACS), CB_SHOWDROPDOWN, FALSE, 0);
    pump();
    EXPECT_EQ(window->form().pacsText(), "hip");
}

TEST_F(WindowTest, DimmedDebugShowsAndClicksSwitchClearAndTicked) {
    window->close();
    test::writeFile(programFolder / "Settings.ini", "[Debug]\r\nDebugValue=2\r\n[PACS]\r\nPACS=Unbekannt\r\n");
    open();
    EXPECT_EQ(SendMessageW(c(ControlId::chkDebug), BM_GETCHECK, 0, 0), BST_INDETERMINATE) << "shown dimmed";
    EXPECT_EQ(text(c(ControlId::cboPACS)), "Unbekannt");
    std::vector<LRESULT> seen;
    for (int i = 0; i < 3; ++i) {
        SendMessageW(c(ControlId::chkDebug), BM_CLICK, 0, 0);
        seen.push_back(SendMessageW(c(ControlId::chkDebug), BM_GETCHECK, 0, 0));
    }
    EXPECT_EQ(seen, (std::vector<LRESULT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED}));
}

TEST_F(WindowTest, ToolbarDispatchGoesByCaption) {
    window->form().setBeendenEnabled(false);
    clickToolbarButton(2);
    EXPECT_NE(window->hwnd(), nullptr) << "a disabled Beenden does not close";
    window->form().setBeendenEnabled(true);
    // Button 1 captioned "Beenden" closes the window.
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = const_cast<wchar_t*>(L"Beenden");
    SendMessageW(c(ControlId::Toolbar), TB_SETBUTTONINFOW, ToolbarCommand[0], reinterpret_cast<LPARAM>(&info));
    clickToolbarButton(1);
    EXPECT_EQ(window->hwnd(), nullptr);
    EXPECT_NE(test::readFile(programFolder / "Settings.ini").find("PACS=Arzt und Praxis"), std::string::npos);
}

// The boxes' icons: stop for a refused start, information for the report.
TEST_F(WindowTest, MessageBoxesCarryTheirIcons) {
    BoxWatcher boxes;
    clickToolbarButton(1);
    TempDir work;
    prepareRun(work, 3);
    clickToolbarButton(1);
    EXPECT_FALSE(window->toolbarButtonEnabled(1)) << "no second run inside the first";
    ASSERT_TRUE(test::waitFor([&] { return BoxWatcher::seen.size() == 2 && window->toolbarButtonEnabled(2); }, 10000));
    EXPECT_EQ(BoxWatcher::icons, (std::vector<HICON>{LoadIconW(nullptr, IDI_HAND), LoadIconW(nullptr, IDI_ASTERISK)}));
}

// Records what the progress bar and the status label show each time they are painted.
struct PaintRecorder {
    static inline std::vector<std::string> painted;
    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR) {
        if (msg == WM_PAINT)
            painted.push_back(id == 1 ? "bar " + std::to_string(progressValue(w)) + " " + utf8FromWide(progressText(w))
                                      : "label " + text(w));
        return DefSubclassProc(w, msg, wp, lp);
    }
    static std::string last(const std::string& prefix) {
        for (auto it = painted.rbegin(); it != painted.rend(); ++it)
            if (it->starts_with(prefix)) return *it;
        return "";
    }
};

// The toolkit's part of painting at a human rate (the rate: tests/app/main_form):
// what the form sets while it holds painting is not painted, and the latest
// values are once it lets go.
TEST_F(WindowTest, HeldProgressIsPaintedWithTheLatestValuesOnceLetGo) {
    PaintRecorder::painted.clear();
    SetWindowSubclass(c(ControlId::ProgBar), PaintRecorder::proc, 1, 0);
    SetWindowSubclass(c(ControlId::lblLoadInfo), PaintRecorder::proc, 2, 0);
    MainForm& form = window->form();
    form.setProgressMax(9);
    Sleep(static_cast<DWORD>(ProgressPaintInterval.count()));
    form.setProgressValue(1);  // after a quiet spell: not held
    form.setProgressValue(2);
    form.setProgressText("2 von 9");
    form.setStatusText("Datei 2");
    // What may be painted, without the painter's tick.
    for (MSG msg; PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE);) DispatchMessageW(&msg);
    EXPECT_EQ(PaintRecorder::last("bar 2 2"), "");
    EXPECT_EQ(PaintRecorder::last("label Datei"), "");
    EXPECT_TRUE(test::waitFor(
        [] {
            return PaintRecorder::last("bar ") == "bar 2 2 von 9" && PaintRecorder::last("label ") == "label Datei 2";
        },
        2000))
        << "last painted: " << PaintRecorder::last("bar ") << " / " << PaintRecorder::last("label ");
    RemoveWindowSubclass(c(ControlId::ProgBar), PaintRecorder::proc, 1);
    RemoveWindowSubclass(c(ControlId::lblLoadInfo), PaintRecorder::proc, 2);
}

frmMain* sessionTarget = nullptr;
LRESULT sessionQuery = -1;
void CALLBACK endSessionDuringRun(HWND, UINT, UINT_PTR id, DWORD) {
    if (!sessionTarget->engine().running()) return;  // not yet, or no more
    KillTimer(nullptr, id);
    sessionQuery = SendMessageW(sessionTarget->hwnd(), WM_QUERYENDSESSION, 0, 0);
    SendMessageW(sessionTarget->hwnd(), WM_ENDSESSION, TRUE, 0);
}

TEST_F(WindowTest, SessionEndDuringARunEndsItAtOnceAndStoresOnce) {
    TempDir work;
    prepareRun(work, 200);
    int ended = 0;
    window->processExit = [&] { ++ended; };
    EXPECT_EQ(SendMessageW(window->hwnd(), WM_QUERYENDSESSION, 0, 0), TRUE) << "idle, the session may end";
    BoxWatcher boxes;
    // Both come, as Windows sends them, while the run yields to the message loop.
    sessionTarget = window.get();
    sessionQuery = -1;
    SetTimer(nullptr, 0, 1, endSessionDuringRun);
    clickToolbarButton(1);
    ASSERT_TRUE(test::waitFor([&] { return ended > 0 && !window->engine().running(); }, 10000));
    EXPECT_EQ(sessionQuery, FALSE) << "a run holds the session's end up";
    EXPECT_EQ(ended, 1);
    expectStoppedEarlyAndStoredOnce(work);
}

// The question's box: its icon and text, Nein for Enter, Ja when pressed
// (when it comes: tests/migration/test_run_journal.cpp).
TEST_F(WindowTest, QuestionDefaultsToNeinAndAnswersJa) {
    BoxWatcher boxes;
    const std::string question =
        "Der Datentr\xC3\xA4ger CD wurde am 24.03.2008 bereits migriert. Noch einmal migrieren?";
    EXPECT_FALSE(window->form().askQuestion("Jor-Orvek", question));
    BoxWatcher::answer = IDYES;
    EXPECT_TRUE(window->form().askQuestion("Jor-Orvek", question));
    EXPECT_EQ(BoxWatcher::seen, std::vector<std::string>(2, "Jor-Orvek|" + question));
    EXPECT_EQ(BoxWatcher::icons, std::vector<HICON>(2, LoadIconW(nullptr, IDI_QUESTION)));
}

TEST_F(WindowTest, FolderButtonsFillTheBoxOfTheirIndex) {
    std::string answer;
    window->folderDialog = [&](const std::string& title) { return title + answer; };
    const ControlId* boxes = FolderBoxes;
    for (int i = 0; i < 3; ++i) {
        answer = std::to_string(i);
        const ControlId buttons[] = {ControlId::cmdSrcFolder0, ControlId::cmdSrcFolder1, ControlId::cmdSrcFolder2};
        SendMessageW(c(buttons[i]), BM_CLICK, 0, 0);
        EXPECT_EQ(text(c(boxes[i])), "W\xC3\xA4hlen Sie Ihren Ordner ..." + answer);
    }
    window->folderDialog = [](const std::string&) { return std::string(); };
    window->form().ChooseFolder(1);
    EXPECT_EQ(window->form().destText(), "W\xC3\xA4hlen Sie Ihren Ordner ...1") << "cancel keeps the text";
}

}  // namespace
}  // namespace jor::app
