// The main window: start-up with each model, port selection, connection control, watchdog.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileDialog>
#include <QGraphicsOpacityEffect>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "EditErrorNote.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"
#include "ui_TFCOMM.h"

namespace {

// Feeds a segment frame, given as its FrameHex text, to the window as one received chunk.
void receiveSegmentFrame(TFCOMM& w, const QString& frameHex) {
    QByteArray bytes;
    for (int i = 0; i < frameHex.size(); ++i) {
        bytes.append(static_cast<char>(((i + 1) << 4) | QString(frameHex[i]).toInt(nullptr, 16)));
    }
    w.COMM2().OnReceiveData()(&w.COMM2(), bytes.constData(), bytes.size());
}

}  // namespace

class Window : public QObject {
    Q_OBJECT

private slots:
    void startsAsTheStoredModel() {
        auto w = makeWindow();
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31E Interface Program _Ver: 2.02"));
        QCOMPARE(w->COMM2().ComPort(), pnCOM1);
        QCOMPARE(w->COMM2().ComPortSpeed(), br2400);
        QVERIFY(w->COMM2().OnReceiveData());
        MeterState& s = w->meterState();
        QCOMPARE(s.FullScale, 4000);
        QCOMPARE(s.family, FrameFamily::Segment);
        // the texts say 4000 but the limits stay at the start-up values until touched
        QCOMPARE(w->form()->Setmax->text(), QStringLiteral("4000"));
        QCOMPARE(w->form()->SetMin->text(), QStringLiteral("-4000"));
        QCOMPARE(s.MaxLimit, 4002.0f);
        QCOMPARE(s.MinLimit, -4002.0f);
        QCOMPARE(w->form()->MinText->text(), QStringLiteral("4001"));
    }

    void sixThousandCountModel() {
        auto w = makeWindow({"--model", "KR31G"});
        QCOMPARE(w->windowTitle(), QStringLiteral("KR31G Interface Program _Ver: 1.00"));
        QCOMPARE(w->COMM2().ComPortSpeed(), br19200);
        MeterState& s = w->meterState();
        QCOMPARE(s.FullScale, 6000);
        QCOMPARE(s.family, FrameFamily::Digit);
        QCOMPARE(w->form()->Setmax->text(), QStringLiteral("6000"));
        QCOMPARE(w->form()->SetMin->text(), QStringLiteral("-6000"));
        QCOMPARE(s.MaxLimit, 6000.0f);
        QCOMPARE(s.MinLimit, -6000.0f);
        QCOMPARE(w->form()->MinText->text(), QStringLiteral("6001"));
        QCOMPARE(w->form()->MaxText->text(), QStringLiteral("-6001"));
        QVERIFY(w->form()->IFKR31G->isChecked());
        QVERIFY(!w->form()->IFKR31E->isChecked());
    }

    void thirtyFourHundredCountModel() {
        auto w = makeWindow({"--model", "KR31D", "--variant"});
        QCOMPARE(w->COMM2().ComPortSpeed(), br2400);
        QCOMPARE(w->meterState().BarSegments, 68);
        QCOMPARE(w->meterState().MaxLimit, 3400.0f);
        QCOMPARE(w->form()->MinText->text(), QStringLiteral("3401"));
        QCOMPARE(w->form()->MaxText->text(), QStringLiteral("-3401"));
        QVERIFY(w->form()->IF7263x->isChecked());
    }

    void portIndicatorsStepThroughThePorts() {
        auto w = makeWindow();
        QTest::mouseClick(w->form()->BtCOM1, Qt::LeftButton);
        QCOMPARE(w->COMM2().ComPort(), pnCOM2);
        QVERIFY(w->form()->COM21->isChecked());
        QVERIFY(!w->form()->COM11->isChecked());
        QVERIFY(shown(*w, "BtCOM2"));
        QVERIFY(!shown(*w, "BtCOM1"));
        w->form()->BtCOM2->click();
        w->form()->BtCOM3->click();
        QCOMPARE(w->COMM2().ComPort(), pnCOM4);
        w->form()->BtCOM4->click();
        QCOMPARE(w->COMM2().ComPort(), pnCOM1);
        QVERIFY(w->form()->COM11->isChecked());
        QVERIFY(shown(*w, "BtCOM1"));
        w->form()->COM31->trigger();
        QCOMPARE(w->COMM2().ComPort(), pnCOM3);
    }

