// The whole receive path over a real terminal device: a pseudo-terminal stands in for the meter's
// line, a writer thread sends frames at the pace of the line's baud rate, and the driver polls the
// device from the event loop and hands each chunk to a frame assembler.

#include <unistd.h>

#include <QtTest>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>

#include "FrameAssembler.h"
#include "PosixSerialPort.h"
#include "PseudoTerminal.h"
#include "QtPollTimer.h"
#include "TCommPortDriver.h"

namespace {

using Bytes = std::vector<uint8_t>;

// One piece of the stream and the frame text it must produce, if it is a whole frame.
struct Piece {
    Bytes bytes;
    std::string frameHex;  // empty: must be dropped
};

std::string lowDigits(const Bytes& b) {
    static const char hex[] = "0123456789ABCDEF";
    std::string s;
    for (uint8_t x : b) s.push_back(hex[x & 0x0F]);
    return s;
}

Bytes segmentFrame(std::mt19937& rng) {
    Bytes b;
    for (int i = 0; i < 14; ++i) b.push_back(uint8_t(((i + 1) << 4) | (rng() & 0x0F)));
    return b;
}

// Sends bytes one at a time at the pace of a line running 10 bits per byte.
class LineWriter {
public:
    LineWriter(int fd, Bytes bytes, int baud) : fd_(fd), bytes_(std::move(bytes)), baud_(baud) {}
    ~LineWriter() { join(); }

    void start() {
        thread_ = std::thread([this] {
            const auto begin = std::chrono::steady_clock::now();
            const std::chrono::duration<double> perByte(10.0 / baud_);
            for (std::size_t i = 0; i < bytes_.size(); ++i) {
                std::this_thread::sleep_until(
                    begin + std::chrono::duration_cast<std::chrono::nanoseconds>(perByte * i));
                if (::write(fd_, &bytes_[i], 1) != 1) failed_ = true;
            }
            done_ = true;
        });
    }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    bool done() const { return done_; }
    bool failed() const { return failed_; }

private:
    int fd_;
    Bytes bytes_;
    int baud_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<bool> failed_{false};
};

struct Loop {
    PseudoTerminal line;
    PosixSerialPort port;
    QtPollTimer timer;
    TCommPortDriver driver{port, timer};
    FrameTexts texts;
    std::vector<std::string> frames;
    int chunks = 0;

    Loop() {
        port.setDevicePath(pnCOM1, line.slavePath);
        driver.setComPort(pnCOM1);
        timer.setCallback([this](unsigned message) { driver.TimerWndProc(message); });
    }
};

std::vector<std::string> expectedFrames(const std::vector<Piece>& pieces) {
    std::vector<std::string> frames;
    for (const Piece& p : pieces) {
        if (!p.frameHex.empty()) frames.push_back(p.frameHex);
    }
    return frames;
}

Bytes join(const std::vector<Piece>& pieces) {
    Bytes all;
    for (const Piece& p : pieces) all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    return all;
}

}  // namespace

class TestSerialLoop : public QObject {
    Q_OBJECT

    // Runs the stream through the loop and checks that exactly the whole frames arrive, in order.
    void runStream(Loop& loop, const std::vector<Piece>& pieces, int baud) {
        QVERIFY2(loop.driver.Connect(), loop.port.lastError().c_str());
        LineWriter writer(loop.line.master, join(pieces), baud);
        writer.start();

        const std::vector<std::string> expected = expectedFrames(pieces);
        QTRY_VERIFY_WITH_TIMEOUT(writer.done() && loop.frames.size() >= expected.size(), 5000);
        writer.join();
        QVERIFY(!writer.failed());
        // A few more polls: nothing may come twice.
        QTest::qWait(3 * loop.driver.ComPortPollingDelay());
        QCOMPARE(loop.frames, expected);
        QVERIFY(loop.texts.RxHexText.empty());
    }

private slots:
    void segmentFramesAt2400() {
        Loop loop;
        QVERIFY(!loop.line.slavePath.empty());
        loop.driver.setComPortSpeed(br2400);
        SegmentFrameAssembler assembler(loop.texts, [&](const std::string& f) { loop.frames.push_back(f); });
        loop.driver.setOnReceiveData([&](TCommPortDriver*, const void* data, int32_t size) {
            ++loop.chunks;
            assembler.H31BRData(data, size);
        });

        std::mt19937 rng(2400);
        std::vector<Piece> pieces;
        const Bytes first = segmentFrame(rng);
        pieces.push_back({Bytes(first.begin() + 7, first.end()), {}});  // joined in mid-frame
        for (int i = 0; i < 28; ++i) {
            Bytes f = segmentFrame(rng);
            switch (i % 7) {
                case 2:  // a byte lost on the line
                    f.erase(f.begin() + 5);
                    pieces.push_back({f, {}});
                    break;
                case 4:  // a stray end-tagged byte splits the frame
                    f.insert(f.begin() + 4, 0xE3);
                    pieces.push_back({f, {}});
                    break;
                case 6:  // noise, closed by an end-tagged byte
                    pieces.push_back({{0x00, 0xFF, 0x13, 0x11, 0xE0}, {}});
                    pieces.push_back({f, lowDigits(f)});
                    break;
                default:
                    pieces.push_back({f, lowDigits(f)});
            }
        }
        runStream(loop, pieces, 2400);
        if (QTest::currentTestFailed()) return;
        // At this pace a poll finds about a dozen bytes, so frames were split across chunks.
        QVERIFY2(loop.chunks > int(loop.frames.size()), qPrintable(QString::number(loop.chunks)));
    }

