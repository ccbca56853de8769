// Open and Save in the window: the dialogs as configured, the extension rule, the messages, the
// unsaved-rows question before Open, a failed Open that keeps the table, the start-up table held
// against a second window, and a table written by the headless logger opened in the window.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <sstream>

#include "../cli/HeadlessTestSupport.h"
#include "DataFileDialogs.h"
#include "FileProgressDialog.h"
#include "HeadlessRunner.h"
#include "ParadoxTable.h"
#include "RecordGrid.h"
#include "RecordTableModel.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

// Three readings: 1.234 V DC AUTO, -3999 V DC MANU, 1.234 again.
const std::string kThreeReadings =
    segmentBytes("705DB1F2700040") + segmentBytes("49F3F3F3F00040") + segmentBytes("705DB1F2700040");

void feed(TFCOMM& w, const std::string& b) {
    w.COMM2().OnReceiveData()(&w.COMM2(), b.data(), static_cast<int32_t>(b.size()));
}

// Answers every message box that comes up while it lives, with the buttons given in turn (OK
// when they run out), and keeps their texts.
QString cell(TFCOMM& w, int row, int column) {
    return w.form()->DBGrid1->model()->index(row, column).data().toString();
}

}  // namespace

class WindowFiles : public QObject {
    Q_OBJECT

private slots:
    void saveThroughTheDialog();
    void openAsksThenKeepsTheTableOnFailure();
    void secondWindowCannotTakeTheStartTable();
    void loggedTableOpensInTheWindow();
    void progressShowsOnlyForLongOperations();
    void saveTypeGivesTheExtension();
};

// The Save dialog adds "xls" to a bare name; "run1" gives text run1.xls and the success message;
// a ".db" name a table and no message. Save in the Record menu does the same as the button.
void WindowFiles::saveThroughTheDialog() {
    QTemporaryDir dir;
    auto w = makeWindow();
    w->show();
    QVERIFY(w->form()->Save1->isEnabled());
    QCOMPARE(w->form()->saveas->toolTip(), QStringLiteral("Save data files"));
    QCOMPARE(w->form()->OpenDataFiles->toolTip(), QStringLiteral("Open old data files"));
    feed(*w, kThreeReadings);
    QCOMPARE(w->recordTable().rowCount(), int64_t(3));

    QString name = dir.filePath("run1");
    QStringList filters;
    w->setFileDialogRunner([&](QFileDialog& d) {
        [&] {
            QCOMPARE(d.objectName(), QStringLiteral("SaveDialog2"));
            QCOMPARE(d.acceptMode(), QFileDialog::AcceptSave);
            QVERIFY(!d.testOption(QFileDialog::DontConfirmOverwrite));
        }();
        filters = d.nameFilters();
        d.selectFile(name);
        static_cast<QDialog&>(d).accept();  // QFileDialog::accept, which adds the suffix
        return d.selectedFiles().value(0);
    });
    {
        BoxAnswers boxes;
        w->form()->saveas->click();
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("save table to specified file: ") +
                                          dir.filePath("run1.xls") + " Scuss!"});
    }
    QCOMPARE(filters, (QStringList{"Excel File(*.xls)", "DB File(*.db)", "Txt File(*.txt)", "All File(*)",
                                   "CSV with date and time (*.csv)", "Excel workbook (*.xlsx)"}));
    QFile text(dir.filePath("run1.xls"));
    QVERIFY(text.open(QIODevice::ReadOnly));
    QCOMPARE(text.readAll().count('\n'), 4);
    QVERIFY(!w->recordStore().hasUnsavedRows());

    feed(*w, kThreeReadings);
    name = dir.filePath("run1.db");
    {
        BoxAnswers boxes;
        w->form()->Save1->trigger();
        QVERIFY(boxes.texts.isEmpty());
    }
    int64_t rows = 0;
    QVERIFY(ParadoxTable::read(name, [&rows](const RecordRow&) { ++rows; }).ok());
    QCOMPARE(rows, int64_t(5));  // the first reading fed again repeated the last one stored

    // a text that cannot be written: the failure message, and the rows stay unsaved
    feed(*w, segmentBytes("49F3F3F3F00040"));
    name = dir.filePath("no/such/folder/run2.txt");
    {
        BoxAnswers boxes;
        w->form()->saveas->click();
        QCOMPARE(boxes.texts, QStringList{QStringLiteral("Could not save table to specified file: ") + name});
    }
    QVERIFY(w->recordStore().hasUnsavedRows());
    BoxAnswers boxes({QMessageBox::Yes});
    QVERIFY(w->close());
}

