// The reading pipeline across frames: MIN/MAX, range changes, alarm, call order, failures.
#include <QTest>

#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ReadingPipeline.h"
#include "RecordingSink.h"

using E = LcdElement;

namespace {

struct Rig {
    MeterState state;
    LcdPanelModel panel;
    ControlStates controls;
    RecordingSink sink;
    MeterEngine engine{state, panel, controls, sink};

    // A reading given as display text: "-1.234", " 0.L", "  5.3" (a space is a blank position).
    bool feed(const std::string& display, const std::string& unit = "V",
              FrameFamily family = FrameFamily::Segment) {
        PipelineInput in;
        in.family = family;
        std::size_t i = 0;
        if (i < display.size() && display[i] == '-') {
            in.SignText = "-";
            ++i;
        }
        int digit = 0;
        for (; i < display.size(); ++i) {
            const char c = display[i];
            if (c == '.') {
                in.PointText[digit - 1] = ".";
            } else {
                in.DigitText[digit++] = c == ' ' ? "" : (c == 'L' ? "@" : std::string(1, c));
            }
        }
        for (int p = 0; p < 3; ++p)
            panel.setVisible(static_cast<E>(static_cast<int>(E::LcdP1) + 2 * p), !in.PointText[p].empty());
        state.UnitText = unit;
        return runReadingPipeline(in, state, panel, controls, sink);
    }
    std::string caption(E e) const { return panel.caption(e); }
};

}  // namespace

class Pipeline : public QObject {
    Q_OBJECT

private slots:
    void firstFrameClearsChartAndCountsAtOnce() {
        Rig r;
        QVERIFY(r.feed("1.234"));
        QCOMPARE(r.sink.news, 1);
        QCOMPARE(r.sink.shownSeries, std::vector<int>{0});  // Fill is on: the area series
        QCOMPARE(r.caption(E::MaxText), std::string("1.234"));
        QCOMPARE(r.caption(E::MinText), std::string("1.234"));
        QCOMPARE(r.caption(E::MaxTextU), std::string("V"));

        QVERIFY(r.feed("1.234"));
        QCOMPARE(r.sink.news, 1);
        QVERIFY(r.feed("1.500"));
        QVERIFY(r.feed("0.900"));
        QCOMPARE(r.caption(E::MaxText), std::string("1.500"));
        QCOMPARE(r.caption(E::MinText), std::string("0.900"));
        QCOMPARE(r.caption(E::LcdDa), std::string("0"));
        QCOMPARE(r.caption(E::LcdDd), std::string("0"));
    }

    // After a change of unit or decimal point MIN/MAX start from the reading that brought the
    // change: no text of the old range is shown under the new unit, and the first reading of the
    // new range takes part.
    void unitOrPointChangeRearmsMinMax() {
        Rig r;
        r.controls.BtFill = false;
        r.feed("120.1", "Hz");
        r.feed("120.3", "Hz");
        r.feed("1.200", "kHz");  // other unit and point
        QCOMPARE(r.sink.news, 2);
        QCOMPARE(r.sink.shownSeries, (std::vector<int>{1, 1}));  // Fill off: the line series
        QCOMPARE(r.caption(E::MaxText), std::string("1.200"));
        QCOMPARE(r.caption(E::MinText), std::string("1.200"));
        QCOMPARE(r.caption(E::MaxTextU), std::string("kHz"));
        r.feed("1.300", "kHz");
        QCOMPARE(r.caption(E::MaxText), std::string("1.300"));
        QCOMPARE(r.caption(E::MinText), std::string("1.200"));

        r.feed("12.00", "Hz");  // point and unit move
        QCOMPARE(r.sink.news, 3);
        QCOMPARE(r.state.LastDpPos, 2);
        QCOMPARE(r.state.LastUnitText, std::string("Hz"));
        r.feed("12.01", "Hz");
        QCOMPARE(r.caption(E::MaxText), std::string("12.01"));
        QCOMPARE(r.caption(E::MinText), std::string("12.00"));
        r.feed("12.01", "mHz");  // unit alone
        QCOMPARE(r.sink.news, 4);
        QCOMPARE(r.caption(E::MinText), std::string("12.01"));
    }

    // A digit-frame overload lies one count beyond full scale and still counts after a change.
    void digitFamilyRearmsOutsideFullScale() {
        Rig r;
        r.feed("1234", "V", FrameFamily::Digit);
        r.feed(" .0L ", "mV", FrameFamily::Digit);
        QCOMPARE(r.state.ValueText, std::string(".0L"));
        QCOMPARE(r.state.NumericValue, 4001.0f);
        QCOMPARE(r.caption(E::MaxText), std::string(".0L"));
        QCOMPARE(r.caption(E::MinText), std::string(".0L"));
        QCOMPARE(r.sink.points.back().second, 4000.0);
        r.feed("- .0L ", "V", FrameFamily::Digit);
        QCOMPARE(r.state.NumericValue, -4001.0f);
        QCOMPARE(r.caption(E::MinText), std::string("-.0L"));
    }

