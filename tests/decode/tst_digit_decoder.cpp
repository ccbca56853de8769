// Digit frames that the golden data cannot express: frames that cannot be completed, what such a
// frame leaves behind, malformed frame texts, and what the decoder hands to the pipeline.
#include <QTest>

#include "DigitDecoder.h"
#include "tst_digit_meter.h"

namespace {

using E = LcdElement;

// Elements a function lights directly; a frame of another function must switch them all off.
const E kFunctionElements[] = {E::LcdV,  E::LCDohm, E::LcdRPM, E::LCDHz, E::LCDCS,
                               E::LCDFS, E::LCDFm,  E::LCDDI,  E::LCDF,  E::LCDu};

}  // namespace

class DigitDecoderTest : public QObject {
    Q_OBJECT

private slots:
    void badRangeNibble_data() {
        QTest::addColumn<QString>("models");
        QTest::addColumn<QString>("frame");
        QTest::addColumn<int>("litBeforeRange");
        QTest::newRow("voltage") << "KR47B"
                                 << "AC1234B004D" << int(E::LcdV);
        QTest::newRow("variant voltage") << "KR47B+IF7263x"
                                         << "AF1234B004D" << int(E::LcdV);
        QTest::newRow("microampere") << "KR47B"
                                     << "AA1234D004D" << int(E::LcdAC);
        QTest::newRow("milliampere") << "KR47B"
                                     << "AB12349004D" << int(E::LcdAC);
        QTest::newRow("variant milliampere") << "KR47B+IF7263x"
                                             << "AD1234F004D" << int(E::LcdAC);
        QTest::newRow("resistance") << "KR31D"
                                    << "AE12343004D" << int(E::LCDohm);
        QTest::newRow("frequency") << "KR31F"
                                   << "AA12342004D" << int(E::LCDHz);
        QTest::newRow("rpm") << "KR47B"
                             << "AA12342804D" << int(E::LcdRPM);
        QTest::newRow("capacitance") << "KR47B"
                                     << "AC12346004D" << int(E::LCDF);
        QTest::newRow("override on diode") << "KR47B"
                                           << "AC12341014D" << int(E::LCDHz);
    }

    // A range the meter never sends: the frame is counted as dropped, the panel keeps what was set
    // before the range was read, and nothing of the frame reaches digits, scale, record or chart.
    void badRangeNibble() {
        QFETCH(QString, models);
        QFETCH(QString, frame);
        QFETCH(int, litBeforeRange);
        DigitMeter m(models);
        QVERIFY(m.feed("A05678B000D"));
        const std::string valueBefore = m.state.ValueText;
        m.sink = DigitTraceSink();
        m.state.LinkIdleTicks = 7;

        QVERIFY(!m.feed(frame.toLatin1().constData()));
        QCOMPARE(m.state.DroppedFrames, 1u);
        QCOMPARE(m.state.LinkIdleTicks, 0);
        QVERIFY(m.panel.visible(E::CONok));
        QVERIFY(m.panel.visible(E::LcdAC));
        QVERIFY(m.panel.visible(static_cast<E>(litBeforeRange)));
        QCOMPARE(m.sink.trace.size(), 1u);
        QCOMPARE(m.caption(E::LcdDa) + m.caption(E::LcdDb) + m.caption(E::LcdDc) + m.caption(E::LcdDd),
                 QStringLiteral("5678"));
        QCOMPARE(m.state.ValueText, valueBefore);
        QVERIFY(m.sink.calls.empty());

        // The next good frame is decoded as if nothing had happened.
        QVERIFY(m.feed("A21234B000D"));
        QCOMPARE(m.caption(E::LcdDa), QStringLiteral("1"));
        QCOMPARE(m.sink.records, 1);
    }

    // Functions that do not depend on the range accept any range nibble.
    void functionsWithoutRange() {
        for (const char* models : {"KR47B", "KR47B+IF7263x"}) {
            DigitMeter m(models);
            const QString functions = m.controls.checked(IF7263x) ? "9451078ACE" : "F451078ACE";
            for (QChar function : functions) {
                for (char range : QByteArray("0ABCDEF")) {
                    const QString frame = QStringLiteral("A") + QChar(range) + "1234" + function + "000D";
                    QVERIFY2(m.feed(frame.toLatin1().constData()), qPrintable(models + (" " + frame)));
                }
            }
            QCOMPARE(m.state.DroppedFrames, 0u);
        }
    }

    // A digit that is not a decimal digit reaches the value text, then the number cannot be formed.
    void digitThatIsNoNumber() {
        DigitMeter m;
        QVERIFY(m.feed("A15678B000D"));
        m.sink = DigitTraceSink();
        QVERIFY(!m.feed("A11C34B000D"));
        QCOMPARE(QString::fromStdString(m.state.ValueText), QStringLiteral("1.C34"));
        QCOMPARE(m.state.DroppedFrames, 1u);
        QCOMPARE(m.sink.records, 0);
        QCOMPARE(m.caption(E::LcdDb), QStringLiteral("6"));

        // On overload the digits under the "0L" are not read, so the frame completes.
        QVERIFY(m.feed("A1F234B100D"));
        QCOMPARE(QString::fromStdString(m.state.ValueText), QStringLiteral(".0L"));
        QCOMPARE(m.state.NumericValue, 4001.0f);
    }