    void failedConnectSaysWhyAndStaysDisconnected() {
        auto w = makeWindow({"--port", "COM2=/nonexistent/ttyX"});
        w->COM21Click();
        const auto text = answerNextMessageBox();
        w->BTCon1Click();
        QVERIFY2(text->contains("COM2") && text->contains("/nonexistent/ttyX"), qPrintable(*text));
        QVERIFY(!w->COMM2().Connected());
        QVERIFY(w->form()->ComSetup1->isEnabled());
        QVERIFY(w->form()->START1->isEnabled());
        QVERIFY(!w->form()->STOP1->isEnabled());
        QVERIFY(shown(*w, "BTCon"));
        QVERIFY(!shown(*w, "BtDiscon"));
        QVERIFY(w->form()->BtCOM2->isEnabled());
    }

    // A simulated meter that cannot start says so and leaves the real COM1 closed, --connect or not.
    void demoThatCannotStartConnectsNothing() {
        AppOptions o;
        o.demo = true;
        o.connect = true;
        o.demoScenario = "nosuch";
        o.portPaths[1] = "/dev/ptmx";  // a port that would open
        TFCOMM w(o);
        const auto text = answerNextMessageBox();
        QTest::qWait(20);
        QVERIFY2(text->contains("could not start"), qPrintable(*text));
        QVERIFY(!w.COMM2().Connected());
        QVERIFY(shown(w, "BTCon"));
    }

    void connectAndDisconnectSwitchTheControls() {
        // /dev/ptmx opens like a terminal device, which is all this test needs
        auto w = makeWindow({"--port", "COM1=/dev/ptmx"});
        w->BTCon1Click();
        QVERIFY(w->COMM2().Connected());
        QVERIFY(!w->form()->ComSetup1->isEnabled());
        QVERIFY(w->form()->START1->isChecked());
        QVERIFY(!w->form()->START1->isEnabled());
        QVERIFY(w->form()->STOP1->isEnabled());
        QVERIFY(!w->form()->STOP1->isChecked());
        QVERIFY(!shown(*w, "BTCon"));
        QVERIFY(shown(*w, "BtDiscon"));
        QVERIFY(!w->form()->BtCOM1->isEnabled());
        w->BtDiscon1Click();
        QVERIFY(!w->COMM2().Connected());
        QVERIFY(w->form()->ComSetup1->isEnabled());
        QVERIFY(!w->form()->START1->isChecked());
        QVERIFY(w->form()->STOP1->isChecked());
        QVERIFY(!w->form()->STOP1->isEnabled());
        QVERIFY(shown(*w, "BTCon"));
        QVERIFY(w->form()->BtCOM1->isEnabled());
    }

    // Space on Connect, then Space again, disconnects: the focus follows the button that takes
    // the place, instead of moving on to Exit.
    void focusPassesBetweenConnectAndDisconnect() {
        auto w = makeWindow({"--port", "COM1=/dev/ptmx"});
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        w->form()->BTCon->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(w->COMM2().Connected());
        QCOMPARE(QApplication::focusWidget(), w->form()->BtDiscon);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(!w->COMM2().Connected());
        QCOMPARE(QApplication::focusWidget(), w->form()->BTCon);
    }

    void watchdogCyclesAndShowsLinkLost() {
        auto w = makeWindow();
        MeterState& s = w->meterState();
        QCOMPARE(s.LinkIdleTicks, 0);
        w->ConTimerTimer();
        w->ConTimerTimer();
        QCOMPARE(s.LinkIdleTicks, 2);
        w->ConTimerTimer();
        QCOMPARE(s.LinkIdleTicks, 0);
        QVERIFY(shown(*w, "CONokN"));
        // the form's start state is no stale reading: full strength before any connection
        auto dimmed = [&w] {
            auto* e = qobject_cast<QGraphicsOpacityEffect*>(w->form()->LcdDa->graphicsEffect());
            return e && e->opacity() < 0.5;
        };
        QVERIFY(!dimmed());

        // a whole frame lights the link image; three quiet ticks put it out, while the reading
        // stays at full strength: a meter's own pace is slower than the link picture's rule
        receiveSegmentFrame(*w, "705DB1F2700040");  // 1.234 V
        QVERIFY(shown(*w, "CONok"));
        QVERIFY(!shown(*w, "CONokN") && !dimmed());
        QCOMPARE(w->form()->LcdDa->text(), QStringLiteral("1"));
        QCOMPARE(w->form()->LcdDd->text(), QStringLiteral("4"));
        QVERIFY(shown(*w, "LcdP1"));
        w->ConTimerTimer();
        w->ConTimerTimer();
        QVERIFY(shown(*w, "CONok"));
        w->ConTimerTimer();
        QVERIFY(!shown(*w, "CONok"));
        QVERIFY(shown(*w, "CONokN") && !dimmed());
        // after Disconnect the last reading stays, dimmed
        w->BtDiscon1Click();
        QVERIFY(dimmed());
        QCOMPARE(w->form()->LcdDa->text(), QStringLiteral("1"));
    }

