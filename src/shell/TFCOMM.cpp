#include "TFCOMM.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

#include "BarPictures.h"
#include "DemoMeter.h"
#include "EditErrorNote.h"
#include "EmbeddedServer.h"
#include "FrameBorderOnly.h"
#include "IntervalKeys.h"
#include "KeyFilter.h"
#include "LcdLabel.h"
#include "LimitRules.h"
#include "LinkImages.h"
#include "ModelProfiles.h"
#include "PosixSerialPort.h"
#include "ReadingPublisher.h"
#include "ReportPreview.h"
#include "ScaleCanvas.h"
#include "ScaleGeometry.h"
#include "ServedChannels.h"
#include "StateReading.h"
#include "ui_TFCOMM.h"

namespace {

// Lines of the received-frame trace kept; older ones are dropped as new ones arrive.
constexpr int kTraceLines = 1000;
// The LCD shows every polling tick's reading; the pointer and the bar, which move continuously,
// are redrawn at most this often while readings stream in.
constexpr int kFaceAndBarMs = 100;
// The link picture goes dark on the third 100 ms watchdog tick after the last whole frame, 200 to
// 300 ms after it; a watchdog that does not tick puts it out this long after the frame.
constexpr auto kLinkOut = std::chrono::milliseconds(250);

}  // namespace

TFCOMM::TFCOMM(const AppOptions& options, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TFCOMM>()),
      settings_(!options.noSettings),
      options_(settings_.applyTo(options)),
      line_(*this),
      scale_(std::make_unique<ScaleCanvas>()),
      faceAndBar_(kFaceAndBarMs, [this] {
          drawPendingPointer();
          if (pendingBar_) setBarPosition(*std::exchange(pendingBar_, std::nullopt));
      }) {
    ui_->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    resize(615, 409 + menuBar()->sizeHint().height());
    centralWidget()->setMinimumSize(WindowLayoutRules::kMinimumClientSize);
    ui_->CONok->setPixmap(LinkImages::pixmap(true, devicePixelRatioF()));
    ui_->CONokN->setPixmap(LinkImages::pixmap(false, devicePixelRatioF()));
    new BarPictures(ui_->PBar2);
    for (QFrame* frame : {ui_->Panel1, ui_->KD, ui_->Panel3}) new FrameBorderOnly(frame);

    // the stored driver settings of this window
    line_.driver().setComPort(pnCOM1);
    line_.driver().setComPortSpeed(br2400);
    for (const auto& [n, path] : options_.portPaths)
        line_.devices().setDevicePath(static_cast<TComPortNumber>(n - 1), path);
    bindLine();

    startDemoMeter();
    bindWidgets();
    bindMeterMenu();
    bindRecording();
    bindRules();
    bindChart();
    bindKeyboard();
    ui_->Memo1->setMaximumBlockCount(kTraceLines);
    ui_->Memo1->installEventFilter(this);

    // the hidden model boxes, as the command line asks
    ControlStates wanted;
    readModelChecks();
    wanted = line_.controls();
    ::chooseModel(wanted, options_.model, options_.variant);
    for (int i = 0; i < ModelCheckCount; ++i) modelBoxes()[i]->setChecked(wanted.model[i]);

    ConTimer.setInterval(100);
    connect(&ConTimer, &QTimer::timeout, this, &TFCOMM::ConTimerTimer);
    ConTimer.start();
    watchdogShot_.setSingleShot(true);
    watchdogShot_.setTimerType(Qt::PreciseTimer);
    connect(&watchdogShot_, &QTimer::timeout, this, &TFCOMM::watchdogDue);
    // the link tooltip's counts are brought up to date when it is about to show
    ui_->CONok->installEventFilter(this);
    ui_->CONokN->installEventFilter(this);

    FormCreate();
    syncMeterMenu();
    startServing();
    if (options_.connect) QTimer::singleShot(0, this, &TFCOMM::BTCon1Click);
}

// The program ends normally here, whether or not the rows were saved (the user was asked): the
// journal has served its purpose.
TFCOMM::~TFCOMM() {
    journal_.remove();
    // its thread reports to this window: it ends first
    publisher_.reset();
}

