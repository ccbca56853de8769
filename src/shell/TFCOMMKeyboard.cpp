// The window at the keyboard: menu mnemonics, the usual shortcuts, and a Tab order that follows
// the screen, the left column from top to bottom and then the chart's toolbar.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QTableView>
#include <QToolButton>

#include "ChartPanel.h"
#include "ChartView.h"
#include "RecordGrid.h"
#include "TFCOMM.h"
#include "ui_TFCOMM.h"

void TFCOMM::bindKeyboard() {
    // captions with their access keys; no two of a menu, or of the menu bar, share one
    const std::pair<QAction*, const char*> mnemonics[] = {
        {ui_->ComSetup1->menuAction(), "&ComSetup"},
        {ui_->Connect1->menuAction(), "Co&nnect"},
        {ui_->Graphic->menuAction(), "&Graphic"},
        {ui_->Record1->menuAction(), "&Record"},
        {ui_->EXIT1, "E&xit"},
        {ui_->COM11, "COM&1"},
        {ui_->COM21, "COM&2"},
        {ui_->COM31, "COM&3"},
        {ui_->COM41, "COM&4"},
        {ui_->START1, "&START"},
        {ui_->STOP1, "S&TOP"},
        {ui_->First, "&First"},
        {ui_->Previous, "&Previous"},
        {ui_->Next, "&Next"},
        {ui_->Last, "&Last"},
        {ui_->New, "Ne&w"},
        {ui_->Save, "&Save"},
        {ui_->Fill, "F&ill"},
        {ui_->New1, "&New"},
        {ui_->Save1, "&Save"},
        {ui_->limitess, "&limitless"},
    };
    for (const auto& [action, text] : mnemonics) action->setText(QString::fromLatin1(text));

    ui_->Save1->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    ui_->EXIT1->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    // Open and Print live on the strip above the grid; their shortcuts belong to the window
    auto* open = new QAction(this);
    open->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(open, &QAction::triggered, this, &TFCOMM::SpeedButton2Click);
    auto* print = new QAction(this);
    print->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    connect(print, &QAction::triggered, this, [this] { BtPrintClick(table_); });
    addActions({open, print});

    // The flat buttons above the grid show only a faint raised edge when they take the focus: a
    // dotted frame says it plainly.
    for (QToolButton* b : {ui_->RecordNew, ui_->OpenDataFiles, ui_->saveas, ui_->BtPrint}) {
        b->setStyleSheet(
            QStringLiteral("QToolButton { border: 1px solid transparent; border-radius: 2px; }"
                           "QToolButton:hover { border-color: #8c8c8c; }"
                           "QToolButton:pressed { border-color: #6c6c6c; background: #d4d4d4; }"
                           "QToolButton:focus { border: 1px dotted #000000; }"));
    }

    // the page number is a display and the plot is zoomed with the mouse: neither is a stop
    ui_->Bt10->setFocusPolicy(Qt::NoFocus);
    ui_->Chtshow->chartView()->setFocusPolicy(Qt::NoFocus);
    QWidget* const order[] = {
        ui_->BtCOM1,     ui_->BtCOM2,       ui_->BtCOM3,          ui_->BtCOM4,
        ui_->BTCon,      ui_->BtDiscon,     ui_->BtExit,          ui_->SetMaxB,
        ui_->Setmax,     ui_->SetMinB,      ui_->SetMin,          ui_->RepeatSet,
        ui_->RecordSI,   ui_->RecordSITime, ui_->RecordNew,       ui_->OpenDataFiles,
        ui_->saveas,     ui_->BtPrint,      ui_->DBGrid1->view(), ui_->BtFill,
        ui_->Maxrecord,  ui_->BtNew,        ui_->BtSave,          ui_->BtFirst,
        ui_->BTPrevious, ui_->BtNext,       ui_->BTlast,          ui_->TbFd,
        ui_->TbSx,
    };
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}
