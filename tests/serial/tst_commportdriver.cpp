#include <QtTest>
#include <stdexcept>

#include "FakeSerialPort.h"
#include "FrameAssembler.h"
#include "TCommPortDriver.h"

// Readable failure output for the control block.
char* toString(const DeviceControlBlock& d) {
    return QTest::toString(
        QString::asprintf("{len %u, baud %u, flags 0x%04X, xonLim %u, xoffLim %u, size %u, parity %u, stop "
                          "%u, xon %d, xoff %d, "
                          "err %d, eof %d, evt %d}",
                          d.DCBlength, d.BaudRate, d.Flags, d.XonLim, d.XoffLim, d.ByteSize, d.Parity,
                          d.StopBits, d.XonChar, d.XoffChar, d.ErrorChar, d.EofChar, d.EvtChar));
}

namespace {

using K = SerialCall::Kind;

DeviceControlBlock defaultBlock() {
    DeviceControlBlock d;
    d.DCBlength = 28;
    d.BaudRate = 9600;
    d.Flags = 0x0011;
    d.XonLim = 512;
    d.XoffLim = 1;
    d.ByteSize = 8;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

// What the driver writes each time it applies its settings to the open port.
const std::vector<K> kApplyCalls = {K::SetCommState, K::PurgeComm, K::SetupComm};

struct Received {
    TCommPortDriver* sender = nullptr;
    std::vector<uint8_t> bytes;
};

}  // namespace

class TestCommPortDriver : public QObject {
    Q_OBJECT

    FakeSerialPort port;
    FakePollTimer timer;

    // True when the calls since the last check were one full write of the settings; clears them.
    bool settingsRewritten() {
        const bool ok = port.callKinds() == kApplyCalls && port.last(K::PurgeComm)->first == 0x0F;
        port.clearCalls();
        return ok;
    }

private slots:
    void init() {
        port = FakeSerialPort();
        timer = FakePollTimer();
    }

    void connectOpensAndConfiguresThePort() {
        TCommPortDriver d(port, timer);
        QVERIFY(!d.Connected());
        QCOMPARE(d.portHandle(), PortHandle(0));

        QVERIFY(d.Connect());
        QVERIFY(d.Connected());
        const std::vector<K> expected = {K::Open, K::SetCommState, K::PurgeComm, K::SetupComm,
                                         K::SetCommTimeouts};
        QCOMPARE(port.callKinds(), expected);
        QCOMPARE(port.calls()[0].portName, std::string("COM2"));
        QCOMPARE(port.calls()[0].handle, d.portHandle());
        for (const SerialCall& c : port.calls()) QCOMPARE(c.handle, d.portHandle());

        QCOMPARE(port.last(K::SetCommState)->dcb, defaultBlock());
        QCOMPARE(port.last(K::PurgeComm)->first, 0x0Fu);
        QCOMPARE(port.last(K::SetupComm)->first, 2048u);
        QCOMPARE(port.last(K::SetupComm)->second, 2048u);
        const CommTimeouts t = port.last(K::SetCommTimeouts)->timeouts;
        QCOMPARE(t.ReadIntervalTimeout, 1u);
        QCOMPARE(t.ReadTotalTimeoutMultiplier, 0u);
        QCOMPARE(t.ReadTotalTimeoutConstant, 1u);
        QCOMPARE(t.WriteTotalTimeoutMultiplier, 0u);
        QCOMPARE(t.WriteTotalTimeoutConstant, 0u);
        QCOMPARE(timer.period(1), 50u);

        // Already open: nothing is reopened, reapplied or purged.
        port.clearCalls();
        QVERIFY(d.Connect());
        QVERIFY(port.calls().empty());
        QCOMPARE(timer.setCount(), 1);
    }