void TFCOMM::bindWidgets() {
    for (int i = 0; i < kLcdElementCount; ++i) {
        const auto e = static_cast<LcdElement>(i);
        elementWidgets_[i] = findChild<QWidget*>(QString::fromLatin1(LcdPanelModel::name(e)));
    }

    connect(ui_->COM11, &QAction::triggered, this, &TFCOMM::COM11Click);
    connect(ui_->COM21, &QAction::triggered, this, &TFCOMM::COM21Click);
    connect(ui_->COM31, &QAction::triggered, this, &TFCOMM::COM31Click);
    connect(ui_->COM41, &QAction::triggered, this, &TFCOMM::COM41Click);
    // each port indicator steps on to the next port
    connect(ui_->BtCOM1, &QAbstractButton::clicked, this, &TFCOMM::COM21Click);
    connect(ui_->BtCOM2, &QAbstractButton::clicked, this, &TFCOMM::COM31Click);
    connect(ui_->BtCOM3, &QAbstractButton::clicked, this, &TFCOMM::COM41Click);
    connect(ui_->BtCOM4, &QAbstractButton::clicked, this, &TFCOMM::COM11Click);

    connect(ui_->START1, &QAction::triggered, this, &TFCOMM::BTCon1Click);
    connect(ui_->BTCon, &QAbstractButton::clicked, this, &TFCOMM::BTCon1Click);
    connect(ui_->STOP1, &QAction::triggered, this, &TFCOMM::BtDiscon1Click);
    connect(ui_->BtDiscon, &QAbstractButton::clicked, this, &TFCOMM::BtDiscon1Click);
    connect(ui_->EXIT1, &QAction::triggered, this, &TFCOMM::BtExit1Click);
    connect(ui_->BtExit, &QAbstractButton::clicked, this, &TFCOMM::BtExit1Click);

    connect(ui_->Setmax, &QLineEdit::textChanged, this, &TFCOMM::SetmaxExit);
    connect(ui_->SetMin, &QLineEdit::textChanged, this, &TFCOMM::SetMinExit);
    connect(ui_->SetMaxB, &QAbstractButton::clicked, this, &TFCOMM::SetmaxExit);
    connect(ui_->SetMinB, &QAbstractButton::clicked, this, &TFCOMM::SetMinExit);
    for (QLineEdit* edit : {ui_->Setmax, ui_->SetMin}) {
        edit->installEventFilter(this);
        edit->setValidator(new LimitRules::LimitTextValidator(edit));
    }

    connect(ui_->BtFill, &QAbstractButton::toggled, this, [this](bool on) { line_.controls().BtFill = on; });
    line_.controls().BtFill = ui_->BtFill->isChecked();
    line_.controls().SetMaxB = ui_->SetMaxB->isChecked();
    line_.controls().SetMinB = ui_->SetMinB->isChecked();

    ui_->BtPrint->setIcon(ReportPreview::printIcon());
    connect(ui_->BtPrint, &QAbstractButton::clicked, this, [this] { BtPrintClick(table_); });

    ui_->ComSetup1->setToolTipsVisible(true);
    updatePortTooltips();
}

// With --demo a simulated meter of the chosen model talks on COM1 through a pseudo-terminal.
void TFCOMM::startDemoMeter() {
    if (!options_.demo) return;
    std::string caption = "KR31E";
    if (options_.model) caption = *options_.model;
    demo_ = std::make_unique<DemoMeter>(caption, options_.demoScenario, options_.variant);
    if (demo_->ok()) {
        line_.devices().setDevicePath(pnCOM1, demo_->slavePath());
        return;
    }
    const QString why = QString::fromStdString(demo_->errorString());
    demo_.reset();
    // COM1 is still the real port: --connect was meant for the simulated meter
    options_.connect = false;
    QTimer::singleShot(0, this, [this, why] {
        QMessageBox::warning(this, windowTitle(), tr("The simulated meter could not start: %1").arg(why));
    });
}

std::array<QCheckBox*, ModelCheckCount> TFCOMM::modelBoxes() const {
    return {ui_->IFKR31A, ui_->IFKR31E, ui_->IFPAX900, ui_->IF2285,  ui_->IFTS510,
            ui_->IFKR47B, ui_->IFKR31D, ui_->IFKR31F,  ui_->IFKR31G, ui_->IF7263x};
}

