// Simulated readings through the program's own receiving side: what the simulator sends must
// come out of the assembler, decoder and pipeline as the reading it meant.

#include <QtTest>
#include <map>

#include "FrameEncoder.h"
#include "SimModel.h"
#include "UnitSymbols.h"
#include "tst_sim_receiver.h"

using namespace dmmsim;

namespace {

SimModel modelOf(const char* caption, bool variant = false) {
    std::string error;
    const auto m = simModelFor(caption, variant, &error);
    if (!m) qFatal("%s", error.c_str());
    return *m;
}

// One frame of `r`; a digit meter's first frame needs the LF of a frame before it.
Decoded roundTrip(const SimModel& m, const SimReading& r, SimReceiver* receiver = nullptr) {
    SimReceiver local(m);
    SimReceiver& rx = receiver ? *receiver : local;
    const std::size_t before = rx.decoded().size();
    if (m.family == FrameFamily::Digit && rx.bytesFed() == 0) rx.feed({kDigitFrameLead});
    rx.feed(encodeFrame(m, r));
    if (rx.decoded().size() != before + 1) return {};
    return rx.last();
}

}  // namespace

class TstSimEncoder : public QObject {
    Q_OBJECT

private slots:
    void readingsRoundTrip_data();
    void readingsRoundTrip();
    void segmentFrameBytes();
    void digitFrameBytes();
    void annunciatorsReachThePanel();
    void digitFramesOfEveryModelDecode();
    void unitsAndNumbersForOtherPrograms();
};

