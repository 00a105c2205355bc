// The main window in Qt Widgets: the controls of the main form's table and the answers to its view.
#include "app/qt/frm_main.h"

#include "app/qt/artwork.h"
#include "app/qt/folder_dialog.h"
#include "app/qt/text_progress_bar.h"

#include <algorithm>

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

void place(QWidget* w, const ControlRow& row) {
    w->setGeometry(px(row.left), px(row.top), px(row.width), px(row.height));
}

// A caption must never be cut: a control whose text needs more room than
// its place gives grows to fit. Toolbar buttons only grow wider, since the
// toolbar keeps its height.
void fitCaption(QWidget* w, bool widthOnly = false) {
    const QSize need = w->sizeHint();
    const int height = widthOnly ? w->height() : std::max(w->height(), need.height());
    w->resize(std::max(w->width(), need.width()), height);
}

QFont tahoma(ControlFont kind) {
    static const bool substituted = [] {
        // The closest fonts where Tahoma is missing.
        QFont::insertSubstitutions("Tahoma", {"Liberation Sans", "Arimo", "DejaVu Sans"});
        return true;
    }();
    (void)substituted;
    QFont font("Tahoma");
    font.setPointSizeF(kind == ControlFont::BoldButton ? 9.75 : 8.25);
    font.setBold(kind != ControlFont::Normal);
    return font;
}

QString fromUtf8(const std::string& text) { return QString::fromStdString(text); }

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
    if (clicked) clicked();
}

frmMain::frmMain(std::string programFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint) {
    setObjectName("frmMain");
    setWindowTitle(WindowCaption);
    setWindowIcon(QIcon(migrateImage()));
    setFont(tahoma(ControlFont::Normal));
    setFixedSize(px(ClientWidth), px(ClientHeight));
    folderDialog = ShowFolderDialog;
    processExit = [] { std::_Exit(0); };
    buildControls();
    for (QTimer& t : timers_) t.setSingleShot(true);
    timers_[0].setObjectName("tmrMig");
    form_ = std::make_unique<MainForm>(static_cast<MainFormView&>(*this), std::move(programFolder));
    for (const FormTimer timer : {FormTimer::tmrMig, FormTimer::ProgressPainter})
        connect(&timers_[static_cast<int>(timer)], &QTimer::timeout, this, [this, timer] { form_->timerFired(timer); });
}

frmMain::~frmMain() = default;

QWidget* frmMain::makeControl(const ControlRow& row, QWidget* parent) {
    switch (row.kind) {
    case ControlKind::Toolbar: {
        auto* toolbar = new QWidget(parent);
        const QPixmap images[2] = {migrateImage(), powerImage()};
        int x = 0;
        for (int i = 0; i < 2; ++i) {
            auto* b = new QToolButton(toolbar);
            b->setObjectName(QString("ToolbarButton%1").arg(i + 1));
            b->setText(ToolbarCaptions[i]);
            b->setIcon(toolbarIcon(images[i]));
            b->setIconSize(QSize(32, 32));
            b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            b->setAutoRaise(true);
            b->setGeometry(x, 0, px(765), px(780));
            fitCaption(b, true);
            x += b->width();
            connect(b, &QToolButton::clicked, this, [this, i] { form_->DispatchToolbarButton(i + 1); });
            buttons_[i] = b;
        }
        return toolbar;
    }
    case ControlKind::TabControl: {
        auto* tabControl = new QWidget(parent);
        place(tabControl, row);
        tabStrip_ = new QTabBar(tabControl);
        tabStrip_->setObjectName("tabStrip");
        for (const char* caption : TabCaptions) tabStrip_->addTab(caption);
        tabStrip_->setDrawBase(false);
        tabStrip_->move(0, 0);
        tabStrip_->resize(tabStrip_->sizeHint());
        auto* pane = new QFrame(tabControl);
        pane->setFrameShape(QFrame::StyledPanel);
        pane->setGeometry(0, tabStrip_->height() - 1, tabControl->width(),
                          tabControl->height() - tabStrip_->height() + 1);
        tabStrip_->raise();
        connect(tabStrip_, &QTabBar::currentChanged, this, [this](int index) { showTab(index); });
        return tabControl;
    }
    case ControlKind::Frame: {
        auto* frame = new QFrame(parent);
        frame->setFrameStyle(QFrame::Box | QFrame::Sunken);
        return frame;
    }
    case ControlKind::Panel: return new QWidget(parent);
    case ControlKind::Label: {
        auto* label = new QLabel(row.caption, parent);
        // Paths from the disc are shown as they are, never read as markup.
        label->setTextFormat(Qt::PlainText);
        return label;
    }
    case ControlKind::TextBox: return new QLineEdit(parent);
    case ControlKind::Button: {
        auto* button = new QPushButton(row.caption, parent);
        connect(button, &QPushButton::clicked, this,
                [this, index = row.index] { form_->ChooseFolder(static_cast<int16_t>(index)); });
        return button;
    }
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // The start command compares the text exactly: a completer that ignores
        // letter case would turn "arzt und praxis" into the archive mode.
        combo->setCompleter(nullptr);
        return combo;
    }
    case ControlKind::CheckBox: {
        auto* box = new DebugCheckBox(row.caption, parent);
        box->clicked = [this] { form_->chkDebugClicked(); };
        return box;
    }
    case ControlKind::ProgressBar: return new TextProgressBar(parent);
    }
    return nullptr;
}