void TFCOMM::readModelChecks() {
    for (int i = 0; i < ModelCheckCount; ++i) line_.controls().model[i] = modelBoxes()[i]->isChecked();
}

std::array<QAction*, 4> TFCOMM::portItems() const {
    return {ui_->COM11, ui_->COM21, ui_->COM31, ui_->COM41};
}

std::array<QWidget*, 4> TFCOMM::portIndicators() const {
    return {ui_->BtCOM1, ui_->BtCOM2, ui_->BtCOM3, ui_->BtCOM4};
}

void TFCOMM::updatePortTooltips() {
    for (int n = 1; n <= 4; ++n) {
        const QString path =
            QString::fromStdString(line_.devices().devicePath(static_cast<TComPortNumber>(n - 1)));
        portItems()[n - 1]->setToolTip(path);
        portIndicators()[n - 1]->setToolTip(QStringLiteral("COM%1: %2").arg(n).arg(path));
    }
}

// Start-up: count range, record table, chart, model profile, limits, meter face.
void TFCOMM::FormCreate() {
    readModelChecks();
    applyStartValues(line_.state());
    openRecordTable();
    chartPoints_.sampleFill();
    ui_->ComboBox1->setCurrentIndex(0);
    ShowSeries(0);
    ShowSeries(ui_->BtFill->isChecked() ? 0 : 1);
    applyProfile();
    setChartLeftAxis(line_.state().FullScale, -line_.state().FullScale);
    KDsetup(1);
    KDrun(line_.state().FullScaleTenth);
    syncPanel();
    syncChart();
}

void TFCOMM::applyProfile() {
    const ProfileChoice choice = chooseProfile(line_.controls());
    line_.state().family = choice.family;
    if (choice.title) setWindowTitle(QString::fromStdString(*choice.title));
    if (choice.baud19200) line_.driver().setComPortSpeed(br19200);
    line_.state().ScaleDigits = choice.ScaleDigits;

    if (choice.ScaleDigits == "4") return;
    const auto range = countRangeFor(choice.ScaleDigits);
    if (!range) return;
    applyCountRange(*range, line_.state());
    // Writing the texts runs the limit handlers, which set the limits from them.
    ui_->Setmax->setText(QString::fromLatin1(range->SetmaxText));
    ui_->SetMin->setText(QString::fromLatin1(range->SetMinText));
    line_.panel().setCaption(LcdElement::MinText, range->MinTextCaption);
    line_.panel().setCaption(LcdElement::MaxText, range->MaxTextCaption);
}

// ---- receive path ----

// A chunk may hold several frames. Widgets show only the state after the last of them, so the
// drawing work of a chunk (LCD, pointer, bar, trace) is done once, when the chunk is through.
void TFCOMM::bindLine() {
    MeterLine::Hooks& hooks = line_.hooks();
    hooks.chunkBegin = [this] { inChunk_ = true; };
    hooks.chunkEnd = [this] {
        finishChunk();
        wakeWatchdog();
    };
    hooks.reading = [this](const MeterReading&) { publishReading(); };
    // says once, without stopping the readings, why nothing shows when the model cannot read the line
    hooks.hint = [this](const LineWatch::Hint& hint) { showLineHint(hint); };
    hooks.lost = [this](const LineLoss& loss) { portLost(loss); };
    hooks.back = [this](const LineBack& back) { deviceBack(back); };
    // with --save-bytes the chunk is kept before anything reads it
    line_.setByteLog(&byteLog_);
    hooks.byteLogFailed = [this] {
        const QString why = QString::fromStdString(byteLog_.error());
        showNotice(QMessageBox::Warning, QStringLiteral("SaveBytesFailed"),
                   tr("The received bytes are no longer saved: %1").arg(why));
    };
}