void TstSimEncoder::readingsRoundTrip_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("variant");
    QTest::addColumn<QString>("function");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("range");  // -1: auto range
    QTest::addColumn<QString>("valueText");
    QTest::addColumn<float>("numeric");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("acdc");
    QTest::addColumn<QString>("autoText");

    auto row = [](const char* name, const char* model, bool variant, const char* fn, double value, int range,
                  const char* text, float numeric, const char* unit, const char* acdc, const char* autoText) {
        QTest::newRow(name) << QString(model) << variant << QString(fn) << value << range << QString(text)
                            << numeric << QString(unit) << QString(acdc) << QString(autoText);
    };
    // segment frames: leading zeros of the whole part are blank on the meter's LCD
    row("seg volts", "KR31E", false, "vdc", 1.234, -1, "1.234", 1234, "V", "DC", "AUTO");
    row("seg millivolts negative", "KR31E", false, "vdc", -0.0123, -1, "-12.3", -123, "mV", "DC", "AUTO");
    row("seg volts rounding to zero", "KR31A", false, "vdc", -0.00001, -1, "0.0", 0, "mV", "DC", "AUTO");
    row("seg volts ac", "PAX-900", false, "vac", 230.0, -1, "230.0", 2300, "V", "AC", "AUTO");
    row("seg kilo-ohm", "KR31E", false, "ohm", 12.5e3, -1, "12.50", 1250, "k*", "", "AUTO");
    row("seg ohm zero", "KR31E", false, "ohm", 0.0, -1, "0.0", 0, "*", "", "AUTO");
    row("seg hertz", "TS510/530", false, "hz", 50.0, -1, "50.0", 500, "Hz", "", "AUTO");
    row("seg megahertz", "KR31E", false, "hz", 1.5e6, -1, "1.500", 1500, "MHz", "", "AUTO");
    row("seg microfarad", "KR31E", false, "cap", 4.7e-6, -1, "4.70", 470, "uF", "", "AUTO");
    row("seg microampere negative", "KR31E", false, "ua", -150e-6, -1, "-150.0", -1500, "uA", "DC", "AUTO");
    row("seg milliampere manual", "KR31E", false, "ma", 25e-3, 0, "25.00", 2500, "mA", "DC", "MANU");
    row("seg ampere", "KR31E", false, "a", 1.5, -1, "1.50", 150, "A", "DC", "MANU");
    row("seg celsius", "KR31E", false, "degc", 23.0, -1, "23", 23, "#", "", "MANU");
    row("seg duty", "KR31E", false, "duty", 50.0, -1, "50.0", 500, "%", "", "MANU");
    row("seg diode", "KR31E", false, "diode", 0.562, -1, "0.562", 562, "V", "", "MANU");
    row("seg continuity", "KR31E", false, "cont", 12.3, -1, "12.3", 123, "*", "", "MANU");
    row("seg overload", "KR31E", false, "vdc", 5.0, 1, ".0L", 4000, "V", "DC", "MANU");
    row("seg overload negative", "KR31E", false, "vdc", -5.0, 1, "-.0L", -4000, "V", "DC", "MANU");
    row("seg overload top range", "KR31E", false, "ohm", 80e6, -1, "0.L", 4000, "M*", "", "AUTO");

    // digit frames: the meter sends every digit, the decoder works out point and unit from the range
    row("digit volts", "22-85", false, "vdc", 1.234, -1, "1.234", 1234, "V", "DC", "AUTO");
    row("digit millivolts negative", "22-85", false, "vdc", -0.0123, -1, "-012.3", -123, "mV", "DC", "AUTO");
    row("digit 6000 counts", "KR31G", false, "vdc", 5.5, -1, "5.500", 5500, "V", "DC", "AUTO");
    row("digit 3400 counts", "KR31D", false, "vdc", 3.5, -1, "03.50", 350, "V", "DC", "AUTO");
    row("digit hertz 22-85", "22-85", false, "hz", 50.0, -1, "0050", 50, "Hz", "", "AUTO");
    row("digit hertz KR31F", "KR31F", false, "hz", 50.0, -1, "0050", 50, "Hz", "", "AUTO");
    row("digit hertz KR31D", "KR31D", false, "hz", 50.0, -1, "0.050", 50, "kHz", "", "AUTO");
    row("digit hertz KR47B", "KR47B", false, "hz", 50.0, -1, "0.050", 50, "kHz", "", "AUTO");
    row("digit rpm", "KR47B", false, "rpm", 1500.0, -1, "01.50", 150, "kRPM", "", "AUTO");
    row("digit fahrenheit", "KR47B", false, "degf", 73.0, -1, "0073", 73, "?", "", "MANU");
    row("digit celsius negative", "KR47B", false, "degc", -5.0, -1, "-0005", -5, "#", "", "MANU");
    row("digit continuity", "22-85", false, "cont", 12.3, -1, "012.3", 123, "&", "", "MANU");
    row("digit continuity KR31D", "KR31D", false, "cont", 12.3, -1, "012.3", 123, "&*", "", "MANU");
    row("digit microfarad", "22-85", false, "cap", 4.7e-6, -1, "04.70", 470, "uF", "", "AUTO");
    row("digit kilo-ohm", "KR31F", false, "ohm", 12.5e3, -1, "12.50", 1250, "k*", "", "AUTO");
    row("digit microampere negative", "22-85", false, "ua", -150e-6, -1, "-150.0", -1500, "uA", "DC", "AUTO");
    row("digit milliampere", "KR47B", false, "ma", 25e-3, -1, "25.00", 2500, "mA", "DC", "AUTO");
    row("digit ampere", "KR47B", false, "a", 1.5, -1, "01.50", 150, "A", "DC", "MANU");
    row("digit overload", "22-85", false, "vdc", 5.0, 1, ".0L", 4001, "V", "DC", "MANU");
    row("digit overload negative", "KR31G", false, "vdc", -7.0, 1, "-.0L", -6001, "V", "DC", "MANU");

    // the variant coding
    row("variant volts", "22-85", true, "vdc", 1.234, -1, "1.234", 1234, "V", "DC", "AUTO");
    row("variant millivolts", "22-85", true, "vdc", 0.1234, -1, "123.4", 1234, "mV", "DC", "AUTO");
    row("variant volts top", "KR47B", true, "vac", 750.0, -1, "0750", 750, "V", "AC", "AUTO");
    row("variant milliampere", "KR47B", true, "ma", 25e-3, -1, "25.00", 2500, "mA", "DC", "AUTO");
    row("variant ampere", "KR47B", true, "a", 1.5, -1, "01.50", 150, "A", "DC", "MANU");
    row("variant diode", "22-85", true, "diode", 0.562, -1, "0.56", 56, ")V", "", "MANU");
    row("variant continuity", "22-85", true, "cont", 12.0, -1, "012", 12, "&*", "", "MANU");
    row("variant hertz", "KR31F", true, "hz", 50.0, -1, "0050", 50, "Hz", "", "AUTO");
}

void TstSimEncoder::readingsRoundTrip() {
    QFETCH(QString, model);
    QFETCH(bool, variant);
    QFETCH(QString, function);
    QFETCH(double, value);
    QFETCH(int, range);
    QFETCH(QString, valueText);
    QFETCH(float, numeric);
    QFETCH(QString, unit);
    QFETCH(QString, acdc);
    QFETCH(QString, autoText);

    const SimModel m = modelOf(model.toUtf8().constData(), variant);
    const auto f = functionByName(function.toStdString());
    QVERIFY(f);
    QVERIFY(canShow(m, *f));
    const Coupling c = function == "vac" ? Coupling::Ac : Coupling::Dc;
    const SimReading r = fitReading(m, *f, value, c, range < 0 ? std::nullopt : std::optional<int>(range));
    QCOMPARE(QString::fromStdString(r.text()), valueText);  // what the simulator believes it shows

    const Decoded d = roundTrip(m, r);
    QVERIFY2(d.complete, d.frameHex.c_str());
    QCOMPARE(QString::fromStdString(d.valueText), valueText);
    QCOMPARE(d.numericValue, numeric);
    QCOMPARE(QString::fromStdString(d.unitText), unit);
    QCOMPARE(QString::fromStdString(d.acDcText), acdc);
    QCOMPARE(QString::fromStdString(d.autoText), autoText);
}

