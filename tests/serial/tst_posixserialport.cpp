#include <dirent.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <QtTest>
#include <cerrno>
#include <cstring>

#include "PosixSerialPort.h"
#include "PseudoTerminal.h"
#include "SerialDeviceList.h"

namespace {

// Writes to the line from the meter's side.
void send(const PseudoTerminal& pty, const std::vector<uint8_t>& bytes) {
    QCOMPARE(::write(pty.master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

int openDescriptorCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d)) ++n;
        closedir(d);
    }
    return n;
}

// Waits until the descriptor has bytes to read (the pseudo-terminal hands them over asynchronously).
bool readable(PortHandle h) {
    pollfd p{int(h), POLLIN, 0};
    return poll(&p, 1, 2000) == 1;
}

DeviceControlBlock block(uint32_t baud, uint32_t flags = 0x0011, uint8_t size = 8, uint8_t parity = 0,
                         uint8_t stop = 0) {
    DeviceControlBlock d;
    d.DCBlength = 28;
    d.BaudRate = baud;
    d.Flags = flags;
    d.XonLim = 512;
    d.XoffLim = 1;
    d.ByteSize = size;
    d.Parity = parity;
    d.StopBits = stop;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

}  // namespace

Q_DECLARE_METATYPE(DeviceControlBlock)

class TestPosixSerialPort : public QObject {
    Q_OBJECT

private slots:
    void devicePaths() {
        PosixSerialPort port;
        QCOMPARE(port.devicePath("COM1"), std::string("/dev/ttyS0"));
        QCOMPARE(port.devicePath(pnCOM4), std::string("/dev/ttyS3"));
        QVERIFY(port.setDevicePath("COM2", "/dev/ttyUSB0"));
        port.setDevicePath(pnCOM3, "/dev/pts/7");
        QCOMPARE(port.devicePath(pnCOM2), std::string("/dev/ttyUSB0"));
        QCOMPARE(port.devicePath("COM3"), std::string("/dev/pts/7"));
        QVERIFY(!port.setDevicePath("COM5", "/dev/ttyS4"));
        QVERIFY(!port.setDevicePath("COM1", ""));
        QCOMPARE(port.devicePath("COM5"), std::string());
        QCOMPARE(port.devicePath("COM1"), std::string("/dev/ttyS0"));
    }