    void alarmIsStrictAndNeedsItsBox() {
        Rig r;
        r.state.MaxLimit = 1234;
        r.state.MinLimit = -50;
        r.feed("1.234");
        r.feed("1.235");
        QCOMPARE(r.sink.beeps, 0);  // not armed
        QVERIFY(!r.panel.visible(E::oltext));
        r.controls.SetMaxB = true;
        r.feed("1.234");
        QCOMPARE(r.sink.beeps, 0);  // equal is no alarm
        r.feed("1.235");
        QCOMPARE(r.sink.beeps, 1);
        QVERIFY(r.panel.visible(E::oltext));
        r.feed("1.236");
        QCOMPARE(r.sink.beeps, 2);  // beeps on every frame while beyond
        r.controls.SetMinB = true;
        r.feed("-0.050");
        QVERIFY(!r.panel.visible(E::oltext));
        r.feed("-0.051");
        QCOMPARE(r.sink.beeps, 3);
        QVERIFY(r.panel.visible(E::oltext));
    }

    void callOrderAndFollow() {
        Rig r;
        r.feed("1.234");
        r.sink.calls.clear();
        r.feed("1.234");
        QCOMPARE(r.sink.calls, (std::vector<std::string>{"movePointer", "recordReading", "bar", "point1",
                                                         "follow", "point2"}));
        r.state.ChartFollow = 0;
        r.sink.calls.clear();
        r.feed("1.234");
        QCOMPARE(r.sink.calls,
                 (std::vector<std::string>{"movePointer", "recordReading", "bar", "point1", "point2"}));
    }

    void rightmostPointWins() {
        Rig r;
        r.feed("1.23.4");
        QCOMPARE(r.state.LastDpPos, 3);
        QCOMPARE(r.state.NumericValue, 1234.0f);
    }

    void scaleBarAndChartPositions_data() {
        QTest::addColumn<QString>("display");
        QTest::addColumn<int>("scale");
        QTest::addColumn<int>("bar");
        QTest::addColumn<double>("chart");
        QTest::newRow("-3999") << "-3999" << 1 << 39 << -3999.0;
        QTest::newRow("zero") << "0000" << 400 << 1 << 0.0;
        QTest::newRow("3.999") << "3.999" << 799 << 39 << 3999.0;
        QTest::newRow("-0.5 truncates toward zero") << "-0005" << 400 << 1 << -5.0;
        QTest::newRow("overload") << " 0.L " << 800 << 40 << 4000.0;
        QTest::newRow("negative overload") << "- 0.L " << 0 << 40 << -4000.0;
        QTest::newRow("three digits") << "056 " << 456 << 5 << 56.0;
    }
    void scaleBarAndChartPositions() {
        QFETCH(QString, display);
        QFETCH(int, scale);
        QFETCH(int, bar);
        QFETCH(double, chart);
        Rig r;
        QVERIFY(r.feed(display.toStdString()));
        QCOMPARE(r.sink.kdrun.back(), scale);
        QCOMPARE(r.sink.bar.back(), bar);
        QCOMPARE(r.sink.points.back().second, chart);
    }

    // A frame that is not a number stops after the value text: nothing is shown, stored or plotted.
    void failedFrameKeepsEarlierSteps() {
        Rig r;
        r.feed("1.234");
        r.sink.calls.clear();
        QVERIFY(!r.feed("1. 34"));
        QCOMPARE(r.state.ValueText, std::string("1.34"));
        QCOMPARE(r.state.DroppedFrames, 1u);
        QVERIFY(r.sink.calls.empty());
        QCOMPARE(r.caption(E::LcdDb), std::string("2"));
        QVERIFY(r.feed("1.111"));  // the next frame goes on normally
        QCOMPARE(r.state.NumericValue, 1111.0f);
    }

    void frequencyModeSetsUpScaleOnlyOnChange() {
        Rig r;
        // hertz bit set, then again, then clear
        const std::string hz = "43E7DFD7D20020";
        const std::string volts = "43E7DFD7D00040";
        r.engine.LcdDisplay31B(hz);
        r.engine.LcdDisplay31B(hz);
        QCOMPARE(r.sink.kdsetups, 1);
        QCOMPARE(r.sink.axes.back(), std::make_pair(5000.0, -5000.0));
        r.engine.LcdDisplay31B(volts);
        QCOMPARE(r.sink.kdsetups, 2);
        QCOMPARE(r.sink.axes.back(), std::make_pair(4000.0, -4000.0));
        QCOMPARE(r.state.FreqMode, uint8_t(0));
    }

    void trueRmsMarkFollowsAcOnlyForItsModel() {
        Rig r;
        r.controls.model[IFKR31E] = false;
        r.engine.LcdDisplay31B("A7DFD7D7D00040");  // AC
        QVERIFY(r.panel.visible(E::LcdAC));
        QVERIFY(!r.panel.visible(E::LCDTRMS));
        r.controls.model[IFKR31E] = true;
        r.engine.LcdDisplay31B("A7DFD7D7D00040");
        QVERIFY(r.panel.visible(E::LCDTRMS));
        QVERIFY(r.panel.visible(E::LCDTRMST));
    }
};

QTEST_GUILESS_MAIN(Pipeline)
#include "tst_pipeline.moc"
