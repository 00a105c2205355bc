// The Qt window itself: its layout, fonts, boxes and painting, and what it stores.
#include "app/qt/frm_main.h"
#include "app/qt/text_progress_bar.h"
#include "support/temp_tree.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <thread>

namespace jor::app {
namespace {

using test::TempDir;

struct WindowFixture : ::testing::Test {
    TempDir programFolder;
    std::unique_ptr<frmMain> window;

    void SetUp() override { open(); }

    void open() {
        window = std::make_unique<frmMain>(programFolder.path());
        window->InitMainWindow();
        window->centreOnScreen();
        window->show();
    }
    void closeAndReopen() {
        window->close();
        open();
    }

    template <typename T>
    T* child(const char* name, int index = -1) {
        for (T* w : window->findChildren<T*>(name))
            if (index < 0 || w->property("index").toInt() == index) return w;
        ADD_FAILURE() << "no control " << name << " " << index;
        return nullptr;
    }
    // A HIPAX disc under work/src, the destination work/dest, temp work.
    void prepareRun(const TempDir& work, const std::vector<std::string>& tree) {
        test::makeTree(work / "src", tree);
        test::makeFolders(work / "dest");
        child<QLineEdit>("txtSource")->setText(QString::fromStdString(work / "src"));
        child<QLineEdit>("txtDest")->setText(QString::fromStdString(work / "dest"));
        child<QLineEdit>("txtTemp")->setText(QString::fromStdString(work.path()));
        child<QComboBox>("cboPACS")->setEditText("HIPAX");
    }
};

TEST_F(WindowFixture, CaptionSizeAndBoxes) {
    EXPECT_EQ(window->windowTitle(), "Jor - Orvek");
    EXPECT_EQ(window->size(), QSize(406, 292));
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "the user cannot resize it";
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
}

// The offscreen platform draws a frame of its own once the window is shown;
// tests/e2e/window_centred.py checks the same under a real window manager.
TEST_F(WindowFixture, CentredOnTheScreenFrameIncluded) {
    const QRect area = window->screen()->availableGeometry(), frame = window->frameGeometry();
    ASSERT_NE(frame, window->geometry());
    EXPECT_EQ(frame.topLeft(),
              area.topLeft() + QPoint((area.width() - frame.width()) / 2, (area.height() - frame.height()) / 2));
}

TEST_F(WindowFixture, ControlsStandWhereTheLayoutPutsThem) {
    // Labels and the check box start where the layout says; they may only grow.
    for (const ControlRow& row : ControlTable) {
        QWidget* w = window->control(row.id);
        const QRect rect(row.left / 15, row.top / 15, row.width / 15, row.height / 15);
        if (row.mayGrow) {
            EXPECT_EQ(w->pos(), rect.topLeft()) << row.name << " " << row.index;
            EXPECT_GE(w->width(), rect.width()) << row.name << " " << row.index;
            EXPECT_GE(w->height(), rect.height()) << row.name << " " << row.index;
        } else {
            EXPECT_EQ(w->geometry(), rect) << row.name << " " << row.index;
        }
        EXPECT_EQ(w->parentWidget(), row.parent == ControlId::Window ? window.get() : window->control(row.parent));
    }
    // Toolbar buttons keep the toolbar's height and only grow wider for their caption.
    for (int i : {1, 2}) {
        EXPECT_EQ(window->toolbarButton(i)->height(), 52);
        EXPECT_GE(window->toolbarButton(i)->width(), 51);
    }
    EXPECT_EQ(window->toolbarButton(2)->x(), window->toolbarButton(1)->geometry().right() + 1);
    struct Font {
        QWidget* widget;
        qreal points;
        bool bold;
    };
    const Font fonts[] = {{window.get(), 8.25, false},
                          {child<QLineEdit>("txtSource"), 8.25, false},
                          {child<QPushButton>("cmdSrcFolder", 2), 9.75, true},
                          {child<QWidget>("ProgBar"), 8.25, true}};
    for (const auto& f : fonts) {
        EXPECT_EQ(f.widget->font().family(), "Tahoma") << f.widget->objectName().toStdString();
        EXPECT_EQ(f.widget->font().pointSizeF(), f.points) << f.widget->objectName().toStdString();
        EXPECT_EQ(f.widget->font().bold(), f.bold) << f.widget->objectName().toStdString();
    }
}

TEST_F(WindowFixture, TextsAndLists) {
    EXPECT_EQ(child<QLabel>("Label1")->text(), "Quellverzeichnis:");
    EXPECT_EQ(child<QLabel>("Label2")->text(), "Zielverzeichnis:");
    EXPECT_EQ(child<QLabel>("Label3", 1)->text(), "Tempverzeichnis:");
    EXPECT_EQ(child<QLabel>("Label3", 0)->text(), "PACS - System:");
    EXPECT_EQ(child<QCheckBox>("chkDebug")->text(), "Debug");
    auto* tabs = child<QTabBar>("tabStrip");
    ASSERT_EQ(tabs->count(), 2);
    EXPECT_EQ(tabs->tabText(0), "Allgmein");
    EXPECT_EQ(tabs->tabText(1), "Einstellungen");
    EXPECT_EQ(tabs->currentIndex(), 0);
    auto* combo = child<QComboBox>("cboPACS");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), "Arzt und Praxis");
    EXPECT_EQ(combo->itemText(1), "GEMED");
    EXPECT_EQ(combo->itemText(2), "HIPAX");
    EXPECT_TRUE(combo->isEditable());
    EXPECT_EQ(window->toolbarButton(1)->text(), "Migrieren");
    EXPECT_EQ(window->toolbarButton(2)->text(), "Beenden");
    for (auto* b : window->findChildren<QPushButton*>("cmdSrcFolder")) {
        EXPECT_EQ(b->text(), "...");
        EXPECT_TRUE(b->font().bold());
    }
    EXPECT_TRUE(child<TextProgressBar>("ProgBar")->font().bold());
    EXPECT_TRUE(child<TextProgressBar>("ProgBar")->text().isEmpty());
}

