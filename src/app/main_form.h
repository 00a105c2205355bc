// The main form: the window's behaviour and layout for both toolkits, and the view it asks of them.
#pragma once
// The main window's behaviour, once for both toolkits: the control table, the
// PACS entries, settings <-> controls, the toolbar dispatch, the folder
// buttons, the debug switch, closing and the session's end during a run, and
// when progress is painted and events taken. Each toolkit's frmMain builds
// its controls from the table and answers MainFormView; nothing here knows a
// toolkit.

#include "diagnostics/logs.h"
#include "migration/migration_engine.h"
#include "migration/window_port.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace jor::app {

// The controls, containers before their contents.
enum class ControlId {
    Toolbar,
    tabMain,
    Frame2_0,
    Frame2_1,
    Picture2,
    Picture3,
    Label1,
    txtSource,
    cmdSrcFolder0,
    Label2,
    txtDest,
    cmdSrcFolder1,
    Label3_1,
    txtTemp,
    cmdSrcFolder2,
    Label3_0,
    cboPACS,
    chkDebug,
    lblLoadInfo,
    ProgBar,
    Window,  // the window itself, as a parent
};
inline constexpr size_t ControlCount = static_cast<size_t>(ControlId::Window);

enum class ControlKind { Toolbar, TabControl, Frame, Panel, Label, TextBox, Button, ComboBox, CheckBox, ProgressBar };

enum class ControlFont {
    Normal,      // Tahoma 8.25 pt
    BoldButton,  // Tahoma 9.75 pt bold: the "..." buttons
    BoldBar,     // Tahoma 8.25 pt bold: ProgBar
};

// One control of the layout: its name and index as the archive tools named them
// (control arrays share a name), its place and size in twips within its
// parent (15 to a pixel at 96 dots per inch), its caption (UTF-8), its font,
// whether it may grow so that its caption is never cut, and its place in the
// keyboard's tab order (-1: never takes the focus).
struct ControlRow {
    ControlId id;
    const char* name;
    int index;  // in its control array; -1 when it is in none
    ControlKind kind;
    ControlId parent;
    int left, top, width, height;
    const char* caption;
    ControlFont font;
    bool mayGrow;
    int tabStop;
};

