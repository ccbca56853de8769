// The window's trend chart handlers and its layout rules: thin wiring of the chart's point
// store, paging and panel (src/chart) and of the layout rules (WindowLayout).
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QScreen>
#include <QToolButton>
#include <cmath>

#include "ChartPanel.h"
#include "ChartPicture.h"
#include "EditErrorNote.h"
#include "IntervalKeys.h"
#include "KeyFilter.h"
#include "ScaleCanvas.h"
#include "TFCOMM.h"
#include "ui_TFCOMM.h"

void TFCOMM::bindChart() {
    ui_->Chtshow->attach(&chartPoints_, &chartPaging_);
    ui_->Chtshow->decorateToolbar();

    connect(ui_->BtFill, &QAbstractButton::toggled, this, &TFCOMM::btFillClick);
    connect(ui_->Fill, &QAction::triggered, this, &TFCOMM::FillClick);
    connect(ui_->BtFirst, &QAbstractButton::clicked, this, &TFCOMM::BtFirstClick);
    connect(ui_->First, &QAction::triggered, this, &TFCOMM::BtFirstClick);
    connect(ui_->BTPrevious, &QAbstractButton::clicked, this, &TFCOMM::BTPreviousClick);
    connect(ui_->Previous, &QAction::triggered, this, &TFCOMM::BTPreviousClick);
    connect(ui_->BtNext, &QAbstractButton::clicked, this, &TFCOMM::BtNextClick);
    connect(ui_->Next, &QAction::triggered, this, &TFCOMM::BtNextClick);
    connect(ui_->BTlast, &QAbstractButton::clicked, this, &TFCOMM::BTlastClick);
    connect(ui_->Last, &QAction::triggered, this, &TFCOMM::BTlastClick);
    connect(ui_->BtNew, &QAbstractButton::clicked, this, &TFCOMM::BtNewClick);
    connect(ui_->New, &QAction::triggered, this, &TFCOMM::BtNewClick);
    connect(ui_->BtSave, &QAbstractButton::clicked, this, &TFCOMM::BtSaveClick);
    connect(ui_->Save, &QAction::triggered, this, &TFCOMM::BtSaveClick);
    connect(ui_->Maxrecord, &QLineEdit::textChanged, this, &TFCOMM::MaxrecordExit);
    connect(ui_->ComboBox1, &QComboBox::currentIndexChanged, this, &TFCOMM::ComboBox1Change);
    connect(ui_->TbFd, &QAbstractButton::clicked, this, &TFCOMM::TbFdClick);
    connect(ui_->TbSx, &QAbstractButton::clicked, this, &TFCOMM::TbFdClick);
    ui_->Maxrecord->installEventFilter(this);

    // the layout starts from the form's places; the window opens centred on the screen
    layout_.KD = ui_->KD->geometry();
    layout_.Chtshow = ui_->Chtshow->geometry();
    if (auto* grid = findChild<QWidget*>(QStringLiteral("DBGrid1"))) layout_.DBGrid1 = grid->geometry();
    if (auto* kd2 = findChild<QWidget*>(QStringLiteral("KD2"))) layout_.KD2 = kd2->geometry();
    layout_.BTConLeft = ui_->BTCon->x();
    layout_.BtDisconLeft = ui_->BtDiscon->x();
    layout_.BtExitLeft = ui_->BtExit->x();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
}

bool TFCOMM::filterChartKeys(QObject* watched, QEvent* event) {
    return watched == ui_->Maxrecord && event->type() == QEvent::KeyPress &&
           discardsKeyPress(*static_cast<QKeyEvent*>(event), IntervalKeys::RecordSITimeKeyPress);
}

// Page button, navigation states and the chart itself; called once per received chunk and after
// every command.
void TFCOMM::syncChart() {
    ui_->Bt10->setText(chartPaging_.pageCaption());
    const ChartButtons& b = chartPaging_.buttons();
    ui_->BtFirst->setEnabled(b.first);
    ui_->BTPrevious->setEnabled(b.previous);
    ui_->BtNext->setEnabled(b.next);
    ui_->BTlast->setEnabled(b.last);
    ui_->Chtshow->refresh();
}

// ---- what a reading drives ----

void TFCOMM::addChartPoint(int series, double y) {
    // the sink numbers the series by name: 1 the line, 2 the area
    const int index = series == 1 ? ChartPoints::LineSeries : series == 2 ? ChartPoints::AreaSeries : -1;
    if (index < 0) return;
    chartPoints_.add(index, static_cast<float>(y));
    if (index == chartPoints_.activeSeries()) {
        // a point beyond the page in view changes nothing on screen
        const int64_t n = chartPoints_.count(index);
        const PageView view = chartPaging_.view(n);
        const int per = chartPaging_.MaxPointsPerPage();
        if (per == 0 || n - 1 < view.first + per) ui_->Chtshow->pointsAdded();
    }
    if (!inChunk_) syncChart();
}