// The hint says where the model is chosen and, when the bytes fit one model best, offers it.
void TFCOMM::showLineHint(const LineWatch::Hint& hint) {
    QString text =
        QString::fromStdString(hint.text) + tr(" Choose the meter's model in ComSetup ▸ Meter model.");
    QMessageBox* box = showNotice(QMessageBox::Information, QStringLiteral("LineHint"), text);
    if (!hint.model) return;
    const std::string model = *hint.model;
    QPushButton* use =
        box->addButton(tr("Use %1").arg(QString::fromStdString(model)), QMessageBox::AcceptRole);
    use->setObjectName(QStringLiteral("UseModel"));
    connect(use, &QPushButton::clicked, this, [this, model] { switchModel(model); });
}

void TFCOMM::switchModel(const std::string& caption) {
    const auto model = modelCheckByCaption(caption);
    if (!model) return;
    const bool wasConnected = !ui_->START1->isEnabled();
    if (wasConnected) BtDiscon1Click();
    chooseModel(*model);
    if (wasConnected) BTCon1Click();
}

QMessageBox* TFCOMM::showNotice(QMessageBox::Icon icon, const QString& objectName, const QString& text) {
    auto* box = new QMessageBox(icon, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(objectName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

void TFCOMM::finishChunk() {
    inChunk_ = false;
    if (pendingPointer_ || pendingBar_) faceAndBar_.changed();
    syncPanel();
    ui_->DBGrid1->refresh();
    syncChart();
    wakeTrecord();
}

void TFCOMM::syncPanel() {
    dimStaleReading();
    uint64_t dirty = line_.panel().takeDirty();
    while (dirty) {
        const int i = __builtin_ctzll(dirty);
        dirty &= dirty - 1;
        QWidget* w = elementWidgets_[i];
        if (!w) continue;
        const auto e = static_cast<LcdElement>(i);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QString text = QString::fromStdString(line_.panel().caption(e));
            if (label->text() != text && !(e == LcdElement::CONok || e == LcdElement::CONokN))
                LcdLabel::setCaption(label, text);
        }
        w->setVisible(line_.panel().visible(e));
    }
}

// Once the readings have stopped (longer than the meter's own pace, see ReadingPace) or the user
// disconnected, the LCD still shows the last reading, dimmed, so it is not taken for a live one;
// the next reading brings it back to full strength.
void TFCOMM::dimStaleReading() {
    const bool stale = line_.pace().stale(ReadingPace::Clock::now());
    if (stale == readingDimmed_) return;
    readingDimmed_ = stale;
    for (QWidget* w : ui_->Panel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!stale) {
            w->setGraphicsEffect(nullptr);
            continue;
        }
        auto* dim = new QGraphicsOpacityEffect(w);
        dim->setOpacity(0.4);
        w->setGraphicsEffect(dim);
    }
}

// ---- ports, connection, watchdog ----

void TFCOMM::selectPort(TComPortNumber port) {
    for (int i = 0; i < 4; ++i) {
        portItems()[i]->setChecked(i == port);
        portIndicators()[i]->setVisible(i == port);
    }
    line_.driver().setComPort(port);
}

void TFCOMM::COM11Click() {
    selectPort(pnCOM1);
}
void TFCOMM::COM21Click() {
    selectPort(pnCOM2);
}
void TFCOMM::COM31Click() {
    selectPort(pnCOM3);
}
void TFCOMM::COM41Click() {
    selectPort(pnCOM4);
}

void TFCOMM::BTCon1Click() {
    if (!line_.open(line_.driver().portName() + " (" + line_.devicePath() + ")")) {
        // Stay disconnected and say why, rather than pretending the port is open.
        ui_->START1->setChecked(false);
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(line_.error()));
        return;
    }
    // Asked to keep the line's bytes, do not read a line whose bytes would be lost. Nothing has
    // been read yet: the first poll comes later.
    if (options_.saveBytesPath && !byteLog_.open(*options_.saveBytesPath)) {
        line_.close();
        ui_->START1->setChecked(false);
        QMessageBox::critical(this, windowTitle(), QString::fromStdString(byteLog_.error()));
        return;
    }
    startPublishing();
    wakeWatchdog();
    ui_->ComSetup1->setEnabled(false);
    modelMenu_->setEnabled(false);
    ui_->START1->setChecked(true);
    ui_->START1->setEnabled(false);
    ui_->STOP1->setEnabled(true);
    ui_->STOP1->setChecked(false);
    swapConnectButtons(ui_->BTCon, ui_->BtDiscon);
    for (QWidget* b : portIndicators()) b->setEnabled(false);
}

