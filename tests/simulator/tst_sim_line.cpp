// The simulator's line: bytes leave no faster than the baud rate allows, the pseudo-terminal
// passes them untouched and never blocks the writer, and the in-process demo meter serves a
// reader that opens its line.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>
#include <atomic>
#include <chrono>
#include <thread>

#include "DemoMeter.h"
#include "SimRunner.h"
#include "tst_sim_receiver.h"

using namespace dmmsim;
using namespace std::chrono;
using Clock = steady_clock;

namespace {

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe(fd) != 0) qFatal("pipe");
    }
    ~Pipe() {
        for (int f : fd) {
            if (f >= 0) close(f);
        }
    }
};

// Reads a descriptor on a thread of its own and notes when each byte came.
class TimedReader {
public:
    explicit TimedReader(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~TimedReader() { finish(); }
    void finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::vector<uint8_t> bytes;
    std::vector<Clock::time_point> times;

private:
    void run() {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        uint8_t buf[512];
        while (!stop_) {
            const ssize_t n = read(fd_, buf, sizeof buf);
            const auto now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                bytes.push_back(buf[i]);
                times.push_back(now);
            }
            if (n <= 0) std::this_thread::sleep_for(microseconds(200));
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int openReader(const std::string& path, bool makeRaw = true) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (makeRaw && fd >= 0 && tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
}

std::vector<uint8_t> readAvailable(int fd, int waitMs) {
    std::vector<uint8_t> out;
    const auto until = Clock::now() + milliseconds(waitMs);
    uint8_t buf[4096];
    while (Clock::now() < until) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
        else
            std::this_thread::sleep_for(milliseconds(2));
    }
    return out;
}

}  // namespace

class TstSimLine : public QObject {
    Q_OBJECT

private slots:
    void lineTimes();
    void writerKeepsThePaceOfTheLine_data();
    void writerKeepsThePaceOfTheLine();
    void framesAreSpacedByTheInterval();
    void pseudoTerminalPassesBytesUntouched();
    void pseudoTerminalNobodyReads();
    void demoMeter();
    void demoMeterRefusesUnknownNames();
};

void TstSimLine::lineTimes() {
    QCOMPARE(lineBytesPerSecond(2400), 240.0);
    QCOMPARE(lineBytesPerSecond(19200), 1920.0);
    QCOMPARE(lineTime(240, 2400), nanoseconds(seconds(1)));
    QCOMPARE(lineTime(1920, 19200), nanoseconds(seconds(1)));
    // a segment frame at 2400 baud, a digit frame at 19200
    QCOMPARE(duration_cast<microseconds>(lineTime(14, 2400)).count(), 58333);
    QCOMPARE(duration_cast<microseconds>(lineTime(11, 19200)).count(), 5729);
}

void TstSimLine::writerKeepsThePaceOfTheLine_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("bytes");
    QTest::newRow("2400") << 2400 << 48;     // 200 ms
    QTest::newRow("19200") << 19200 << 384;  // 200 ms
}