    void digitFramesAt19200() {
        Loop loop;
        QVERIFY(!loop.line.slavePath.empty());
        loop.driver.setComPortSpeed(br19200);
        DigitFrameAssembler assembler(loop.texts, [&](const std::string& f) { loop.frames.push_back(f); });
        loop.driver.setOnReceiveData(
            [&](TCommPortDriver*, const void* data, int32_t size) { assembler.H47BRData(data, size); });

        // Frames end with CR LF; the LF opens the next frame in the assembler's buffer.
        std::mt19937 rng(19200);
        std::vector<Piece> pieces;
        pieces.push_back({{0x35, 0x36, 0x0D}, {}});  // the tail of a frame before the start
        Bytes pendingLf = {0x0A};
        for (int i = 0; i < 40; ++i) {
            Bytes data;
            for (int k = 0; k < 9; ++k) data.push_back(uint8_t(0x30 + rng() % 16));
            if (i % 9 == 5) data.erase(data.begin() + 2);  // lost byte: ten bytes with the LF
            Bytes frame = pendingLf;
            frame.insert(frame.end(), data.begin(), data.end());
            frame.push_back(0x0D);
            pieces.push_back({frame, data.size() == 9 ? lowDigits(frame) : std::string()});
        }
        runStream(loop, pieces, 19200);
    }

    // A meter that pauses between its frames, each sent in two parts further apart than a poll
    // period, is read once a frame, as the frame ends: the receiver says how many bytes the frame
    // in progress lacks, and the device wakes the driver only once they are there. A frame that
    // lost a byte costs one extra read, and the frames after it are read whole again, at once.
    void pausingMeterIsReadOnceAFrame() {
        Loop loop;
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> ends, delivered;
        DigitFrameAssembler assembler(loop.texts, [&](const std::string& f) {
            loop.frames.push_back(f);
            delivered.push_back(clock.elapsed());
        });
        std::vector<int> chunkSizes;
        loop.driver.setOnReceiveData([&](TCommPortDriver* driver, const void* data, int32_t size) {
            chunkSizes.push_back(size);
            assembler.H47BRData(data, size);
            driver->ExpectBytes(bytesToFrameEnd(loop.texts, kDigitFrameBytes));
        });
        QVERIFY2(loop.driver.Connect(), loop.port.lastError().c_str());
        std::vector<std::string> sent;
        for (int i = 0; i < 8; ++i) {
            Bytes frame = {0x0A, 0x31, 0x32, 0x33, uint8_t(0x30 + i), 0x3B, 0x30, 0x30, 0x3A, 0x0D};
            if (i != 4) frame.insert(frame.begin() + 2, 0x35);  // the fifth frame lost a byte
            if (frame.size() == kDigitFrameBytes) sent.push_back(lowDigits(frame));
            QCOMPARE(::write(loop.line.master, frame.data(), 4), ssize_t(4));
            QTest::qWait(80);
            QCOMPARE(::write(loop.line.master, frame.data() + 4, frame.size() - 4),
                     ssize_t(frame.size() - 4));
            if (frame.size() == kDigitFrameBytes) ends.push_back(clock.elapsed());
            QTest::qWait(150);
        }
        QTRY_COMPARE_WITH_TIMEOUT(loop.frames, sent, 1000);
        // the first frame, before anything was expected, comes in its two parts
        QVERIFY2(chunkSizes.size() <= 8 + 2, qPrintable(QString::number(chunkSizes.size())));
        // not a poll period (50 ms) late: the median frame is shown well within it
        std::vector<qint64> late;
        for (std::size_t i = 1; i < ends.size(); ++i) late.push_back(delivered[i] - ends[i]);
        std::nth_element(late.begin(), late.begin() + late.size() / 2, late.end());
        QVERIFY2(late[late.size() / 2] < 25, qPrintable(QString::number(late[late.size() / 2])));
    }

    void unpluggedLineDeliversNothing() {
        // The far end goes away while the port is open: reads fail, no event is raised, the
        // driver stays usable.
        Loop loop;
        int chunks = 0;
        loop.driver.setOnReceiveData([&](TCommPortDriver*, const void*, int32_t) { ++chunks; });
        QVERIFY(loop.driver.Connect());
        loop.line.closeMaster();
        QTest::qWait(4 * loop.driver.ComPortPollingDelay());
        QCOMPARE(chunks, 0);
        QVERIFY(loop.driver.Connected());
        loop.driver.Disconnect();
        QVERIFY(!loop.timer.isActive(1));
    }
};

QTEST_GUILESS_MAIN(TestSerialLoop)
#include "tst_serialloop.moc"