    void portNameFollowsComPort() {
        TCommPortDriver d(port, timer);
        d.setComPort(pnCOM4);
        QCOMPARE(d.portName(), std::string("COM4"));
        QVERIFY(d.Connect());
        QCOMPARE(port.last(K::Open)->portName, std::string("COM4"));

        // The open port does not change under the handle, nor does the stored value.
        port.clearCalls();
        d.setComPort(pnCOM1);
        QCOMPARE(d.ComPort(), pnCOM4);
        QVERIFY(port.calls().empty());
        d.Disconnect();
        d.setComPort(pnCOM1);
        QCOMPARE(d.ComPort(), pnCOM1);
    }

    void controlBlockFollowsLineSettings_data() {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("hw");
        QTest::addColumn<int>("sw");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<uint>("baud");
        QTest::addColumn<uint>("flags");

        const uint rates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                              14400, 19200, 38400, 56000, 57600, 115200};
        for (int i = 0; i < 13; ++i) {
            QTest::addRow("rate %u", rates[i]) << i << 3 << 0 << 0 << 0 << 0 << true << rates[i] << 0x0011u;
        }
        QTest::newRow("7E2") << 4 << 2 << 2 << 2 << 0 << 0 << true << 2400u << 0x0011u;
        QTest::newRow("5 bits, 1.5 stop, odd") << 4 << 0 << 1 << 1 << 0 << 0 << true << 2400u << 0x0011u;
        QTest::newRow("mark parity") << 4 << 3 << 0 << 3 << 0 << 0 << true << 2400u << 0x0011u;
        QTest::newRow("space parity") << 4 << 3 << 0 << 4 << 0 << 0 << true << 2400u << 0x0011u;
        QTest::newRow("DTR off") << 4 << 3 << 0 << 0 << 0 << 0 << false << 2400u << 0x0001u;
        QTest::newRow("RTS/CTS") << 4 << 3 << 0 << 0 << 1 << 0 << true << 2400u << 0x2015u;
        QTest::newRow("XON/XOFF") << 4 << 3 << 0 << 0 << 0 << 1 << true << 2400u << 0x0311u;
        QTest::newRow("both, DTR off") << 4 << 3 << 0 << 0 << 1 << 1 << false << 2400u << 0x2305u;
    }

    void controlBlockFollowsLineSettings() {
        QFETCH(int, speed);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QFETCH(int, parity);
        QFETCH(int, hw);
        QFETCH(int, sw);
        QFETCH(bool, dtr);
        QFETCH(uint, baud);
        QFETCH(uint, flags);

        TCommPortDriver d(port, timer);
        d.setComPortSpeed(TComPortBaudRate(speed));
        d.setComPortDataBits(TComPortDataBits(dataBits));
        d.setComPortStopBits(TComPortStopBits(stopBits));
        d.setComPortParity(TComPortParity(parity));
        d.setComPortHwHandshaking(TComPortHwHandshaking(hw));
        d.setComPortSwHandshaking(TComPortSwHandshaking(sw));
        d.setEnableDTROnOpen(dtr);
        QVERIFY(port.calls().empty());  // closed: only stored
        QVERIFY(d.Connect());

        DeviceControlBlock expected = defaultBlock();
        expected.BaudRate = baud;
        expected.Flags = flags;
        expected.ByteSize = uint8_t(dataBits + 5);
        expected.Parity = uint8_t(parity);
        expected.StopBits = uint8_t(stopBits);
        QCOMPARE(port.last(K::SetCommState)->dcb, expected);
    }

    void lineSettersReapplyWhileOpen() {
        TCommPortDriver d(port, timer);
        QVERIFY(d.Connect());
        const DeviceControlBlock before = port.last(K::SetCommState)->dcb;

        port.clearCalls();
        d.setComPortSpeed(br19200);
        QVERIFY(settingsRewritten());
        d.setComPortDataBits(db7BITS);
        QVERIFY(settingsRewritten());
        d.setComPortStopBits(sb2BITS);
        QVERIFY(settingsRewritten());
        d.setComPortParity(ptEVEN);
        QVERIFY(settingsRewritten());
        d.setComPortHwHandshaking(hhRTSCTS);
        QVERIFY(settingsRewritten());
        d.setComPortSwHandshaking(shXONXOFF);
        QVERIFY(settingsRewritten());

        DeviceControlBlock now = before;
        now.BaudRate = 19200;
        now.ByteSize = 7;
        now.StopBits = 2;
        now.Parity = 2;
        now.Flags = 0x2315;
        d.ApplySettings();
        QCOMPARE(port.last(K::SetCommState)->dcb, now);

        // DTR is only written with the next settings.
        port.clearCalls();
        d.setEnableDTROnOpen(false);
        QVERIFY(port.calls().empty());
        d.setComPortSpeed(br2400);
        QCOMPARE(port.last(K::SetCommState)->dcb.Flags, 0x2305u);
    }

