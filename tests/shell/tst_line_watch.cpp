// The line watch: its counts, when the hint comes, and what it names for streams of each family
// read with the wrong model, random bytes, and frames of the right kind that cannot be read.
#include <QTest>
#include <random>

#include "FrameAssembler.h"
#include "FrameEncoder.h"
#include "HeadlessRunner.h"
#include "LineWatch.h"
#include "MeterEngine.h"

using namespace dmmsim;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

namespace {

// The receive path of one model as the window and the headless run build it, with its watch.
struct Receiver {
    ControlStates controls;
    MeterState state;
    LcdPanelModel panel;
    ReadingSink sink;
    MeterEngine engine{state, panel, controls, sink};
    FrameTexts texts;
    SegmentFrameAssembler segment{texts, [this](const std::string& f) { engine.LcdDisplay31B(f); }};
    DigitFrameAssembler digit{texts, [this](const std::string& f) { engine.LcdDisplay47B(f); }};
    LineWatch watch{texts, state};

    explicit Receiver(const char* model) {
        AppOptions o;
        o.model = model;
        applyModelOptions(o, controls);
        prepareMeterState(controls, state);
        watch.start("COM1 (/dev/ttyS0)", controls);
    }

    void feed(const Bytes& b, LineWatch::Clock::time_point at) {
        const auto n = static_cast<int32_t>(b.size());
        if (state.family == FrameFamily::Segment)
            segment.H31BRData(b.data(), n);
        else
            digit.H47BRData(b.data(), n);
        watch.received(b.data(), n, at);
    }
};

SimModel simModel(const char* caption) {
    std::string error;
    const auto m = simModelFor(caption, false, &error);
    if (!m) qFatal("%s", error.c_str());
    return *m;
}

// What a meter of `caption` sends: `frames` readings, a digit stream led by the LF.
Bytes meterStream(const char* caption, int frames, bool blank = false) {
    const SimModel model = simModel(caption);
    Bytes out;
    if (model.family == FrameFamily::Digit) out.push_back(kDigitFrameLead);
    for (int i = 0; i < frames; ++i) {
        SimReading r = fitReading(model, SimFunction::Volts, 1.0 + i / 100.0, Coupling::Dc);
        if (blank) r.digits = {' ', ' ', ' ', ' '};
        const Bytes f = encodeFrame(model, r);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

}  // namespace

class TestLineWatch : public QObject {
    Q_OBJECT

private slots:
    void hintNamesWhatTheBytesFit_data();
    void hintNamesWhatTheBytesFit();
    void hintComesOnceAfterThreeSecondsOfBytes();
    void countsAreThoseOfTheConnection();
};

void TestLineWatch::hintNamesWhatTheBytesFit_data() {
    QTest::addColumn<QString>("sender");  // empty: random bytes
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("blank");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("notWords");

    QTest::newRow("segment frames, digit model at 2400")
        << "KR31E"
        << "KR47B" << false
        << QStringList{"COM1 (/dev/ttyS0)", "no frame of the kind the KR47B sends",
                       "fit 14-byte segment frames", "KR31A, KR31E, PAX-900, TS510/530 (2400 baud)",
                       "--model"}
        << QStringList{"KR31G", "other baud rate"};
    QTest::newRow("segment frames, digit model at 19200")
        << "KR31E"
        << "KR31G" << false
        << QStringList{"fit 14-byte segment frames", "KR31A, KR31E, PAX-900, TS510/530 (2400 baud)"}
        << QStringList{"19200 baud)", "other baud rate"};
    QTest::newRow("digit frames, segment model")
        << "KR31G"
        << "KR31E" << false
        << QStringList{"fit digit frames", "22-85, KR47B, KR31D (2400 baud); KR31F, KR31G (19200 baud)"}
        << QStringList{"other baud rate", "KR31A"};
    QTest::newRow("random bytes at 2400")
        << ""
        << "KR31E" << false
        << QStringList{"no frame of the kind the KR31E sends", "other baud rate",
                       "the 19200-baud models are KR31F and KR31G"}
        << QStringList{"fit"};
    QTest::newRow("random bytes at 19200")
        << ""
        << "KR31F" << false << QStringList{"reads the line at 19200 baud", "KR31F and KR31G"}
        << QStringList{"fit"};
    QTest::newRow("whole frames of the family, none readable")
        << "KR31E"
        << "KR31E" << true
        << QStringList{"frames of the kind the KR31E sends", "could not be read",
                       "KR31A, PAX-900, TS510/530 (2400 baud)"}
        << QStringList{"KR31E,", "other baud rate", "fit"};
}

void TestLineWatch::hintNamesWhatTheBytesFit() {
    QFETCH(QString, sender);
    QFETCH(QString, model);
    QFETCH(bool, blank);
    QFETCH(QStringList, words);
    QFETCH(QStringList, notWords);

    Bytes stream;
    if (sender.isEmpty()) {
        std::mt19937 rng(7);
        stream.resize(3000);
        for (auto& b : stream) b = static_cast<uint8_t>(rng());
    } else {
        stream = meterStream(qPrintable(sender), 40, blank);
    }
    Receiver rx(qPrintable(model));
    const auto t0 = LineWatch::Clock::now();
    // a poll's worth at a time, cut anywhere, the last one three seconds after the first
    for (std::size_t at = 0; at < stream.size(); at += 23) {
        const LineWatch::Clock::time_point when =
            at + 23 >= stream.size() ? t0 + 3s : t0 + std::chrono::milliseconds(at);
        rx.feed(Bytes(stream.begin() + at, stream.begin() + std::min(stream.size(), at + 23)), when);
    }
    const auto hint = rx.watch.takeHint(t0 + 3s);
    QVERIFY(hint);
    QCOMPARE(rx.watch.finalHint(), hint);
    const QString text = QString::fromStdString(*hint);
    QVERIFY2(text.contains(QString::number(stream.size()) + " bytes"), qPrintable(text));
    for (const QString& w : words) QVERIFY2(text.contains(w), qPrintable(w + " not in: " + text));
    for (const QString& w : notWords) QVERIFY2(!text.contains(w), qPrintable(w + " in: " + text));
}

void TestLineWatch::hintComesOnceAfterThreeSecondsOfBytes() {
    const Bytes wrong = meterStream("KR31E", 2);
    const auto t0 = LineWatch::Clock::now();
    Receiver rx("KR31G");
    QVERIFY(!rx.watch.takeHint(t0));  // nothing arrived yet
    rx.feed(wrong, t0);
    QVERIFY(!rx.watch.takeHint(t0 + 2900ms));
    QVERIFY(rx.watch.takeHint(t0 + 3s));
    QVERIFY(!rx.watch.takeHint(t0 + 10s));
    QVERIFY(rx.watch.finalHint());  // the end of a run says it again, whatever came before

    // a new connection watches afresh
    rx.watch.start("COM2 (/dev/ttyS1)", rx.controls);
    QCOMPARE(rx.watch.counts().bytes, uint64_t(0));
    QCOMPARE(rx.watch.finalHint(),
             std::optional<std::string>("No reading from COM2 (/dev/ttyS1): no bytes arrived."));
    rx.feed(wrong, t0 + 20s);
    QVERIFY(rx.watch.takeHint(t0 + 23s));

    // the right model: no hint, early or late, however much comes
    Receiver right("KR31E");
    right.feed(Bytes(wrong.end() - 5, wrong.end()), t0);  // a start in mid-frame
    for (int i = 0; i < 10; ++i) right.feed(meterStream("KR31E", 3), t0 + i * 1s);
    QVERIFY(!right.watch.takeHint(t0 + 10s));
    QVERIFY(!right.watch.finalHint());
    QCOMPARE(right.watch.counts().readings, uint64_t(30));
}

void TestLineWatch::countsAreThoseOfTheConnection() {
    Receiver rx("KR31G");
    const auto t = LineWatch::Clock::now();
    rx.feed(meterStream("KR31G", 3), t);  // counted before the next connection, then forgotten
    rx.watch.start("COM1 (/dev/ttyS0)", rx.controls);

    const Bytes four = meterStream("KR31G", 4);
    Bytes stream(four.begin() + 1, four.end());  // the LF that ended the last frame is there already
    const Bytes good = meterStream("KR31G", 1);
    Bytes cut(good.begin() + 1, good.begin() + 4);  // a byte lost: framing drops the frame
    cut.insert(cut.end(), good.begin() + 5, good.end());
    Bytes badRange(good.begin() + 1, good.end());
    badRange[0] = 0x3B;  // whole, but the decoder has no such range
    stream.insert(stream.end(), cut.begin(), cut.end());
    stream.insert(stream.end(), badRange.begin(), badRange.end());
    rx.feed(stream, t);

    const LineCounts c = rx.watch.counts();
    QCOMPARE(c.bytes, uint64_t(stream.size()));
    QCOMPARE(c.wholeFrames, uint64_t(5));
    QCOMPARE(c.readings, uint64_t(4));
    QCOMPARE(c.droppedFrames, uint64_t(2));
    QCOMPARE(rx.watch.summary(),
             "COM1 (/dev/ttyS0): " + std::to_string(stream.size()) + " bytes, 5 whole frames, 2 dropped");
}

QTEST_GUILESS_MAIN(TestLineWatch)
#include "tst_line_watch.moc"
