// The simulator against the program's real receive path: the simulator writes at the line's
// pace into a pseudo-terminal, and the serial driver polls that terminal as COM1 from a Qt event
// loop, feeding the frame assembler and the decoders. Every frame sent must arrive once and decode
// to the reading sent; damaged frames must be dropped without taking good ones with them.

#include <QtTest>
#include <atomic>
#include <mutex>
#include <thread>

#include "PosixSerialPort.h"
#include "QtPollTimer.h"
#include "SimRunner.h"
#include "TCommPortDriver.h"
#include "tst_sim_receiver.h"

using namespace dmmsim;

namespace {

// The meter's side: a scenario written at line pace on a thread of its own.
class MeterThread {
public:
    MeterThread(const SimModel& model, const ScenarioOptions& options, int masterFd, uint64_t frames)
        : stream_(model, options), writer_(masterFd, model.baud, PacedWriter::Full::Drop) {
        run_.frames = frames;
    }
    ~MeterThread() {
        stop_ = true;
        join();
    }
    void start() {
        thread_ = std::thread([this] {
            runPaced(stream_, writer_, run_, stop_, [this](const Emission& e) {
                std::lock_guard<std::mutex> lock(mutex_);
                sent_.push_back(e);
            });
            done_ = true;
        });
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_; }
    uint64_t dropped() const { return writer_.bytesDropped(); }
    std::vector<Emission> sent() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }

private:
    ScenarioStream stream_;
    PacedWriter writer_;
    RunOptions run_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Emission> sent_;
};

// The program's side: COM1 is the pseudo-terminal's slave.
struct ProgramSide {
    PosixSerialPort port;
    QtPollTimer timer;
    TCommPortDriver driver{port, timer};
    SimReceiver receiver;
    int chunks = 0;

    ProgramSide(const SimModel& model, const std::string& devicePath) : receiver(model) {
        port.setDevicePath(pnCOM1, devicePath);
        driver.setComPort(pnCOM1);
        driver.setComPortSpeed(model.baud == 19200 ? br19200 : br2400);
        timer.setCallback([this](unsigned message) { driver.TimerWndProc(message); });
        driver.setOnReceiveData([this](TCommPortDriver*, const void* data, int32_t size) {
            ++chunks;
            const auto* b = static_cast<const uint8_t*>(data);
            receiver.feed(std::vector<uint8_t>(b, b + size));
        });
    }
};

}  // namespace

class TstSimPty : public QObject {
    Q_OBJECT

    void run(const char* caption, ScenarioKind kind, uint64_t frames, uint64_t seed = 1) {
        const SimModel model = *simModelFor(caption, false);
        std::string error;
        auto pty = PseudoTerminal::create(&error);
        QVERIFY2(pty, error.c_str());
        ProgramSide program(model, pty->slavePath());
        QVERIFY2(program.driver.Connect(), program.port.lastError().c_str());

        ScenarioOptions options;
        options.kind = kind;
        options.seed = seed;
        MeterThread meter(model, options, pty->masterFd(), frames);
        meter.start();
        QTRY_VERIFY_WITH_TIMEOUT(meter.done(), 5000);
        meter.join();
        // a few more polls: the last frame comes in, and nothing comes twice
        QTest::qWait(3 * program.driver.ComPortPollingDelay());
        program.driver.Disconnect();

        QCOMPARE(meter.dropped(), uint64_t(0));
        std::vector<Emission> whole;
        int damaged = 0;
        for (const auto& e : meter.sent()) {
            if (e.whole) whole.push_back(e);
            if (e.damage != Damage::None) ++damaged;
        }
        if (kind == ScenarioKind::Noise)
            QVERIFY(damaged > 0);
        else
            QCOMPARE(damaged, 0);

        const auto& decoded = program.receiver.decoded();
        QCOMPARE(decoded.size(), whole.size());
        const MeterState& state = program.receiver.state();
        for (std::size_t i = 0; i < whole.size(); ++i) {
            const SimReading& r = *whole[i].reading;
            QVERIFY(decoded[i].complete);
            QCOMPARE(decoded[i].valueText, r.text());
            const float overload = static_cast<float>(model.family == FrameFamily::Digit ? state.FullScale + 1
                                                                                         : state.FullScale);
            const float counts = r.overload ? (r.negative ? -overload : overload) : float(*r.counts());
            QCOMPARE(decoded[i].numericValue, counts);
        }
        // frames came in pieces over several polls, as on a real line
        QVERIFY(program.chunks > 1);
    }

private slots:
    void segmentReadingsAt2400() { run("KR31E", ScenarioKind::Ramp, 16); }
    void segmentOverloadAt2400() { run("PAX-900", ScenarioKind::Overload, 10); }
    void segmentNoiseAt2400() { run("KR31E", ScenarioKind::Noise, 32, 3); }
    void digitCycleAt19200() { run("KR31G", ScenarioKind::Cycle, 120); }
    void digitNoiseAt19200() { run("KR31F", ScenarioKind::Noise, 150, 11); }
};

QTEST_GUILESS_MAIN(TstSimPty)
#include "tst_sim_pty.moc"