    void speedChangeDiscardsWhatWasReceived() {
        TCommPortDriver d(port, timer);
        int events = 0;
        d.setOnReceiveData([&](TCommPortDriver*, const void*, int32_t) { ++events; });
        QVERIFY(d.Connect());
        port.queueBytes({0x10, 0x21, 0x32});
        d.setComPortSpeed(br19200);
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(events, 0);
    }

    void failedConnectCountsAsClosed() {
        TCommPortDriver d(port, timer);
        port.setOpenFails(true);
        QVERIFY(!d.Connect());
        QVERIFY(!d.Connected());
        QCOMPARE(d.portHandle(), kInvalidPortHandle);
        QCOMPARE(port.callKinds(), std::vector<K>{K::Open});
        QVERIFY(!timer.running(1));

        // Nothing to close, nothing to apply, nothing to poll.
        port.clearCalls();
        d.Disconnect();
        d.ApplySettings();
        d.FlushBuffers(true, true);
        d.TimerWndProc(WM_TIMER);
        QVERIFY(port.calls().empty());
        QCOMPARE(timer.killCount(), 0);

        // A later attempt opens again.
        port.setOpenFails(false);
        QVERIFY(d.Connect());
        QCOMPARE(port.count(K::Open), 1);
        QVERIFY(d.Connected());
        QVERIFY(timer.running(1));
    }

    void disconnectClosesOnce() {
        {
            TCommPortDriver d(port, timer);
            QVERIFY(d.Connect());
            const PortHandle h = d.portHandle();
            port.clearCalls();
            d.Disconnect();
            QCOMPARE(port.callKinds(), std::vector<K>{K::CloseHandle});
            QCOMPARE(port.calls()[0].handle, h);
            QVERIFY(!timer.running(1));
            QCOMPARE(d.portHandle(), PortHandle(0));
            d.Disconnect();
            QCOMPARE(port.count(K::CloseHandle), 1);
            QVERIFY(d.Connect());
        }
        // The destructor closed the port that was open.
        QVERIFY(port.openHandles().empty());
        QVERIFY(!timer.running(1));
    }

    void flushMasks() {
        TCommPortDriver d(port, timer);
        QVERIFY(d.Connect());
        port.clearCalls();
        d.FlushBuffers(true, false);
        d.FlushBuffers(false, true);
        d.FlushBuffers(false, false);
        QCOMPARE(port.count(K::PurgeComm), 3);
        QCOMPARE(port.calls()[0].first, 0x0Au);
        QCOMPARE(port.calls()[1].first, 0x05u);
        QCOMPARE(port.calls()[2].first, 0x00u);
    }