// clang-format off
inline constexpr ControlRow ControlTable[] = {
    {ControlId::Toolbar, "Toolbar", -1, ControlKind::Toolbar, ControlId::Window, 0, 0, 6090, 780, "", ControlFont::Normal, false, 0},
    {ControlId::tabMain, "tabMain", -1, ControlKind::TabControl, ControlId::Window, 45, 855, 5985, 2535, "", ControlFont::Normal, false, 1},
    {ControlId::Frame2_0, "Frame2", 0, ControlKind::Frame, ControlId::tabMain, 45, 360, 5865, 2085, "", ControlFont::Normal, false, -1},
    {ControlId::Frame2_1, "Frame2", 1, ControlKind::Frame, ControlId::tabMain, 45, 360, 5865, 2085, "", ControlFont::Normal, false, -1},
    {ControlId::Picture2, "Picture2", -1, ControlKind::Panel, ControlId::Frame2_0, 45, 180, 5775, 1815, "", ControlFont::Normal, false, -1},
    {ControlId::Picture3, "Picture3", -1, ControlKind::Panel, ControlId::Frame2_1, 90, 180, 5730, 1860, "", ControlFont::Normal, false, -1},
    {ControlId::Label1, "Label1", -1, ControlKind::Label, ControlId::Picture2, 90, 90, 1215, 195, "Quellverzeichnis:", ControlFont::Normal, true, -1},
    {ControlId::txtSource, "txtSource", -1, ControlKind::TextBox, ControlId::Picture2, 90, 360, 4965, 345, "", ControlFont::Normal, false, 5},
    {ControlId::cmdSrcFolder0, "cmdSrcFolder", 0, ControlKind::Button, ControlId::Picture2, 5130, 360, 510, 360, "...", ControlFont::BoldButton, false, 7},
    {ControlId::Label2, "Label2", -1, ControlKind::Label, ControlId::Picture2, 90, 945, 1095, 195, "Zielverzeichnis:", ControlFont::Normal, true, -1},
    {ControlId::txtDest, "txtDest", -1, ControlKind::TextBox, ControlId::Picture2, 90, 1215, 4965, 345, "", ControlFont::Normal, false, 6},
    {ControlId::cmdSrcFolder1, "cmdSrcFolder", 1, ControlKind::Button, ControlId::Picture2, 5130, 1215, 510, 360, "...", ControlFont::BoldButton, false, 8},
    {ControlId::Label3_1, "Label3", 1, ControlKind::Label, ControlId::Picture3, 45, 90, 1245, 195, "Tempverzeichnis:", ControlFont::Normal, true, -1},
    {ControlId::txtTemp, "txtTemp", -1, ControlKind::TextBox, ControlId::Picture3, 45, 360, 4965, 345, "", ControlFont::Normal, false, 16},
    {ControlId::cmdSrcFolder2, "cmdSrcFolder", 2, ControlKind::Button, ControlId::Picture3, 5085, 360, 510, 360, "...", ControlFont::BoldButton, false, 15},
    {ControlId::Label3_0, "Label3", 0, ControlKind::Label, ControlId::Picture3, 45, 990, 1125, 195, "PACS - System:", ControlFont::Normal, true, -1},
    {ControlId::cboPACS, "cboPACS", -1, ControlKind::ComboBox, ControlId::Picture3, 1350, 945, 1905, 315, "", ControlFont::Normal, false, 12},
    {ControlId::chkDebug, "chkDebug", -1, ControlKind::CheckBox, ControlId::Picture3, 45, 1395, 1320, 240, "Debug", ControlFont::Normal, true, 14},
    {ControlId::lblLoadInfo, "lblLoadInfo", -1, ControlKind::Label, ControlId::Window, 135, 3465, 5865, 240, "", ControlFont::Normal, false, -1},
    {ControlId::ProgBar, "ProgBar", -1, ControlKind::ProgressBar, ControlId::Window, 45, 3780, 6000, 555, "", ControlFont::BoldBar, false, -1},
};
// clang-format on
static_assert(std::size(ControlTable) == ControlCount);

const ControlRow& rowOf(ControlId id);
// The controls that take the keyboard focus, in the layout's tab order.
std::array<ControlId, 10> tabOrder();
// What a view shows when the tab at `index` is chosen: of the tab control's
// frames, the one whose index in the Frame2 array is that tab's.
struct TabFrame {
    ControlId frame;
    bool visible;
};
std::array<TabFrame, 2> tabFrames(int index);

inline constexpr const char* WindowCaption = "Jor - Orvek";
inline constexpr int ClientWidth = 6090, ClientHeight = 4380;  // twips
inline constexpr const char* TabCaptions[2] = {"Allgmein", "Einstellungen"};
inline constexpr const char* ToolbarCaptions[2] = {"Migrieren", "Beenden"};
inline constexpr const char* PacsEntries[3] = {"Arzt und Praxis", "GEMED", "HIPAX"};
inline constexpr const char* FolderDialogTitle = "W\xC3\xA4hlen Sie Ihren Ordner ...";
// The folder box each "..." button fills, by the button's index.
inline constexpr ControlId FolderBoxes[3] = {ControlId::txtSource, ControlId::txtDest, ControlId::txtTemp};
// What Windows shows the user while a run holds the session's end up.
inline constexpr const char* SessionHoldReason = "Migration l\xC3\xA4uft";

// Progress bar and status label are painted some thirty times a second at
// most: smooth to the eye, and a run of small files does not pay for a
// repaint with every file.
inline constexpr std::chrono::milliseconds ProgressPaintInterval{33};
// The engine yields for every file and every process it looks at; taking the
// window's events at most this often is more than any user can tell.
inline constexpr std::chrono::microseconds YieldInterval{1000};

enum class FormTimer { tmrMig, ProgressPainter };

// What the form asks of the toolkit's window. Texts are UTF-8 (a folder box
// may keep the bytes it was given while it shows them unchanged).
class MainFormView {
public:
    virtual ~MainFormView() = default;

