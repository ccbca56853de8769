// The record store in the window: readings from a simulated meter on a pseudo-terminal become
// rows of the grid, the store's controls and menu, and the question before unsaved rows go.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <memory>
#include <thread>

#include "EditErrorNote.h"
#include "FrameEncoder.h"
#include "LineOutput.h"
#include "RecordGrid.h"
#include "RecordTableModel.h"
#include "SimModel.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

using namespace dmmsim;
using Bytes = std::vector<uint8_t>;

namespace {

SimModel modelNamed(const char* caption) {
    std::string error;
    const auto m = simModelFor(caption, false, &error);
    if (!m) qFatal("%s", error.c_str());
    return *m;
}

QString unitOf(const SimReading& r) {
    QString s;
    if (r.prefix == Prefix::Milli) s += 'm';
    if (r.prefix == Prefix::Kilo) s += 'k';
    if (r.prefix == Prefix::Mega) s += 'M';
    s += r.function == SimFunction::Ohms ? '*' : 'V';
    return s;
}

// The grid's row as text, "no|DC/AC|value|unit|AUTO" (the time is checked apart).
QString gridRow(RecordGrid& g, int row) {
    QStringList cells;
    for (int c : {RecordTableModel::ColNo, RecordTableModel::ColDcAc, RecordTableModel::ColValue,
                  RecordTableModel::ColUnit, RecordTableModel::ColAuto}) {
        cells << g.model()->index(row, c).data().toString();
    }
    return cells.join('|');
}

void feed(TFCOMM& w, const Bytes& b) {
    w.COMM2().OnReceiveData()(&w.COMM2(), b.data(), static_cast<int32_t>(b.size()));
}

}  // namespace

class WindowRecords : public QObject {
    Q_OBJECT

private slots:
    void readingsFromTheLineBecomeGridRows();
    void controlsAndMenu();
    void intervalEdit();
    void newAndLimitsThroughTheMenu();
    void exitAsksBeforeDroppingUnsavedRows();
};

// KR31G at 19200 baud, several frames to a poll: every reading is a row, the grid shows the last
// ones with the newest current, and it changed at most once per poll.
void WindowRecords::readingsFromTheLineBecomeGridRows() {
    const SimModel model = modelNamed("KR31G");
    std::string error;
    auto pty = PseudoTerminal::create(&error);
    QVERIFY2(pty, error.c_str());
    auto w = makeWindow({"--port", "COM1=" + pty->slavePath(), "--model", "KR31G"});
    w->form()->RepeatSet->click();  // Repeat off: every reading is stored
    w->show();
    w->BTCon1Click();
    QVERIFY(w->COMM2().Connected());
    int chunks = 0;
    auto inner = w->COMM2().OnReceiveData();
    w->COMM2().setOnReceiveData([&chunks, inner](TCommPortDriver* s, const void* d, int32_t n) {
        ++chunks;
        inner(s, d, n);
    });
    RecordGrid& grid = *w->form()->DBGrid1;
    const int64_t updatesBefore = grid.updates();

    struct Kind {
        SimFunction f;
        double v;
        Coupling c;
        bool autoRange;
    };
    const Kind kinds[] = {{SimFunction::Volts, 1.234, Coupling::Dc, true},
                          {SimFunction::Volts, 0.3, Coupling::Ac, false},
                          {SimFunction::Ohms, 2200, Coupling::None, true},
                          {SimFunction::Ohms, 330, Coupling::None, true},
                          {SimFunction::Volts, -0.045, Coupling::Dc, true}};
    std::vector<SimReading> readings;
    for (int i = 0; i < 60; ++i) {
        const Kind& k = kinds[i % 5];
        SimReading r = fitReading(model, k.f, k.v * (1 + i / 200.0), k.c);
        r.autoRange = k.autoRange;
        readings.push_back(r);
    }
    std::atomic<bool> stop{false};
    std::thread meter([&] {
        PacedWriter writer(pty->masterFd(), model.baud, PacedWriter::Full::Wait);
        writer.write(&kDigitFrameLead, 1, stop);
        for (const auto& r : readings) {
            const Bytes f = encodeFrame(model, r);
            writer.write(f.data(), f.size(), stop);
        }
    });
    QTRY_COMPARE_WITH_TIMEOUT(w->recordTable().rowCount(), int64_t(readings.size()), 5000);
    meter.join();
    QTest::qWait(120);

    QCOMPARE(grid.currentRow(), int64_t(readings.size() - 1));
    const int shown = grid.rowsShown();
    QVERIFY(shown >= 5);
    for (int i = 0; i < shown; ++i) {
        const std::size_t k = readings.size() - shown + i;
        const SimReading& r = readings[k];
        const QString want = QStringLiteral("%1|%2|%3|%4|%5")
                                 .arg(k + 1)
                                 .arg(r.coupling == Coupling::Ac   ? "AC"
                                      : r.coupling == Coupling::Dc ? "DC"
                                                                   : "")
                                 .arg(QString::fromStdString(r.text()))
                                 .arg(unitOf(r))
                                 .arg(r.autoRange ? "AUTO" : "MANU");
        QCOMPARE(gridRow(grid, i), want);
    }
    const QTime t =
        QTime::fromString(grid.model()->index(shown - 1, RecordTableModel::ColTime).data().toString(),
                          QStringLiteral("hh:mm:ss"));
    QVERIFY(t.isValid() && std::abs(t.secsTo(QTime::currentTime())) <= 5);
    QVERIFY(chunks > 0 && chunks < int(readings.size()));
    QVERIFY2(grid.updates() - updatesBefore <= chunks,
             qPrintable(
                 QStringLiteral("%1 updates for %2 polls").arg(grid.updates() - updatesBefore).arg(chunks)));
    qInfo("%zu readings in %d polls, %lld grid updates", readings.size(), chunks,
          static_cast<long long>(grid.updates() - updatesBefore));
}