    void pollingTickDeliversOneChunk() {
        TCommPortDriver d(port, timer);
        std::vector<Received> got;
        d.setOnReceiveData([&](TCommPortDriver* sender, const void* data, int32_t size) {
            const auto* b = static_cast<const uint8_t*>(data);
            got.push_back({sender, std::vector<uint8_t>(b, b + size)});
        });

        // Closed: the tick does not touch the port.
        d.TimerWndProc(WM_TIMER);
        QVERIFY(port.calls().empty());

        QVERIFY(d.Connect());
        port.clearCalls();
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(port.callKinds(), std::vector<K>{K::ReadFile});
        QCOMPARE(port.calls()[0].first, 2048u);
        QVERIFY(got.empty());

        std::vector<uint8_t> bytes(37);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
        port.queueBytes(bytes);
        d.TimerWndProc(0x0F);  // not a timer message: not even a read
        QCOMPARE(port.count(K::ReadFile), 1);
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(got.size(), std::size_t(1));
        QCOMPARE(got[0].sender, &d);
        QCOMPARE(got[0].bytes, bytes);

        // A failed read raises nothing, even with bytes waiting; they come with the next tick.
        port.queueBytes({1, 2, 3});
        port.failNextRead();
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(got.size(), std::size_t(1));
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(got.size(), std::size_t(2));
        QCOMPARE(got[1].bytes, (std::vector<uint8_t>{1, 2, 3}));

        // More than one buffer's worth arrives over two ticks.
        port.queueBytes(std::vector<uint8_t>(2048 + 5, 0x55));
        d.TimerWndProc(WM_TIMER);
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(got.size(), std::size_t(4));
        QCOMPARE(got[2].bytes.size(), std::size_t(2048));
        QCOMPARE(got[3].bytes.size(), std::size_t(5));

        // Without a receiver the bytes are read and dropped.
        d.setOnReceiveData({});
        port.queueBytes({9, 9});
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(port.queuedBytes(), std::size_t(0));
    }

    // Each frame of a chunk is timed by the arrival of its end byte: the read's moment less ten
    // bit times for every byte after it. A made-up chunk at 2400 Bd: two segment frames, a
    // frame cut short by a stray end byte and a frame's first five bytes; then a frame ending
    // the next chunk with nothing after it, at the read itself.
    void framesAreTimedByTheirLastByte() {
        TCommPortDriver d(port, timer);
        d.setComPortSpeed(br2400);
        int64_t readUs = 1'000'000'000;
        d.setReadClock([&readUs] { return readUs; });
        FrameTexts texts;
        std::vector<int64_t> times;
        SegmentFrameAssembler assembler(
            texts, [&](const std::string&) { times.push_back(d.arrivalUs(texts.bytesAfterFrame())); });
        d.setOnReceiveData(
            [&](TCommPortDriver*, const void* data, int32_t size) { assembler.H31BRData(data, size); });
        std::vector<uint8_t> frame;
        for (int i = 0; i < 14; ++i) frame.push_back(uint8_t((i + 1) << 4));
        std::vector<uint8_t> chunk = frame;
        chunk.insert(chunk.end(), frame.begin(), frame.end());
        chunk.insert(chunk.end(), {0x10, 0x20, 0xE0});
        chunk.insert(chunk.end(), frame.begin(), frame.begin() + 5);
        QVERIFY(d.Connect());
        port.queueBytes(chunk);
        d.TimerWndProc(WM_TIMER);
        // 22 and 8 bytes after them, 4166.67 us each
        QCOMPARE(times, (std::vector<int64_t>{readUs - 91667, readUs - 33333}));
        readUs += 50'000;
        port.queueBytes(std::vector<uint8_t>(frame.begin() + 5, frame.end()));
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(times.back(), readUs);
        QCOMPARE(d.readTimeUs(), readUs);

        QCOMPARE(byteArrivalUs(0, 1000, 19200), int64_t(-520833));
        QCOMPARE(byteArrivalUs(7, 1, 0), int64_t(7));  // no rate, no line time
    }

    void failingReceiverDoesNotStopPolling() {
        TCommPortDriver d(port, timer);
        int calls = 0;
        d.setOnReceiveData([&](TCommPortDriver*, const void*, int32_t) {
            if (++calls == 1) throw std::runtime_error("bad frame");
        });
        QVERIFY(d.Connect());
        port.queueBytes({1});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad frame"));
        d.TimerWndProc(WM_TIMER);
        port.queueBytes({2});
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(calls, 2);
        QVERIFY(d.Connected());
    }

    void receiverMayDisconnect() {
        TCommPortDriver d(port, timer);
        d.setOnReceiveData([&](TCommPortDriver* sender, const void*, int32_t) { sender->Disconnect(); });
        QVERIFY(d.Connect());
        port.queueBytes({1, 2});
        d.TimerWndProc(WM_TIMER);
        QVERIFY(!d.Connected());
        QVERIFY(!timer.running(1));
        QVERIFY(port.openHandles().empty());
    }