    virtual std::string text(ControlId control) const = 0;
    virtual void setText(ControlId control, const std::string& text) = 0;
    virtual void addPacsEntry(const std::string& entry) = 0;
    virtual int32_t checkValue() const = 0;  // chkDebug: 0 clear, 1 ticked, 2 dimmed
    virtual void setCheckValue(int32_t value) = 0;
    virtual std::string toolbarCaption(int button) const = 0;  // 1 or 2
    virtual void setToolbarButtonEnabled(int button, bool enabled) = 0;
    virtual void setProgressMax(int32_t value) = 0;
    virtual void setProgressValue(int32_t value) = 0;
    // Holds the progress bar's and the status label's painting back, or lets
    // it go (painting what they hold now).
    virtual void holdProgressPainting(bool hold) = 0;

    virtual void armTimer(FormTimer timer, std::chrono::milliseconds interval) = 0;  // single shot
    virtual void disarmTimer(FormTimer timer) = 0;
    virtual void showMessage(MessageIcon icon, const std::string& title, const std::string& text) = 0;
    virtual std::string showFolderDialog(const std::string& title) = 0;  // "" when cancelled
    // Question icon, Ja and Nein with Nein the default; true for Ja.
    virtual bool askQuestion(const std::string& title, const std::string& text) = 0;
    // Question icon, a button for each answer, the first the default; the
    // index taken, the last when closed without one.
    virtual size_t askChoice(const std::string& title, const std::string& text,
                             const std::vector<std::string>& answers) = 0;
    virtual void processEvents() = 0;
    // The window's close command, now: the toolkit asks QueryUnload.
    virtual void closeWindow() = 0;
    // The same once the call at hand has returned (the scan, say, off the stack).
    virtual void closeWindowLater() = 0;
    // Tells the platform a run holds the session's end up (a reason it may show).
    virtual void holdSession(const std::string& reason, bool hold) = 0;
    // Closes the boxes that are open, as Escape would: the run waits on them.
    virtual void closeBoxes() = 0;
    // Ends the process at once.
    virtual void endProcess() = 0;
};

class MainForm : public WindowPort {
public:
    MainForm(MainFormView& view, std::string programFolder);
    ~MainForm() override;

    // Load: fills the PACS list and reads the settings.
    void InitMainWindow();
    // The toolbar's buttons, 1 and 2: dispatched by caption alone.
    void DispatchToolbarButton(int button);
    // cmdSrcFolder(index)
    void ChooseFolder(int16_t index);
    // A click on chkDebug: clear and ticked only; the dimmed 2 comes from the settings.
    void chkDebugClicked();
    void timerFired(FormTimer timer);

    // The window's close command ("Beenden" or the close box): true when the
    // window may go now, the settings stored once; during a run the run stops
    // after the file at hand and the window closes after it.
    bool QueryUnload();
    // The session is about to end: true while a run holds it up; idle, the
    // settings are stored as a close would store them.
    bool holdSessionEnd();
    // The session ends: idle, the window closes. During a run the settings
    // are stored once, and the run hears at its next yield that it is to end
    // now; once it has unwound, the process ends. True then: the caller lets
    // the run go on to that yield.
    bool EndSession();

    MigrationEngine& engine() { return *engine_; }
    const Logs& logs() const { return logs_; }
    const std::string& programFolder() const { return programFolder_; }

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
    bool askQuestion(const std::string& title, const std::string& text) override;
    size_t askChoice(const std::string& title, const std::string& text,
                     const std::vector<std::string>& answers) override;
    RunRequest yield() override;

private:
    void tmrMig_Timer();
    void LoadSettings();
    void SaveSettings();
    void saveSettingsOnce();
    void progressChanged();

    using Clock = std::chrono::steady_clock;
    MainFormView& view_;
    std::string programFolder_;
    Logs logs_;
    std::unique_ptr<MigrationEngine> engine_;
    bool settingsSaved_ = false;
    bool closePending_ = false;
    bool sessionEnding_ = false;
    bool progressHeld_ = false;
    std::optional<Clock::time_point> lastProgressPaint_;
    std::optional<Clock::time_point> lastYield_;
};

}  // namespace jor::app
