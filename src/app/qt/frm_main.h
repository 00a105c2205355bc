// frmMain in Qt Widgets: the controls of the main form's table and the answers to its view.
#pragma once
// The main window in Qt Widgets: builds the controls of the main form's table
// and answers its view; the behaviour is the main form's (app/main_form.h).

#include "app/main_form.h"

#include <QCheckBox>
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
// a click asks the form, which switches between clear and ticked.
class DebugCheckBox : public QCheckBox {
    Q_OBJECT
public:
    using QCheckBox::QCheckBox;
    std::function<void()> clicked;
    int32_t value() const;
    void setValue(int32_t value);

protected:
    void nextCheckState() override;
};

class frmMain : public QWidget, private MainFormView {
    Q_OBJECT
public:
    explicit frmMain(std::string programFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    void InitMainWindow() { form_->InitMainWindow(); }
    // Places the window in the middle of its screen, frame included.
    void centreOnScreen();
    void ChooseFolder(int16_t index) { form_->ChooseFolder(index); }
    bool holdSessionEnd() { return form_->holdSessionEnd(); }
    void EndSession() { form_->EndSession(); }

    // The folder chooser and the end of the process, replaceable in tests.
    std::function<std::string(const std::string& title)> folderDialog;
    std::function<void()> processExit;

    MainForm& form() { return *form_; }
    MigrationEngine& engine() { return form_->engine(); }
    const Logs& logs() const { return form_->logs(); }
    QToolButton* toolbarButton(int index) const;  // 1 "Migrieren", 2 "Beenden"
    QWidget* control(ControlId id) const { return controls_[static_cast<size_t>(id)]; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* makeControl(const ControlRow& row, QWidget* parent);
    void showTab(int index);
    void placeInCentre();
    QLineEdit* folderBox(ControlId id) const;

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

    std::unique_ptr<MainForm> form_;
    bool centreWithFrame_ = false;
    std::array<QWidget*, ControlCount> controls_{};
    QToolButton* buttons_[2] = {};
    QTabBar* tabStrip_ = nullptr;
    // A folder text keeps the bytes it was set with while its box shows it
    // unchanged: a path that is not UTF-8 (Latin-1, say) would not survive
    // the trip through the box's text, neither to the run nor back to the file.
    std::string setBytes_[ControlCount];
    QString setText_[ControlCount];
    QTimer timers_[2];  // FormTimer
};

}  // namespace jor::app
