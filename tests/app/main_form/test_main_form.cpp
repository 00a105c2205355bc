// The main window's behaviour for both toolkits, the progress's paint rate too, against a recording view.
#include "app/main_form.h"
#include "platform/system_text.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <thread>

namespace jor::app {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

class RecordingView : public MainFormView {
public:
    MainForm* form = nullptr;
    std::map<ControlId, std::string> texts;
    std::vector<std::string> pacsEntries;
    int32_t check = 0;
    std::string captions[2] = {ToolbarCaptions[0], ToolbarCaptions[1]};
    bool enabled[2] = {true, true};
    int32_t progressMax = 0, progressValue = 0;
    bool paintingHeld = false;
    std::optional<std::chrono::milliseconds> armed[2];
    std::vector<std::string> boxes, dialogTitles;
    std::deque<std::string> folderAnswers;
    std::function<void()> onProcessEvents;
    int processed = 0, ends = 0;
    bool closed = false, closePending = false;
    std::string heldReason;

    std::string text(ControlId c) const override { return texts.count(c) ? texts.at(c) : ""; }
    void setText(ControlId c, const std::string& t) override { texts[c] = t; }
    void addPacsEntry(const std::string& e) override { pacsEntries.push_back(e); }
    int32_t checkValue() const override { return check; }
    void setCheckValue(int32_t v) override { check = v; }
    std::string toolbarCaption(int b) const override { return captions[b - 1]; }
    void setToolbarButtonEnabled(int b, bool e) override { enabled[b - 1] = e; }
    void setProgressMax(int32_t v) override { progressMax = v; }
    void setProgressValue(int32_t v) override { progressValue = v; }
    void holdProgressPainting(bool hold) override { paintingHeld = hold; }
    void armTimer(FormTimer t, std::chrono::milliseconds ms) override { armed[static_cast<int>(t)] = ms; }
    void disarmTimer(FormTimer t) override { armed[static_cast<int>(t)].reset(); }
    void showMessage(MessageIcon icon, const std::string& title, const std::string& t) override {
        boxes.push_back(std::string(iconName(icon)) + "|" + title + "|" + t);
        if (onBox) onBox();
    }
    std::function<void()> onBox;
    bool askQuestion(const std::string& title, const std::string& t) override {
        boxes.push_back("question|" + title + "|" + t);
        return answer;
    }
    bool answer = true;
    size_t askChoice(const std::string& title, const std::string& t, const std::vector<std::string>&) override {
        boxes.push_back("choice|" + title + "|" + t);
        return 0;
    }
    std::string showFolderDialog(const std::string& title) override {
        dialogTitles.push_back(title);
        std::string answer = folderAnswers.empty() ? "" : folderAnswers.front();
        if (!folderAnswers.empty()) folderAnswers.pop_front();
        return answer;
    }
    void processEvents() override {
        ++processed;
        if (onProcessEvents) onProcessEvents();
    }
    void closeWindow() override { closed = closed || form->QueryUnload(); }
    void closeWindowLater() override { closePending = true; }
    void holdSession(const std::string& reason, bool hold) override { heldReason = hold ? reason : ""; }
    void closeBoxes() override { ++boxesClosed; }
    int boxesClosed = 0;
    void endProcess() override { ++ends; }
};

class MainFormTest : public ::testing::Test {
protected:
    TempDir programFolder, work;
    std::unique_ptr<RecordingView> view;
    std::unique_ptr<MainForm> form;