void TFCOMM::BtDiscon1Click() {
    ui_->ComSetup1->setEnabled(true);
    modelMenu_->setEnabled(true);
    ui_->START1->setChecked(false);
    ui_->START1->setEnabled(true);
    ui_->STOP1->setEnabled(false);
    ui_->STOP1->setChecked(true);
    line_.close();
    wakeWatchdog();
    syncPanel();
    byteLog_.close();
    swapConnectButtons(ui_->BtDiscon, ui_->BTCon);
    for (QWidget* b : portIndicators()) b->setEnabled(true);
}

namespace {

QString clockText(int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("HH:mm:ss"));
}

}  // namespace

void TFCOMM::portLost(const LineLoss& loss) {
    const QString port = QString::fromStdString(line_.driver().portName());
    const QString path = QString::fromStdString(loss.path);
    if (!loss.waited) {
        BtDiscon1Click();
        if (lostNote_) lostNote_->close();
        lostNote_ =
            showNotice(QMessageBox::Warning, QStringLiteral("PortLost"),
                       tr("The connection to %1 was lost: the pseudo-terminal %2 is gone, and its number "
                          "goes to the next terminal opened. Press Connect once the line is there again.")
                           .arg(port, path));
        return;
    }
    line_.panel().hide(LcdElement::CONok);
    line_.panel().show(LcdElement::CONokN);
    line_.state().LinkIdleTicks = 0;
    syncPanel();
    // the chart draws no line across the time the device was away
    chartPoints_.breakLine();
    wakeWatchdog();
    if (lostNote_) lostNote_->close();
    lostNote_ =
        showNotice(QMessageBox::Warning, QStringLiteral("PortLost"),
                   tr("The connection to %1 was lost at %2: the device %3 is gone (cable or adapter "
                      "unplugged?). It is tried again every second; the readings go on when it is back.")
                       .arg(port, clockText(loss.atUs / 1000), path));
    const QString tip = linkTooltip();
    ui_->CONok->setToolTip(tip);
    ui_->CONokN->setToolTip(tip);
}

void TFCOMM::deviceBack(const LineBack& back) {
    const int64_t backMs = back.atUs / 1000;
    const QString text = tr("%1 (%2) is back at %3, %4 s without readings.")
                             .arg(QString::fromStdString(line_.driver().portName()),
                                  QString::fromStdString(back.path), clockText(backMs))
                             .arg((back.atUs - back.quietFromUs) / 1000000);
    if (lostNote_) {
        lostNote_->setIcon(QMessageBox::Information);
        lostNote_->setText(text);
    } else {
        lostNote_ = showNotice(QMessageBox::Information, QStringLiteral("PortLost"), text);
    }
}

// Connect and Disconnect share one place. The focus of the one that goes passes to the one that
// comes, or it would move on to Exit and the next Space would end the program.
void TFCOMM::swapConnectButtons(QWidget* going, QWidget* coming) {
    const bool hadFocus = going->hasFocus();
    coming->show();
    if (hadFocus) coming->setFocus();
    going->hide();
}

void TFCOMM::BtExit1Click() {
    if (!confirmDiscardRecords()) return;
    exitConfirmed_ = true;
    table_.close();
    QApplication::quit();
}

void TFCOMM::ConTimerTimer() {
    if (line_.state().LinkIdleTicks == 2) {
        line_.panel().hide(LcdElement::CONok);
        line_.panel().show(LcdElement::CONokN);
        line_.state().LinkIdleTicks = 0;
    } else {
        ++line_.state().LinkIdleTicks;
    }
    syncPanel();
    updateLinkTooltip();
    restWatchdog();
}

