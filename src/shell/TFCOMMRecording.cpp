// The window's side of the record store: its controls, the Record menu, the sampling timer, the
// question before unsaved rows are dropped, Open and Save. The rules themselves are RecordStore's,
// the files RecordFiles'.
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "DataFileDialogs.h"
#include "EditErrorNote.h"
#include "FileProgressDialog.h"
#include "JournalReader.h"
#include "RecordGrid.h"
#include "TFCOMM.h"
#include "TableLock.h"
#include "ui_TFCOMM.h"

namespace {

// The table opened at start, and its file in the working directory.
constexpr const char* kRecordTableName = "Kr47bdb";
constexpr const char* kRecordTableFile = "Kr47bdb.DB";

QString runFileDialog(QFileDialog& dialog) {
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

}  // namespace

void TFCOMM::bindRecording() {
    ui_->DBGrid1->setSource(&table_);
    ui_->RecordNew->setIcon(RecordGrid::closeDataIcon());

    connect(ui_->RepeatSet, &QAbstractButton::toggled, this, [this](bool on) { record_.RepeatSet = on; });
    connect(ui_->RecordSI, &QAbstractButton::toggled, this, [this](bool on) {
        record_.RecordSI = on;
        wakeTrecord();
    });
    record_.RepeatSet = ui_->RepeatSet->isChecked();
    record_.RecordSI = ui_->RecordSI->isChecked();
    connect(ui_->RepeatSet, &QAbstractButton::clicked, this, &TFCOMM::RepeatSetClick);
    connect(ui_->RecordSITime, &QLineEdit::textChanged, this, &TFCOMM::RecordSITimeChange);
    ui_->RecordSITime->installEventFilter(this);
    connect(ui_->RecordNew, &QAbstractButton::clicked, this, &TFCOMM::RecordNewClick);
    connect(ui_->New1, &QAction::triggered, this, &TFCOMM::RecordNewClick);

    connect(ui_->N10001, &QAction::triggered, this, &TFCOMM::N10001Click);
    connect(ui_->N50001, &QAction::triggered, this, &TFCOMM::N50001Click);
    connect(ui_->N100001, &QAction::triggered, this, &TFCOMM::N100001Click);
    connect(ui_->N500001, &QAction::triggered, this, &TFCOMM::N500001Click);
    connect(ui_->N1000001, &QAction::triggered, this, &TFCOMM::N1000001Click);
    connect(ui_->limitess, &QAction::triggered, this, &TFCOMM::limitessClick);

    ui_->OpenDataFiles->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
    ui_->saveas->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    connect(ui_->OpenDataFiles, &QAbstractButton::clicked, this, &TFCOMM::SpeedButton2Click);
    connect(ui_->saveas, &QAbstractButton::clicked, this, &TFCOMM::saveasClick);
    connect(ui_->Save1, &QAction::triggered, this, &TFCOMM::saveasClick);
    fileDialogRunner_ = runFileDialog;

    Trecord.setInterval(1000);
    connect(&Trecord, &QTimer::timeout, this, &TFCOMM::TrecordTimer);
    Trecord.start();
}

// Trecord counts the sampling interval down while RecordSI is checked and keeps the journal up with
// the rows; with neither to do it rests, so that a window not recording costs no tick a second.
// Whatever gives it work again (RecordSI checked, rows stored) wakes it.
void TFCOMM::wakeTrecord() {
    if (!Trecord.isActive() && (record_.RecordSI || store_.journalBehind())) Trecord.start();
}

// Start-up: the record table and the store's start values.
void TFCOMM::openRecordTable() {
    const FileResult opened = files_.openAtStart(kRecordTableName, QString::fromLatin1(kRecordTableFile));
    if (!opened.ok()) {
        // the meter is still decoded; readings are just not stored. Said once the window is up.
        const QString why = opened.error + u'\n' +
                            tr("Readings are shown but not recorded until a table is opened with Open.");
        QTimer::singleShot(0, this, [this, why] {
            showNotice(QMessageBox::Critical, QStringLiteral("RecordTableError"), why);
        });
        // and said for as long as it holds, where the rows would be
        ui_->DBGrid1->setEmptyNotice(TableLock::isHeldElsewhere(QString::fromLatin1(kRecordTableFile))
                                         ? tr("Not recording: the record table is in use by another dmmview")
                                         : tr("Not recording: %1").arg(opened.error));
    }
    RecordStore::applyStartValues(record_);
    if (table_.isOpen()) offerJournalRecovery();
    ui_->DBGrid1->reset();
}

// Claims the journal that keeps the unsaved rows of whichever table is open; rows an abnormal end
// left in it are offered back into that table. Called when a table opens (at start, or by the
// first Open that succeeds after a failed start) and the journal is not held yet.
void TFCOMM::offerJournalRecovery() {
    const Result<RecordJournal::Contents> claimed = journal_.claim(RecordJournal::pathFor(kRecordTableName));
    if (!claimed) {
        showNotice(QMessageBox::Warning, QStringLiteral("JournalFailed"),
                   tr("Recorded readings are kept in memory only until they are saved: %1")
                       .arg(QString::fromStdString(claimed.error())));
        return;
    }
    const RecordJournal::Contents& left = claimed.value();
    store_.setJournal(&journal_);
    const int64_t first = table_.rowCount();
    if (left.rowCount == 0) {
        // nothing readable; damaged bytes are still not ours to throw away
        if (left.fileBytes > 0) {
            const Result<std::string> aside = journal_.setAside();
            showNotice(QMessageBox::Warning, QStringLiteral("JournalFailed"),
                       !aside ? QString::fromStdString(aside.error())
                              : tr("The journal of recorded readings held damaged data and no readable "
                                   "reading; it is kept as %1.")
                                    .arg(QString::fromStdString(aside.value())));
        }
        journal_.restart(first);
        return;
    }
    QString text = left.rowCount == 1
                       ? tr("The last run ended without saving its recorded readings. 1 reading was "
                            "kept in %2. Recover it into the record table?")
                       : tr("The last run ended without saving its recorded readings. %1 readings were "
                            "kept in %2. Recover them into the record table?");
    text = text.arg(QString::number(left.rowCount), QString::fromStdString(journal_.path()));
    if (left.skipped > 0)
        text += u'\n' + tr("Damaged entries of the journal skipped: %1. The readings after them are kept.")
                            .arg(left.skipped);
    const auto answer = QMessageBox::question(this, windowTitle(), text, QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        journal_.restart(first);
        return;
    }
    // read into the table as the journal is read: the run's rows are never held twice
    store_.recoverRows(JournalRows(journal_.path(), left.rowCount));
    // the rows stay in the journal (less a torn end) until they are saved
    const Result<> resumed = journal_.resume(left.goodBytes, first, table_.rowCount());
    if (!resumed) {
        journalFailed_ = true;
        showNotice(QMessageBox::Warning, QStringLiteral("JournalFailed"),
                   QString::fromStdString(resumed.error()));
    }
}

void TFCOMM::INDataToTable() {
    if (rules_)
        offerToRules();
    else
        store_.INDataToTable(line_.state());
    if (record_.NotRecorded == 1) {
        showNotice(QMessageBox::Information, QStringLiteral("RecordLimitReached"),
                   QString::fromStdString(RecordStore::limitReachedText(record_.MaxRecords)));
    }
    // while a chunk is received the grid waits for its end, so it changes once per poll
    if (!inChunk_) ui_->DBGrid1->refresh();
}

// The Repeat box has no handler of its own: a click re-applies the chart's fill choice.
void TFCOMM::RepeatSetClick() {
    btFillClick();
}

void TFCOMM::RecordSITimeChange() {
    const Result<> applied = store_.RecordSITimeChange(ui_->RecordSITime->text().toStdString());
    if (applied) {
        EditErrorNote::clear(ui_->RecordSITime);
    } else {
        EditErrorNote::show(ui_->RecordSITime, QString::fromStdString(applied.error()));
    }
}

void TFCOMM::RecordNewClick() {
    if (!confirmDiscardRecords()) return;
    QMessageBox::information(this, windowTitle(), QStringLiteral(" Record deleted "));
    store_.RecordNewClick();
    ui_->DBGrid1->reset();
}

void TFCOMM::TrecordTimer() {
    store_.TrecordTimer();
    const Result<> synced = store_.syncJournal();
    // a journal that could not be written is tried again at the next tick
    if (!record_.RecordSI && !store_.journalBehind()) Trecord.stop();
    if (synced) {
        journalFailed_ = false;
    } else if (!journalFailed_) {
        // said once; the next ticks try again
        journalFailed_ = true;
        showNotice(QMessageBox::Warning, QStringLiteral("JournalFailed"),
                   tr("Recorded readings are no longer kept safe on disk until saved: %1")
                       .arg(QString::fromStdString(synced.error())));
    }
}

void TFCOMM::chooseRecordLimit(int item) {
    const std::array<QAction*, kRecordLimitItems.size()> items = {ui_->N10001,  ui_->N50001,   ui_->N100001,
                                                                  ui_->N500001, ui_->N1000001, ui_->limitess};
    // check marks rather than an exclusive group's radio marks; choosing the checked item again
    // keeps it checked
    store_.setLimit(kRecordLimitItems[static_cast<std::size_t>(item)].limit);
    for (std::size_t i = 0; i < items.size(); ++i) items[i]->setChecked(static_cast<int>(i) == item);
}

void TFCOMM::N10001Click() {
    chooseRecordLimit(0);
}
void TFCOMM::N50001Click() {
    chooseRecordLimit(1);
}
void TFCOMM::N100001Click() {
    chooseRecordLimit(2);
}
void TFCOMM::N500001Click() {
    chooseRecordLimit(3);
}
void TFCOMM::N1000001Click() {
    chooseRecordLimit(4);
}
void TFCOMM::limitessClick() {
    chooseRecordLimit(5);
}

// Open: the chosen table takes the place of the record table only when it could be read whole.
void TFCOMM::SpeedButton2Click() {
    if (!confirmDiscardRecords()) return;
    QFileDialog OpenDialog1(this, tr("Open"));
    DataFileDialogs::setUpOpenDialog(OpenDialog1);
    const QString path = fileDialogRunner_(OpenDialog1);
    if (path.isEmpty()) return;
    FileResult result;
    {
        FileProgressDialog progress(tr("Opening %1").arg(QDir::toNativeSeparators(path)), this);
        result = files_.open(path, progress.callback());
    }
    if (result.status == FileResult::Failed) QMessageBox::critical(this, windowTitle(), result.error);
    // new rows are numbered on after the opened ones
    if (result.ok()) {
        const int64_t rows = table_.rowCount();
        const int64_t last = rows > 0 ? table_.row(rows - 1).no : 0;
        record_.RecordNo = int32_t(std::clamp<int64_t>(std::max(last, rows) + 1, 1, INT32_MAX));
    }
    // after a start without a table, the first table opened gets the journal
    if (result.ok() && !journal_.isClaimed()) offerJournalRecovery();
    if (table_.isOpen()) ui_->DBGrid1->setEmptyNotice({});
    ui_->DBGrid1->reset();
}

// Save: a Paradox table for a name ending in ".db", CSV with dates for ".csv", the tab-separated
// text for any other.
void TFCOMM::saveasClick() {
    if (!table_.isOpen()) {
        QMessageBox::critical(this, windowTitle(), RecordFiles::nothingToSaveText());
        return;
    }
    QFileDialog SaveDialog2(this, tr("Save As"));
    DataFileDialogs::setUpSaveDialog(SaveDialog2);
    const QString path = fileDialogRunner_(SaveDialog2);
    if (path.isEmpty()) return;
    FileResult result;
    {
        FileProgressDialog progress(tr("Saving %1").arg(QDir::toNativeSeparators(path)), this);
        result = files_.save(path, progress.callback());
    }
    DataFileDialogs::showSaveResult(this, windowTitle(), path, result);
}

bool TFCOMM::confirmDiscardRecords() {
    if (exitConfirmed_ || !store_.hasUnsavedRows()) return true;
    return QMessageBox::question(this, windowTitle(),
                                 QStringLiteral("Recorded readings have not been saved. Discard them?"),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TFCOMM::closeEvent(QCloseEvent* event) {
    if (!confirmDiscardRecords()) {
        event->ignore();
        return;
    }
    exitConfirmed_ = true;
    QMainWindow::closeEvent(event);
}