void TstSimEncoder::segmentFrameBytes() {
    // 1.234 V DC on auto range with the RS-232 mark, as a meter of this family sends it
    const SimReading r = fitReading(modelOf("KR31E"), SimFunction::Volts, 1.234, Coupling::Dc);
    const std::array<uint8_t, 14> expected = {0x17, 0x20, 0x35, 0x4D, 0x5B, 0x61, 0x7F,
                                              0x82, 0x97, 0xA0, 0xB0, 0xC0, 0xD4, 0xE0};
    QCOMPARE(encodeSegmentFrame(r), expected);
    QCOMPARE(frameHexOf(modelOf("KR31E"), encodeFrame(modelOf("KR31E"), r)), std::string("705DB1F2700040"));

    // every glyph, and the sign and the three points each on their own bit
    SimReading all;
    for (const char* digits : {"0123", "4567", "89  "}) {
        for (int point = 0; point <= 3; ++point) {
            all.digits = {digits[0], digits[1], digits[2], digits[3]};
            all.point = point;
            all.negative = point == 2;
            const Decoded d = roundTrip(modelOf("KR31A"), all);
            QVERIFY(d.complete);
            QCOMPARE(d.valueText, all.text());
        }
    }
}

void TstSimEncoder::digitFrameBytes() {
    const SimModel m = modelOf("22-85");
    const SimReading volts = fitReading(m, SimFunction::Volts, 1.234, Coupling::Dc);
    // range 1, digits as characters, function B, status 0, option 1 0, option 2 DC + AUTO, CR LF
    const std::array<uint8_t, 11> expected = {0x31, 0x31, 0x32, 0x33, 0x34, 0x3B,
                                              0x30, 0x30, 0x3A, 0x0D, 0x0A};
    QCOMPARE(encodeDigitFrame(volts, m), expected);

    // frame texts as the receiving side keeps them
    SimReading hz = fitReading(m, SimFunction::Hertz, 123.4e3, Coupling::None, 2);
    QCOMPARE(hz.text(), std::string("123.4"));
    QCOMPARE(roundTrip(m, hz).frameHex, std::string("A212342000D"));
    SimReading rpm = fitReading(m, SimFunction::Rpm, 1.234e6, Coupling::None, 2);
    QCOMPARE(roundTrip(m, rpm).frameHex, std::string("A212342800D"));
    QCOMPARE(roundTrip(m, rpm).unitText, std::string("MRPM"));
    QCOMPARE(frameHexOf(m, encodeFrame(m, rpm)), std::string("A212342800D"));

    // low battery, overload and no RS-232 mark each have their own bit
    SimReading flags = volts;
    flags.lowBattery = true;
    flags.overload = true;
    flags.rs232 = false;
    flags.autoRange = false;
    const auto bytes = encodeDigitFrame(flags, m);
    QCOMPARE(int(bytes[6]), 0x33);
    QCOMPARE(int(bytes[8]), 0x39);
}

void TstSimEncoder::annunciatorsReachThePanel() {
    using E = LcdElement;
    for (const char* caption : {"KR31E", "KR47B"}) {
        const SimModel m = modelOf(caption);
        const bool segment = m.family == FrameFamily::Segment;
        SimReceiver rx(m);
        SimReading r = fitReading(m, SimFunction::Volts, 1.234, Coupling::Dc);
        r.lowBattery = true;
        r.hold = true;
        r.recMark = true;
        QVERIFY(roundTrip(m, r, &rx).complete);
        QVERIFY(rx.panel().visible(E::LCDBATT));
        QVERIFY(rx.panel().visible(E::LCDRS));
        // only the segment frame has bits for HOLD and the recording mark
        QCOMPARE(rx.panel().visible(E::LCDHold), segment);
        QCOMPARE(rx.panel().visible(E::LCDRec), segment);

        r.lowBattery = false;
        r.rs232 = false;
        QVERIFY(roundTrip(m, r, &rx).complete);
        QVERIFY(!rx.panel().visible(E::LCDBATT));
        QVERIFY(!rx.panel().visible(E::LCDRS));
        QVERIFY(!rx.panel().visible(E::LCD232C));
    }
}