// Open asks before dropping unsaved rows (No: no dialog at all); a file that is no record table
// gives an error and the table keeps its rows; a good table fills the grid, numbered on after.
void WindowFiles::openAsksThenKeepsTheTableOnFailure() {
    QTemporaryDir dir;
    auto w = makeWindow();
    w->show();
    feed(*w, kThreeReadings);
    int dialogs = 0;
    QString choice = QStringLiteral(DMM_TEST_DATA_DIR "/tables/truncated.db");
    w->setFileDialogRunner([&](QFileDialog& d) {
        ++dialogs;
        [&] {
            QCOMPARE(d.objectName(), QStringLiteral("OpenDialog1"));
            QCOMPARE(d.nameFilters().value(0), QStringLiteral("access data files (*.DB *.db *.Db *.dB)"));
        }();
        return choice;
    });
    {
        BoxAnswers boxes({QMessageBox::No});
        w->form()->OpenDataFiles->click();
        QCOMPARE(boxes.texts, QStringList{"Recorded readings have not been saved. Discard them?"});
        QCOMPARE(dialogs, 0);
    }
    {
        BoxAnswers boxes({QMessageBox::Yes});
        w->form()->OpenDataFiles->click();
        QCOMPARE(dialogs, 1);
        QCOMPARE(boxes.texts.size(), 2);
        QVERIFY2(boxes.texts[1].contains("truncated"), qPrintable(boxes.texts[1]));
    }
    QCOMPARE(w->recordTable().rowCount(), int64_t(3));
    QCOMPARE(w->form()->DBGrid1->rowsShown(), 3);

    // the name as chosen: on this system the upper-case name is another file
    choice = dir.filePath("old.db");
    std::vector<RecordRow> old(2);
    old[0].no = 41;
    old[0].value = "2.500";
    old[1].no = 42;
    old[1].value = "2.600";
    struct Rows : RecordSource {
        std::vector<RecordRow>* r;
        int64_t rowCount() const override { return int64_t(r->size()); }
        RecordRow row(int64_t i) const override { return (*r)[size_t(i)]; }
    } source;
    source.r = &old;
    QVERIFY(ParadoxTable::write(choice, source).ok());
    {
        BoxAnswers boxes({QMessageBox::Yes});
        w->form()->OpenDataFiles->click();
        QCOMPARE(boxes.texts.size(), 1);  // the question only
    }
    QCOMPARE(w->recordTable().rowCount(), int64_t(2));
    QCOMPARE(cell(*w, 1, RecordTableModel::ColNo), QStringLiteral("42"));
    QVERIFY(!w->recordStore().hasUnsavedRows());
    feed(*w, segmentBytes("49F3F3F3F00040"));
    QCOMPARE(cell(*w, 2, RecordTableModel::ColNo), QStringLiteral("43"));
    QCOMPARE(cell(*w, 2, RecordTableModel::ColValue), QStringLiteral("-3999"));
    BoxAnswers boxes({QMessageBox::Yes});
    w->close();
}

// The start-up table Kr47bdb.DB is made in the working directory and held: a second window says
// so and still shows readings, without storing them.
void WindowFiles::secondWindowCannotTakeTheStartTable() {
    QFile::remove(QStringLiteral("Kr47bdb.DB"));
    auto first = makeWindow();
    QVERIFY(QFile::exists(QStringLiteral("Kr47bdb.DB")));
    QCOMPARE(first->recordFiles().filePath(), QStringLiteral("Kr47bdb.DB"));
    auto second = makeWindow();
    second->show();
    QMessageBox* notice = nullptr;
    QTRY_VERIFY((notice = second->findChild<QMessageBox*>(QStringLiteral("RecordTableError"))) != nullptr);
    QVERIFY2(notice->text().contains("in use by another program"), qPrintable(notice->text()));
    QVERIFY(!notice->isModal());
    feed(*second, kThreeReadings);
    QCOMPARE(second->meterState().ValueText, std::string("1.234"));
    QCOMPARE(second->recordTable().rowCount(), int64_t(0));
    QCOMPARE(second->form()->DBGrid1->emptyNotice(),
             QStringLiteral("Not recording: the record table is in use by another dmmview"));
    QCOMPARE(first->form()->DBGrid1->emptyNotice(), QString());
    notice->close();
    // nothing to save: refused before any dialog, and no file is written
    second->setFileDialogRunner([](QFileDialog&) { return QStringLiteral("empty.xls"); });
    const auto refused = answerNextMessageBox();
    second->saveasClick();
    QCOMPARE(*refused, QStringLiteral("No record table is open: there is nothing to save."));
    QVERIFY(!QFile::exists(QStringLiteral("empty.xls")));
}