TEST_F(WindowFixture, NoCaptionIsClipped) {
    for (QWidget* w : window->findChildren<QWidget*>()) {
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w))
            text = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text();
        if (text.isEmpty()) continue;
        // Buttons report a style minimum as their hint; what counts is the text.
        const bool isButton = qobject_cast<QPushButton*>(w) || qobject_cast<QToolButton*>(w);
        const int need = isButton ? w->fontMetrics().horizontalAdvance(text) + 4 : w->sizeHint().width();
        EXPECT_LE(need, w->width()) << text.toStdString();
        const int iconHeight = qobject_cast<QToolButton*>(w) ? 32 : 0;
        EXPECT_LE(w->fontMetrics().height() + iconHeight, w->height()) << text.toStdString();
        // Nothing reaches past the window or the parent that shows it.
        QWidget* parent = w->parentWidget();
        EXPECT_TRUE(parent->rect().contains(w->geometry()))
            << text.toStdString() << " leaves its container " << parent->objectName().toStdString();
    }
}

TEST_F(WindowFixture, TabOrder) {
    QWidget* expected[] = {window->toolbarButton(1),
                           window->toolbarButton(2),
                           child<QTabBar>("tabStrip"),
                           child<QLineEdit>("txtSource"),
                           child<QLineEdit>("txtDest"),
                           child<QPushButton>("cmdSrcFolder", 0),
                           child<QPushButton>("cmdSrcFolder", 1),
                           child<QComboBox>("cboPACS"),
                           child<QCheckBox>("chkDebug"),
                           child<QPushButton>("cmdSrcFolder", 2),
                           child<QLineEdit>("txtTemp")};
    // Containers and the combo box's own edit field take no place of their own.
    const auto nextStop = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || qobject_cast<QComboBox*>(w->parentWidget()));
        return w;
    };
    for (size_t i = 1; i < std::size(expected); ++i)
        EXPECT_EQ(nextStop(expected[i - 1]), expected[i])
            << "after " << expected[i - 1]->objectName().toStdString() << " comes "
            << nextStop(expected[i - 1])->objectName().toStdString();
}

TEST_F(WindowFixture, SwitchingTabsShowsTheOtherPageOnly) {
    auto* tabs = child<QTabBar>("tabStrip");
    auto* source = child<QLineEdit>("txtSource");
    source->setText("/x");
    EXPECT_TRUE(child<QFrame>("Frame2", 0)->isVisible());
    EXPECT_FALSE(child<QFrame>("Frame2", 1)->isVisible());
    tabs->setCurrentIndex(1);
    EXPECT_FALSE(child<QFrame>("Frame2", 0)->isVisible());
    EXPECT_TRUE(child<QFrame>("Frame2", 1)->isVisible());
    tabs->setCurrentIndex(0);
    EXPECT_EQ(source->text(), "/x");
}