void WindowRecords::controlsAndMenu() {
    auto w = makeWindow();
    Ui::TFCOMM& f = *w->form();
    QStringList menu;
    for (QAction* a : f.Record1->actions()) {
        menu << (a->isSeparator()
                     ? QStringLiteral("-")
                     : a->text().remove('&') + (a->isChecked() ? "*" : "") + (a->isEnabled() ? "" : "(off)"));
    }
    // the form's items, then the triggers and alarms the program adds after them
    QCOMPARE(menu.join(' '), QStringLiteral("New Save - 1000 5000 10000* 50000 100000 limitless - "
                                            "Triggers and alarms\u2026"));
    QCOMPARE(w->recordState().MaxRecords, 10000);
    QCOMPARE(w->recordTable().name(), std::string("Kr47bdb"));
    QVERIFY(w->recordTable().isOpen());
    // the edit lies over the blanks of the check box's caption, on top of it
    QVERIFY(f.RecordSITime->geometry().intersects(f.RecordSI->geometry()));
    QVERIFY(f.RecordSITime->parentWidget()->children().indexOf(f.RecordSITime) >
            f.RecordSI->parentWidget()->children().indexOf(f.RecordSI));

    // the check boxes reach the store's rules
    QVERIFY(w->recordState().RepeatSet && !w->recordState().RecordSI);
    QTest::qWait(1100);  // long enough for the sampling clock to go to rest
    f.RecordSI->click();
    f.RepeatSet->click();
    QVERIFY(w->recordState().RecordSI);
    QVERIFY(!w->recordState().RepeatSet);
    // and the window's sampling clock counts the interval down once it is checked
    w->recordState().SampleCountdown = 1;
    QTRY_COMPARE_WITH_TIMEOUT(w->recordState().SampleCountdown, 0, 2500);
}

// Typed characters other than digits are dropped; a pasted text that is no number is refused
// with the message, and readings are stored all the same.
void WindowRecords::intervalEdit() {
    auto w = makeWindow();
    QLineEdit* edit = w->form()->RecordSITime;
    w->show();
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, "a-5+ ");
    QCOMPARE(edit->text(), QStringLiteral("105"));
    QCOMPARE(w->recordState().SampleCountdown, 105);

    edit->setText(QStringLiteral("12x"));
    QCOMPARE(EditErrorNote::text(edit), QStringLiteral("'12x' is not a valid integer value"));
    QCOMPARE(w->recordState().SampleInterval, 105);

    w->form()->RecordSI->click();
    w->recordState().SampleCountdown = 0;
    const SimModel model = modelNamed("KR31E");
    feed(*w, encodeFrame(model, fitReading(model, SimFunction::Volts, 1.5, Coupling::Dc)));
    QCOMPARE(w->recordTable().rowCount(), int64_t(1));
    QCOMPARE(w->recordState().SampleCountdown, 105);
}