// The tooltip is formed anew only when what it says may have changed.
void TFCOMM::updateLinkTooltip() {
    const LineCounts c = line_.watch().counts();
    const std::array<uint64_t, 6> said = {c.bytes,
                                          c.wholeFrames,
                                          c.droppedFrames,
                                          c.otherFrames,
                                          uint64_t(line_.lostAtUs().value_or(-1)),
                                          uint64_t(line_.watch().started())};
    if (said == tooltipSays_ && !publisher_) return;
    tooltipSays_ = said;
    const QString tip = linkTooltip();
    if (ui_->CONok->toolTip() != tip) {
        ui_->CONok->setToolTip(tip);
        ui_->CONokN->setToolTip(tip);
    }
}

// The watchdog ticks only while a broker is served or a lost device is waited for. Otherwise its
// ticks would change nothing but the link picture going dark and the reading on show going stale:
// the timer rests, and a single shot stands for the ticks at the earlier of the two.
void TFCOMM::restWatchdog() {
    if (publisher_ || line_.waiting()) return;
    ConTimer.stop();
    const auto now = ReadingPace::Clock::now();
    std::optional<ReadingPace::Clock::duration> left;
    shotForLink_ = line_.panel().visible(LcdElement::CONok);
    if (shotForLink_) {
        left = std::max<ReadingPace::Clock::duration>(line_.lastFrameReadAt() + kLinkOut - now, {});
    } else {
        left = line_.pace().untilStale(now);
    }
    if (!left) {
        watchdogShot_.stop();
        return;
    }
    watchdogShot_.start(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*left).count()) + 1);
}

// Received bytes, Connect, Disconnect and a lost device call on the watchdog.
void TFCOMM::wakeWatchdog() {
    if (publisher_ || line_.waiting()) {
        watchdogShot_.stop();
        if (!ConTimer.isActive()) ConTimer.start();
        return;
    }
    // a shot for the lit link picture looks again at the last frame when it fires
    if (watchdogShot_.isActive() && shotForLink_ && line_.panel().visible(LcdElement::CONok)) return;
    restWatchdog();
}

void TFCOMM::watchdogDue() {
    if (line_.panel().visible(LcdElement::CONok) &&
        ReadingPace::Clock::now() - line_.lastFrameReadAt() >= kLinkOut) {
        // the tick that puts the link out, in place of the two quiet ones before it
        line_.state().LinkIdleTicks = 2;
        ConTimerTimer();
        return;
    }
    syncPanel();  // dims a reading gone stale
    restWatchdog();
}

QString TFCOMM::linkTooltip() {
    QString tip = QString::fromStdString(line_.watch().summary()) + publishSummary();
    if (const auto lostAtUs = line_.lostAtUs()) {
        tip.prepend(tr("waiting for %1 to come back (since %2)\n")
                        .arg(QString::fromStdString(line_.devicePath()), clockText(*lostAtUs / 1000)));
    }
    return tip;
}

// ---- limits ----

void TFCOMM::SetmaxExit() {
    line_.controls().SetMaxB = ui_->SetMaxB->isChecked();
    applyLimitText(ui_->Setmax, line_.state().MaxLimit);
}

void TFCOMM::BtPrintClick(const RecordSource& rows) {
    ReportPreview preview(rows, this);
    preview.exec();
}

void TFCOMM::SetMinExit() {
    line_.controls().SetMinB = ui_->SetMinB->isChecked();
    applyLimitText(ui_->SetMin, line_.state().MinLimit);
}

void TFCOMM::applyLimitText(QLineEdit* edit, float& limit) {
    QString error;
    if (!LimitRules::applyLimitText(edit->text(), line_.state().FullScale, limit, &error)) {
        // the limit keeps its value and the face stays as it is
        EditErrorNote::show(edit, error);
        return;
    }
    EditErrorNote::clear(edit);
    KDsetup(1);
}

// The edits' own shortcuts (select all, copy, cut, paste, undo, redo) type no character and pass
// the key filters; what they bring into a text meets its validator and conversion like typing.
static bool isEditShortcut(QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    for (QKeySequence::StandardKey k : {QKeySequence::SelectAll, QKeySequence::Copy, QKeySequence::Cut,
                                        QKeySequence::Paste, QKeySequence::Undo, QKeySequence::Redo}) {
        if (key->matches(k)) return true;
    }
    return false;
}