TEST_F(WindowFixture, DisabledBeendenShowsGreyImageAndIgnoresClicks) {
    QToolButton* beenden = window->toolbarButton(2);
    const QImage normal = beenden->icon().pixmap(32, 32, QIcon::Normal).toImage();
    const QImage grey = beenden->icon().pixmap(32, 32, QIcon::Disabled).toImage();
    EXPECT_NE(normal, grey);
    bool greyOnly = true;
    for (int y = 0; y < grey.height(); ++y)
        for (int x = 0; x < grey.width(); ++x) {
            const QRgb p = grey.pixel(x, y);
            if (qAlpha(p) > 0 && (qRed(p) != qGreen(p) || qGreen(p) != qBlue(p))) greyOnly = false;
        }
    EXPECT_TRUE(greyOnly);
    window->form().setBeendenEnabled(false);
    QTest::mouseClick(beenden, Qt::LeftButton);
    EXPECT_TRUE(window->isVisible()) << "a disabled Beenden does not close";
    window->form().setBeendenEnabled(true);
    QTest::mouseClick(beenden, Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

// Closes every message box that comes up and remembers what it said.
struct BoxWatcher {
    std::vector<std::string> seen;
    QTimer timer;
    BoxWatcher() {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                    seen.push_back((box->windowTitle() + "|" + box->text()).toStdString());
                    box->accept();
                }
        });
        timer.start(10);
    }
};

// The question's box: Ja and Nein, Nein by default, and each answers what it says
// (when it comes: tests/migration/test_run_journal.cpp).
TEST_F(WindowFixture, QuestionSaysJaOrNeinWithNeinByDefault) {
    std::vector<std::string> seen;
    std::string press;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                std::string buttons;
                for (QAbstractButton* b : box->buttons()) buttons += b->text().toStdString() + " ";
                seen.push_back(box->objectName().toStdString() + "|" + buttons + "|" +
                               (box->defaultButton() ? box->defaultButton()->text().toStdString() : ""));
                for (QAbstractButton* b : box->buttons())
                    if (b->text().toStdString() == press) b->click();
            }
    });
    answer.start(10);
    press = "Nein";
    EXPECT_FALSE(window->form().askQuestion("Jor-Orvek", "Noch einmal migrieren?"));
    press = "Ja";
    EXPECT_TRUE(window->form().askQuestion("Jor-Orvek", "Noch einmal migrieren?"));
    EXPECT_EQ(seen, (std::vector<std::string>(2, "questionBox|Ja Nein |Nein")));
}

// Records what the progress bar and the status label show each time they are painted.
struct PaintRecorder : QObject {
    std::vector<std::string> painted;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Paint) {
            if (auto* bar = qobject_cast<TextProgressBar*>(o))
                painted.push_back("bar " + std::to_string(bar->value()) + " " + bar->text().toStdString());
            else if (auto* label = qobject_cast<QLabel*>(o))
                painted.push_back("label " + label->text().toStdString());
        }
        return false;
    }
    std::string last(const std::string& prefix) const {
        for (auto it = painted.rbegin(); it != painted.rend(); ++it)
            if (it->starts_with(prefix)) return *it;
        return "";
    }
};

// The toolkit's part of painting at a human rate (the rate: tests/app/main_form):
// what the form sets while it holds painting is not painted, and the latest
// values are once it lets go.
TEST_F(WindowFixture, HeldProgressIsPaintedWithTheLatestValuesOnceLetGo) {
    auto* bar = child<TextProgressBar>("ProgBar");
    auto* label = child<QLabel>("lblLoadInfo");
    QTest::qWait(100);
    PaintRecorder recorder;
    bar->installEventFilter(&recorder);
    label->installEventFilter(&recorder);
    MainForm& form = window->form();
    form.setProgressMax(9);
    std::this_thread::sleep_for(ProgressPaintInterval);
    form.setProgressValue(1);  // after a quiet spell: not held
    form.setProgressValue(2);
    form.setProgressText("2 von 9");
    form.setStatusText("Datei 2");
    QCoreApplication::sendPostedEvents();  // paints what may be painted, without the painter's tick
    EXPECT_EQ(recorder.last("bar 2 2"), "");
    EXPECT_EQ(recorder.last("label Datei"), "");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return recorder.last("bar ") == "bar 2 2 von 9" && recorder.last("label ") == "label Datei 2"; }, 2000))
        << "last painted: " << recorder.last("bar ") << " / " << recorder.last("label ");
}