// A capture recorded by the headless logger into a table opens in the window with its rows.
void WindowFiles::loggedTableOpensInTheWindow() {
    QTemporaryDir dir;
    const QString table = dir.filePath("run.db");
    const OptionsResult o = parseOptions({"--decode", "-", "--record", table.toStdString()});
    std::istringstream in(kThreeReadings);
    std::ostringstream out, err;
    QCOMPARE(runHeadless(o.options, in, out, err), ExitCode::Success);

    auto w = makeWindow();
    w->show();
    w->setFileDialogRunner([&](QFileDialog&) { return table; });
    w->SpeedButton2Click();
    QCOMPARE(w->recordTable().rowCount(), int64_t(3));
    const QStringList want = {"1|DC|1.234|V|AUTO", "2|DC|-3999|V|MANU", "3|DC|1.234|V|AUTO"};
    for (int i = 0; i < 3; ++i) {
        QStringList cells;
        for (int c : {RecordTableModel::ColNo, RecordTableModel::ColDcAc, RecordTableModel::ColValue,
                      RecordTableModel::ColUnit, RecordTableModel::ColAuto})
            cells << cell(*w, i, c);
        QCOMPARE(cells.join('|'), want[i]);
    }
}

// Nothing shows for a quick operation; after half a second the dialog is up, and its Cancel
// stops the operation.
void WindowFiles::progressShowsOnlyForLongOperations() {
    QWidget parent;
    parent.show();
    {
        FileProgressDialog quick(QStringLiteral("Saving"), &parent);
        const FileProgress step = quick.callback();
        for (int i = 0; i <= 10; ++i) QVERIFY(step(i * 10, 100));
        QVERIFY(!parent.findChild<QProgressDialog*>(QStringLiteral("FileProgress"))->isVisible());
    }
    FileProgressDialog slow(QStringLiteral("Saving"), &parent);
    const FileProgress step = slow.callback();
    QVERIFY(step(0, 100));
    QTest::qSleep(600);
    QVERIFY(step(10, 100));
    auto* dialog = parent.findChild<QProgressDialog*>(QStringLiteral("FileProgress"));
    QVERIFY(dialog->isVisible());
    dialog->cancel();
    QVERIFY(!step(20, 100));
}

// A bare name takes the extension of the type chosen in the Save dialog.
void WindowFiles::saveTypeGivesTheExtension() {
    QCOMPARE(DataFileDialogs::defaultSuffixFor("Excel File(*.xls)"), QStringLiteral("xls"));
    QCOMPARE(DataFileDialogs::defaultSuffixFor("DB File(*.db)"), QStringLiteral("db"));
    QCOMPARE(DataFileDialogs::defaultSuffixFor("Txt File(*.txt)"), QStringLiteral("txt"));
    QCOMPARE(DataFileDialogs::defaultSuffixFor("CSV with date and time (*.csv)"), QStringLiteral("csv"));
    QCOMPARE(DataFileDialogs::defaultSuffixFor("All File(*)"), QStringLiteral("xls"));
    QCOMPARE(DataFileDialogs::defaultSuffixFor("All File(*.*)"), QStringLiteral("xls"));

    QTemporaryDir dir;
    QFileDialog d;
    DataFileDialogs::setUpSaveDialog(d);
    d.setDirectory(dir.path());
    d.selectNameFilter(QStringLiteral("DB File(*.db)"));
    emit d.filterSelected(QStringLiteral("DB File(*.db)"));
    d.selectFile(QStringLiteral("run1"));
    static_cast<QDialog&>(d).accept();
    QCOMPARE(d.selectedFiles().value(0), dir.filePath("run1.db"));
}

QTEST_MAIN(WindowFiles)
#include "tst_window_files.moc"
