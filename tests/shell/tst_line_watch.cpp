// What the line watch counts and what its hint names, for the cases a window test cannot reach
// easily: random bytes, frames of the right kind that cannot be read, the wait of three seconds.
#include <QTest>
#include <random>

#include "FrameEncoder.h"
#include "HeadlessRunner.h"
#include "LineWatch.h"
#include "MeterEngine.h"

using namespace dmmsim;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

namespace {

// One model's receive path, as the window and the headless run build it, with its watch.
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

    explicit Receiver(const std::string& model) {
        AppOptions o;
        o.model = model;
        applyModelOptions(o, controls);
        prepareMeterState(controls, state);
        watch.start("COM1 (/dev/ttyS0)", controls);
    }
    void feed(const Bytes& b, LineWatch::Clock::time_point at) {
        const auto n = static_cast<int32_t>(b.size());
        if (state.family == FrameFamily::Segment) segment.H31BRData(b.data(), n);
        else digit.H47BRData(b.data(), n);
        watch.received(b.data(), n, at);
    }
};

}  // namespace

class TestLineWatch : public QObject {
    Q_OBJECT

private slots:
    void hintAfterThreeSecondsNamesWhatFits_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("stream");  // "random", "blank" (whole KR31E frames, no digits), "KR31G"
        QTest::addColumn<QString>("words");
        QTest::newRow("random bytes") << "KR31E" << "random"
                                      << "other baud rate|the 19200-baud models are KR31F and KR31G";
        QTest::newRow("blank frames") << "KR31E" << "blank"
                                      << "could not be read|KR31A, PAX-900, TS510/530 (2400 baud)";
        QTest::newRow("digit frames") << "KR31E" << "KR31G"
                                      << "fit digit|22-85, KR47B, KR31D (2400 baud); KR31F, KR31G (19200";
    }
    void hintAfterThreeSecondsNamesWhatFits() {
        QFETCH(QString, model);
        QFETCH(QString, stream);
        QFETCH(QString, words);
        Bytes bytes(1500);
        std::mt19937 rng(7);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        if (stream != "random") {
            const auto sim = simModelFor(stream == "blank" ? "KR31E" : stream.toStdString(), false);
            SimReading r = fitReading(*sim, SimFunction::Volts, 1.5, Coupling::Dc);
            if (stream == "blank") r.digits = {' ', ' ', ' ', ' '};
            bytes = sim->family == FrameFamily::Digit ? Bytes{kDigitFrameLead} : Bytes{};
            for (int i = 0; i < 20; ++i) {
                const Bytes f = encodeFrame(*sim, r);
                bytes.insert(bytes.end(), f.begin(), f.end());
            }
        }
        Receiver rx(model.toStdString());
        const auto t0 = LineWatch::Clock::now();
        const std::size_t half = bytes.size() / 2;
        rx.feed(Bytes(bytes.begin(), bytes.begin() + half), t0);
        QVERIFY(!rx.watch.takeHint(t0 + 2900ms));
        rx.feed(Bytes(bytes.begin() + half, bytes.end()), t0 + 3s);
        const auto hint = rx.watch.takeHint(t0 + 3s);
        QVERIFY(hint);
        QVERIFY(!rx.watch.takeHint(t0 + 9s));  // once
        const QString text = QString::fromStdString(*hint);
        QVERIFY2(text.startsWith(QStringLiteral("No reading from COM1 (/dev/ttyS0): %1 bytes").arg(bytes.size())),
                 qPrintable(text));
        for (const QString& w : words.split('|')) QVERIFY2(text.contains(w), qPrintable(w + " not in: " + text));
        if (stream == "blank") {
            QCOMPARE(rx.watch.summary(),
                     "COM1 (/dev/ttyS0): " + std::to_string(bytes.size()) + " bytes, 20 whole frames, 20 dropped");
        }

        // a new connection counts afresh
        rx.watch.start("COM2 (/dev/ttyS1)", rx.controls);
        QCOMPARE(rx.watch.finalHint(), std::optional<std::string>("No reading from COM2 (/dev/ttyS1): no bytes arrived."));
    }
};

QTEST_GUILESS_MAIN(TestLineWatch)
#include "tst_line_watch.moc"