void frmMain::buildControls() {
    for (const ControlRow& row : ControlTable) {
        QWidget* parent = row.parent == ControlId::Window ? this : control(row.parent);
        QWidget* w = makeControl(row, parent);
        w->setObjectName(row.name);
        if (row.index >= 0) w->setProperty("index", row.index);
        if (row.font != ControlFont::Normal) w->setFont(tahoma(row.font));
        if (row.kind != ControlKind::TabControl) place(w, row);
        if (row.mayGrow) fitCaption(w);
        controls_[static_cast<size_t>(row.id)] = w;
    }
    showTab(0);
    const auto order = tabOrder();
    // The toolbar's stop is its buttons, the tab control's its strip.
    std::vector<QWidget*> widgets = {buttons_[0], buttons_[1], tabStrip_};
    for (size_t i = 2; i < order.size(); ++i) widgets.push_back(control(order[i]));
    for (size_t i = 1; i < widgets.size(); ++i) setTabOrder(widgets[i - 1], widgets[i]);
}

void frmMain::showTab(int index) {
    for (const TabFrame& tab : tabFrames(index)) control(tab.frame)->setVisible(tab.visible);
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
    const QPoint frameAt(area.x() + (area.width() - outer.width()) / 2,
                         area.y() + (area.height() - outer.height()) / 2);
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

void frmMain::closeEvent(QCloseEvent* event) {
    if (form_->QueryUnload())
        event->accept();
    else
        event->ignore();
}

QToolButton* frmMain::toolbarButton(int index) const {
    return index >= 1 && index <= 2 ? buttons_[index - 1] : nullptr;
}

QLineEdit* frmMain::folderBox(ControlId id) const { return qobject_cast<QLineEdit*>(control(id)); }

std::string frmMain::text(ControlId id) const {
    const size_t i = static_cast<size_t>(id);
    if (auto* box = folderBox(id)) return box->text() == setText_[i] ? setBytes_[i] : box->text().toStdString();
    if (id == ControlId::cboPACS) return static_cast<QComboBox*>(control(id))->currentText().toStdString();
    if (auto* label = qobject_cast<QLabel*>(control(id))) return label->text().toStdString();
    if (id == ControlId::ProgBar) return static_cast<TextProgressBar*>(control(id))->text().toStdString();
    return {};
}

void frmMain::setText(ControlId id, const std::string& bytes) {
    if (auto* box = folderBox(id)) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        // Not UTF-8: shown as the 8-bit code page the archive tools wrote.
        if (utf8.hasError()) text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        box->setText(text);
        setBytes_[static_cast<size_t>(id)] = bytes;
        setText_[static_cast<size_t>(id)] = box->text();
    } else if (id == ControlId::cboPACS) {
        static_cast<QComboBox*>(control(id))->setEditText(fromUtf8(bytes));
    } else if (auto* label = qobject_cast<QLabel*>(control(id))) {
        label->setText(fromUtf8(bytes));
    } else if (id == ControlId::ProgBar) {
        static_cast<TextProgressBar*>(control(id))->setText(fromUtf8(bytes));
    }
}

