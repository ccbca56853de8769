// The meter chosen in the window: a device for a port in the Devices dialog and a model in the
// ComSetup menu, kept for the next run under what the command line asks for that run.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "../serial/PseudoTerminal.h"
#include "DevicesDialog.h"
#include "FrameEncoder.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

using namespace dmmsim;

namespace {

void chooseModel(TFCOMM& w, const QString& caption) {
    for (QAction* item : w.findChild<QMenu*>("MeterModel1")->actions()) {
        if (item->text() == caption) return item->trigger();
    }
    QFAIL("no such model item");
}

QString checkedModel(TFCOMM& w) {
    for (QAction* item : w.findChild<QMenu*>("MeterModel1")->actions()) {
        if (item->isChecked()) return item->text();
    }
    return {};
}

QString stored(const char* key) {
    return QSettings("dmmview", "dmmview").value(key).toString();
}

}  // namespace

class WindowDevices : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir_;

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    }
    void init() { QSettings("dmmview", "dmmview").clear(); }

    void chosenDeviceAndModelAreKept() {
        PseudoTerminal lineA, lineB;
        QTemporaryDir dir;
        const QString linkA = dir.filePath("meter-a");
        const QString linkB = dir.filePath("meter-b");
        QVERIFY(QFile::link(QString::fromStdString(lineA.slavePath), dir.filePath("meter-a")));
        QVERIFY(QFile::link(QString::fromStdString(lineB.slavePath), linkB));

        auto w = makeWindow();
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<DevicesDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            dialog->findChild<QComboBox*>("DeviceCOM2")->setEditText(linkB);
            dialog->findChild<QComboBox*>("DeviceCOM4")->setEditText(linkA);
            dialog->accept();
        });
        w->findChild<QAction*>("Devices1")->trigger();
        QCOMPARE(w->form()->COM21->toolTip(), linkB);
        QCOMPARE(w->form()->COM41->toolTip(), linkA);
        QCOMPARE(w->form()->COM11->toolTip(), QStringLiteral("/dev/ttyS0"));

        chooseModel(*w, "KR31G");
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31G Interface Program _Ver: 1.00"));
        QCOMPARE(w->COMM2().ComPortSpeed(), br19200);
        QCOMPARE(w->meterState().MaxLimit, 6000.0f);
        QCOMPARE(w->form()->MaxText->text(), QStringLiteral("-6001"));
        QVERIFY(w->findChild<QAction*>("Variant1")->isEnabled());

        w->COM21Click();
        w->BTCon1Click();
        QVERIFY(w->COMM2().Connected());
        QVERIFY(!w->findChild<QMenu*>("MeterModel1")->isEnabled());
        // the open port's row, and only that one, is held while connected
        QString enabledRows;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<DevicesDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            for (int port = 1; port <= 4; ++port)
                enabledRows +=
                    dialog->findChild<QComboBox*>(QStringLiteral("DeviceCOM%1").arg(port))->isEnabled() ? "1"
                                                                                                        : "0";
            dialog->reject();
        });
        w->findChild<QAction*>("Devices1")->trigger();
        QCOMPARE(enabledRows, QStringLiteral("1011"));
        const auto sim = simModelFor("KR31G", false);
        QByteArray bytes(1, char(kDigitFrameLead));
        for (uint8_t b : encodeFrame(*sim, fitReading(*sim, SimFunction::Volts, 1.234, Coupling::Dc)))
            bytes += char(b);
        QCOMPARE(::write(lineB.master, bytes.constData(), bytes.size()), ssize_t(bytes.size()));
        QTRY_COMPARE(w->form()->LcdDa->text() + w->form()->LcdDb->text() + w->form()->LcdDc->text() +
                         w->form()->LcdDd->text(),
                     QStringLiteral("1234"));
        w->BtDiscon1Click();
        w.reset();

        w = makeWindow();
        QCOMPARE(w->form()->COM21->toolTip(), linkB);
        QCOMPARE(w->form()->COM41->toolTip(), linkA);
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31G Interface Program _Ver: 1.00"));
        QCOMPARE(checkedModel(*w), QStringLiteral("KR31G"));
        w.reset();

        w = makeWindow({"--model", "KR31E", "--port", "COM2=/dev/ttyS9"});
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31E Interface Program _Ver: 2.02"));
        QCOMPARE(w->form()->COM21->toolTip(), QStringLiteral("/dev/ttyS9"));
        QCOMPARE(stored("model"), QStringLiteral("KR31G"));
        QCOMPARE(stored("devices/COM2"), linkB);

        // back from 6000 counts, the start-up texts and limits of 4000 counts come back
        chooseModel(*w, "KR31G");
        chooseModel(*w, "KR31A");
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31A Interface Program _Ver: 2.00"));
        QCOMPARE(w->COMM2().ComPortSpeed(), br2400);
        QCOMPARE(w->form()->Setmax->text(), QStringLiteral("4000"));
        QCOMPARE(w->meterState().MaxLimit, 4002.0f);
        QCOMPARE(w->form()->MinText->text(), QStringLiteral("4001"));
        QVERIFY(!w->findChild<QAction*>("Variant1")->isEnabled());
        QCOMPARE(stored("model"), QStringLiteral("KR31A"));
    }

    // Values this program would not write are passed over for the defaults, and --no-settings
    // writes nothing.
    void foreignSettingsAreIgnored() {
        {
            QSettings s("dmmview", "dmmview");
            s.setValue("model", "KR99");
            s.setValue("variant", "banana");
            s.setValue("devices/COM1", "");
            s.setValue("devices/COM2", QStringList{"/dev/a", "/dev/b"});
            s.setValue("devices/COM9", "/dev/ttyUSB0");
        }
        auto w = makeWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31E Interface Program _Ver: 2.02"));
        QVERIFY(!w->form()->IF7263x->isChecked());
        QCOMPARE(w->form()->COM11->toolTip(), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(w->form()->COM21->toolTip(), QStringLiteral("/dev/ttyS1"));

        w = makeWindow({"--no-settings"});
        chooseModel(*w, "KR31G");
        QCOMPARE(stored("model"), QStringLiteral("KR99"));
    }
};

QTEST_MAIN(WindowDevices)
#include "tst_window_devices.moc"
