#include "app/qt/frm_main.h"

#include "app/qt/artwork.h"
#include "app/qt/folder_dialog.h"
#include "app/qt/text_progress_bar.h"
#include "settings/settings.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringDecoder>
#include <QTabBar>
#include <QToolButton>

#include <cstdlib>

namespace jor::app {
namespace {

// Positions are given in twips: 15 to a pixel at 96 dots per inch.
constexpr int px(int twips) { return twips / 15; }

void place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(px(left), px(top), px(width), px(height));
}

// A caption must never be cut: a control whose text needs more room than
// its place gives grows to fit. Toolbar buttons only grow wider, since the
// toolbar keeps its height.
void fitCaption(QWidget* w, bool widthOnly = false) {
    const QSize need = w->sizeHint();
    const int height = widthOnly ? w->height() : std::max(w->height(), need.height());
    w->resize(std::max(w->width(), need.width()), height);
}

QFont tahoma(qreal points, bool bold = false) {
    static const bool substituted = [] {
        // The closest fonts where Tahoma is missing.
        QFont::insertSubstitutions("Tahoma", {"Liberation Sans", "Arimo", "DejaVu Sans"});
        return true;
    }();
    (void)substituted;
    QFont font("Tahoma");
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QLabel* label(QWidget* parent, const char* name, const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

QLineEdit* lineEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
}

void setIndex(QObject* o, int index) { o->setProperty("index", index); }

// Some thirty pictures a second: smooth to the eye, and a run of small
// files no longer pays for a repaint of bar and label with every file.
constexpr qint64 ProgressPaintInterval = 33;  // ms
// The engine yields for every file and every process it looks at; taking
// the window's events at most this often is more than any user can tell.
constexpr qint64 YieldInterval = 1'000'000;  // ns

}  // namespace

int32_t DebugCheckBox::value() const {
    switch (checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

void DebugCheckBox::setValue(int32_t value) {
    setTristate(value == 2);
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void DebugCheckBox::nextCheckState() {
    const bool ticked = checkState() == Qt::Checked;
    setTristate(false);
    setCheckState(ticked ? Qt::Unchecked : Qt::Checked);
}

frmMain::frmMain(std::string programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      programFolder_(std::move(programFolder)),
      logs_(programFolder_, [this] { return chkDebug_ ? chkDebug_->value() : 0; }) {
    setObjectName("frmMain");
    setWindowTitle("Jor - Orvek");
    setWindowIcon(QIcon(migrateImage()));
    setFont(tahoma(8.25));
    setFixedSize(406, 292);
    showFolderDialog = ShowFolderDialog;
    endProcess = [] { std::_Exit(0); };
    buildControls();

    tmrMig_.setObjectName("tmrMig");
    tmrMig_.setSingleShot(true);
    tmrMig_.setInterval(1);
    connect(&tmrMig_, &QTimer::timeout, this, [this] { tmrMig_Timer(); });
    progressPainter_.setSingleShot(true);
    connect(&progressPainter_, &QTimer::timeout, this, [this] { paintProgress(); });
    engine_ = std::make_unique<MigrationEngine>(*this, logs_, programFolder_);
}

frmMain::~frmMain() = default;

void frmMain::buildControls() {
    toolbar_ = new QWidget(this);
    toolbar_->setObjectName("Toolbar");
    place(toolbar_, 0, 0, 6090, 780);
    const QPixmap images[2] = {migrateImage(), powerImage()};
    const char* captions[2] = {"Migrieren", "Beenden"};
    int x = 0;
    for (int i = 0; i < 2; ++i) {
        auto* b = new QToolButton(toolbar_);
        b->setObjectName(QString("ToolbarButton%1").arg(i + 1));
        b->setText(captions[i]);
        b->setIcon(toolbarIcon(images[i]));
        b->setIconSize(QSize(32, 32));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        b->setAutoRaise(true);
        b->setGeometry(x, 0, px(765), px(780));
        fitCaption(b, true);
        x += b->width();
        connect(b, &QToolButton::clicked, this, [this, b] { DispatchToolbarButton(b); });
        buttons_[i] = b;
    }

    tabControl_ = new QWidget(this);
    tabControl_->setObjectName("tabMain");
    place(tabControl_, 45, 855, 5985, 2535);
    tabStrip_ = new QTabBar(tabControl_);
    tabStrip_->setObjectName("tabStrip");
    tabStrip_->addTab("Allgmein");
    tabStrip_->addTab("Einstellungen");
    tabStrip_->setDrawBase(false);
    tabStrip_->move(0, 0);
    tabStrip_->resize(tabStrip_->sizeHint());
    auto* pane = new QFrame(tabControl_);
    pane->setFrameShape(QFrame::StyledPanel);
    pane->setGeometry(0, tabStrip_->height() - 1, tabControl_->width(), tabControl_->height() - tabStrip_->height() + 1);
    tabStrip_->raise();

    for (int i = 0; i < 2; ++i) {
        auto* frame = new QFrame(tabControl_);
        frame->setObjectName("Frame2");
        setIndex(frame, i);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        place(frame, 45, 360, 5865, 2085);
        pages_[i] = frame;
    }

    auto* picture2 = new QWidget(pages_[0]);
    picture2->setObjectName("Picture2");
    place(picture2, 45, 180, 5775, 1815);
    place(label(picture2, "Label1", "Quellverzeichnis:"), 90, 90, 1215, 195);
    txtSource_ = lineEdit(picture2, "txtSource");
    place(txtSource_, 90, 360, 4965, 345);
    place(label(picture2, "Label2", "Zielverzeichnis:"), 90, 945, 1095, 195);
    txtDest_ = lineEdit(picture2, "txtDest");
    place(txtDest_, 90, 1215, 4965, 345);

    auto* picture3 = new QWidget(pages_[1]);
    picture3->setObjectName("Picture3");
    place(picture3, 90, 180, 5730, 1860);
    QLabel* label31 = label(picture3, "Label3", "Tempverzeichnis:");
    setIndex(label31, 1);
    place(label31, 45, 90, 1245, 195);
    txtTemp_ = lineEdit(picture3, "txtTemp");
    place(txtTemp_, 45, 360, 4965, 345);
    QLabel* label30 = label(picture3, "Label3", "PACS - System:");
    setIndex(label30, 0);
    place(label30, 45, 990, 1125, 195);
    cboPACS_ = new QComboBox(picture3);
    cboPACS_->setObjectName("cboPACS");
    cboPACS_->setEditable(true);
    cboPACS_->setInsertPolicy(QComboBox::NoInsert);
    // The start command compares the text exactly: a completer that ignores
    // letter case would turn "arzt und praxis" into the archive mode.
    cboPACS_->setCompleter(nullptr);
    place(cboPACS_, 1350, 945, 1905, 315);
    chkDebug_ = new DebugCheckBox("Debug", picture3);
    chkDebug_->setObjectName("chkDebug");
    place(chkDebug_, 45, 1395, 1320, 240);

    struct Browse { QWidget* parent; int left, top; };
    const Browse browse[3] = {{picture2, 5130, 360}, {picture2, 5130, 1215}, {picture3, 5085, 360}};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QPushButton("...", browse[i].parent);
        b->setObjectName("cmdSrcFolder");
        setIndex(b, i);
        b->setFont(tahoma(9.75, true));
        place(b, browse[i].left, browse[i].top, 510, 360);
        connect(b, &QPushButton::clicked, this, [this, i] { ChooseFolder(static_cast<int16_t>(i)); });
        cmdSrcFolder_[i] = b;
    }

    lblLoadInfo_ = new QLabel(this);
    lblLoadInfo_->setObjectName("lblLoadInfo");
    // Paths from the disc are shown as they are, never read as markup.
    lblLoadInfo_->setTextFormat(Qt::PlainText);
    place(lblLoadInfo_, 135, 3465, 5865, 240);
    ProgBar_ = new TextProgressBar(this);
    ProgBar_->setObjectName("ProgBar");
    ProgBar_->setFont(tahoma(8.25, true));
    place(ProgBar_, 45, 3780, 6000, 555);

    for (QLabel* l : findChildren<QLabel*>())
        if (l != lblLoadInfo_) fitCaption(l);
    fitCaption(chkDebug_);

    connect(tabStrip_, &QTabBar::currentChanged, this, [this](int index) { showTab(index); });
    showTab(0);

    QWidget* order[] = {buttons_[0], buttons_[1], tabStrip_, txtSource_, txtDest_, cmdSrcFolder_[0],
                        cmdSrcFolder_[1], cboPACS_, chkDebug_, cmdSrcFolder_[2], txtTemp_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void frmMain::showTab(int index) {
    for (int i = 0; i < 2; ++i) pages_[i]->setVisible(i == index);
}

void frmMain::centreOnScreen() {
    placeInCentre();
    // Before it is shown the window has no frame yet; once the window manager
    // has framed it, it is centred again, frame included.
    centreWithFrame_ = frameGeometry() == geometry();
}

void frmMain::placeInCentre() {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    const QRect area = s->availableGeometry();
    const QRect outer = frameGeometry();
    const QPoint frameAt(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    // The client area is placed, not the frame: platforms differ in where a
    // frame position ends up.
    setGeometry(QRect(frameAt + (geometry().topLeft() - outer.topLeft()), size()));
}

bool frmMain::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    // Qt sends no event when the frame becomes known: an X11 window manager
    // adds it after the window is mapped, and the next event finds it.
    if (centreWithFrame_ && isVisible() && frameGeometry() != geometry()) {
        centreWithFrame_ = false;
        placeInCentre();
    }
    return handled;
}

void frmMain::InitMainWindow() {
    cboPACS_->addItems({"Arzt und Praxis", "GEMED", "HIPAX"});
    const SettingsValues values = LoadSettings(programFolder_);
    loadFolderText(2, values.TempPath);
    loadFolderText(1, values.DestinationPath);
    loadFolderText(0, values.SourcePath);
    chkDebug_->setValue(values.DebugValue);
    cboPACS_->setEditText(QString::fromStdString(values.Pacs));
}

QLineEdit* frmMain::folderBox(int index) const {
    QLineEdit* const boxes[3] = {txtSource_, txtDest_, txtTemp_};
    return boxes[index];
}

void frmMain::loadFolderText(int index, const std::string& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    // Not UTF-8: shown as the 8-bit code page the archive tools wrote.
    if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    folderBox(index)->setText(text);
    loadedBytes_[index] = bytes;
    loadedText_[index] = folderBox(index)->text();
}

std::string frmMain::folderText(int index) const {
    const QString text = folderBox(index)->text();
    return text == loadedText_[index] ? loadedBytes_[index] : text.toStdString();
}

void frmMain::SaveSettings() {
    SettingsValues values;
    values.TempPath = tempText();
    values.SourcePath = sourceText();
    values.DestinationPath = destText();
    values.DebugValue = chkDebug_->value();
    values.Pacs = pacsText();
    jor::SaveSettings(programFolder_, values);
}

void frmMain::ChooseFolder(int16_t index) {
    const std::string chosen = showFolderDialog("W\xC3\xA4hlen Sie Ihren Ordner ...");
    if (chosen.empty()) return;
    // The chosen folder's bytes, as for a loaded one.
    if (index >= 0 && index < 3) loadFolderText(index, chosen);
}

void frmMain::DispatchToolbarButton(QToolButton* button) {
    // By caption alone, as the toolbar was always dispatched.
    const QString caption = button->text();
    if (caption == "Migrieren")
        engine_->StartRun();
    else if (caption == "Beenden")
        close();
}

QToolButton* frmMain::toolbarButton(int index) const {
    return index >= 1 && index <= 2 ? buttons_[index - 1] : nullptr;
}

void frmMain::tmrMig_Timer() {
    engine_->tmrMig_Timer();
    // A close asked for during the run is carried out now that the scan has
    // left the stack.
    if (closePending_) {
        closePending_ = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

bool frmMain::holdSessionEnd() {
    if (engine_->running()) return true;
    SaveSettings();
    return false;
}

void frmMain::EndSession() {
    if (!engine_->running()) {
        close();
        return;
    }
    engine_->EndSessionNow();
    if (!settingsSaved_) {
        settingsSaved_ = true;
        SaveSettings();
    }
    endProcess();
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (engine_->running()) {
        engine_->requestStop();
        closePending_ = true;
        event->ignore();
        return;
    }
    if (!settingsSaved_) {
        settingsSaved_ = true;
        SaveSettings();
    }
    event->accept();
}

std::string frmMain::sourceText() const { return folderText(0); }
std::string frmMain::destText() const { return folderText(1); }
std::string frmMain::tempText() const { return folderText(2); }
std::string frmMain::pacsText() const { return cboPACS_->currentText().toStdString(); }
int32_t frmMain::debugValue() const { return chkDebug_->value(); }

void frmMain::setProgressMax(int32_t value) {
    ProgBar_->setMaximum(value);
    progressChanged();
}
void frmMain::setProgressValue(int32_t value) {
    ProgBar_->setValue(value);
    progressChanged();
}
void frmMain::setProgressText(const std::string& text) {
    ProgBar_->setText(QString::fromStdString(text));
    progressChanged();
}
void frmMain::setStatusText(const std::string& text) {
    lblLoadInfo_->setText(QString::fromStdString(text));
    progressChanged();
}

// The controls take every value at once, so what they report is current;
// only their painting waits. A change after a quiet spell is painted at the
// next yield; within the interval, the timer paints the latest values.
void frmMain::progressChanged() {
    if (progressPainter_.isActive()) return;
    if (!lastProgressPaint_.isValid() || lastProgressPaint_.elapsed() >= ProgressPaintInterval) {
        lastProgressPaint_.start();
        return;
    }
    ProgBar_->setUpdatesEnabled(false);
    lblLoadInfo_->setUpdatesEnabled(false);
    progressPainter_.start(static_cast<int>(ProgressPaintInterval - lastProgressPaint_.elapsed()));
}

void frmMain::paintProgress() {
    // Enabling updates again schedules the repaint.
    ProgBar_->setUpdatesEnabled(true);
    lblLoadInfo_->setUpdatesEnabled(true);
    lastProgressPaint_.start();
}
void frmMain::setMigrierenEnabled(bool enabled) { buttons_[0]->setEnabled(enabled); }
void frmMain::setBeendenEnabled(bool enabled) { buttons_[1]->setEnabled(enabled); }
void frmMain::armTimer() { tmrMig_.start(); }
void frmMain::disarmTimer() { tmrMig_.stop(); }

void frmMain::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    QMessageBox box(icon == MessageIcon::Stop ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok, this);
    box.setObjectName(icon == MessageIcon::Stop ? "stopBox" : "reportBox");
    box.exec();
}

void frmMain::yield() {
    if (lastYield_.isValid() && lastYield_.nsecsElapsed() < YieldInterval) return;
    QCoreApplication::processEvents();
    lastYield_.start();
}

}  // namespace jor::app
