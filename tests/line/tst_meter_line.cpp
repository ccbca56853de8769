#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <clocale>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "MeterLine.h"
#include "ModelProfiles.h"

namespace {

// A segment frame's bytes: each hex digit of the frame in the low nibble, its position 1..E in
// the high one.
std::string segmentBytes(const std::string& frameHex) {
    std::string bytes;
    for (std::size_t i = 0; i < frameHex.size(); ++i)
        bytes.push_back(static_cast<char>(((i + 1) << 4) | std::stoi(frameHex.substr(i, 1), nullptr, 16)));
    return bytes;
}

const std::string kVolts = segmentBytes("705DB1F2700040");                       // 1.234 V DC AUTO
const std::string kDigitVolts = "\x0A\x31\x31\x32\x33\x34\x3B\x30\x30\x32\x0D";  // KR31G 1.234 V

std::vector<uint8_t> repeated(const std::string& frame, int times) {
    std::vector<uint8_t> bytes;
    for (int k = 0; k < times; ++k) bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}

// A meter line on a fake port, polled by hand, on a clock the test moves.
struct TestLine {
    FakeSerialPort port;
    ReadingSink sink;
    LineClock::Steady::time_point steady{std::chrono::hours(1)};
    int64_t utcUs = 1'780'000'000'000'000;
    MeterLine line{sink, MeterLine::Polling::Manual,
                   LineClock{[this] { return steady; }, [this] { return utcUs; }}, &port};
    std::vector<MeterReading> readings;
    std::vector<LineLoss> losses;
    std::vector<LineBack> returns;

    explicit TestLine(const char* model, const char* path = "/dev/ttyUSB7") {
        chooseModel(line.controls(), std::string(model), false);
        const ProfileChoice choice = prepareMeterState(line.controls(), line.state());
        line.driver().setComPort(pnCOM1);
        line.driver().setComPortSpeed(choice.baud19200 ? br19200 : br2400);
        line.devices().setDevicePath(pnCOM1, path);
        line.hooks().reading = [this](const MeterReading& r) { readings.push_back(r); };
        line.hooks().lost = [this](const LineLoss& l) { losses.push_back(l); };
        line.hooks().back = [this](const LineBack& b) { returns.push_back(b); };
    }
    // `bytes` wait at the port and are read at the current time
    void read(const std::vector<uint8_t>& bytes) {
        port.queueBytes(bytes);
        line.poll();
    }
    void pass(std::chrono::milliseconds ms) {
        steady += ms;
        utcUs += std::chrono::microseconds(ms).count();
    }
};

}  // namespace

class TestMeterLine : public QObject {
    Q_OBJECT

private slots:
    // A line that hands over one frame, then after a pause thirty at once: the readings keep
    // their order and at least a frame's line time apart. A frame whose estimate (the read time
    // less the bytes after it) allows that keeps the estimate: after a long pause all of them, the
    // last of the burst in any case.
    void timesKeepOrderThroughABurst_data() {
        QTest::addColumn<QString>("model");
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<int>("frameUs");  // 14 bytes at 2400 baud, 11 at 19200
        QTest::newRow("segment, burst read soon") << "KR31E" << 300 << 58333;
        QTest::newRow("segment, burst read late") << "KR31E" << 10000 << 58333;
        QTest::newRow("digit 19200, burst read soon") << "KR31G" << 20 << 5729;
        QTest::newRow("digit 19200, burst read late") << "KR31G" << 1000 << 5729;
    }
    void timesKeepOrderThroughABurst() {
        QFETCH(QString, model);
        QFETCH(int, pauseMs);
        QFETCH(int, frameUs);
        TestLine t(model.toLatin1().constData());
        const std::string& frame = model == "KR31G" ? kDigitVolts : kVolts;
        QVERIFY(t.line.open("test"));
        QCOMPARE(t.line.frameLineUs(), int64_t(frameUs));
        t.read(repeated(frame, 1));
        const int64_t single = t.utcUs;
        t.pass(std::chrono::milliseconds(pauseMs));
        t.read(repeated(frame, 30));
        const int64_t burst = t.utcUs;
        QCOMPARE(t.readings.size(), std::size_t(31));
        QCOMPARE(t.readings[0].utcUs, single);
        for (std::size_t k = 1; k < t.readings.size(); ++k)
            QVERIFY2(t.readings[k].utcUs - t.readings[k - 1].utcUs >= frameUs,
                     qPrintable(QString::number(k)));
        if (burst - 30 * int64_t(frameUs) > single) {
            // the single frame is far enough back: every frame of the burst keeps its estimate (to
            // the microsecond the rounding of the line time leaves)
            for (int k = 1; k <= 30; ++k) {
                const int64_t estimate = burst - (30 - k) * int64_t(frameUs);
                QVERIFY2(qAbs(t.readings[k].utcUs - estimate) <= 30, qPrintable(QString::number(k)));
            }
            QCOMPARE(t.readings.back().utcUs, burst);
        } else {
            // the burst's first frames are estimated before the single one: they follow it
            QCOMPARE(t.readings[1].utcUs, single + frameUs);
        }
        // the state the window's consumers read carries the same time
        QCOMPARE(t.line.state().ReadingUtcUs, t.readings.back().utcUs);
    }

