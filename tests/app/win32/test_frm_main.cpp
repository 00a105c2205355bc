#include "app/win32/frm_main.h"
#include "app/win32/text_progress_bar.h"
#include "app/win32/wide_text.h"
#include "win32_test_support.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <memory>

namespace jor::app {
namespace {

using test::BoxWatcher;
using test::TempDir;

RECT rectInParent(HWND w) {
    RECT r;
    GetWindowRect(w, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(w), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string text(HWND w) {
    wchar_t buffer[1024] = {};
    GetWindowTextW(w, buffer, 1024);
    return narrow(buffer);
}

int screenDpi() {
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi;
}

void click(HWND w, POINT p) {
    const LPARAM at = MAKELPARAM(p.x, p.y);
    SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(w, WM_LBUTTONUP, 0, at);
}

POINT centre(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

struct WindowTest : ::testing::Test {
    TempDir programFolder;
    std::unique_ptr<frmMain> window;
    const int dpi = screenDpi();

    void SetUp() override { open(); }

    void open() {
        window = std::make_unique<frmMain>(programFolder.path());
        window->InitMainWindow();
        window->show();
        test::waitFor([] { return false; }, 20);
    }
    void closeAndReopen() {
        window->close();
        open();
    }
    HWND c(Control id) const { return window->control(id); }
    int px(int twips) const { return MulDiv(twips, dpi, 1440); }
    void setText(Control id, const std::string& t) { SetWindowTextW(c(id), widen(t).c_str()); }

    void clickToolbarButton(int index) {
        RECT r{};
        SendMessageW(c(Control::Toolbar), TB_GETRECT, kToolbarCommand[index - 1], reinterpret_cast<LPARAM>(&r));
        click(c(Control::Toolbar), centre(r));
    }
    void clickTab(int index) {
        RECT r{};
        SendMessageW(c(Control::tabMain), TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
        click(c(Control::tabMain), centre(r));
    }
    // A HIPAX disc under work\src, the destination work\dest, temp work.
    void prepareRun(const TempDir& work, int files) {
        for (int i = 0; i < files; ++i)
            test::writeFile(work / ("src\\" + std::string(i % 2 ? "sub\\" : "") + "IM" + std::to_string(i)), "x");
        CreateDirectoryW(widen(work / "dest").c_str(), nullptr);
        setText(Control::txtSource, work / "src");
        setText(Control::txtDest, work / "dest");
        setText(Control::txtTemp, work.path());
        setText(Control::cboPACS, "HIPAX");
    }
};

TEST_F(WindowTest, CaptionFrameSizeAndPlace) {
    HWND w = window->hwnd();
    EXPECT_EQ(text(w), "Jor - Orvek");
    RECT client;
    GetClientRect(w, &client);
    EXPECT_EQ(client.right, px(6090));
    EXPECT_EQ(client.bottom, px(4380));
    if (dpi == 96) {
        EXPECT_EQ(client.right * 1000 + client.bottom, 406292);
    }
    const LONG style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME) << "the user cannot resize it";
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(reinterpret_cast<HICON>(GetClassLongPtrW(w, GCLP_HICON)), &info));
    BITMAP bm{};
    GetObjectW(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(bm.bmWidth, GetSystemMetrics(SM_CXICON)) << "32 at 96 DPI";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    RECT work, frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(w, &frame);
    EXPECT_NEAR(frame.left + frame.right, work.left + work.right, 1) << "centred with its frame";
    EXPECT_NEAR(frame.top + frame.bottom, work.top + work.bottom, 1);
}

TEST_F(WindowTest, ControlsStandWhereTheLayoutPutsThem) {
    // Twips, relative to the container.
    struct Case { Control id; int left, top, width, height; bool mayGrow; };
    const Case cases[] = {
        {Control::Toolbar, 0, 0, 6090, 780, false},         {Control::tabMain, 45, 855, 5985, 2535, false},
        {Control::Frame2_0, 45, 360, 5865, 2085, false},     {Control::Frame2_1, 45, 360, 5865, 2085, false},
        {Control::Picture2, 45, 180, 5775, 1815, false},     {Control::Picture3, 90, 180, 5730, 1860, false},
        {Control::Label1, 90, 90, 1215, 195, true},          {Control::txtSource, 90, 360, 4965, 345, false},
        {Control::cmdSrcFolder0, 5130, 360, 510, 360, false}, {Control::Label2, 90, 945, 1095, 195, true},
        {Control::txtDest, 90, 1215, 4965, 345, false},      {Control::cmdSrcFolder1, 5130, 1215, 510, 360, false},
        {Control::Label3_1, 45, 90, 1245, 195, true},        {Control::txtTemp, 45, 360, 4965, 345, false},
        {Control::cmdSrcFolder2, 5085, 360, 510, 360, false}, {Control::Label3_0, 45, 990, 1125, 195, true},
        {Control::cboPACS, 1350, 945, 1905, 315, false},     {Control::chkDebug, 45, 1395, 1320, 240, true},
        {Control::lblLoadInfo, 135, 3465, 5865, 240, false}, {Control::ProgBar, 45, 3780, 6000, 555, false},
    };
    for (const Case& k : cases) {
        const int n = static_cast<int>(k.id) - 1000;
        const RECT r = rectInParent(c(k.id));
        EXPECT_EQ(r.left, px(k.left)) << "control " << n;
        EXPECT_EQ(r.top, px(k.top)) << "control " << n;
        // Labels and the check box may only grow, so that no caption is cut;
        // above 96 DPI the closed combo box may need more than its share for its font.
        if (k.mayGrow || (k.id == Control::cboPACS && dpi > 96)) {
            EXPECT_GE(r.right - r.left, px(k.width)) << "control " << n;
            EXPECT_GE(r.bottom - r.top, px(k.height)) << "control " << n;
        } else {
            EXPECT_EQ(r.right - r.left, px(k.width)) << "control " << n;
            EXPECT_EQ(r.bottom - r.top, px(k.height)) << "control " << n;
        }
    }
    // Toolbar buttons: 765 x 780 twips side by side, wider only where the
    // caption needs it; 32 x 32 images from two lists.
    HWND toolbar = c(Control::Toolbar);
    LONG right = 0;
    for (int i = 0; i < 2; ++i) {
        RECT r{};
        SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
        EXPECT_EQ(r.left, right) << "button " << i + 1;
        EXPECT_GE(r.right - r.left, px(765)) << "button " << i + 1;
        EXPECT_EQ(r.bottom - r.top, px(780)) << "button " << i + 1;
        right = r.right;
    }
    // No caption is cut.
    for (Control id : {Control::Toolbar, Control::Label1, Control::Label2, Control::Label3_0, Control::Label3_1,
                       Control::chkDebug}) {
        HDC dc = GetDC(c(id));
        HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(c(id), WM_GETFONT, 0, 0)));
        const int buttons = id == Control::Toolbar ? 2 : 1;
        for (int i = 0; i < buttons; ++i) {
            wchar_t caption[64] = {};
            RECT r{};
            if (id == Control::Toolbar) {
                SendMessageW(toolbar, TB_GETBUTTONTEXTW, kToolbarCommand[i], reinterpret_cast<LPARAM>(caption));
                SendMessageW(toolbar, TB_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
            } else {
                GetWindowTextW(c(id), caption, 64);
                GetClientRect(c(id), &r);
            }
            SIZE need{};
            GetTextExtentPoint32W(dc, caption, lstrlenW(caption), &need);
            EXPECT_LE(need.cx, r.right - r.left) << narrow(caption);
        }
        SelectObject(dc, old);
        ReleaseDC(c(id), dc);
    }
    for (UINT message : {TB_GETIMAGELIST, TB_GETDISABLEDIMAGELIST}) {
        auto list = reinterpret_cast<HIMAGELIST>(SendMessageW(toolbar, message, 0, 0));
        ASSERT_NE(list, nullptr);
        int cx = 0, cy = 0;
        ImageList_GetIconSize(list, &cx, &cy);
        EXPECT_EQ(ImageList_GetImageCount(list) * 10000 + cx * 100 + cy, 23232);
    }
    EXPECT_EQ(SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0), 0) << "no tooltips";
}

TEST_F(WindowTest, FontsAreTahomaWithBoldButtonsAndBar) {
    struct Case { Control id; int centiPoints; bool bold; };
    const Case cases[] = {
        {Control::Label1, 825, false},       {Control::txtSource, 825, false}, {Control::cboPACS, 825, false},
        {Control::chkDebug, 825, false},     {Control::Toolbar, 825, false},   {Control::tabMain, 825, false},
        {Control::cmdSrcFolder0, 975, true}, {Control::cmdSrcFolder2, 975, true}, {Control::ProgBar, 825, true},
    };
    for (const Case& k : cases) {
        auto font = reinterpret_cast<HFONT>(SendMessageW(c(k.id), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        GetObjectW(font, sizeof lf, &lf);
        const int n = static_cast<int>(k.id) - 1000;
        EXPECT_EQ(lf.lfHeight, -MulDiv(k.centiPoints, dpi, 7200)) << "control " << n;
        EXPECT_EQ(lf.lfWeight >= FW_BOLD, k.bold) << "control " << n;
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t face[LF_FACESIZE] = {};
        GetTextFaceW(dc, LF_FACESIZE, face);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        EXPECT_EQ(narrow(face), "Tahoma") << "control " << n << " (under Wine: fonts-wine's tahoma*.ttf belong in the prefix's windows\\Fonts)";
    }
}

TEST_F(WindowTest, TextsAndLists) {
    const std::pair<Control, const char*> captions[] = {
        {Control::Label1, "Quellverzeichnis:"}, {Control::Label2, "Zielverzeichnis:"},
        {Control::Label3_1, "Tempverzeichnis:"}, {Control::Label3_0, "PACS - System:"},
        {Control::chkDebug, "Debug"},            {Control::cmdSrcFolder0, "..."},
        {Control::cmdSrcFolder1, "..."},         {Control::cmdSrcFolder2, "..."},
        {Control::lblLoadInfo, ""},              {Control::ProgBar, ""},
    };
    for (const auto& [id, caption] : captions) EXPECT_EQ(text(c(id)), caption);
    wchar_t buffer[64];
    for (int i = 0; i < 2; ++i) {
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = buffer;
        item.cchTextMax = 64;
        SendMessageW(c(Control::tabMain), TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(narrow(buffer), i == 0 ? "Allgmein" : "Einstellungen");
    }
    EXPECT_EQ(SendMessageW(c(Control::tabMain), TCM_GETCURSEL, 0, 0), 0);
    const char* entries[] = {"Arzt und Praxis", "GEMED", "HIPAX"};
    ASSERT_EQ(SendMessageW(c(Control::cboPACS), CB_GETCOUNT, 0, 0), 3);
    for (int i = 0; i < 3; ++i) {
        SendMessageW(c(Control::cboPACS), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
        EXPECT_EQ(narrow(buffer), entries[i]);
    }
    for (int i = 0; i < 2; ++i) {
        SendMessageW(c(Control::Toolbar), TB_GETBUTTONTEXTW, kToolbarCommand[i], reinterpret_cast<LPARAM>(buffer));
        EXPECT_EQ(narrow(buffer), i == 0 ? "Migrieren" : "Beenden");
    }
}

TEST_F(WindowTest, TabOrderFollowsTheLayout) {
    const auto sequence = [&] {
        std::vector<int> seen;
        SetFocus(c(Control::Toolbar));
        for (int i = 0; i < 11; ++i) {
            HWND focus = GetFocus();
            for (int id = 1000; id < 1000 + kControlCount; ++id)
                if (HWND w = c(static_cast<Control>(id));
                    w == focus || (static_cast<Control>(id) == Control::cboPACS && IsChild(w, focus)))
                    seen.push_back(id - 1000);
            MSG tab{focus, WM_KEYDOWN, VK_TAB, 0, 0, {}};
            EXPECT_TRUE(window->preTranslate(tab));
        }
        return seen;
    };
    auto id = [](Control x) { return static_cast<int>(x) - 1000; };
    const int toolbar = id(Control::Toolbar), tab = id(Control::tabMain);
    // Only the page in front takes the focus.
    EXPECT_EQ(sequence(), (std::vector<int>{toolbar, tab, id(Control::txtSource), id(Control::txtDest),
                                            id(Control::cmdSrcFolder0), id(Control::cmdSrcFolder1), toolbar, tab,
                                            id(Control::txtSource), id(Control::txtDest),
                                            id(Control::cmdSrcFolder0)}));
    clickTab(1);
    EXPECT_EQ(sequence(), (std::vector<int>{toolbar, tab, id(Control::cboPACS), id(Control::chkDebug),
                                            id(Control::cmdSrcFolder2), id(Control::txtTemp), toolbar, tab,
                                            id(Control::cboPACS), id(Control::chkDebug),
                                            id(Control::cmdSrcFolder2)}));
}

TEST_F(WindowTest, SwitchingTabsShowsTheOtherPageOnly) {
    setText(Control::txtSource, "C:\\x");
    EXPECT_TRUE(IsWindowVisible(c(Control::txtSource)));
    EXPECT_FALSE(IsWindowVisible(c(Control::txtTemp)));
    clickTab(1);
    EXPECT_FALSE(IsWindowVisible(c(Control::txtSource)));
    EXPECT_TRUE(IsWindowVisible(c(Control::txtTemp)));
    clickTab(0);
    EXPECT_TRUE(IsWindowVisible(c(Control::txtSource)));
    EXPECT_EQ(window->sourceText(), "C:\\x");
}

TEST_F(WindowTest, TypedPacsTextStaysExactlyAsTyped) {
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(GetComboBoxInfo(c(Control::cboPACS), &info));
    for (const char* typed : {"hipax", "Arzt", "gemed "}) {
        SetFocus(info.hwndItem);
        SendMessageW(info.hwndItem, EM_SETSEL, 0, -1);
        for (const char* p = typed; *p; ++p) SendMessageW(info.hwndItem, WM_CHAR, static_cast<WPARAM>(*p), 0);
        test::waitFor([] { return false; }, 20);
        EXPECT_EQ(window->pacsText(), typed);
    }
    // Opening and closing the list completes nothing either.
    SendMessageW(c(Control::cboPACS), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"hip"));
    SendMessageW(c(Control::cboPACS), CB_SHOWDROPDOWN, TRUE, 0);
    test::waitFor([] { return false; }, 50);
    SendMessageW(c(Control::cboPACS), CB_SHOWDROPDOWN, FALSE, 0);
    test::waitFor([] { return false; }, 50);
    EXPECT_EQ(window->pacsText(), "hip");
}

TEST_F(WindowTest, SettingsDefaultsAndRoundTrip) {
    EXPECT_EQ(window->pacsText(), "Arzt und Praxis");
    EXPECT_EQ(window->debugValue(), 0);
    EXPECT_EQ(window->sourceText(), "");
    setText(Control::txtSource, "D:\\");
    setText(Control::txtDest, "C:\\Daten\\Bilder \xC3\xA4\xC3\xB6\xC3\xBC & Co");
    setText(Control::txtTemp, "C:\\Temp\\");
    setText(Control::cboPACS, "HIPAX");
    SendMessageW(c(Control::chkDebug), BM_CLICK, 0, 0);
    closeAndReopen();
    EXPECT_EQ(window->sourceText(), "D:\\");
    EXPECT_EQ(window->destText(), "C:\\Daten\\Bilder \xC3\xA4\xC3\xB6\xC3\xBC & Co");
    EXPECT_EQ(window->tempText(), "C:\\Temp\\");
    EXPECT_EQ(window->pacsText(), "HIPAX");
    EXPECT_EQ(window->debugValue(), 1);
    EXPECT_EQ(SendMessageW(c(Control::cboPACS), CB_GETCOUNT, 0, 0), 3);
    SendMessageW(c(Control::chkDebug), BM_CLICK, 0, 0);
    closeAndReopen();
    EXPECT_EQ(window->debugValue(), 0) << "cleared stores 0";
}

TEST_F(WindowTest, DimmedDebugStaysAndClicksSwitchClearAndTicked) {
    window->close();
    test::writeFile(programFolder / "Settings.ini", "[Debug]\r\nDebugValue=2\r\n[PACS]\r\nPACS=Unbekannt\r\n");
    open();
    EXPECT_EQ(SendMessageW(c(Control::chkDebug), BM_GETCHECK, 0, 0), BST_INDETERMINATE) << "shown dimmed";
    EXPECT_EQ(window->pacsText(), "Unbekannt");
    closeAndReopen();
    EXPECT_EQ(window->debugValue(), 2) << "2 stays 2 unless clicked";
    std::vector<int32_t> seen;
    for (int i = 0; i < 3; ++i) {
        SendMessageW(c(Control::chkDebug), BM_CLICK, 0, 0);
        seen.push_back(window->debugValue());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 0, 1}));
}

TEST_F(WindowTest, ToolbarDispatchGoesByCaption) {
    window->setBeendenEnabled(false);
    clickToolbarButton(2);
    EXPECT_NE(window->hwnd(), nullptr) << "a disabled Beenden does not close";
    window->setBeendenEnabled(true);
    // Button 1 captioned "Beenden" closes the window.
    TBBUTTONINFOW info{};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = const_cast<wchar_t*>(L"Beenden");
    SendMessageW(c(Control::Toolbar), TB_SETBUTTONINFOW, kToolbarCommand[0], reinterpret_cast<LPARAM>(&info));
    clickToolbarButton(1);
    EXPECT_EQ(window->hwnd(), nullptr);
    EXPECT_NE(test::readFile(programFolder / "Settings.ini").find("PACS=Arzt und Praxis"), std::string::npos);
}

TEST_F(WindowTest, MigrierenWithMissingSourceShowsStopBoxAndEnablesBoth) {
    BoxWatcher boxes;
    clickToolbarButton(1);
    EXPECT_EQ(BoxWatcher::seen, std::vector<std::string>{"Jor-Orvek|Quellverzeichnis exestiert nicht."});
    EXPECT_EQ(BoxWatcher::icons, std::vector<HICON>{LoadIconW(nullptr, IDI_HAND)});
    EXPECT_NE(test::readFile(programFolder / "Logs\\Error.txt").find("Source folder doesn\xC2\xB4t exist. - Start"),
              std::string::npos);
    EXPECT_TRUE(window->toolbarButtonEnabled(1));
    EXPECT_TRUE(window->toolbarButtonEnabled(2));
}

TEST_F(WindowTest, RunOfPlainCopiesEndsWithReportAndResets) {
    TempDir work;
    prepareRun(work, 3);
    BoxWatcher boxes;
    clickToolbarButton(1);
    EXPECT_FALSE(window->toolbarButtonEnabled(1)) << "no second run inside the first";
    EXPECT_FALSE(window->toolbarButtonEnabled(2));
    ASSERT_TRUE(test::waitFor([&] { return !BoxWatcher::seen.empty() && window->toolbarButtonEnabled(2); }, 10000));
    EXPECT_EQ(BoxWatcher::seen, std::vector<std::string>{
        "Migration abgeschlossen|3 von 3 Dateien konnten erfolgreich migriert werden.\r\n\r\n"
        "Bitte legen Sie die n\xC3\xA4" "chste CD / DVD ein."});
    EXPECT_EQ(BoxWatcher::icons, std::vector<HICON>{LoadIconW(nullptr, IDI_ASTERISK)});
    EXPECT_EQ(test::countFiles(work / "dest"), 3u);
    EXPECT_FALSE(test::exists(work / "TempOrvek"));
    EXPECT_TRUE(window->toolbarButtonEnabled(1));
    EXPECT_EQ(text(c(Control::lblLoadInfo)), "");
    EXPECT_EQ(progressText(c(Control::ProgBar)), L"");
    EXPECT_EQ(progressValue(c(Control::ProgBar)), 0);
}

TEST_F(WindowTest, ClosingDuringARunStopsAfterTheFileAndStoresOnce) {
    TempDir work;
    prepareRun(work, 200);
    BoxWatcher boxes;
    clickToolbarButton(1);
    // The close arrives at the run's first yield to the message loop.
    PostMessageW(window->hwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(test::waitFor([&] { return window->hwnd() == nullptr; }, 10000));
    EXPECT_TRUE(BoxWatcher::seen.empty()) << "no report for a stopped run";
    EXPECT_LT(test::countFiles(work / "dest"), 200u) << "the run stopped early";
    EXPECT_FALSE(test::exists(work / "TempOrvek"));
    EXPECT_NE(test::readFile(programFolder / "Settings.ini").find("PACS=HIPAX"), std::string::npos);
    test::writeFile(programFolder / "Settings.ini", "marker");
    window->close();
    window.reset();
    EXPECT_EQ(test::readFile(programFolder / "Settings.ini"), "marker") << "stored once";
}

TEST_F(WindowTest, ChooseFolderFillsTheBoxOfItsIndex) {
    std::string answer;
    std::vector<std::string> titles;
    window->showFolderDialog = [&](const std::string& title) {
        titles.push_back(title);
        return answer;
    };
    const Control boxes[] = {Control::txtSource, Control::txtDest, Control::txtTemp};
    for (int16_t i = 0; i < 3; ++i) {
        answer = "C:\\Daten\\Ordner " + std::to_string(i);
        SendMessageW(c(static_cast<Control>(static_cast<int>(Control::cmdSrcFolder0) + i)), BM_CLICK, 0, 0);
        EXPECT_EQ(text(c(boxes[i])), answer);
    }
    answer.clear();
    window->ChooseFolder(1);
    EXPECT_EQ(window->destText(), "C:\\Daten\\Ordner 1") << "cancel keeps the text";
    answer = "D:\\";
    window->ChooseFolder(3);
    for (Control b : boxes) EXPECT_NE(text(c(b)), "D:\\") << "index 3 changes nothing";
    ASSERT_EQ(titles.size(), 5u);
    for (const auto& t : titles) EXPECT_EQ(t, "W\xC3\xA4hlen Sie Ihren Ordner ...");
}

}  // namespace
}  // namespace jor::app
