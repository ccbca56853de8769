// Triggers and alarms in both windows: the Record menu's dialog and the rules it sets on the main
// window's recording, a tile's rules in the bench, and the banner each window shows. With
// DMM_PICTURES=FOLDER (on a display: xvfb-run) the dialog and the banners are kept as pictures.
#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include "../cli/HeadlessTestSupport.h"
#include "AlarmBanner.h"
#include "BenchAlarms.h"
#include "BenchModel.h"
#include "BenchSession.h"
#include "BenchWindow.h"
#include "RecordTableModel.h"
#include "RulesDialog.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

const std::string kHigh = segmentBytes("705DB1F2700040");  // 1.234 V DC AUTO
const std::string kLow = segmentBytes("49F3F3F3F00040");   // -3999 V DC MANU

void feed(TFCOMM& w, const std::string& b) {
    w.COMM2().OnReceiveData()(&w.COMM2(), b.data(), static_cast<int32_t>(b.size()));
}

void keepPicture(QWidget& widget, const QString& name) {
    const QString folder = qEnvironmentVariable("DMM_PICTURES");
    if (folder.isEmpty()) return;
    QTest::qWait(600);  // drawn on the display, the bench's tiles refreshed
    QVERIFY(widget.grab().save(QDir(folder).filePath(name + ".png")));
}

// A reading in volts `secondsAgo` before now.
BenchReading volts(qint64 secondsAgo, double value) {
    BenchReading r;
    r.timeMs = QDateTime::currentMSecsSinceEpoch() - secondsAgo * 1000;
    r.display = QString::number(value, 'f', 3) + QStringLiteral(" V");
    r.value = value;
    r.unit = QStringLiteral("V");
    return r;
}

}  // namespace

class WindowRules : public QObject {
    Q_OBJECT
private slots:
    // The menu offers the dialog; a start condition and a row count decide what is recorded, and
    // an alarm is said in the banner on entering and on leaving.
    void mainWindowRecordsAndWarnsByItsRules() {
        auto w = makeWindow();
        QAction* menuEntry = w->findChild<QAction*>(QStringLiteral("TriggersAndAlarms"));
        QVERIFY(menuEntry);
        QVERIFY(w->form()->Record1->actions().contains(menuEntry));
        RuleForm form;
        form.startWhen = QStringLiteral("value > 1");
        form.rows = 2;
        form.alarms = QStringLiteral("hi: value > 1 V\n");
        QVERIFY(w->applyRules(form).ok());
        w->show();
        AlarmBanner* banner = w->alarmBanner();
        QVERIFY(!banner->isVisible());
        feed(*w, kLow + kLow);
        QCOMPARE(w->recordStore().hasUnsavedRows(), false);
        feed(*w, kHigh);
        QVERIFY(banner->isVisible());
        QVERIFY2(banner->text().startsWith("Alarm hi entered at "), qPrintable(banner->text()));
        QVERIFY2(banner->text().endsWith(": KR31E 1.234 V (value > 1 V)"), qPrintable(banner->text()));
        QCOMPARE(banner->active(), 1);
        keepPicture(*w, QStringLiteral("window-alarm-banner"));
        feed(*w, kLow + kHigh + kLow);
        QVERIFY(banner->text().startsWith("Alarm hi left at "));
        QCOMPARE(banner->active(), 0);
        // two segments of two rows: each entry (1.234) starts one, the row after it (-3999) ends it;
        // the readings before the first entry are not recorded
        QCOMPARE(w->form()->DBGrid1->model()->rowCount(), 4);
        for (int row = 0; row < 4; ++row)
            QCOMPARE(w->form()->DBGrid1->model()->index(row, 3).data().toString(),
                     row % 2 ? QStringLiteral("-3999") : QStringLiteral("1.234"));
    }

    // The dialog keeps a faulty rule open, says what is wrong and where, and gives the texts back.
    void dialogRefusesFaultsAndKeepsTheTexts() {
        RuleForm form;
        form.alarms = QStringLiteral("hot: value > 60 °C\nquiet: no reading for 30 s");
        form.hysteresisText = QStringLiteral("0.5");
        form.startWhen = QStringLiteral("value > 1.5 V");
        form.preText = QStringLiteral("10");
        RulesDialog dialog(form, {QStringLiteral("value")}, 0, true);
        dialog.setWindowTitle(QStringLiteral("Triggers and alarms"));
        dialog.show();
        keepPicture(dialog, QStringLiteral("rules-dialog"));
        QCOMPARE(dialog.form().alarms, form.alarms);
        auto* stopWhen = dialog.findChild<QLineEdit*>(QStringLiteral("stopWhen"));
        stopWhen->setText(QStringLiteral("value <"));
        dialog.accept();
        QVERIFY(dialog.isVisible());
        auto* fault = dialog.findChild<QLabel*>(QStringLiteral("fault"));
        QVERIFY2(fault->text().startsWith("--stop-when: in 'value <'"), qPrintable(fault->text()));
        stopWhen->setText(QStringLiteral("value < 200 mV"));
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    // A tile's menu offers the dialog; the channel's alarm may read other channels, and the
    // banner says it over the bench.
    void benchChannelWarnsByItsRules() {
        BenchModel model;
        BenchSession session(model);
        const int u = model.addMeter(QStringLiteral("U"));
        const int i = model.addMeter(QStringLiteral("I"));
        BenchWindow window(session);
        BenchAlarms alarms(window, model);
        RuleForm form;
        form.alarms = QStringLiteral("low: value < 4.5 V\nboth: value + I > 10");
        QVERIFY(alarms.apply(u, form).ok());
        RuleForm faulty;
        faulty.alarms = QStringLiteral("bad: W > 1");
        QVERIFY(!alarms.apply(i, faulty).ok());
        window.resize(1000, 700);
        window.show();
        model.addReading(u, volts(3, 5));
        model.addReading(i, volts(3, 2));
        QVERIFY(!alarms.banner()->isVisible());
        model.addReading(u, volts(2, 4));
        QVERIFY(alarms.banner()->isVisible());
        QVERIFY2(alarms.banner()->text().startsWith("Alarm low entered"),
                 qPrintable(alarms.banner()->text()));
        model.addReading(i, volts(1, 7));
        QVERIFY2(alarms.banner()->text().contains("Alarm both entered"), qPrintable(alarms.banner()->text()));
        QCOMPARE(alarms.banner()->active(), 2);
        keepPicture(window, QStringLiteral("bench-alarm-banner"));
    }
};

QTEST_MAIN(WindowRules)
#include "tst_window_rules.moc"
