// The window and what its line carries, over a pseudo-terminal in real time: one non-modal hint
// when the chosen model cannot read the meter, the counts in the link picture's tooltip, and the
// bytes kept with --save-bytes exactly as they arrived.
#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "../serial/PseudoTerminal.h"
#include "FrameEncoder.h"
#include "WindowTestSupport.h"

using namespace dmmsim;

class WindowLine : public QObject {
    Q_OBJECT

private slots:
    void hintOnceWhenTheModelReadsNothing_data() {
        QTest::addColumn<QString>("meter");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("named");  // a model the hint must name; empty: no hint at all
        QTest::newRow("segment frames, digit model") << "KR31E"
                                                     << "KR47B"
                                                     << "KR31E";
        QTest::newRow("digit frames, segment model") << "KR31G"
                                                     << "KR31E"
                                                     << "KR31G";
        QTest::newRow("right model") << "KR31G"
                                     << "KR31G"
                                     << "";
    }

    // A frame every 100 ms for four seconds.
    void hintOnceWhenTheModelReadsNothing() {
        QFETCH(QString, meter);
        QFETCH(QString, model);
        QFETCH(QString, named);
        PseudoTerminal line;
        QTemporaryDir dir;
        const QString kept = dir.filePath("line.bin");
        auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--model", model.toStdString(),
                             "--save-bytes", kept.toStdString()});
        w->show();
        w->BTCon1Click();
        QVERIFY(w->COMM2().Connected());
        auto hints = [&w] { return w->findChildren<QMessageBox*>(QStringLiteral("LineHint")); };

        const auto sim = simModelFor(meter.toStdString(), false);
        QByteArray sent;
        QString lastShown;
        QElapsedTimer clock;
        clock.start();
        int frames = 0;
        for (; clock.elapsed() < 4000; ++frames) {
            const SimReading r = fitReading(*sim, SimFunction::Volts, 1 + frames % 9 / 10.0, Coupling::Dc);
            QByteArray piece;
            if (frames == 0 && sim->family == FrameFamily::Digit) piece += char(kDigitFrameLead);
            for (uint8_t b : encodeFrame(*sim, r)) piece += char(b);
            QCOMPARE(::write(line.master, piece.constData(), piece.size()), ssize_t(piece.size()));
            sent += piece;
            lastShown = QString::fromStdString(r.text()).remove('.');
            QTest::qWait(100);
            if (clock.elapsed() < 2500) QVERIFY2(hints().isEmpty(), "hint before three seconds of bytes");
        }
        QTest::qWait(200);

        // the counts as a user pointing at the link picture reads them
        auto* link = w->findChild<QWidget*>("CONokN");
        QHelpEvent pointedAt(QEvent::ToolTip, QPoint(2, 2), link->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(link, &pointedAt);
        const QString tip = link->toolTip();
        const QString counts = QStringLiteral("COM1 (%1): %2 bytes, %3 whole frames, 0 dropped")
                                   .arg(line.slavePath.c_str())
                                   .arg(sent.size())
                                   .arg(named.isEmpty() ? frames : 0);
        QVERIFY2(tip.startsWith(counts), qPrintable(tip));
        QFile file(kept);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), sent);
        if (named.isEmpty()) {
            QVERIFY(hints().isEmpty());
            QString digits;
            for (const char* d : {"LcdDa", "LcdDb", "LcdDc", "LcdDd"})
                digits += w->findChild<QLabel*>(d)->text();
            QCOMPARE(digits, lastShown);
            return;
        }
        QCOMPARE(hints().size(), 1);
        QMessageBox* box = hints().front();
        QVERIFY(box->isVisible() && !box->isModal() && !QApplication::activeModalWidget());
        QVERIFY2(box->text().contains(named) && box->text().contains(line.slavePath.c_str()),
                 qPrintable(box->text()));
        QVERIFY2(box->text().contains(QStringLiteral("ComSetup ▸ Meter model")) &&
                     !box->text().contains("--model"),
                 qPrintable(box->text()));
        QCOMPARE(w->meterState().family,
                 simModelFor(model.toStdString(), false)->family);  // switched nothing

        // one click on the offered model reads the meter, still connected
        auto* use = box->findChild<QAbstractButton*>(QStringLiteral("UseModel"));
        QVERIFY(use);
        QVERIFY2(use->text().startsWith(QStringLiteral("Use ")), qPrintable(use->text()));
        use->click();
        QVERIFY(w->COMM2().Connected());
        QCOMPARE(w->meterState().family, sim->family);
        QTest::qWait(100);
        const SimReading r = fitReading(*sim, SimFunction::Volts, 2.5, Coupling::Dc);
        QByteArray piece;
        if (sim->family == FrameFamily::Digit) piece += char(kDigitFrameLead);
        for (uint8_t b : encodeFrame(*sim, r)) piece += char(b);
        QCOMPARE(::write(line.master, piece.constData(), piece.size()), ssize_t(piece.size()));
        QTRY_VERIFY_WITH_TIMEOUT(w->lineWatch().counts().readings > 0, 1000);
    }

    // Bytes that could not be kept are not read either: the connection is refused with the reason.
    void connectRefusedWhenTheBytesCannotBeKept() {
        PseudoTerminal line;
        auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--save-bytes", "/nonexistent/line.bin"});
        QString said;
        QTimer::singleShot(0, [&said] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box) said = box->text();
            if (box) box->accept();
        });
        w->BTCon1Click();
        QVERIFY2(said.contains("cannot write '/nonexistent/line.bin'"), qPrintable(said));
        QVERIFY(!w->COMM2().Connected());
        QVERIFY(shown(*w, "BTCon"));
    }
};

QTEST_MAIN(WindowLine)
#include "tst_window_line.moc"