TEST_F(WindowFixture, BeendenAndTheCloseBoxStoreTheSameSettings) {
    std::string stored[2];
    for (int i = 0; i < 2; ++i) {
        child<QLineEdit>("txtSource")->setText("/media/cdrom");
        child<QLineEdit>("txtTemp")->setText("/tmp");
        child<QComboBox>("cboPACS")->setEditText("GEMED");
        QTest::mouseClick(child<QCheckBox>("chkDebug"), Qt::LeftButton);
        QCloseEvent closeBox;  // what the title bar's close box sends
        if (i == 0)
            QTest::mouseClick(window->toolbarButton(2), Qt::LeftButton);
        else
            QApplication::sendEvent(window->windowHandle(), &closeBox);
        ASSERT_FALSE(window->isVisible());
        stored[i] = test::readFile(programFolder / "Settings.ini");
        std::filesystem::remove(programFolder / "Settings.ini");
        open();
    }
    EXPECT_EQ(stored[0], stored[1]);
    EXPECT_NE(stored[0].find("PACS=GEMED"), std::string::npos);
}

// Typed text is kept as typed: the start command compares it exactly.
TEST_F(WindowFixture, TypedPacsTextIsNeitherCompletedNorReplacedOnEnter) {
    TempDir work;
    prepareRun(work, {"IM1=a"});
    auto* combo = child<QComboBox>("cboPACS");
    combo->clearEditText();
    QTest::keyClicks(combo->lineEdit(), "arzt und praxis");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(combo->currentText(), "arzt und praxis");
    BoxWatcher boxes;
    QTest::mouseClick(window->toolbarButton(1), Qt::LeftButton);
    EXPECT_EQ(window->engine().state().PacsMode, "") << "plain copies, not the archive mode";
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->toolbarButton(2)->isEnabled(); }, 10000));
}

// A folder name that is not UTF-8 (Latin-1, as older systems wrote it) keeps
// its bytes through the window: the run finds the folder, and the settings
// file gets the same bytes back.
TEST_F(WindowFixture, FolderTextsKeepTheirBytesFromLoadToSave) {
    TempDir work;
    const std::string latin1 = work / "M\xFCller";
    test::makeTree(latin1, {"IM1=a", "IM2=b"});
    test::makeFolders(work / "dest");
    window->close();
    test::writeFile(programFolder / "Settings.ini",
                    "[Path]\r\nSourcePath=" + latin1 + "\r\nDestinationPath=" + work / "dest" +
                        "\r\n[Temp]\r\nTempPath=" + work.path() + "\r\n[PACS]\r\nPACS=HIPAX\r\n");
    open();
    EXPECT_EQ(child<QLineEdit>("txtSource")->text(),
              QString::fromStdString(work.path()) + QString::fromUtf8("/M\xC3\xBCller"));
    EXPECT_EQ(window->form().sourceText(), latin1);
    BoxWatcher boxes;
    QTest::mouseClick(window->toolbarButton(1), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.seen.empty() && window->toolbarButton(2)->isEnabled(); }, 10000));
    EXPECT_EQ(boxes.seen, std::vector<std::string>{
                              "Migration abgeschlossen|2 von 2 Dateien konnten erfolgreich migriert werden.\r\n\r\n"
                              "Bitte legen Sie die n\xC3\xA4"
                              "chste CD / DVD ein."});
    window->close();
    EXPECT_NE(test::readFile(programFolder / "Settings.ini").find("\r\nSourcePath=" + latin1 + "\r\n"),
              std::string::npos);

    // Once the text is changed, the box's own text counts.
    open();
    child<QLineEdit>("txtSource")->setText("/media/cdrom");
    EXPECT_EQ(window->form().sourceText(), "/media/cdrom");
}

TEST_F(WindowFixture, DimmedDebugShowsAndClicksSwitchClearAndTicked) {
    window->close();
    test::writeFile(programFolder / "Settings.ini", "[Debug]\r\nDebugValue=2\r\n[PACS]\r\nPACS=Unbekannt\r\n");
    open();
    auto* box = child<QCheckBox>("chkDebug");
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(child<QComboBox>("cboPACS")->currentText(), "Unbekannt");
    std::vector<int32_t> seen;
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(box, Qt::LeftButton);
        seen.push_back(window->form().debugValue());
    }
    EXPECT_EQ(seen, (std::vector<int32_t>{1, 0, 1}));
}

}  // namespace
}  // namespace jor::app