    // Texts the assembler never passes are refused before anything on the panel changes.
    void malformedFrameText() {
        DigitMeter m;
        m.state.LinkIdleTicks = 3;
        const char* frames[] = {"",           "A", "A11234B000", "A11234b000D", "A1123 B000D", "A11234B00GD",
                                "a11234B000D"};
        for (const char* f : frames) QVERIFY2(!m.feed(f), f);
        QCOMPARE(m.state.DroppedFrames, std::size(frames));
        QVERIFY(!m.panel.visible(E::CONok));
        QVERIFY(m.panel.visible(E::CONokN));
        QCOMPARE(m.state.LinkIdleTicks, 3);
        QVERIFY(m.sink.trace.empty());
        QVERIFY(m.sink.calls.empty());
        const LcdPanelModel fresh;
        for (int i = 0; i < kLcdElementCount; ++i) {
            const auto e = static_cast<E>(i);
            QCOMPARE(m.panel.visible(e), fresh.visible(e));
            QCOMPARE(m.panel.caption(e), fresh.caption(e));
        }

        // A NUL inside the first eleven characters is no hexadecimal digit either.
        QVERIFY(!m.engine.LcdDisplay47B(std::string_view("A1123\0B000D", 11)));
        // Past the eleventh character anything goes; the trace keeps the frame as received.
        QVERIFY(m.engine.LcdDisplay47B(std::string_view("A11234B000D\0zz", 14)));
        QCOMPARE(m.sink.trace.back(), std::string("A11234B000D\0zz", 14));
    }

    // Each accepted frame resets the link watchdog and is traced once, as received.
    void watchdogAndTrace() {
        DigitMeter m;
        for (const char* f : {"A11234B000D", "A11234B000D5D", "AA1234B000D"}) {
            m.state.LinkIdleTicks = 12;
            m.panel.show(E::CONokN);
            m.feed(f);
            QCOMPARE(m.state.LinkIdleTicks, 0);
            QVERIFY(m.panel.visible(E::CONok));
            QVERIFY(!m.panel.visible(E::CONokN));
            QCOMPARE(m.sink.trace.back(), std::string(f));
        }
        QCOMPARE(m.sink.trace.size(), 3u);
    }

    // A frame of an unknown function switches off whatever the previous function had lit.
    void unknownFunctionClearsAnnunciators() {
        const char* frames[] = {"A11234B000D", "A11234D000D", "A112343000D", "A112342000D",
                                "A112342800D", "A112344800D", "A112344000D", "A112345000D",
                                "A112341000D", "A112346000D", "A11234B010D"};
        for (const char* models : {"KR47B", "KR31D", "KR47B+IF7263x"}) {
            for (const char* f : frames) {
                DigitMeter m(models);
                m.feed(f);
                QVERIFY(m.feed("A112340000D"));
                for (E e : kFunctionElements) {
                    QVERIFY2(!m.panel.visible(e),
                             qPrintable(QString("%1 %2 after %3").arg(models, LcdPanelModel::name(e), f)));
                }
                QVERIFY(m.state.UnitText.empty());
                QVERIFY(!m.panel.visible(E::LcdP1) && !m.panel.visible(E::LcdP2) &&
                        !m.panel.visible(E::LcdP3));
                QCOMPARE(QString::fromStdString(m.state.ValueText), QStringLiteral("1234"));
            }
        }
    }

    // What the pipeline receives for one frame, read without running the pipeline.
    void pipelineInput() {
        MeterState state;
        LcdPanelModel panel;
        ControlStates controls;
        controls.model = {};
        controls.model[IFKR47B] = true;
        DigitTraceSink sink;
        PipelineInput in;

        QVERIFY(decodeDigitFrame("A000121400D", state, panel, controls, sink, in));
        QCOMPARE(in.family, FrameFamily::Digit);
        QCOMPARE(in.functionNibble, '1');
        QCOMPARE(in.SignText, std::string("-"));
        QCOMPARE(in.DigitText, (std::array<std::string, 4>{"0", "0", "1", "2"}));
        QCOMPARE(in.PointText, (std::array<std::string, 3>{".", "", ""}));
        QVERIFY(in.applyBlanking);
        QCOMPARE(in.hideDigit, (std::array<bool, 4>{}));

        // Nothing of the previous frame is carried over.
        QVERIFY(decodeDigitFrame("A000023000D", state, panel, controls, sink, in));
        QCOMPARE(in.SignText, std::string());
        QCOMPARE(in.PointText, (std::array<std::string, 3>{"", "", "."}));
        QCOMPARE(in.hideDigit, (std::array<bool, 4>{true, true, false, false}));
        QCOMPARE(in.functionNibble, '3');
    }

    // The bar reads full scale at overload, except in the diode function where it stops at 25.
    void overloadBar() {
        DigitMeter m("KR31D");
        QVERIFY(m.feed("A00000B100D"));
        QVERIFY(m.feed("A000001100D"));
        QVERIFY(m.feed("A000001500D"));
        QVERIFY(m.feed("A005621000D"));
        QCOMPARE(m.sink.bar, (std::vector<int>{34, 25, 25, 5}));
        QCOMPARE(m.sink.kdrun, (std::vector<int>{680, 680, 0, 340 + 56}));
    }
};

QTEST_GUILESS_MAIN(DigitDecoderTest)
#include "tst_digit_decoder.moc"