    void inBufSizeChangesOnlyWhileClosed() {
        TCommPortDriver d(port, timer);
        d.setComPortInBufSize(100);
        QCOMPARE(d.ComPortInBufSize(), uint16_t(100));
        QVERIFY(d.Connect());
        QCOMPARE(port.last(K::SetCommState)->dcb.XonLim, uint16_t(25));
        QCOMPARE(port.last(K::SetupComm)->first, 100u);
        QCOMPARE(port.last(K::SetupComm)->second, 2048u);

        port.clearCalls();
        d.setComPortInBufSize(4000);  // open: ignored
        QCOMPARE(d.ComPortInBufSize(), uint16_t(100));
        QVERIFY(port.calls().empty());

        int largest = 0;
        d.setOnReceiveData(
            [&](TCommPortDriver*, const void*, int32_t n) { largest = std::max(largest, int(n)); });
        port.queueBytes(std::vector<uint8_t>(150, 0x20));
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(port.last(K::ReadFile)->first, 100u);
        QCOMPARE(largest, 100);

        d.Disconnect();
        d.setComPortInBufSize(4000);
        QVERIFY(d.Connect());
        port.queueBytes(std::vector<uint8_t>(3000, 0x20));
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(port.last(K::ReadFile)->first, 4000u);
        QCOMPARE(largest, 3000);
    }

    void pollingDelay() {
        TCommPortDriver d(port, timer);
        d.setComPortPollingDelay(50);
        d.setComPortPollingDelay(20);  // closed: stored only
        QCOMPARE(timer.setCount() + timer.killCount(), 0);
        QVERIFY(d.Connect());
        QCOMPARE(timer.period(1), 20u);

        d.setComPortPollingDelay(20);
        QCOMPARE(timer.setCount(), 1);
        QCOMPARE(timer.killCount(), 0);

        d.setComPortPollingDelay(100);
        QCOMPARE(timer.killCount(), 1);
        QCOMPARE(timer.setCount(), 2);
        QCOMPARE(timer.period(1), 100u);
        QCOMPARE(d.ComPortPollingDelay(), uint16_t(100));
    }

    // A vanished device: the tick that notices tells once, and the receiver closes the port; a
    // receiver that does not is told no more. A plain failed read (above) tells nothing. Once the
    // device is back, Connect opens it again and a new loss is told again.
    void lostDeviceIsToldOnce() {
        TCommPortDriver d(port, timer);
        int lost = 0;
        bool closeWhenTold = false;
        d.setOnPortLost([&](TCommPortDriver* sender) {
            QCOMPARE(sender, &d);
            ++lost;
            if (closeWhenTold) sender->Disconnect();
        });
        int chunks = 0;
        d.setOnReceiveData([&](TCommPortDriver*, const void*, int32_t) { ++chunks; });
        QVERIFY(d.Connect());
        port.queueBytes({1, 2});
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(chunks, 1);

        port.loseDevice();
        d.TimerWndProc(WM_TIMER);
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(lost, 1);
        QVERIFY(d.Connected());
        d.Disconnect();
        QVERIFY(!timer.running(1));
        QVERIFY(port.openHandles().empty());
        QVERIFY(!d.Connect());
        port.restoreDevice();
        QVERIFY(d.Connect());
        port.queueBytes({3});
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(chunks, 2);

        closeWhenTold = true;
        port.loseDevice();
        d.TimerWndProc(WM_TIMER);
        QCOMPARE(lost, 2);
        QVERIFY(!d.Connected());
        QVERIFY(!timer.running(1));
        port.clearCalls();
        d.TimerWndProc(WM_TIMER);
        QVERIFY(port.calls().empty());
        port.restoreDevice();
        QVERIFY(d.Connect());
        QVERIFY(timer.running(1));
    }
};

QTEST_GUILESS_MAIN(TestCommPortDriver)
#include "tst_commportdriver.moc"