void TFCOMM::followLastPage() {
    const int before = chartPaging_.Page();
    chartPaging_.followLastPage(chartPoints_.activeCount());
    if (chartPaging_.Page() != before) ui_->Chtshow->invalidate();
    if (!inChunk_) syncChart();
}

// ---- chart commands ----

void TFCOMM::ShowSeries(int Index) {
    chartPoints_.setActiveSeries(Index);
    ui_->Chtshow->invalidate();
    if (!inChunk_) syncChart();
}

void TFCOMM::BtNewClick() {
    chartPoints_.sampleFill();
    ui_->ComboBox1->setCurrentIndex(0);
    ShowSeries(0);
    ShowSeries(ui_->BtFill->isChecked() ? 0 : 1);
}

void TFCOMM::btFillClick() {
    const bool on = ui_->BtFill->isChecked();
    ui_->Fill->setChecked(on);
    ShowSeries(on ? 0 : 1);
}

void TFCOMM::FillClick() {
    // setting the box runs its own handler as well, with the same result
    if (ui_->BtFill->isChecked()) {
        ui_->Fill->setChecked(false);
        ui_->BtFill->setChecked(false);
        ShowSeries(1);
    } else {
        ui_->Fill->setChecked(true);
        ui_->BtFill->setChecked(true);
        ShowSeries(0);
    }
}

void TFCOMM::BtFirstClick() {
    chartPaging_.first(line_.state().ChartFollow);
    ui_->Chtshow->invalidate();
    syncChart();
}

void TFCOMM::BTPreviousClick() {
    chartPaging_.previous(chartPoints_.activeCount(), line_.state().ChartFollow);
    ui_->Chtshow->invalidate();
    syncChart();
}

void TFCOMM::BtNextClick() {
    chartPaging_.next(chartPoints_.activeCount(), line_.state().ChartFollow);
    ui_->Chtshow->invalidate();
    syncChart();
}

void TFCOMM::BTlastClick() {
    chartPaging_.last(chartPoints_.activeCount(), line_.state().ChartFollow);
    ui_->Chtshow->invalidate();
    syncChart();
}

void TFCOMM::MaxrecordExit() {
    QString error;
    if (!chartPaging_.applyMaxrecordText(ui_->Maxrecord->text(), chartPoints_.activeCount(), &error)) {
        EditErrorNote::show(ui_->Maxrecord, error);
        return;
    }
    EditErrorNote::clear(ui_->Maxrecord);
    ui_->Chtshow->invalidate();
    syncChart();
}

void TFCOMM::ComboBox1Change(int index) {
    ShowSeries(index);
}

// The picture is written first; only a written file is confirmed.
void TFCOMM::BtSaveClick() {
    const QString path = ChartPicture::defaultPath();
    QString error;
    if (!ChartPicture::save(ui_->Chtshow->picture(), path, &error)) {
        QMessageBox::critical(this, windowTitle(), error);
        return;
    }
    QMessageBox::information(this, windowTitle(), QStringLiteral("graphic has saved on ") + path);
}

// ---- window layout ----

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
}

void TFCOMM::FormResize() {
    WindowLayoutRules::FormResize(layout_, WindowLayoutRules::outerSize(centralWidget()->size()));
    applyLayout();
}

void TFCOMM::TbFdClick() {
    WindowLayoutRules::TbFdClick(layout_, WindowLayoutRules::outerSize(centralWidget()->size()));
    applyLayout();
}

void TFCOMM::applyLayout() {
    ui_->BTCon->move(layout_.BTConLeft, ui_->BTCon->y());
    ui_->BtDiscon->move(layout_.BtDisconLeft, ui_->BtDiscon->y());
    ui_->BtExit->move(layout_.BtExitLeft, ui_->BtExit->y());
    if (ui_->KD->geometry() != layout_.KD) {
        // the face is drawn anew for the panel's new size, not stretched
        ui_->KD->setGeometry(layout_.KD);
        drawPendingPointer();
        pointerShown_.reset();
        scale_->resize(scaleInputs());
        ui_->KD1->setImage(scale_->image());
    }
    if (auto* kd2 = findChild<QWidget*>(QStringLiteral("KD2"))) kd2->setGeometry(layout_.KD2);
    if (auto* grid = findChild<QWidget*>(QStringLiteral("DBGrid1"))) grid->setGeometry(layout_.DBGrid1);
    ui_->Chtshow->setGeometry(layout_.Chtshow);
    ui_->TbFd->setVisible(layout_.TbFdVisible);
    ui_->TbSx->setVisible(layout_.TbSxVisible);
    // the enlarged chart lies over the scale and the grid
    if (layout_.TbSxVisible) ui_->Chtshow->raise();
    EditErrorNote::follow(this);
}
