// The window and what its line carries, over a pseudo-terminal in real time: the hint when the
// chosen model cannot read the meter, the counts in the link indicator's tooltip, and the bytes
// kept with --save-bytes.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <random>

#include "../serial/PseudoTerminal.h"
#include "FrameEncoder.h"
#include "TFCOMM.h"
#include "WindowTestSupport.h"

using namespace dmmsim;
using Bytes = std::vector<uint8_t>;

namespace {

SimModel simModel(const QString& caption) {
    std::string error;
    const auto m = simModelFor(caption.toStdString(), false, &error);
    if (!m) qFatal("%s", error.c_str());
    return *m;
}

Bytes frameOf(const SimModel& model, double volts) {
    return encodeFrame(model, fitReading(model, SimFunction::Volts, volts, Coupling::Dc));
}

void send(PseudoTerminal& line, const Bytes& b) {
    if (::write(line.master, b.data(), b.size()) != static_cast<ssize_t>(b.size()))
        qFatal("write to the line failed");
}

QList<QMessageBox*> hints(TFCOMM& w) {
    return w.findChildren<QMessageBox*>(QStringLiteral("LineHint"));
}

QString lcdDigits(TFCOMM& w) {
    QString s;
    for (const char* name : {"LcdDa", "LcdDb", "LcdDc", "LcdDd"}) s += w.findChild<QLabel*>(name)->text();
    return s;
}

}  // namespace

class WindowLine : public QObject {
    Q_OBJECT

private slots:
    void hintOnceWhenTheModelReadsNothing_data();
    void hintOnceWhenTheModelReadsNothing();
    void savedBytesAreExactlyWhatArrived();
};

void WindowLine::hintOnceWhenTheModelReadsNothing_data() {
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

// Frames every 100 ms for four seconds: a wrong model shows one hint, non-modal, naming the
// meter's model, and the tooltip counts the bytes; the right model shows its readings and no hint.
void WindowLine::hintOnceWhenTheModelReadsNothing() {
    QFETCH(QString, meter);
    QFETCH(QString, model);
    QFETCH(QString, named);
    PseudoTerminal line;
    QVERIFY(!line.slavePath.empty());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--model", model.toStdString()});
    w->show();
    w->BTCon1Click();
    QVERIFY(w->COMM2().Connected());

    const SimModel sender = simModel(meter);
    if (sender.family == FrameFamily::Digit) send(line, {kDigitFrameLead});
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    while (clock.elapsed() < 4000) {
        send(line, frameOf(sender, 1.0 + (sent++ % 9) / 10.0));
        QTest::qWait(100);
        if (clock.elapsed() < 2500) QVERIFY2(hints(*w).isEmpty(), "hint before three seconds of bytes");
    }
    send(line, frameOf(sender, 2.345));
    QTest::qWait(300);

    const QString tip = w->findChild<QWidget*>("CONokN")->toolTip();
    QVERIFY2(tip.startsWith(QStringLiteral("COM1 (%1): ").arg(QString::fromStdString(line.slavePath))),
             qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("%1 whole frames").arg(named.isEmpty() ? sent + 1 : 0)),
             qPrintable(tip));
    if (named.isEmpty()) {
        QVERIFY(hints(*w).isEmpty());
        QCOMPARE(lcdDigits(*w), QStringLiteral("2345"));
        return;
    }
    QCOMPARE(hints(*w).size(), 1);
    QMessageBox* box = hints(*w).front();
    QVERIFY(box->isVisible());
    QVERIFY(!box->isModal());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY2(box->text().contains(named), qPrintable(box->text()));
    QVERIFY2(box->text().contains(QString::fromStdString(line.slavePath)), qPrintable(box->text()));
    // the program switched nothing by itself
    QCOMPARE(w->meterState().family, simModel(model).family);

    // a new connection watches afresh and may say it again, once
    box->close();
    QTest::qWait(50);
    w->BtDiscon1Click();
    w->BTCon1Click();
    QVERIFY(hints(*w).isEmpty());
    QCOMPARE(w->lineWatch().counts().bytes, uint64_t(0));
}

// Bytes that arrive while connected reach the file exactly, nothing added; a second connection
// appends; bytes sent while disconnected are not kept.
void WindowLine::savedBytesAreExactlyWhatArrived() {
    QTemporaryDir dir;
    const QString path = dir.filePath("line.bin");
    PseudoTerminal line;
    QVERIFY(!line.slavePath.empty());
    auto w = makeWindow({"--port", "COM1=" + line.slavePath, "--save-bytes", path.toStdString()});
    w->show();

    std::mt19937 rng(5);
    Bytes expected;
    for (int connection = 0; connection < 2; ++connection) {
        const std::size_t before = expected.size();
        w->BTCon1Click();
        QVERIFY(w->COMM2().Connected());
        for (int piece = 0; piece < 6; ++piece) {
            Bytes b = frameOf(simModel("KR31E"), 0.5 + piece / 10.0);
            for (int i = 0; i < 20; ++i)
                b.push_back(static_cast<uint8_t>(rng()));  // noise, zero bytes and all
            send(line, b);
            expected.insert(expected.end(), b.begin(), b.end());
            QTest::qWait(30);
        }
        QTRY_COMPARE_WITH_TIMEOUT(w->lineWatch().counts().bytes, uint64_t(expected.size() - before), 2000);
        w->BtDiscon1Click();
        send(line, {0x10, 0x21});  // nobody reads now; the next connection flushes it
        QTest::qWait(100);
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray kept = f.readAll();
    QCOMPARE(kept,
             QByteArray(reinterpret_cast<const char*>(expected.data()), static_cast<int>(expected.size())));
}

QTEST_MAIN(WindowLine)
#include "tst_window_line.moc"