    void limitsFollowTheirTextsAndBoxes() {
        auto w = makeWindow();
        MeterState& s = w->meterState();
        QCOMPARE(s.MaxLimit, 4002.0f);
        w->form()->SetMaxB->click();  // touching the box reads the text
        QCOMPARE(s.MaxLimit, 4000.0f);
        QVERIFY(w->controlStates().SetMaxB);

        QLineEdit* edit = w->form()->Setmax;
        edit->clear();
        QTest::keyClicks(edit, "+2x5 0");  // letters and spaces are filtered out
        QCOMPARE(edit->text(), QStringLiteral("+250"));
        QCOMPARE(s.MaxLimit, 250.0f);

        // "+250-" is no integer: the note says so beside the edit, which keeps the focus and every
        // key typed, until the text converts again
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        edit->setFocus();
        QTest::keyClicks(edit, "-7");
        QCOMPARE(EditErrorNote::text(edit), QStringLiteral("'+250-7' is not a valid integer value"));
        QCOMPARE(s.MaxLimit, 250.0f);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(EditErrorNote::text(edit), QStringLiteral("'+250-' is not a valid integer value"));
        QVERIFY(edit->hasFocus());
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(EditErrorNote::text(edit), QString());
        QCOMPARE(s.MaxLimit, 250.0f);

        // the edit's shortcuts work; what they bring in is held to the same rules as typing
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, '7');
        QCOMPARE(s.MaxLimit, 7.0f);
        QApplication::clipboard()->setText(QStringLiteral("1x"));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text(), QStringLiteral("7"));
        QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.MaxLimit, 250.0f);

        w->form()->SetMin->setText("-");
        QTest::keyClick(w->form()->SetMin, '3');
        QCOMPARE(s.MinLimit, -3.0f);
        QTest::keyClick(w->form()->SetMin, 'a');  // the same filter on the lower limit
        QCOMPARE(w->form()->SetMin->text(), QStringLiteral("-3"));
        QCOMPARE(EditErrorNote::text(w->form()->SetMin), QString());
        // text composed by an input method sends no key presses and is refused all the same
        for (QLineEdit* limitEdit : {w->form()->Setmax, w->form()->SetMin}) {
            const QString before = limitEdit->text();
            QInputMethodEvent composed;
            composed.setCommitString(QString::fromUtf8("\u00e9"));
            QApplication::sendEvent(limitEdit, &composed);
            QCOMPARE(limitEdit->text(), before);
        }
    }

    // Every number field of the window answers a text the same way: one that does not convert
    // (empty and a lone sign included) or lies out of range gets a note saying why, and the value
    // in force stays the last good one until the text converts.
    void numberFields_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("note");
        QTest::addColumn<double>("value");
        const QString notNumber = QStringLiteral("'%1' is not a valid integer value");
        const QString beyond = QStringLiteral("%1 lies beyond the meter's count range of -4000 to 4000");
        QTest::newRow("SetMax empty") << "Setmax"
                                      << "" << notNumber.arg("") << 1000.0;
        QTest::newRow("SetMax lone minus") << "Setmax"
                                           << "-" << notNumber.arg("-") << 1000.0;
        QTest::newRow("SetMax past the count range") << "Setmax"
                                                     << "99999" << beyond.arg("99999") << 1000.0;
        QTest::newRow("SetMax good") << "Setmax"
                                     << "+2500"
                                     << "" << 2500.0;
        QTest::newRow("SetMin lone plus") << "SetMin"
                                          << "+" << notNumber.arg("+") << -1000.0;
        QTest::newRow("SetMin below the count range") << "SetMin"
                                                      << "-4001" << beyond.arg("-4001") << -1000.0;
        QTest::newRow("interval empty") << "RecordSITime"
                                        << "" << notNumber.arg("") << 5.0;
        QTest::newRow("interval zero") << "RecordSITime"
                                       << "0"
                                       << "" << 0.0;
        QTest::newRow("points per page empty") << "Maxrecord"
                                               << "" << notNumber.arg("") << 50.0;
        QTest::newRow("points per page good") << "Maxrecord"
                                              << "20"
                                              << "" << 20.0;
    }
    void numberFields() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(QString, note);
        QFETCH(double, value);
        auto w = makeWindow();
        const std::map<QString, std::pair<QString, std::function<double()>>> fields = {
            {"Setmax", {"1000", [&w] { return double(w->meterState().MaxLimit); }}},
            {"SetMin", {"-1000", [&w] { return double(w->meterState().MinLimit); }}},
            {"RecordSITime", {"5", [&w] { return double(w->recordState().SampleInterval); }}},
            {"Maxrecord", {"50", [&w] { return double(w->chartPaging().MaxPointsPerPage()); }}},
        };
        auto* edit = w->findChild<QLineEdit*>(field);
        const auto& [good, inForce] = fields.at(field);
        edit->setText(good);
        edit->setText(text);
        QCOMPARE(EditErrorNote::text(edit), note);
        QCOMPARE(inForce(), value);
        edit->setText(good);
        QCOMPARE(EditErrorNote::text(edit), QString());
    }

    void armedLimitSoundsTheAlarm() {
        auto w = makeWindow();
        w->form()->Setmax->setText("1000");
        w->form()->SetMaxB->click();
        receiveSegmentFrame(*w, "705DB1F2700040");  // 1.234 V = 1234 counts
        QVERIFY(shown(*w, "oltext"));
        w->form()->SetMaxB->click();  // disarmed: the limit stays, the alarm goes
        QCOMPARE(w->meterState().MaxLimit, 1000.0f);
        receiveSegmentFrame(*w, "705DB1F2700040");
        QVERIFY(!shown(*w, "oltext"));

        // the picture of a live reading beyond an armed limit, when asked for
        w->form()->Setmax->setText("3000");
        w->form()->SetMaxB->click();
        receiveSegmentFrame(*w, "41F3F3FBF00040");  // 399.9 V
        QVERIFY(shown(*w, "oltext"));
        const QByteArray dir = qgetenv("DMM_SCREENSHOT_DIR");
        if (!dir.isEmpty()) {
            w->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.get()));
            w->grab().save(QString::fromLocal8Bit(dir) + "/window-alarm.png");
        }

        // the lower limit alone
        w->form()->SetMaxB->click();
        w->form()->SetMin->setText("2000");
        w->form()->SetMinB->click();
        receiveSegmentFrame(*w, "705DB1F2700040");  // 1234 counts, below 2000
        QVERIFY(shown(*w, "oltext"));
    }

    void barShowsFullForHighPositions() {
        auto w = makeWindow();
        receiveSegmentFrame(*w, "43E7DFD7D20021");  // 50.00 kHz: leading digits 50
        QCOMPARE(w->form()->PBar2->value(), 40);
    }

    // Every menu title has an access key, and no two in a menu or in the menu bar share one;
    // Ctrl+O and Ctrl+S open their dialogs; Tab visits the controls in screen order and leaves
    // the grid, and every control it visits shows that it has the focus.
    void keyboard() {
        auto w = makeWindow();
        QList<QFileDialog::AcceptMode> dialogs;
        w->setFileDialogRunner([&dialogs](QFileDialog& d) {
            dialogs << d.acceptMode();
            return QString();
        });
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QString titles;
        for (QAction* a : w->menuBar()->actions()) titles += a->text().section(u'&', 1).left(1);
        QCOMPARE(titles, QStringLiteral("CnGRx"));  // the two blank items have none
        for (QMenu* m : w->menuBar()->findChildren<QMenu*>()) {
            QString keys;
            for (QAction* a : m->actions()) {
                const QString key = a->text().section(u'&', 1).left(1).toLower();
                QVERIFY2(key.isEmpty() || !keys.contains(key), qPrintable(a->text()));
                QVERIFY2(m != w->form()->ComSetup1 || a->isSeparator() || !key.isEmpty(),
                         qPrintable(a->text()));
                keys += key;
            }
        }
        QCOMPARE(w->form()->EXIT1->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));

        QTest::keyClick(w.get(), Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(dialogs, QList<QFileDialog::AcceptMode>({QFileDialog::AcceptOpen, QFileDialog::AcceptSave}));

        w->form()->BtCOM1->setFocus();
        QStringList visited, unmarked;
        for (int i = 0; i < 40; ++i) {
            QWidget* f = QApplication::focusWidget();
            visited << (f->objectName().isEmpty() ? f->parentWidget()->objectName() : f->objectName());
            const QImage focused = f->grab().toImage();
            QTest::keyClick(f, Qt::Key_Tab);
            if (f->grab().toImage() == focused) unmarked << visited.last();
            if (QApplication::focusWidget() == w->form()->BtCOM1) break;
        }
        QCOMPARE(unmarked.join(u' '), QString());
        QCOMPARE(visited.join(u' '),
                 QStringLiteral("BtCOM1 BTCon BtExit SetMaxB Setmax SetMinB SetMin RepeatSet RecordSI "
                                "RecordSITime RecordNew OpenDataFiles saveas BtPrint DBGrid1 BtFill "
                                "Maxrecord BtNew BtSave BtFirst BTPrevious BtNext BTlast TbFd"));
    }
};

QTEST_MAIN(Window)
#include "tst_window.moc"