void TstSimEncoder::digitFramesOfEveryModelDecode() {
    // every function on every range of every digit model, both codings: each frame must be taken
    // whole and decode to the text the simulator shows
    int frames = 0;
    for (const auto& p : modelProfiles()) {
        if (p.family != FrameFamily::Digit) continue;
        for (bool variant : {false, true}) {
            const SimModel m = modelOf(p.caption, variant);
            SimReceiver rx(m);
            for (SimFunction f : functionsOf(m)) {
                const auto ranges = rangesFor(m, f);
                for (std::size_t i = 0; i < ranges.size(); ++i) {
                    const double value =
                        0.3 * countLimit(m, ranges[i]) * std::pow(10.0, ranges[i].countExponent());
                    const SimReading r = fitReading(m, f, value, Coupling::Dc, static_cast<int>(i));
                    const Decoded d = roundTrip(m, r, &rx);
                    QVERIFY2(d.complete,
                             qPrintable(QString("%1 %2 range %3").arg(p.caption, functionName(f)).arg(i)));
                    QCOMPARE(d.valueText, r.text());
                    QCOMPARE(d.numericValue, float(*r.counts()));
                    ++frames;
                }
            }
        }
    }
    QVERIFY(frames > 100);
}

void TstSimEncoder::unitsAndNumbersForOtherPrograms() {
    // every unit text that a simulated function of a model decodes to, with its real symbols
    std::map<std::string, std::pair<std::string, bool>> units;
    for (const auto& [lcd, real] : std::initializer_list<std::pair<const char*, const char*>>{
             {"V", "V"},      {"mV", "mV"},      {"*", "\u03A9"},   {"k*", "k\u03A9"}, {"M*", "M\u03A9"},
             {"&", "\u03A9"}, {"&*", "\u03A9"},  {"&**", "\u03A9"}, {")", "V"},        {")V", "V"},
             {"Hz", "Hz"},    {"kHz", "kHz"},    {"MHz", "MHz"},    {"kRPM", "kRPM"},  {"MRPM", "MRPM"},
             {"nF", "nF"},    {"uF", "\u00B5F"}, {"mF", "mF"},      {"uA", "\u00B5A"}, {"mA", "mA"},
             {"A", "A"},      {"#", "\u00B0C"},  {"?", "\u00B0F"},  {"%", "%"}})
        units[lcd] = {real, false};
    for (const auto& p : modelProfiles()) {
        for (bool variant : {false, true}) {
            if (variant && p.family != FrameFamily::Digit) continue;
            const SimModel m = modelOf(p.caption, variant);
            SimReceiver rx(m);
            for (SimFunction f : functionsOf(m)) {
                const auto ranges = rangesFor(m, f);
                for (std::size_t i = 0; i < ranges.size(); ++i) {
                    for (double share : {0.003, 0.3, -0.3, 2.0}) {
                        const double value =
                            share * countLimit(m, ranges[i]) * std::pow(10.0, ranges[i].countExponent());
                        const SimReading r = fitReading(m, f, value, Coupling::Dc, static_cast<int>(i));
                        const Decoded d = roundTrip(m, r, &rx);
                        const auto unit = units.find(d.unitText);
                        QVERIFY2(unit != units.end(), (p.caption + std::string(" ") + d.unitText).c_str());
                        QCOMPARE(UnitSymbols::realUnitText(d.unitText), unit->second.first);
                        unit->second.second = true;
                        // the number column: the shown digits as a plain number, nothing for an overload
                        const auto dot = d.valueText.find('.');
                        const int decimals = dot == std::string::npos ? 0 : int(d.valueText.size() - dot - 1);
                        const QString plain = QString::fromStdString(UnitSymbols::plainNumber(d.valueText));
                        if (r.overload)
                            QCOMPARE(plain, QString());
                        else
                            QCOMPARE(plain,
                                     QString::number(*r.counts() / std::pow(10.0, decimals) + 0.0, 'g', 10));
                    }
                }
            }
        }
    }
    std::string unseen;
    for (const auto& [lcd, real] : units)
        if (!real.second) unseen += " " + lcd;
    QVERIFY2(unseen.empty(), ("shown by no function:" + unseen).c_str());
    for (const auto& [text, plain] :
         std::initializer_list<std::pair<const char*, const char*>>{{"0050", "50"},
                                                                    {"02.50", "2.5"},
                                                                    {"-0.012", "-0.012"},
                                                                    {"-000.0", "0"},
                                                                    {".500", "0.5"},
                                                                    {"0.L", ""}})
        QCOMPARE(UnitSymbols::plainNumber(text), std::string(plain));
}

QTEST_GUILESS_MAIN(TstSimEncoder)
#include "tst_sim_encoder.moc"
