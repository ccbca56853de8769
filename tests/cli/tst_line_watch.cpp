// The hint a run that decoded nothing ends with, for streams of each kind read with the wrong
// model: it names what the bytes fit, or the other baud rate, or says that nothing came.
#include <QTest>
#include <random>
#include <sstream>

#include "FrameEncoder.h"
#include "HeadlessRunner.h"
#include "ReadingPace.h"

using namespace dmmsim;

class TestLineWatch : public QObject {
    Q_OBJECT

private slots:
    // The reading goes stale once the line stays quiet for three of the meter's usual intervals,
    // never sooner than 1.5 s; a pause or a burst among them does not move that.
    void readingGoesStaleAfterTheMetersPace_data() {
        QTest::addColumn<QList<int>>("intervalsMs");
        QTest::addColumn<int>("freshUntilMs");  // quiet after the last frame still fresh; 1 ms more is stale
        QTest::newRow("line rate, many frames a chunk") << QList<int>{0, 0, 6, 0, 0, 50, 0} << 1500;
        QTest::newRow("three a second") << QList<int>{330, 340, 320, 330} << 1500;
        QTest::newRow("two a second") << QList<int>{500, 500, 500} << 1500;
        QTest::newRow("one every 5 s") << QList<int>{5000, 5000, 5000} << 15000;
        QTest::newRow("a pause among them") << QList<int>{330, 330, 60000, 330, 330} << 1500;
        QTest::newRow("one long of three") << QList<int>{500, 500, 5000} << 1500;
        QTest::newRow("one short of three") << QList<int>{500, 5000, 5000} << 15000;
        QTest::newRow("the oldest forgotten")
            << QList<int>{5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 5000, 400, 400, 400, 400, 400, 400}
            << 1500;
    }
    void readingGoesStaleAfterTheMetersPace() {
        QFETCH(QList<int>, intervalsMs);
        QFETCH(int, freshUntilMs);
        using namespace std::chrono;
        ReadingPace pace;
        ReadingPace::Clock::time_point t{};
        QVERIFY(!pace.stale(t + hours(1)));  // never connected: the start state is no stale reading
        pace.connected(t);
        QVERIFY(!pace.stale(t + milliseconds(1500)) && pace.stale(t + milliseconds(1501)));  // nothing came
        t += seconds(20);  // the wait for the first frame is no interval
        pace.wholeFrame(t);
        for (int ms : intervalsMs) pace.wholeFrame(t += milliseconds(ms));
        QVERIFY(!pace.stale(t + milliseconds(freshUntilMs)));
        QVERIFY(pace.stale(t + milliseconds(freshUntilMs + 1)));
        pace.disconnected();
        QVERIFY(pace.stale(t));
        pace.connected(t);
        QVERIFY(!pace.stale(t + milliseconds(100)));
    }

    void hintNamesWhatTheBytesFit_data() {
        // the bytes: a meter model's frames, "blank" (KR31E frames without digits), "random", or none
        QTest::addColumn<QString>("stream");
        QTest::addColumn<QString>("model");
        QTest::addColumn<QString>("words");
        QTest::newRow("segment into digit") << "KR31E"
                                            << "KR47B"
                                            << "fit 14-byte|KR31A, KR31E, PAX-900, TS510/530 (2400";
        QTest::newRow("digit into segment") << "KR31G"
                                            << "KR31E"
                                            << "fit digit|KR47B, KR31D (2400 baud); KR31F, KR31G (19200";
        QTest::newRow("random bytes") << "random"
                                      << "KR31E"
                                      << "other baud rate|19200-baud models are KR31F and KR31G";
        QTest::newRow("unreadable frames") << "blank"
                                           << "KR31E"
                                           << "20 frames of the kind|KR31A, PAX-900, TS510/530 (2400";
        QTest::newRow("nothing") << ""
                                 << "KR31E"
                                 << "No reading from standard input: no bytes arrived.";
        QTest::newRow("right model") << "KR31G"
                                     << "KR31G"
                                     << "";
    }
    void hintNamesWhatTheBytesFit() {
        QFETCH(QString, stream);
        QFETCH(QString, model);
        QFETCH(QString, words);
        std::string bytes(stream == "random" ? 1500 : 0, '\0');
        std::mt19937 rng(7);
        for (char& c : bytes) c = static_cast<char>(rng());
        if (stream != "random" && !stream.isEmpty()) {
            const auto sim = simModelFor(stream == "blank" ? "KR31E" : stream.toStdString(), false);
            SimReading r = fitReading(*sim, SimFunction::Volts, 1.5, Coupling::Dc);
            if (stream == "blank") r.digits = {' ', ' ', ' ', ' '};
            if (sim->family == FrameFamily::Digit) bytes += char(kDigitFrameLead);
            for (int i = 0; i < 20; ++i) {
                for (uint8_t b : encodeFrame(*sim, r)) bytes += char(b);
            }
        }
        AppOptions options = parseOptions({"--decode", "-", "--model", model.toStdString()}).options;
        std::istringstream in(bytes);
        std::ostringstream out, err;
        QCOMPARE(runHeadless(options, in, out, err),
                 words.isEmpty() ? ExitCode::Success : ExitCode::Failed);  // nothing decoded fails
        const QString text = QString::fromStdString(err.str());
        QCOMPARE(text.count('\n'), words.isEmpty() ? 1 : 2);  // one message, or none; then the counts
        if (words.isEmpty()) return;
        if (!bytes.empty()) {
            const QString start =
                QStringLiteral("No reading from standard input: %1 bytes").arg(bytes.size());
            QVERIFY2(text.startsWith(start), qPrintable(text));
        }
        for (const QString& w : words.split('|'))
            QVERIFY2(text.contains(w), qPrintable(w + " not in: " + text));
    }
};

QTEST_GUILESS_MAIN(TestLineWatch)
#include "tst_line_watch.moc"
