#pragma once

#include "diagnostics/logs.h"
#include "migration/engine.h"
#include "migration/window_port.h"

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace jor::app {

// The controls, by their control ids.
enum class Control : int {
    Toolbar = 1000,
    tabMain,
    Frame2_0,
    Frame2_1,
    Picture2,
    Picture3,
    Label1,
    Label2,
    Label3_0,
    Label3_1,
    txtSource,
    txtDest,
    txtTemp,
    cmdSrcFolder0,
    cmdSrcFolder1,
    cmdSrcFolder2,
    cboPACS,
    chkDebug,
    lblLoadInfo,
    ProgBar,
};
inline constexpr int kControlCount = static_cast<int>(Control::ProgBar) - static_cast<int>(Control::Toolbar) + 1;

// The command ids of the toolbar buttons 1 "Migrieren" and 2 "Beenden".
inline constexpr int kToolbarCommand[2] = {2001, 2002};

// The main window.
class frmMain : public WindowPort {
public:
    explicit frmMain(std::string programFolder);
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    // Load: fills the PACS list and reads the settings.
    void InitMainWindow();
    // Centres the window, frame included, on the work area and shows it.
    void show(int showCommand = SW_SHOWNORMAL);
    // The window's close command: stores the settings and destroys the window
    // (during a run: stops the run after the file at hand, then closes).
    void close();
    // The program ends with the window.
    void setQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }

    void ChooseFolder(int16_t index);
    void DispatchToolbarButton(int commandId);

    // Keyboard handling before a message is dispatched: the tab order. True
    // when the message has been handled.
    bool preTranslate(MSG& msg);

    // The folder chooser, replaceable in tests.
    std::function<std::string(const std::string& title)> showFolderDialog;
    // Ends the process when the session ends during a run, replaceable in tests.
    std::function<void()> endProcess;

    HWND hwnd() const { return hwnd_; }
    HWND control(Control c) const { return controls_[static_cast<size_t>(static_cast<int>(c) - 1000)]; }
    bool toolbarButtonEnabled(int index) const;  // 1 "Migrieren", 2 "Beenden"
    MigrationEngine& engine() { return *engine_; }
    const Logs& logs() const { return logs_; }

    // WindowPort
    std::string sourceText() const override;
    std::string destText() const override;
    std::string tempText() const override;
    std::string pacsText() const override;
    int32_t debugValue() const override;
    void setProgressMax(int32_t value) override;
    void setProgressValue(int32_t value) override;
    void setProgressText(const std::string& text) override;
    void setStatusText(const std::string& text) override;
    void setMigrierenEnabled(bool enabled) override;
    void setBeendenEnabled(bool enabled) override;
    void armTimer() override;
    void disarmTimer() override;
    void showMessage(MessageIcon icon, const std::string& title, const std::string& text) override;
    void yield() override;

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void createWindow();
    void buildControls();
    HWND add(Control id, HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle,
             int left, int top, int width, int height);
    int px(int twips) const;
    void showTab(int index);
    void setDebugValue(int32_t value);
    void toggleDebug();
    void onPacsNotification(int code);
    void keepTypedPacs();
    bool moveFocus(bool backwards);
    void tmrMig_Timer();
    void progressChanged();
    void paintProgress();
    void SaveSettings();
    void onClose();
    std::string textOf(Control c) const;

    std::string programFolder_;
    Logs logs_;
    std::unique_ptr<MigrationEngine> engine_;
    HWND hwnd_ = nullptr;
    std::array<HWND, kControlCount> controls_{};
    HWND lastFocus_ = nullptr;
    std::optional<std::wstring> typedPacs_;  // cboPACS's text while its list is open
    int dpi_ = 96;
    HFONT font_ = nullptr;         // Tahoma 8.25 pt
    HFONT buttonFont_ = nullptr;   // Tahoma 9.75 pt bold: the "..." buttons
    HFONT progressFont_ = nullptr; // Tahoma 8.25 pt bold: ProgBar
    HIMAGELIST ImageList_ = nullptr;
    HIMAGELIST imgListDisable_ = nullptr;
    bool settingsSaved_ = false;
    bool closePending_ = false;
    bool quitOnDestroy_ = false;
    // Progress bar and status label are painted at a human rate, not per file.
    bool progressHeld_ = false;
    ULONGLONG lastProgressPaint_ = 0;
    std::optional<std::chrono::steady_clock::time_point> lastYield_;
};

}  // namespace jor::app