bool TFCOMM::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == ui_->CONok || watched == ui_->CONokN) && event->type() == QEvent::ToolTip)
        updateLinkTooltip();
    if (watched == ui_->Memo1 && event->type() == QEvent::ShowToParent) {
        ui_->Memo1->setPlainText(frameTrace_.join(QLatin1Char('\n')));
    }
    if (isEditShortcut(event)) return QMainWindow::eventFilter(watched, event);
    if (filterChartKeys(watched, event)) return true;
    if ((watched == ui_->Setmax || watched == ui_->SetMin) && event->type() == QEvent::KeyPress &&
        discardsKeyPress(*static_cast<QKeyEvent*>(event), LimitRules::filterKey)) {
        return true;
    }
    if (watched == ui_->RecordSITime && event->type() == QEvent::KeyPress &&
        discardsKeyPress(*static_cast<QKeyEvent*>(event), IntervalKeys::RecordSITimeKeyPress)) {
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- what a reading drives ----

void TFCOMM::KDsetup(int) {
    drawPendingPointer();  // a pointer move of this chunk came first
    pointerShown_.reset();
    scale_->KDsetup(scaleInputs());
    ui_->KD1->setImage(scale_->image());
}

void TFCOMM::KDrun(int position) {
    // A window moved to a screen of another pixel ratio gets its pictures drawn anew for it
    // (pictures are never drawn below one pixel per logical pixel).
    const qreal ratio = std::max<qreal>(1.0, ui_->KD1->devicePixelRatioF());
    if (!scale_->image().isNull() && scale_->image().devicePixelRatio() != ratio) {
        KDsetup(1);
        ui_->CONok->setPixmap(LinkImages::pixmap(true, ratio));
        ui_->CONokN->setPixmap(LinkImages::pixmap(false, ratio));
    }
    // a meter that repeats its reading moves nothing: the face is neither drawn nor painted
    if (!pendingPointer_ && pointerShown_ == position) return;
    // the pointer is drawn with the scale as it is now, even when the drawing waits
    pendingPointer_ = std::make_pair(position, scaleInputs());
    if (!inChunk_) drawPendingPointer();
}

ScaleInputs TFCOMM::scaleInputs() const {
    ScaleInputs in = ScaleInputs::from(line_.state(), line_.controls(), ui_->KD->size());
    in.devicePixelRatio = ui_->KD1->devicePixelRatioF();
    return in;
}

void TFCOMM::drawPendingPointer() {
    if (!pendingPointer_) return;
    const QSize shown = ui_->KD1->image().deviceIndependentSize().toSize();
    ui_->KD1->releaseImage();
    const QRect changed = scale_->KDrun(pendingPointer_->first, pendingPointer_->second);
    pointerShown_ = pendingPointer_->first;
    pendingPointer_.reset();
    if (shown == scale_->image().deviceIndependentSize().toSize()) {
        ui_->KD1->setImage(scale_->image(), changed);
    } else {
        ui_->KD1->setImage(scale_->image());
    }
}

void TFCOMM::setBarPosition(int position) {
    if (inChunk_) {
        pendingBar_ = position;
        return;
    }
    // positions past the bar's maximum show a full bar
    const int value = std::clamp(position, ui_->PBar2->minimum(), ui_->PBar2->maximum());
    if (value == ui_->PBar2->value()) return;
    // A progress bar repaints itself on the spot when its value moves; held back, it is painted
    // in the window's next pass with the LCD and the face.
    ui_->PBar2->setUpdatesEnabled(false);
    ui_->PBar2->setValue(value);
    ui_->PBar2->setUpdatesEnabled(true);
}

void TFCOMM::beep() {
    QApplication::beep();
}

void TFCOMM::setChartLeftAxis(double maximum, double minimum) {
    ui_->Chtshow->setLeftAxis(maximum, minimum);
}

void TFCOMM::traceFrame(std::string_view frameHex) {
    frameTrace_.append(QString::fromLatin1(frameHex.data(), static_cast<int>(frameHex.size())));
    if (frameTrace_.size() > kTraceLines) frameTrace_.removeFirst();
    if (!ui_->Memo1->isHidden()) ui_->Memo1->appendPlainText(frameTrace_.last());
}