void WindowRecords::newAndLimitsThroughTheMenu() {
    auto w = makeWindow();
    Ui::TFCOMM& f = *w->form();
    f.RepeatSet->click();
    f.N10001->trigger();
    QCOMPARE(w->recordState().MaxRecords, 1000);
    QVERIFY(f.N10001->isChecked());
    QVERIFY(!f.N100001->isChecked());
    f.limitess->trigger();
    QCOMPARE(w->recordState().MaxRecords, 10000000);
    f.limitess->trigger();  // the checked item chosen again stays checked
    QVERIFY(f.limitess->isChecked());
    QVERIFY(!f.N10001->isChecked());
    f.N10001->trigger();

    const SimModel model = modelNamed("KR31E");
    const Bytes frame = encodeFrame(model, fitReading(model, SimFunction::Volts, 2.5, Coupling::Dc));
    Bytes many;
    for (int i = 0; i < 1100; ++i) many.insert(many.end(), frame.begin(), frame.end());
    feed(*w, many);
    QCOMPARE(w->recordTable().rowCount(), int64_t(1000));
    QCOMPARE(f.DBGrid1->currentRow(), int64_t(999));
    // the limit is said once, in a box that stops nothing
    const auto notices = w->findChildren<QMessageBox*>(QStringLiteral("RecordLimitReached"));
    QCOMPARE(notices.size(), 1);
    QVERIFY(!notices[0]->isModal());
    QCOMPARE(notices[0]->text(),
             QStringLiteral("Record limit of 1000 rows reached: later readings are not recorded. "
                            "Save, then New, or choose a higher limit in the Record menu."));

    // unsaved rows: New asks first, and No keeps them all
    const QString discard = QStringLiteral("Recorded readings have not been saved. Discard them?");
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        BoxAnswers boxes({answer});
        f.New1->trigger();
        QCOMPARE(boxes.texts, answer == QMessageBox::Yes ? QStringList({discard, " Record deleted "})
                                                         : QStringList(discard));
        QCOMPARE(w->recordTable().rowCount(), int64_t(answer == QMessageBox::Yes ? 0 : 1000));
    }
    QCOMPARE(w->recordState().NotRecorded, int64_t(0));
    QCOMPARE(f.DBGrid1->rowsShown(), 0);
    feed(*w, frame);
    QCOMPARE(f.DBGrid1->model()->index(0, RecordTableModel::ColNo).data().toInt(), 1);

    // the button does the same
    BoxAnswers again({QMessageBox::Yes});
    f.RecordNew->click();
    QCOMPARE(again.texts, QStringList({discard, QStringLiteral(" Record deleted ")}));
    QCOMPARE(w->recordTable().rowCount(), int64_t(0));
}

void WindowRecords::exitAsksBeforeDroppingUnsavedRows() {
    const SimModel model = modelNamed("KR31E");
    const Bytes frame = encodeFrame(model, fitReading(model, SimFunction::Volts, 1.0, Coupling::Dc));
    {
        // nothing stored: no question
        auto w = makeWindow();
        w->show();
        QVERIFY(w->close());
    }
    auto w = makeWindow();
    w->show();
    feed(*w, frame);
    QVERIFY(w->recordStore().hasUnsavedRows());
    auto text = answerNextMessageBox(QMessageBox::No);
    QVERIFY(!w->close());
    QCOMPARE(*text, QStringLiteral("Recorded readings have not been saved. Discard them?"));
    QVERIFY(w->isVisible());
    QCOMPARE(w->recordTable().rowCount(), int64_t(1));

    text = answerNextMessageBox(QMessageBox::Yes);
    QVERIFY(w->close());
    QVERIFY(!text->isEmpty());

    // after New there is nothing left to lose
    auto w2 = makeWindow();
    w2->show();
    feed(*w2, frame);
    answerNextMessageBox();
    w2->RecordNewClick();
    QVERIFY(w2->close());
}

QTEST_MAIN(WindowRecords)
#include "tst_window_records.moc"
