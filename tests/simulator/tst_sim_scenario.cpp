// Scenario streams and the choice of range: every frame a scenario calls whole must reach the
// program whole and as the reading it carries, every damaged one must be dropped, and the same
// seed must give the same stream.

#include <QtTest>
#include <map>
#include <set>

#include "FrameEncoder.h"
#include "Scenario.h"
#include "tst_sim_receiver.h"

using namespace dmmsim;

namespace {

SimModel modelOf(const char* caption, bool variant = false) {
    const auto m = simModelFor(caption, variant);
    if (!m) qFatal("no model %s", caption);
    return *m;
}

struct StreamResult {
    std::vector<Emission> emissions;
    std::vector<Decoded> decoded;
};

StreamResult runThroughReceiver(const SimModel& m, const ScenarioOptions& options, int pieces) {
    ScenarioStream stream(m, options);
    SimReceiver rx(m);
    StreamResult out;
    for (int i = 0; i < pieces; ++i) {
        out.emissions.push_back(stream.next());
        rx.feed(out.emissions.back().bytes);
    }
    out.decoded = rx.decoded();
    return out;
}

// The frames that must arrive, in order, and that each arrived as sent.
void verifyArrivals(const SimModel& m, const StreamResult& r) {
    std::vector<const Emission*> whole;
    for (const auto& e : r.emissions) {
        if (e.whole) whole.push_back(&e);
    }
    QCOMPARE(r.decoded.size(), whole.size());
    for (std::size_t i = 0; i < whole.size(); ++i) {
        const Decoded& d = r.decoded[i];
        QCOMPARE(d.frameHex, frameHexOf(m, whole[i]->bytes));
        QVERIFY2(d.complete, d.frameHex.c_str());
        QCOMPARE(d.valueText, whole[i]->reading->text());
    }
}

}  // namespace

class TstSimScenario : public QObject {
    Q_OBJECT

private slots:
    void everyScenarioDecodesOnEveryModel();
    void noiseDamagesOnlyTheFramesItMarks_data();
    void noiseDamagesOnlyTheFramesItMarks();
    void noiseFollowsItsSeed();
    void scenarioShapes();
    void rangeChoice();
    void namesAndChecks();
};

void TstSimScenario::everyScenarioDecodesOnEveryModel() {
    for (const auto& p : modelProfiles()) {
        for (bool variant : {false, true}) {
            if (variant && p.family != FrameFamily::Digit) continue;
            const SimModel m = modelOf(p.caption, variant);
            for (ScenarioKind k : {ScenarioKind::Steady, ScenarioKind::Ramp, ScenarioKind::Sine,
                                   ScenarioKind::Cycle, ScenarioKind::Overload}) {
                ScenarioOptions o;
                o.kind = k;
                const StreamResult r = runThroughReceiver(m, o, 240);
                for (const auto& e : r.emissions) QVERIFY(e.damage == Damage::None);
                // a digit stream opens with the LF that makes its first frame whole
                QCOMPARE(r.emissions.front().reading.has_value(), m.family == FrameFamily::Segment);
                verifyArrivals(m, r);
                if (QTest::currentTestFailed()) qWarning("%s %s", p.caption, scenarioName(k));
            }
        }
    }
}

void TstSimScenario::noiseDamagesOnlyTheFramesItMarks_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<quint64>("seed");
    QTest::newRow("segment") << "KR31E" << quint64(1);
    QTest::newRow("segment other seed") << "TS510/530" << quint64(99);
    QTest::newRow("digit") << "22-85" << quint64(1);
    QTest::newRow("digit 19200") << "KR31G" << quint64(7);
}

void TstSimScenario::noiseDamagesOnlyTheFramesItMarks() {
    QFETCH(QString, model);
    QFETCH(quint64, seed);
    const SimModel m = modelOf(model.toUtf8().constData());
    ScenarioOptions o;
    o.kind = ScenarioKind::Noise;
    o.seed = seed;
    const StreamResult r = runThroughReceiver(m, o, 600);
    verifyArrivals(m, r);

    std::map<Damage, int> kinds;
    int damaged = 0;
    for (const auto& e : r.emissions) {
        ++kinds[e.damage];
        if (!e.whole) ++damaged;
    }
    QCOMPARE(r.emissions.front().damage, Damage::MidFrameStart);
    for (Damage d : {Damage::LostByte, Damage::ExtraByte, Damage::CorruptByte, Damage::StrayEndByte,
                     Damage::MidFrameStart, Damage::AfterDamage}) {
        QVERIFY2(kinds[d] > 0, damageName(d));
    }
    // a damaged stream that still carries most of its frames
    QVERIFY(damaged > 600 / 10);
    QVERIFY(damaged < 600 / 2);
}

void TstSimScenario::noiseFollowsItsSeed() {
    const SimModel m = modelOf("KR47B");
    auto bytesOf = [&](uint64_t seed) {
        ScenarioOptions o;
        o.kind = ScenarioKind::Noise;
        o.seed = seed;
        ScenarioStream s(m, o);
        std::vector<uint8_t> all;
        for (int i = 0; i < 300; ++i) {
            const auto e = s.next();
            all.insert(all.end(), e.bytes.begin(), e.bytes.end());
        }
        return all;
    };
    QCOMPARE(bytesOf(5), bytesOf(5));
    QVERIFY(bytesOf(5) != bytesOf(6));
    // the readings underneath do not depend on the seed, only the damage does
    SimRandom a(42), b(42);
    for (int i = 0; i < 100; ++i) QCOMPARE(a.next(), b.next());
}

