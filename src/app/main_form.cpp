// The main window's behaviour, once for both toolkits (see main_form.h).
#include "app/main_form.h"

#include "settings/settings.h"

#include <algorithm>

namespace jor::app {

const ControlRow& rowOf(ControlId id) { return ControlTable[static_cast<size_t>(id)]; }

std::array<ControlId, 10> tabOrder() {
    std::array<ControlId, 10> order{};
    size_t n = 0;
    for (const ControlRow& row : ControlTable)
        if (row.tabStop >= 0) order.at(n++) = row.id;
    std::sort(order.begin(), order.end(), [](ControlId a, ControlId b) { return rowOf(a).tabStop < rowOf(b).tabStop; });
    return order;
}

std::array<TabFrame, 2> tabFrames(int index) {
    std::array<TabFrame, 2> frames{};
    size_t n = 0;
    for (const ControlRow& row : ControlTable)
        if (row.kind == ControlKind::Frame && row.parent == ControlId::tabMain)
            frames.at(n++) = {row.id, row.index == index};
    return frames;
}

MainForm::MainForm(MainFormView& view, std::string programFolder)
    : view_(view),
      programFolder_(std::move(programFolder)),
      logs_(programFolder_, [this] { return view_.checkValue(); }),
      engine_(std::make_unique<MigrationEngine>(*this, logs_, programFolder_)) {}

MainForm::~MainForm() = default;

void MainForm::InitMainWindow() {
    for (const char* entry : PacsEntries) view_.addPacsEntry(entry);
    LoadSettings();
    // A run killed on the way, or a journal held open, left lines waiting.
    engine_->recoverJournal();
}

void MainForm::LoadSettings() {
    const SettingsValues values = readSettings(programFolder_);
    view_.setText(ControlId::txtTemp, values.TempPath);
    view_.setText(ControlId::txtDest, values.DestinationPath);
    view_.setText(ControlId::txtSource, values.SourcePath);
    view_.setCheckValue(values.DebugValue);
    view_.setText(ControlId::cboPACS, values.Pacs);
}

void MainForm::SaveSettings() {
    SettingsValues values;
    values.TempPath = tempText();
    values.SourcePath = sourceText();
    values.DestinationPath = destText();
    values.DebugValue = debugValue();
    values.Pacs = pacsText();
    jor::writeSettings(programFolder_, values);
}

// The unload stores the settings; the window unloads once, however many
// ways there are to close it.
void MainForm::saveSettingsOnce() {
    if (settingsSaved_) return;
    settingsSaved_ = true;
    SaveSettings();
}

void MainForm::DispatchToolbarButton(int button) {
    // By caption alone, as the toolbar was always dispatched.
    const std::string caption = view_.toolbarCaption(button);
    if (caption == ToolbarCaptions[0]) {
        engine_->StartRun();
        // Windows shows the reason while the user ends the session during the run.
        if (engine_->running()) view_.holdSession(SessionHoldReason, true);
    } else if (caption == ToolbarCaptions[1])
        view_.closeWindow();
}

void MainForm::ChooseFolder(int16_t index) {
    const std::string chosen = view_.showFolderDialog(FolderDialogTitle);
    if (chosen.empty() || index < 0 || index >= static_cast<int16_t>(std::size(FolderBoxes))) return;
    view_.setText(FolderBoxes[index], chosen);
}

void MainForm::chkDebugClicked() { view_.setCheckValue(view_.checkValue() == 1 ? 0 : 1); }

void MainForm::timerFired(FormTimer timer) {
    if (timer == FormTimer::tmrMig) {
        tmrMig_Timer();
        return;
    }
    progressHeld_ = false;
    view_.holdProgressPainting(false);
    lastProgressPaint_ = Clock::now();
}

void MainForm::tmrMig_Timer() {
    engine_->tmrMig_Timer();
    view_.holdSession(SessionHoldReason, false);
    // The run has unwound, the end of the session it heard of at a yield done.
    if (sessionEnding_) {
        view_.endProcess();
        return;
    }
    // A close asked for during the run is carried out now that the scan has
    // left the stack.
    if (closePending_) {
        closePending_ = false;
        view_.closeWindowLater();
    }
}

bool MainForm::QueryUnload() {
    if (engine_->running()) {
        // The run hears of it at its next yield and stops after the file at hand.
        closePending_ = true;
        return false;
    }
    saveSettingsOnce();
    return true;
}

bool MainForm::holdSessionEnd() {
    if (engine_->workInProgress()) return true;
    SaveSettings();
    return false;
}

bool MainForm::EndSession() {
    if (!engine_->running()) {
        view_.closeWindow();
        return false;
    }
    // The settings first: they take a moment, the flush of a run's images may take many.
    saveSettingsOnce();
    sessionEnding_ = true;
    // A box the run waits on would keep it from its next yield.
    view_.closeBoxes();
    return true;
}

std::string MainForm::sourceText() const { return view_.text(ControlId::txtSource); }
std::string MainForm::destText() const { return view_.text(ControlId::txtDest); }
std::string MainForm::tempText() const { return view_.text(ControlId::txtTemp); }
std::string MainForm::pacsText() const { return view_.text(ControlId::cboPACS); }
int32_t MainForm::debugValue() const { return view_.checkValue(); }

void MainForm::setProgressMax(int32_t value) {
    view_.setProgressMax(value);
    progressChanged();
}
void MainForm::setProgressValue(int32_t value) {
    view_.setProgressValue(value);
    progressChanged();
}
void MainForm::setProgressText(const std::string& text) {
    view_.setText(ControlId::ProgBar, text);
    progressChanged();
}
void MainForm::setStatusText(const std::string& text) {
    view_.setText(ControlId::lblLoadInfo, text);
    progressChanged();
}

// The controls take every value at once, so what they report is current;
// only their painting waits. A change after a quiet spell is painted at the
// next yield; within the interval, the timer paints the latest values.
void MainForm::progressChanged() {
    if (progressHeld_) return;
    const auto now = Clock::now();
    if (!lastProgressPaint_ || now - *lastProgressPaint_ >= ProgressPaintInterval) {
        lastProgressPaint_ = now;
        return;
    }
    progressHeld_ = true;
    view_.holdProgressPainting(true);
    view_.armTimer(FormTimer::ProgressPainter,
                   std::chrono::ceil<std::chrono::milliseconds>(ProgressPaintInterval - (now - *lastProgressPaint_)));
}

void MainForm::setMigrierenEnabled(bool enabled) { view_.setToolbarButtonEnabled(1, enabled); }
void MainForm::setBeendenEnabled(bool enabled) { view_.setToolbarButtonEnabled(2, enabled); }
void MainForm::armTimer() { view_.armTimer(FormTimer::tmrMig, std::chrono::milliseconds(1)); }
void MainForm::disarmTimer() { view_.disarmTimer(FormTimer::tmrMig); }

void MainForm::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    view_.showMessage(icon, title, text);
}

bool MainForm::askQuestion(const std::string& title, const std::string& text) { return view_.askQuestion(title, text); }

size_t MainForm::askChoice(const std::string& title, const std::string& text, const std::vector<std::string>& answers) {
    if (answers.empty()) return 0;
    // Whatever a view hands back, the engine gets one of its answers.
    return std::min(view_.askChoice(title, text, answers), answers.size() - 1);
}

RunRequest MainForm::yield() {
    const auto now = Clock::now();
    if (!lastYield_ || now - *lastYield_ >= YieldInterval) {
        lastYield_ = now;
        view_.processEvents();
    }
    return sessionEnding_ ? RunRequest::EndNow : closePending_ ? RunRequest::StopAfterFile : RunRequest::GoOn;
}

}  // namespace jor::app
