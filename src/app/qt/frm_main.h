#pragma once

#include "diagnostics/logs.h"
#include "migration/engine.h"
#include "migration/window_port.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabBar;
class QToolButton;

namespace jor::app {

class TextProgressBar;

// The debug switch: the dimmed value 2 comes only from the settings file;
// clicks switch between clear and ticked as an ordinary check box does.
class DebugCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    int32_t value() const;
    void setValue(int32_t value);

protected:
    void nextCheckState() override;
};

// The main window.
class frmMain : public QWidget, public WindowPort {
    Q_OBJECT
public:
    explicit frmMain(std::string programFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    // Load: fills the PACS list and reads the settings.
    void InitMainWindow();
    // Places the window in the middle of its screen, frame included.
    void centreOnScreen();

    void ChooseFolder(int16_t index);
    void DispatchToolbarButton(QToolButton* button);

    // The folder chooser, replaceable in tests.
    std::function<std::string(const std::string& title)> showFolderDialog;
    // Ends the process when the session ends during a run, replaceable in tests.
    std::function<void()> endProcess;

    // The desktop session is about to end: true while a run holds it up.
    // Idle, the settings are stored as a close would store them.
    bool holdSessionEnd();
    // The desktop session ends: a run ends now and the process with it (its
    // scan must not take up its file again); idle, the window closes.
    void EndSession();

    MigrationEngine& engine() { return *engine_; }
    const Logs& logs() const { return logs_; }
    QToolButton* toolbarButton(int index) const;  // 1 "Migrieren", 2 "Beenden"

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

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void showTab(int index);
    void placeInCentre();
    void tmrMig_Timer();
    void SaveSettings();
    // Folder boxes by index: 0 txtSource, 1 txtDest, 2 txtTemp.
    QLineEdit* folderBox(int index) const;
    void loadFolderText(int index, const std::string& bytes);
    std::string folderText(int index) const;
    void progressChanged();
    void paintProgress();

    std::string programFolder_;
    Logs logs_;
    std::unique_ptr<MigrationEngine> engine_;
    bool settingsSaved_ = false;
    bool closePending_ = false;
    bool centreWithFrame_ = false;

    QWidget* toolbar_ = nullptr;
    QToolButton* buttons_[2] = {};
    QWidget* tabControl_ = nullptr;
    QTabBar* tabStrip_ = nullptr;
    QFrame* pages_[2] = {};
    QLineEdit* txtSource_ = nullptr;
    QLineEdit* txtDest_ = nullptr;
    QLineEdit* txtTemp_ = nullptr;
    // A folder text keeps the bytes it was loaded with while its box shows
    // it unchanged: a path that is not UTF-8 (Latin-1, say) would not survive
    // the trip through the box's text, neither to the run nor back to the file.
    std::string loadedBytes_[3];
    QString loadedText_[3];
    QPushButton* cmdSrcFolder_[3] = {};
    QComboBox* cboPACS_ = nullptr;
    DebugCheckBox* chkDebug_ = nullptr;
    QLabel* lblLoadInfo_ = nullptr;
    TextProgressBar* ProgBar_ = nullptr;
    QTimer tmrMig_;
    // Progress bar and status label are painted at a human rate, not per file.
    QTimer progressPainter_;
    QElapsedTimer lastProgressPaint_;
    QElapsedTimer lastYield_;
};

}  // namespace jor::app