void TstSimScenario::scenarioShapes() {
    const SimModel m = modelOf("KR31E");
    auto readings = [&](ScenarioKind k, int n, std::optional<SimFunction> f = std::nullopt) {
        ScenarioOptions o;
        o.kind = k;
        o.function = f;
        ScenarioStream s(m, o);
        std::vector<SimReading> out;
        while (static_cast<int>(out.size()) < n) {
            const auto e = s.next();
            if (e.reading) out.push_back(*e.reading);
        }
        return out;
    };

    const auto steady = readings(ScenarioKind::Steady, 5);
    QCOMPARE(steady.front().text(), std::string("1.234"));
    for (const auto& r : steady) QVERIFY(r == steady.front());

    // the ramp crosses zero, so auto range takes it down into millivolts and back up
    std::set<int> rampRanges;
    bool rampNegative = false;
    for (const auto& r : readings(ScenarioKind::Ramp, 200)) {
        rampRanges.insert(r.rangeCode);
        rampNegative = rampNegative || r.negative;
        QVERIFY(r.autoRange);
        QVERIFY(!r.overload);
    }
    QVERIFY(rampRanges.size() >= 2);
    QVERIFY(rampNegative);

    // the sine stays on one range and swings both ways
    const auto sine = readings(ScenarioKind::Sine, 64);
    int up = 0, down = 0;
    for (const auto& r : sine) {
        QCOMPARE(r.rangeCode, sine.front().rangeCode);
        QVERIFY(!r.autoRange);
        (r.negative ? down : up)++;
    }
    QVERIFY(up > 20 && down > 20);

    int plusOverload = 0, minusOverload = 0;
    for (const auto& r : readings(ScenarioKind::Overload, 16)) {
        if (r.overload) (r.negative ? minusOverload : plusOverload)++;
    }
    QCOMPARE(plusOverload, 4);
    QCOMPARE(minusOverload, 2);
    // without a sign the overloads are all positive
    for (const auto& r : readings(ScenarioKind::Overload, 8, SimFunction::Ohms)) QVERIFY(!r.negative);

    // the cycle visits every range of every function, volts both DC and AC
    std::set<std::tuple<SimFunction, Coupling, int>> seen;
    for (const auto& r : readings(ScenarioKind::Cycle, 400))
        seen.insert({r.function, r.coupling, r.rangeCode});
    std::size_t expected = 0;
    for (SimFunction f : functionsOf(m))
        expected += rangesFor(m, f).size() * (f == SimFunction::Volts ? 2 : 1);
    QCOMPARE(seen.size(), expected);
}

void TstSimScenario::rangeChoice() {
    const SimModel seg = modelOf("KR31E");
    const SimModel d4000 = modelOf("KR47B");
    const SimModel d6000 = modelOf("KR31G");
    const SimModel d3400 = modelOf("KR31D");
    auto text = [](const SimModel& m, double v, SimFunction f = SimFunction::Volts,
                   Coupling c = Coupling::Dc) { return fitReading(m, f, v, c).text(); };
    // the last count of a range, and the value that rounds past it
    QCOMPARE(text(d4000, 3.9994), std::string("3.999"));
    QCOMPARE(text(d4000, 3.9996), std::string("04.00"));
    QCOMPARE(text(seg, 3.9996), std::string("4.00"));
    QCOMPARE(text(d6000, 5.999), std::string("5.999"));
    QCOMPARE(text(d3400, 3.399), std::string("3.399"));
    QCOMPARE(text(d3400, 3.4), std::string("03.40"));
    // beyond the top range: overload at that range's point
    QCOMPARE(text(d4000, 5000.0), std::string("0L"));
    QVERIFY(fitReading(d4000, SimFunction::Volts, 5000.0, Coupling::Dc).overload);
    // AC and functions without a sign show magnitudes; a reading that rounds to zero has no sign
    QCOMPARE(text(seg, -1.5, SimFunction::Volts, Coupling::Ac), std::string("1.500"));
    QCOMPARE(text(seg, -100.0, SimFunction::Ohms), std::string("100.0"));
    QCOMPARE(text(d4000, -0.00001), std::string("000.0"));
    // what the reading means in base units
    QVERIFY(
        qFuzzyCompare(*fitReading(d4000, SimFunction::Capacitance, 4.7e-6, Coupling::None).value(), 4.7e-6));
    const SimReading diode = fitReading(modelOf("22-85", true), SimFunction::Diode, 0.562, Coupling::None);
    QCOMPARE(diode.text(), std::string("0.56"));
    QCOMPARE(*diode.counts(), 56);
    QVERIFY(qFuzzyCompare(*diode.value(), 0.56));
}

void TstSimScenario::namesAndChecks() {
    QCOMPARE(scenarioByName("noise"), std::optional<ScenarioKind>(ScenarioKind::Noise));
    QVERIFY(!scenarioByName("Noise"));
    QCOMPARE(functionByName("vac"), std::optional<SimFunction>(SimFunction::Volts));

    std::string error;
    QVERIFY(!simModelFor("KR99", false, &error));
    QVERIFY(error.find("KR31E") != std::string::npos);
    QVERIFY(!simModelFor("KR31E", true, &error));  // segment meters have no variant coding
    const SimModel g = modelOf("KR31G");
    QCOMPARE(g.baud, 19200);
    QCOMPARE(g.fullScale, 6000);
    QCOMPARE(modelOf("KR31D").fullScale, 3400);

    ScenarioOptions o;
    o.function = SimFunction::Rpm;
    QVERIFY(!ScenarioStream::check(modelOf("KR31E"), o, &error));        // no RPM on segment meters
    QVERIFY(!ScenarioStream::check(modelOf("22-85", true), o, &error));  // nor on the variant
    QVERIFY(ScenarioStream::check(modelOf("22-85"), o, &error));
}

QTEST_GUILESS_MAIN(TstSimScenario)
#include "tst_sim_scenario.moc"