void frmMain::addPacsEntry(const std::string& entry) {
    static_cast<QComboBox*>(control(ControlId::cboPACS))->addItem(fromUtf8(entry));
}

int32_t frmMain::checkValue() const { return static_cast<DebugCheckBox*>(control(ControlId::chkDebug))->value(); }
void frmMain::setCheckValue(int32_t value) {
    static_cast<DebugCheckBox*>(control(ControlId::chkDebug))->setValue(value);
}

std::string frmMain::toolbarCaption(int button) const {
    const QToolButton* b = toolbarButton(button);
    return b ? b->text().toStdString() : std::string();
}

void frmMain::setToolbarButtonEnabled(int button, bool enabled) {
    if (QToolButton* b = toolbarButton(button)) b->setEnabled(enabled);
}

void frmMain::setProgressMax(int32_t value) {
    static_cast<TextProgressBar*>(control(ControlId::ProgBar))->setMaximum(value);
}
void frmMain::setProgressValue(int32_t value) {
    static_cast<TextProgressBar*>(control(ControlId::ProgBar))->setValue(value);
}

void frmMain::holdProgressPainting(bool hold) {
    // Enabling updates again schedules the repaint.
    for (ControlId id : {ControlId::ProgBar, ControlId::lblLoadInfo}) control(id)->setUpdatesEnabled(!hold);
}

void frmMain::armTimer(FormTimer timer, std::chrono::milliseconds interval) {
    timers_[static_cast<int>(timer)].start(static_cast<int>(interval.count()));
}
void frmMain::disarmTimer(FormTimer timer) { timers_[static_cast<int>(timer)].stop(); }

void frmMain::showMessage(MessageIcon icon, const std::string& title, const std::string& text) {
    const QMessageBox::Icon shown = icon == MessageIcon::Stop      ? QMessageBox::Critical
                                    : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                   : QMessageBox::Information;
    QMessageBox box(shown, fromUtf8(title), fromUtf8(text), QMessageBox::Ok, this);
    box.setObjectName(icon == MessageIcon::Information ? QString("reportBox") : QString(iconName(icon)) + "Box");
    box.exec();
}

bool frmMain::askQuestion(const std::string& title, const std::string& text) {
    QMessageBox box(QMessageBox::Question, fromUtf8(title), fromUtf8(text), QMessageBox::NoButton, this);
    box.setObjectName("questionBox");
    // The German words whatever Qt's translations; Nein for Enter and Escape.
    QPushButton* ja = box.addButton("Ja", QMessageBox::YesRole);
    QPushButton* nein = box.addButton("Nein", QMessageBox::NoRole);
    box.setDefaultButton(nein);
    box.setEscapeButton(nein);
    box.exec();
    return box.clickedButton() == ja;
}

size_t frmMain::askChoice(const std::string& title, const std::string& text, const std::vector<std::string>& answers) {
    QMessageBox box(QMessageBox::Question, fromUtf8(title), fromUtf8(text), QMessageBox::NoButton, this);
    box.setObjectName("choiceBox");
    std::vector<QPushButton*> buttons;
    for (const std::string& answer : answers) buttons.push_back(box.addButton(fromUtf8(answer), QMessageBox::AcceptRole));
    box.setDefaultButton(buttons.front());
    box.setEscapeButton(buttons.back());
    box.exec();
    const auto taken = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return taken == buttons.end() ? buttons.size() - 1 : static_cast<size_t>(taken - buttons.begin());
}

std::string frmMain::showFolderDialog(const std::string& title) { return folderDialog ? folderDialog(title) : ""; }
void frmMain::processEvents() { QCoreApplication::processEvents(); }
void frmMain::closeWindow() { QWidget::close(); }
void frmMain::closeWindowLater() {
    QTimer::singleShot(0, this, [this] { QWidget::close(); });
}
// A session manager asks before the session ends (main.cpp): no reason to hand on.
void frmMain::holdSession(const std::string&, bool) {}
void frmMain::closeBoxes() {
    for (QMessageBox* box : findChildren<QMessageBox*>())
        if (box->isVisible()) box->reject();
}
void frmMain::endProcess() {
    if (processExit) processExit();
}

}  // namespace jor::app