    // The reading's number comes from the decoded digits and the decimal point, in the displayed
    // unit and in the base unit, the same in every locale.
    void readingFromTheDigits_data() {
        QTest::addColumn<QString>("frameHex");
        QTest::addColumn<QString>("display");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("baseValue");
        QTest::addColumn<QString>("baseUnit");
        QTest::addColumn<bool>("overload");
        QTest::newRow("volts") << "705DB1F2700040"
                               << "1.234" << 1.234 << "V" << 1.234 << "V" << false;
        QTest::newRow("negative, no point") << "49F3F3F3F00040"
                                            << "-3999" << -3999.0 << "V" << -3999.0 << "V" << false;
    }
    void readingFromTheDigits() {
        QFETCH(QString, frameHex);
        QFETCH(QString, display);
        QFETCH(double, value);
        QFETCH(QString, unit);
        QFETCH(double, baseValue);
        QFETCH(QString, baseUnit);
        QFETCH(bool, overload);
        TestLine t("KR31E");
        const std::string bytes = segmentBytes(frameHex.toStdString());
        t.line.feed(bytes.data(), int32_t(bytes.size()), 0);
        QCOMPARE(t.readings.size(), std::size_t(1));
        const MeterReading& r = t.readings[0];
        QCOMPARE(QString::fromStdString(r.display), display);
        QCOMPARE(r.value, value);
        QCOMPARE(QString::fromStdString(r.unit), unit);
        QCOMPARE(r.baseValue, baseValue);
        QCOMPARE(QString::fromStdString(r.baseUnit), baseUnit);
        QCOMPARE(r.overload, overload);
        QCOMPARE(r.model, std::string("KR31E"));
        QCOMPARE(r.utcUs, int64_t(0));  // bytes without a read time get none
    }

    // A German locale (decimal comma) changes no number: they come from the digits, not from text.
    void readingsTheSameInACommaLocale() {
        QTemporaryDir dir;
        QProcess make;
        make.start("localedef", {"-i", "de_DE", "-f", "UTF-8", dir.filePath("de_DE.UTF-8")});
        if (!make.waitForFinished(120000) || make.exitCode() != 0) QSKIP("localedef cannot make de_DE.UTF-8");
        qputenv("LOCPATH", dir.path().toLocal8Bit());
        QVERIFY(std::setlocale(LC_ALL, "de_DE.UTF-8"));
        TestLine t("KR31E");
        const std::string bytes = segmentBytes("705DB1F2700040");
        t.line.feed(bytes.data(), int32_t(bytes.size()), 0);
        std::setlocale(LC_ALL, "C");
        qunsetenv("LOCPATH");
        QCOMPARE(t.readings.size(), std::size_t(1));
        QCOMPARE(t.readings[0].value, 1.234);
        QCOMPARE(t.readings[0].baseValue, 1.234);
    }

    // A lost device is tried again about every second under its path; the frame it was halfway
    // through is dropped, so its rest does not join the first bytes after the return. A lost
    // pseudo-terminal is not waited for: its number goes to the next one opened.
    void lostDeviceIsTriedEverySecond() {
        using std::chrono::milliseconds;
        TestLine t("KR31E");
        QVERIFY(t.line.open("test"));
        t.read(repeated(kVolts, 1));
        t.read(std::vector<uint8_t>(kVolts.begin(), kVolts.begin() + 7));
        t.port.loseDevice();
        t.line.poll();
        QCOMPARE(t.losses.size(), std::size_t(1));
        QVERIFY(t.losses[0].waited);
        QCOMPARE(t.losses[0].atUs, t.utcUs);
        QVERIFY(!t.line.isOpen() && t.line.waiting());
        QVERIFY(t.line.texts().RxHexText.empty());

        t.port.setOpenFails(true);
        const int opens = t.port.count(SerialCall::Open);
        for (int ms : {500, 400}) {
            t.pass(milliseconds(ms));
            t.line.retryIfDue();
        }
        QCOMPARE(t.port.count(SerialCall::Open), opens);
        t.pass(milliseconds(100));
        t.line.retryIfDue();
        QCOMPARE(t.port.count(SerialCall::Open), opens + 1);
        t.pass(milliseconds(1000));
        t.line.retryIfDue();
        QCOMPARE(t.port.count(SerialCall::Open), opens + 2);

        t.port.setOpenFails(false);
        t.port.restoreDevice();
        t.pass(milliseconds(1000));
        t.line.retryIfDue();
        QVERIFY(t.line.isOpen() && !t.line.waiting());
        QCOMPARE(t.returns.size(), std::size_t(1));
        QCOMPARE(t.returns[0].quietFromUs, t.readings[0].utcUs);
        t.read(std::vector<uint8_t>(kVolts.begin() + 7, kVolts.end()));
        t.read(repeated(kVolts, 1));
        QCOMPARE(t.readings.size(), std::size_t(2));

        TestLine pts("KR31E", "/dev/pts/7");
        QVERIFY(pts.line.open("test"));
        pts.port.loseDevice();
        pts.line.poll();
        QCOMPARE(pts.losses.size(), std::size_t(1));
        QVERIFY(!pts.losses[0].waited);
        pts.pass(milliseconds(5000));
        pts.line.retryIfDue();
        QVERIFY(!pts.line.isOpen() && !pts.line.waiting());
        QVERIFY(pts.line.pace().stale(pts.steady));
    }
};

QTEST_GUILESS_MAIN(TestMeterLine)
#include "tst_meter_line.moc"