    void SetUp() override { open(); }
    void open() {
        form.reset();
        view = std::make_unique<RecordingView>();
        form = std::make_unique<MainForm>(*view, programFolder.path());
        view->form = form.get();
        form->InitMainWindow();
    }
    std::string settings() const {
        return test::exists(programFolder / "Settings.ini") ? test::readFile(programFolder / "Settings.ini") : "";
    }
    // The log is in the system's code page.
    std::vector<std::string> errorLines() const {
        std::vector<std::string> lines = test::linesWithoutTime(form->logs().errorLogPath());
        for (std::string& line : lines) line = fromSystemText(line);
        return lines;
    }
    // A HIPAX disc of `files` files under work/src, destination work/dest, temp work.
    void prepareRun(int files) {
        std::vector<std::string> tree;
        for (int i = 0; i < files; ++i) tree.push_back("IM" + std::to_string(i) + "=x");
        test::makeTree(work / "src", tree);
        test::makeFolders(work / "dest");
        view->texts[ControlId::txtSource] = work / "src";
        view->texts[ControlId::txtDest] = work / "dest";
        view->texts[ControlId::txtTemp] = work.path();
        view->texts[ControlId::cboPACS] = "HIPAX";
    }
    // "Migrieren", and the tick the armed timer brings.
    void migrate() {
        form->DispatchToolbarButton(1);
        if (view->armed[0]) form->timerFired(FormTimer::tmrMig);
    }
};

TEST_F(MainFormTest, SettingsAndDebugValuesGoBothWays) {
    EXPECT_EQ(view->pacsEntries, (std::vector<std::string>{"Arzt und Praxis", "GEMED", "HIPAX"}));
    EXPECT_EQ(view->text(ControlId::cboPACS), "Arzt und Praxis");
    EXPECT_EQ(view->check, 0);
    for (ControlId box : FolderBoxes) EXPECT_EQ(view->text(box), "");

    view->texts = {{ControlId::txtSource, "/media/cdrom"},
                   {ControlId::txtDest, "/daten/Bilder \xC3\xA4"},
                   {ControlId::txtTemp, "/tmp/"},
                   {ControlId::cboPACS, "Unbekannt"}};
    view->check = 2;
    view->closeWindow();
    ASSERT_TRUE(view->closed);
    const auto stored = view->texts;
    open();
    for (const auto& [control, text] : stored) EXPECT_EQ(view->text(control), text) << rowOf(control).name;
    EXPECT_EQ(view->check, 2) << "dimmed stays dimmed until clicked";
    std::vector<int32_t> clicks;
    for (int i = 0; i < 3; ++i) {
        form->chkDebugClicked();
        clicks.push_back(view->check);
    }
    EXPECT_EQ(clicks, (std::vector<int32_t>{1, 0, 1})) << "clicks only clear or tick";
}

TEST_F(MainFormTest, ToolbarGoesByCaptionAndFolderButtonsByIndex) {
    view->captions[0] = "Beenden";
    view->captions[1] = "Anders";
    form->DispatchToolbarButton(2);
    EXPECT_FALSE(view->closed) << "an unknown caption does nothing";
    form->DispatchToolbarButton(1);
    EXPECT_TRUE(view->closed) << "the caption, not the place, says what a button does";
    open();
    form->DispatchToolbarButton(1);
    EXPECT_EQ(view->boxes, std::vector<std::string>{"stop|Jor-Orvek|Quellverzeichnis exestiert nicht."});
    EXPECT_EQ(errorLines(), std::vector<std::string>{"-1 - Source folder doesn\xC2\xB4t exist. - Start"});
    EXPECT_TRUE(view->enabled[0] && view->enabled[1]);

    for (int16_t i = 0; i < 3; ++i) form->ChooseFolder(i);  // cancelled
    for (ControlId box : FolderBoxes) EXPECT_EQ(view->text(box), "") << "cancel on an empty box";
    for (int16_t i = 0; i < 3; ++i) {
        view->folderAnswers = {"/daten/ordner " + std::to_string(i)};
        form->ChooseFolder(i);
        EXPECT_EQ(view->text(FolderBoxes[i]), "/daten/ordner " + std::to_string(i));
    }
    form->ChooseFolder(1);
    EXPECT_EQ(view->text(ControlId::txtDest), "/daten/ordner 1") << "cancel keeps the text";
    view->folderAnswers = {"/"};
    form->ChooseFolder(3);
    for (ControlId box : FolderBoxes) EXPECT_NE(view->text(box), "/") << "index 3 changes nothing";
    ASSERT_EQ(view->dialogTitles.size(), 8u);
    for (const auto& t : view->dialogTitles) EXPECT_EQ(t, "W\xC3\xA4hlen Sie Ihren Ordner ...");
}

TEST_F(MainFormTest, RunEndsWithReportAndResets) {
    prepareRun(3);
    form->DispatchToolbarButton(1);
    EXPECT_FALSE(view->enabled[0] || view->enabled[1]) << "both disabled from the click on";
    ASSERT_EQ(view->armed[0], 1ms);
    form->timerFired(FormTimer::tmrMig);
    EXPECT_EQ(view->boxes,
              std::vector<std::string>{
                  "info|Migration abgeschlossen|3 von 3 Dateien konnten erfolgreich migriert werden.\r\n\r\n"
                  "Bitte legen Sie die n\xC3\xA4"
                  "chste CD / DVD ein."});
    EXPECT_EQ(test::listFiles(work / "dest").size(), 3u);
    EXPECT_TRUE(view->enabled[0] && view->enabled[1]);
    EXPECT_EQ(view->text(ControlId::lblLoadInfo), "");
    EXPECT_EQ(view->text(ControlId::ProgBar), "");
    EXPECT_EQ(view->progressValue, 0);
    EXPECT_TRUE(!view->paintingHeld || view->armed[1]) << "the final values are painted too";
    EXPECT_GT(view->processed, 0);
}

TEST_F(MainFormTest, ClosingDuringARunStopsAfterTheFileAndStoresOnce) {
    prepareRun(50);
    view->onProcessEvents = [&] {
        if (!view->closed) view->closeWindow();  // the close box, while the run yields
    };
    migrate();
    EXPECT_FALSE(view->closed) << "the window waits for the run to stop";
    ASSERT_TRUE(view->closePending);
    EXPECT_TRUE(view->boxes.empty()) << "no report for a stopped run";
    EXPECT_LT(test::listFiles(work / "dest").size(), 50u);
    ASSERT_EQ(errorLines().size(), 1u);
    EXPECT_TRUE(errorLines()[0].starts_with("18 - User interrupt occurred - ScanFolder")) << errorLines()[0];
    EXPECT_EQ(settings(), "") << "nothing stored during the run";
    view->onProcessEvents = nullptr;
    view->closeWindow();
    EXPECT_TRUE(view->closed);
    EXPECT_NE(settings().find("PACS=HIPAX"), std::string::npos);
    test::writeFile(programFolder / "Settings.ini", "marker");
    EXPECT_TRUE(form->QueryUnload());
    EXPECT_EQ(settings(), "marker") << "stored once";
}

TEST_F(MainFormTest, SessionEndDuringARunEndsItWhereItStandsAndStoresOnce) {
    prepareRun(50);
    EXPECT_FALSE(form->holdSessionEnd()) << "idle, the session may end";
    EXPECT_NE(settings().find("PACS=HIPAX"), std::string::npos) << "stored as a close stores them";
    test::writeFile(programFolder / "Settings.ini", "");
    bool held = false, ending = false;
    view->onProcessEvents = [&] {
        if (ending) return;
        held = form->holdSessionEnd();
        EXPECT_EQ(view->heldReason, "Migration l\xC3\xA4uft");
        ending = form->EndSession();
        EXPECT_NE(settings().find("PACS=HIPAX"), std::string::npos) << "the settings first";
        EXPECT_EQ(view->ends, 0) << "the run unwinds before the process ends";
        EXPECT_EQ(view->boxesClosed, 1);
    };
    migrate();
    EXPECT_TRUE(held) << "a run holds the session's end up";
    EXPECT_TRUE(ending);
    EXPECT_EQ(view->ends, 1);
    ASSERT_EQ(errorLines().size(), 1u);
    EXPECT_TRUE(errorLines()[0].starts_with("18 - User interrupt occurred - ScanFolder")) << errorLines()[0];
    EXPECT_FALSE(test::exists(work / "TempOrvek"));
    EXPECT_TRUE(view->boxes.empty());
    EXPECT_EQ(view->heldReason, "") << "released once the run is over";

    // Idle, the session's end closes the window as a close does.
    test::writeFile(programFolder / "Settings.ini", "");
    open();
    EXPECT_FALSE(form->EndSession());
    EXPECT_TRUE(view->closed);
    EXPECT_EQ(view->ends, 0);
    EXPECT_NE(settings().find("[PACS]"), std::string::npos);
}

// The session's end at the report, when the run is complete: nothing to hold
// up, nothing stopped; with logs that cannot be written: no box holds the end
// up; at the yield after a plain copy: the run stops there.
TEST_F(MainFormTest, SessionEndAtTheReportWithoutLogsOrAfterACopy) {
    prepareRun(3);
    bool held = true;
    view->onBox = [&] {
        held = form->holdSessionEnd();
        form->EndSession();
    };
    migrate();
    EXPECT_FALSE(held) << "the run is over";
    EXPECT_EQ(view->ends, 1);
    EXPECT_TRUE(errorLines().empty()) << errorLines().at(0);
    EXPECT_NE(test::readFile(programFolder / "Logs/Journal.csv").find(";abgeschlossen;"), std::string::npos);
    EXPECT_EQ(test::readFile(programFolder / "Logs/Journal.csv").find(";abgebrochen"), std::string::npos);
    EXPECT_FALSE(test::exists(work / "TempOrvek"));

    for (const bool logsWritable : {false, true}) {
        SCOPED_TRACE(logsWritable ? "after a copy" : "logs cannot be written");
        std::filesystem::remove_all(programFolder / "Logs");
        if (!logsWritable) test::writeFile(programFolder / "Logs", "a file where the folder goes");
        open();
        prepareRun(5);
        int yields = 0;
        bool ending = false;
        view->onProcessEvents = [&] {
            std::this_thread::sleep_for(2 * YieldInterval);  // every yield takes the events
            if (++yields == 2 && !ending) ending = form->EndSession();
        };
        view->onBox = [&] {
            if (ending) ADD_FAILURE() << "a box while the session ends: " << view->boxes.back();
        };
        migrate();
        EXPECT_EQ(view->ends, 1);
        std::filesystem::remove_all(programFolder / "Logs");
    }
}

TEST_F(MainFormTest, ProgressIsPaintedAtAHumanRateAndEventsTakenAtMostEveryMillisecond) {
    std::this_thread::sleep_for(ProgressPaintInterval);
    form->setProgressValue(1);
    EXPECT_FALSE(view->paintingHeld) << "a change after a quiet spell is painted at once";
    form->setProgressValue(2);
    form->setProgressText("2 von 9");
    form->setStatusText("Datei 2");
    EXPECT_TRUE(view->paintingHeld);
    ASSERT_TRUE(view->armed[1]);
    EXPECT_LE(*view->armed[1], ProgressPaintInterval);
    EXPECT_EQ(view->progressValue, 2) << "the controls hold the current values at once";
    EXPECT_EQ(view->text(ControlId::lblLoadInfo), "Datei 2");
    form->timerFired(FormTimer::ProgressPainter);
    EXPECT_FALSE(view->paintingHeld) << "the timer paints the latest values";

    form->yield();
    form->yield();
    EXPECT_EQ(view->processed, 1);
    std::this_thread::sleep_for(2 * YieldInterval);
    form->yield();
    EXPECT_EQ(view->processed, 2);
}

TEST(ControlTable, TabOrderAndParentsFollowTheLayout) {
    const auto order = tabOrder();
    const std::vector<ControlId> expected = {ControlId::Toolbar, ControlId::tabMain,       ControlId::txtSource,
                                             ControlId::txtDest, ControlId::cmdSrcFolder0, ControlId::cmdSrcFolder1,
                                             ControlId::cboPACS, ControlId::chkDebug,      ControlId::cmdSrcFolder2,
                                             ControlId::txtTemp};
    EXPECT_EQ(std::vector<ControlId>(order.begin(), order.end()), expected);
    for (size_t i = 0; i < ControlCount; ++i) {
        EXPECT_EQ(ControlTable[i].id, static_cast<ControlId>(i)) << "rows in the order of the ids";
        const ControlId parent = ControlTable[i].parent;
        EXPECT_TRUE(parent == ControlId::Window || static_cast<size_t>(parent) < i) << "containers come first";
    }
}

TEST(ControlTable, EachTabShowsItsOwnFrameOnly) {
    const struct {
        int tab;
        bool general, settings;
    } cases[] = {{0, true, false}, {1, false, true}, {-1, false, false}};
    for (const auto& c : cases) {
        const auto frames = tabFrames(c.tab);
        EXPECT_EQ(frames[0].frame, ControlId::Frame2_0);
        EXPECT_EQ(frames[1].frame, ControlId::Frame2_1);
        EXPECT_EQ(frames[0].visible, c.general) << "tab " << c.tab;
        EXPECT_EQ(frames[1].visible, c.settings) << "tab " << c.tab;
    }
}

}  // namespace
}  // namespace jor::app