    // What the Devices dialog offers, from a made-up /dev: stable links first by readable name
    // (a link to a pulled adapter left out), then each kind in numeric order; a device the user
    // may not open is marked.
    void listsTheDevicesPresent() {
        QTemporaryDir dev;
        const QDir d(dev.path());
        QVERIFY(d.mkpath("serial/by-id"));
        for (const char* name : {"ttyS10", "ttyS2", "ttyUSB0", "ttyACM0", "ttyUSBfoo", "tty5"}) {
            QFile f(d.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(
            QFile::link("../../ttyUSB0", d.filePath("serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0")));
        QVERIFY(QFile::link("../../ttyUSB7", d.filePath("serial/by-id/usb-Gone-if00-port0")));
        const std::string root = dev.path().toStdString();
        const auto list =
            listSerialDevices(root, [&](const std::string& p) { return p != root + "/ttyACM0"; });
        QStringList shown;
        for (const SerialDevice& x : list) {
            shown << QString::fromStdString(x.label).replace(dev.path(), "DEV") + (x.denied ? " denied" : "");
        }
        QCOMPARE(shown, QStringList({"Maker USB Serial A1B2 (ttyUSB0)", "DEV/ttyUSB0", "DEV/ttyACM0 denied",
                                     "DEV/ttyS2", "DEV/ttyS10"}));
        QCOMPARE(list[0].path, root + "/serial/by-id/usb-Maker_USB_Serial_A1B2-if00-port0");
        QVERIFY(listSerialDevices(root + "/none").empty());
    }

    void failedOpensExplainThemselves() {
        const int before = openDescriptorCount();
        PosixSerialPort port;

        port.setDevicePath("COM3", "/nonexistent/ttyX");
        QCOMPARE(port.open("COM3"), kInvalidPortHandle);
        const std::string missing = port.lastError();
        QVERIFY2(missing.find("COM3") != std::string::npos, missing.c_str());
        QVERIFY2(missing.find("/nonexistent/ttyX") != std::string::npos, missing.c_str());
        QVERIFY2(missing.find(std::strerror(ENOENT)) != std::string::npos, missing.c_str());

        port.setDevicePath("COM1", "/dev/null");
        QCOMPARE(port.open("COM1"), kInvalidPortHandle);
        QVERIFY2(port.lastError().find("not a serial device") != std::string::npos, port.lastError().c_str());

        QCOMPARE(port.open("COM9"), kInvalidPortHandle);
        QVERIFY2(port.lastError().find("COM9") != std::string::npos, port.lastError().c_str());
        QCOMPARE(openDescriptorCount(), before);
    }

    void openIsExclusive() {
        PseudoTerminal pty;
        QVERIFY(!pty.slavePath.empty());
        PosixSerialPort first;
        PosixSerialPort second;
        first.setDevicePath("COM1", pty.slavePath);
        second.setDevicePath("COM1", pty.slavePath);

        const PortHandle h = first.open("COM1");
        QVERIFY2(h > 0, first.lastError().c_str());
        QCOMPARE(second.open("COM1"), kInvalidPortHandle);
        QVERIFY2(second.lastError().find("another program") != std::string::npos, second.lastError().c_str());
        QVERIFY2(second.lastError().find(pty.slavePath) != std::string::npos, second.lastError().c_str());
        // The same object cannot open it twice either.
        QCOMPARE(first.open("COM1"), kInvalidPortHandle);

        QVERIFY(first.closeHandle(h));
        QVERIFY(!first.closeHandle(h));
        const PortHandle again = second.open("COM1");
        QVERIFY2(again > 0, second.lastError().c_str());
        QVERIFY(second.lastError().empty());
    }

    void lineSettings_data() {
        QTest::addColumn<DeviceControlBlock>("dcb");
        QTest::addColumn<uint>("baud");
        QTest::addColumn<uint>("cflagSet");
        QTest::addColumn<uint>("cflagClear");
        QTest::addColumn<uint>("iflagSet");

        const uint none = PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
        QTest::newRow("2400 8N1") << block(2400) << 2400u << uint(CS8) << none << 0u;
        QTest::newRow("19200") << block(19200) << 19200u << uint(CS8) << none << 0u;
        QTest::newRow("14400 has no constant") << block(14400) << 14400u << uint(CS8) << none << 0u;
        QTest::newRow("56000 has no constant") << block(56000) << 56000u << uint(CS8) << none << 0u;
        QTest::newRow("7 bits even, 2 stop")
            << block(9600, 0x0011, 7, 2, 2) << 9600u << uint(CS7 | PARENB | CSTOPB)
            << uint(PARODD | CMSPAR | CRTSCTS) << 0u;
        QTest::newRow("odd") << block(9600, 0x0011, 8, 1) << 9600u << uint(CS8 | PARENB | PARODD)
                             << uint(CMSPAR | CSTOPB) << 0u;
        QTest::newRow("mark") << block(9600, 0x0011, 8, 3) << 9600u << uint(CS8 | PARENB | PARODD | CMSPAR)
                              << uint(CSTOPB) << 0u;
        QTest::newRow("space") << block(9600, 0x0011, 8, 4) << 9600u << uint(CS8 | PARENB | CMSPAR)
                               << uint(PARODD | CSTOPB) << 0u;
        QTest::newRow("5 bits, 1.5 stop")
            << block(1200, 0x0011, 5, 0, 1) << 1200u << uint(CS5 | CSTOPB) << uint(PARENB) << 0u;
        QTest::newRow("RTS/CTS") << block(2400, 0x2015) << 2400u << uint(CS8 | CRTSCTS) << uint(PARENB) << 0u;
        QTest::newRow("XON/XOFF") << block(2400, 0x0311) << 2400u << uint(CS8) << uint(CRTSCTS)
                                  << uint(IXON | IXOFF);
    }

    void lineSettings() {
        QFETCH(DeviceControlBlock, dcb);
        QFETCH(uint, baud);
        QFETCH(uint, cflagSet);
        QFETCH(uint, cflagClear);
        QFETCH(uint, iflagSet);

        // The settings as computed, every bit of them.
        termios wanted{};
        posixserial::applyControlBlock(dcb, wanted);
        QCOMPARE(uint(wanted.c_cflag & (CSIZE | cflagSet)), cflagSet);
        QCOMPARE(uint(wanted.c_cflag & cflagClear), 0u);
        QCOMPARE(uint(wanted.c_cflag & (CLOCAL | CREAD)), uint(CLOCAL | CREAD));
        QCOMPARE(uint(wanted.c_iflag & (IXON | IXOFF)), iflagSet);
        // Raw: no parity checking, no translation, no line editing, no echo, reads never wait.
        QCOMPARE(uint(wanted.c_iflag & (INPCK | ISTRIP | ICRNL | INLCR | IGNCR)), 0u);
        QCOMPARE(uint(wanted.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)), 0u);
        QCOMPARE(uint(wanted.c_oflag & OPOST), 0u);
        QCOMPARE(int(wanted.c_cc[VMIN]), 0);
        QCOMPARE(int(wanted.c_cc[VTIME]), 0);
        QCOMPARE(int(wanted.c_cc[VSTART]), 17);
        QCOMPARE(int(wanted.c_cc[VSTOP]), 19);

        // The same settings reach a device. A pseudo-terminal forces eight bits without parity, so
        // those two are left out of the comparison.
        PseudoTerminal pty;
        PosixSerialPort port;
        port.setDevicePath("COM2", pty.slavePath);
        const PortHandle h = port.open("COM2");
        QVERIFY2(h > 0, port.lastError().c_str());
        termios onDevice{};
        QCOMPARE(tcgetattr(int(h), &onDevice), 0);
        posixserial::applyControlBlock(dcb, onDevice);
        QVERIFY(port.setCommState(h, dcb));
        termios t{};
        QCOMPARE(tcgetattr(int(h), &t), 0);
        wanted = onDevice;
        const tcflag_t ignored = CSIZE | PARENB | CBAUD | CIBAUD;
        QCOMPARE(uint(t.c_cflag & ~ignored), uint(wanted.c_cflag & ~ignored));
        QCOMPARE(uint(t.c_iflag), uint(wanted.c_iflag));
        QCOMPARE(uint(t.c_lflag), uint(wanted.c_lflag));
        for (const int i : {VMIN, VTIME, VSTART, VSTOP}) QCOMPARE(int(t.c_cc[i]), int(wanted.c_cc[i]));

        uint32_t in = 0, out = 0;
        if (!posixserial::readBaudRate(int(h), in, out)) QSKIP("line rates cannot be read back here");
        QCOMPARE(uint(in), baud);
        QCOMPARE(uint(out), baud);
        QVERIFY(port.closeHandle(h));
    }

    // A pseudo-terminal has no modem lines to read back, so the decision is checked on its own:
    // for the block the driver writes with its defaults (0x0011) and every other combination.
    void modemLinesFollowTheBlock_data() {
        QTest::addColumn<uint>("flags");
        QTest::addColumn<bool>("dtr");
        QTest::addColumn<bool>("rts");
        QTest::newRow("DTR on, RTS off") << 0x0011u << true << false;
        QTest::newRow("DTR off") << 0x0001u << false << false;
        QTest::newRow("RTS held on") << 0x1011u << true << true;
        QTest::newRow("RTS held on, DTR off") << 0x1001u << false << true;
        QTest::newRow("RTS/CTS") << 0x2015u << true << true;
        QTest::newRow("RTS/CTS, DTR off") << 0x2005u << false << true;
        QTest::newRow("XON/XOFF leaves the lines") << 0x0311u << true << false;
    }
    void modemLinesFollowTheBlock() {
        QFETCH(uint, flags);
        QFETCH(bool, dtr);
        QFETCH(bool, rts);
        const posixserial::ModemLines lines = posixserial::modemLines(block(2400, flags));
        QCOMPARE(lines.dtr, dtr);
        QCOMPARE(lines.rts, rts);
    }

    void readsNeverWait() {
        PseudoTerminal pty;
        PosixSerialPort port;
        port.setDevicePath("COM1", pty.slavePath);
        const PortHandle h = port.open("COM1");
        QVERIFY2(h > 0, port.lastError().c_str());
        QVERIFY(port.setCommState(h, block(2400)));
        QVERIFY(port.setCommTimeouts(h, CommTimeouts{1, 0, 1, 0, 0}));
        QVERIFY(port.setupComm(h, 2048, 2048));

        uint8_t buf[64];
        uint32_t n = 99;
        QVERIFY(port.readFile(h, buf, sizeof buf, n));
        QCOMPARE(n, 0u);

        // Every byte value arrives as sent, including CR, XON/XOFF and 0xFF.
        const std::vector<uint8_t> sent = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x7F, 0xFF, 0x10, 0xED};
        send(pty, sent);
        QVERIFY(readable(h));
        std::vector<uint8_t> got;
        QDeadlineTimer deadline(2000);
        while (got.size() < sent.size() && !deadline.hasExpired()) {
            QVERIFY(port.readFile(h, buf, sizeof buf, n));
            got.insert(got.end(), buf, buf + n);
        }
        QCOMPARE(got, sent);

        // Purging the receive side drops what arrived and was not read.
        send(pty, {1, 2, 3});
        QVERIFY(readable(h));
        QVERIFY(port.purgeComm(h, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
        QVERIFY(port.readFile(h, buf, sizeof buf, n));
        QCOMPARE(n, 0u);

        // Handles this object did not open are refused.
        QVERIFY(!port.readFile(h + 1000, buf, sizeof buf, n));
        QVERIFY(!port.setCommState(0, block(2400)));
        QVERIFY(!port.purgeComm(-1, 0x0F));
    }

    // The far side of the line closes: reads fail or find nothing, and the port layer can tell
    // that from a quiet line, which it never takes for a lost device.
    void farSideClosingIsALostDevice() {
        PseudoTerminal pty;
        PosixSerialPort port;
        port.setDevicePath("COM1", pty.slavePath);
        const PortHandle h = port.open("COM1");
        QVERIFY2(h > 0, port.lastError().c_str());
        QVERIFY(port.setCommState(h, block(2400)));
        uint8_t buf[16];
        uint32_t n = 0;
        QVERIFY(port.readFile(h, buf, sizeof buf, n));
        QVERIFY(!port.deviceLost(h));
        send(pty, {0x41});
        QVERIFY(readable(h));
        QVERIFY(!port.deviceLost(h));
        QVERIFY(port.readFile(h, buf, sizeof buf, n));
        QCOMPARE(n, 1u);
        pty.closeMaster();
        QVERIFY(!port.readFile(h, buf, sizeof buf, n) || n == 0);
        QVERIFY(port.deviceLost(h));
        QVERIFY(!port.deviceLost(h + 1000));
        QVERIFY(port.closeHandle(h));
        QVERIFY(!port.deviceLost(h));
    }
};

QTEST_GUILESS_MAIN(TestPosixSerialPort)
#include "tst_posixserialport.moc"
