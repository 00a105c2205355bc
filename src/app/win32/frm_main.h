// frmMain in Win32: the window, its messages and the answers to the main form's view.
#pragma once
// The main window in Win32 controls: the window, its messages and the
// answers to the main form's view; the behaviour is the main form's
// (app/main_form.h). The controls are made in controls.h and toolbar.h, the
// keys handled in keyboard.h, the typed PACS text kept in pacs_combo.h.

#include "app/main_form.h"
#include "app/win32/controls.h"
#include "app/win32/event_fiber.h"
#include "app/win32/keyboard.h"
#include "app/win32/pacs_combo.h"
#include "app/win32/toolbar.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

namespace jor::app {

class frmMain : private MainFormView {
public:
    explicit frmMain(std::string programFolder);
    ~frmMain() override;
    frmMain(const frmMain&) = delete;
    frmMain& operator=(const frmMain&) = delete;

    void InitMainWindow() { form_->InitMainWindow(); }
    // Centres the window, frame included, on the work area and shows it.
    void show(int showCommand = SW_SHOWNORMAL);
    // The window's close command.
    void close();
    // The program ends with the window.
    void setQuitOnDestroy(bool quit) { quitOnDestroy_ = quit; }
    // Keyboard handling before a message is dispatched: true when handled.
    bool preTranslate(MSG& msg) { return keyboard_.preTranslate(msg, hwnd_); }

    // The folder chooser and the end of the process, replaceable in tests.
    std::function<std::string(const std::string& title)> folderDialog;
    std::function<void()> processExit;

    HWND hwnd() const { return hwnd_; }
    HWND control(ControlId id) const { return controls_[static_cast<size_t>(id)]; }
    bool toolbarButtonEnabled(int button) const { return toolbar_ && toolbar_->enabled(button); }
    MainForm& form() { return *form_; }
    MigrationEngine& engine() { return form_->engine(); }
    const Logs& logs() const { return form_->logs(); }

private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT handle(UINT msg, WPARAM wp, LPARAM lp);
    void buildControls();
    void showTab(int index);
    size_t choiceBox(const std::string& title, const std::string& text, const std::vector<std::string>& answers);
    void pumpEvents();
    int px(int twips) const { return pixels(twips, dpi_); }

    // MainFormView
    std::string text(ControlId control) const override;
    void setText(ControlId control, const std::string& text) override;
    void addPacsEntry(const std::string& entry) override;
    int32_t checkValue() const override;
    void setCheckValue(int32_t value) override;
    std::string toolbarCaption(int button) const override;
    void setToolbarButtonEnabled(int button, bool enabled) override;
    void setProgressMax(int32_t value) override;
    void setProgressValue(int32_t value) override;
    void holdProgressPainting(bool hold) override;
    void armTimer(FormTimer timer, std::chrono::milliseconds interval) override;
    void disarmTimer(FormTimer timer) override;
    void showMessage(MessageIcon icon, const std::string& title, const std::string& text) override;
    std::string showFolderDialog(const std::string& title) override;
    bool askQuestion(const std::string& title, const std::string& text) override;
    size_t askChoice(const std::string& title, const std::string& text,
                     const std::vector<std::string>& answers) override;
    void processEvents() override;
    void closeWindow() override;
    void closeWindowLater() override;
    void holdSession(const std::string& reason, bool hold) override;
    void closeBoxes() override;
    void endProcess() override;

    int dpi_ = 96;
    std::unique_ptr<Fonts> fonts_;
    HWND hwnd_ = nullptr;
    std::array<HWND, ControlCount> controls_{};
    std::unique_ptr<Toolbar> toolbar_;
    Keyboard keyboard_;
    PacsCombo pacs_;
    EventFiber events_;
    std::unique_ptr<MainForm> form_;
    bool quitOnDestroy_ = false;
};

}  // namespace jor::app