void TstSimLine::writerKeepsThePaceOfTheLine() {
    QFETCH(int, baud);
    QFETCH(int, bytes);
    Pipe p;
    TimedReader reader(p.fd[0]);
    PacedWriter writer(p.fd[1], baud, PacedWriter::Full::Wait);
    std::vector<uint8_t> data(static_cast<std::size_t>(bytes));
    for (int i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(i);
    std::atomic<bool> stop{false};

    const auto start = Clock::now();
    QVERIFY(writer.write(data.data(), data.size(), stop));
    const auto took = Clock::now() - start;
    std::this_thread::sleep_for(milliseconds(20));
    reader.finish();

    QCOMPARE(reader.bytes, data);
    QCOMPARE(writer.bytesWritten(), uint64_t(bytes));
    QVERIFY2(took >= lineTime(bytes, baud) - milliseconds(1), qPrintable(QString::number(took.count())));
    QVERIFY2(took < lineTime(bytes, baud) + milliseconds(150), qPrintable(QString::number(took.count())));
    // no byte arrives before its last bit could have been sent
    for (int i = 0; i < bytes; ++i) {
        QVERIFY2(reader.times[i] - start >= lineTime(i + 1, baud) - milliseconds(1),
                 qPrintable(QString::number(i)));
    }
}

void TstSimLine::framesAreSpacedByTheInterval() {
    Pipe p;
    TimedReader reader(p.fd[0]);
    ScenarioOptions o;
    o.kind = ScenarioKind::Steady;
    ScenarioStream stream(*simModelFor("KR31E", false), o);
    PacedWriter writer(p.fd[1], 2400, PacedWriter::Full::Wait);
    RunOptions run;
    run.frames = 4;
    run.interval = milliseconds(100);
    std::atomic<bool> stop{false};
    int pieces = 0;
    const auto start = Clock::now();
    QCOMPARE(runPaced(stream, writer, run, stop, [&](const Emission&) { ++pieces; }), uint64_t(4));
    const auto took = Clock::now() - start;
    std::this_thread::sleep_for(milliseconds(20));
    reader.finish();

    QCOMPARE(pieces, 4);
    QCOMPARE(reader.bytes.size(), std::size_t(4 * 14));
    // frame k starts 100 ms after frame k-1; the last one takes its 58 ms on the line
    QVERIFY(took >= milliseconds(3 * 100 + 58 - 2));
    QVERIFY(took < milliseconds(3 * 100 + 58 + 150));
    for (int k = 1; k < 4; ++k) {
        const auto gap = reader.times[14 * k] - reader.times[14 * (k - 1)];
        QVERIFY2(gap > milliseconds(90),
                 qPrintable(QString::number(duration_cast<milliseconds>(gap).count())));
    }

    // a raised stop flag ends the run at once
    stop = true;
    QCOMPARE(runPaced(stream, writer, run, stop), uint64_t(0));
}

void TstSimLine::pseudoTerminalPassesBytesUntouched() {
    std::string error;
    auto pty = PseudoTerminal::create(&error);
    QVERIFY2(pty, error.c_str());
    QVERIFY(pty->slavePath().rfind("/dev/", 0) == 0);

    // CR, LF, interrupt, XON/XOFF and erase characters mean nothing on a meter's line, even
    // before any reader has set the line up
    const std::vector<uint8_t> bytes = {0x0D, 0x0A, 0x03, 0x11, 0x13, 0x7F, 0x1A, 0xFF, 0x0D};
    QCOMPARE(write(pty->masterFd(), bytes.data(), bytes.size()), ssize_t(bytes.size()));
    const int reader = openReader(pty->slavePath(), false);
    QVERIFY(reader >= 0);
    QCOMPARE(readAvailable(reader, 100), bytes);
    // and nothing comes back to the meter's side
    uint8_t echo[16];
    QCOMPARE(read(pty->masterFd(), echo, sizeof echo), ssize_t(-1));

    // a reader that goes away does not hang up the line for the next one
    close(reader);
    QCOMPARE(write(pty->masterFd(), bytes.data(), 2), ssize_t(2));
    const int again = openReader(pty->slavePath());
    QVERIFY(again >= 0);
    QVERIFY(!readAvailable(again, 50).empty());
    close(again);
}

void TstSimLine::pseudoTerminalNobodyReads() {
    std::string error;
    auto pty = PseudoTerminal::create(&error);
    QVERIFY2(pty, error.c_str());
    std::atomic<bool> stop{false};
    // several times what the terminal holds (its input buffers take some 68 KiB)
    std::vector<uint8_t> data(1 << 18, 0x55);

    // far more than the terminal holds, as fast as possible: the writer drops and goes on
    PacedWriter flood(pty->masterFd(), 100000000, PacedWriter::Full::Drop);
    const auto start = Clock::now();
    QVERIFY(flood.write(data.data(), data.size(), stop));
    QVERIFY(Clock::now() - start < seconds(2));
    QVERIFY(flood.bytesDropped() > 0);
    QVERIFY(flood.bytesWritten() < data.size());

    // With a stale limit the queue stays short and the newest bytes are the ones kept. The kernel
    // moves what the master writes into the slave's queue later, on a worker of its own, so each
    // piece is written only once the one before has arrived: the writer then sees the queue as
    // it really is, however busy the machine.
    const int slave = pty->slaveFd();
    tcflush(slave, TCIFLUSH);
    PacedWriter fresh(pty->masterFd(), 1000000000, PacedWriter::Full::Drop);
    constexpr int kLimit = 100, kPiece = 40;
    fresh.setStaleLimit(slave, kLimit);
    std::vector<uint8_t> counting(1500);
    for (std::size_t i = 0; i < counting.size(); ++i) counting[i] = static_cast<uint8_t>(i % 251);
    int queued = 0;
    for (std::size_t at = 0; at < counting.size(); at += kPiece) {
        const int piece = static_cast<int>(std::min<std::size_t>(kPiece, counting.size() - at));
        QVERIFY(fresh.write(counting.data() + at, piece, stop));
        // a queue beyond the limit was emptied before the piece went in
        const int expected = (queued > kLimit ? 0 : queued) + piece;
        // (waiting a little each time also keeps every piece whole: at this rate all of it is due)
        const auto until = Clock::now() + seconds(5);
        do {
            std::this_thread::sleep_for(milliseconds(1));
        } while (ioctl(slave, FIONREAD, &queued) == 0 && queued < expected && Clock::now() < until);
        QCOMPARE(queued, expected);
    }
    QVERIFY2(queued <= kLimit + kPiece, qPrintable(QString::number(queued)));
    QCOMPARE(fresh.bytesDropped(), uint64_t(counting.size() - queued));
    const int reader = openReader(pty->slavePath());
    const auto kept = readAvailable(reader, 50);
    close(reader);
    QCOMPARE(kept, std::vector<uint8_t>(counting.end() - queued, counting.end()));
}

void TstSimLine::demoMeter() {
    for (const char* caption : {"KR31E", "KR31F"}) {
        auto demo = std::make_unique<DemoMeter>(caption, "ramp");
        QVERIFY2(demo->ok(), demo->errorString().c_str());
        const int reader = openReader(demo->slavePath());
        QVERIFY(reader >= 0);
        // four readings a second
        SimReceiver rx(*simModelFor(caption, false));
        rx.feed(readAvailable(reader, 700));
        close(reader);
        QVERIFY2(rx.decoded().size() >= 2, qPrintable(QString::number(rx.decoded().size())));
        for (const auto& d : rx.decoded()) QVERIFY(d.complete);

        const auto start = Clock::now();
        demo.reset();
        QVERIFY(Clock::now() - start < milliseconds(200));  // the thread stops without waiting for the line
    }
}

void TstSimLine::demoMeterRefusesUnknownNames() {
    DemoMeter noModel("KR99");
    QVERIFY(!noModel.ok());
    QVERIFY(noModel.slavePath().empty());
    QVERIFY(noModel.errorString().find("KR31E") != std::string::npos);
    DemoMeter noScenario("KR31E", "storm");
    QVERIFY(!noScenario.ok());
    QVERIFY(noScenario.errorString().find("noise") != std::string::npos);
    DemoMeter noVariant("KR31E", "ramp", true);
    QVERIFY(!noVariant.ok());
}

QTEST_GUILESS_MAIN(TstSimLine)
#include "tst_sim_line.moc"
