#pragma once

#include <cstdint>
#include <string>

// The operating-system calls the serial driver makes, one method per call, so the driver's
// logic runs the same against a real port and against a recording fake.

using PortHandle = intptr_t;  // > 0 while open
constexpr PortHandle kInvalidPortHandle = -1;

// Line settings as the driver writes them in one block.
struct DeviceControlBlock {
    uint32_t DCBlength = 0;
    uint32_t BaudRate = 0;
    uint32_t Flags = 0;  // 0x0001 binary, 0x0004 CTS out-flow, 0x0010 DTR on, 0x0100/0x0200 XON/XOFF,
                         // 0x2000 RTS handshake
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0;  // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;

    bool operator==(const DeviceControlBlock& o) const {
        return DCBlength == o.DCBlength && BaudRate == o.BaudRate && Flags == o.Flags && XonLim == o.XonLim &&
               XoffLim == o.XoffLim && ByteSize == o.ByteSize && Parity == o.Parity &&
               StopBits == o.StopBits && XonChar == o.XonChar && XoffChar == o.XoffChar &&
               ErrorChar == o.ErrorChar && EofChar == o.EofChar && EvtChar == o.EvtChar;
    }
};

// Bits of DeviceControlBlock::Flags.
constexpr uint32_t kDcbBinary = 0x0001;
constexpr uint32_t kDcbOutxCtsFlow = 0x0004;
constexpr uint32_t kDcbDtrControlEnable = 0x0010;  // DTR held on
constexpr uint32_t kDcbOutX = 0x0100;              // XON/XOFF on what we send
constexpr uint32_t kDcbInX = 0x0200;               // XON/XOFF on what we receive
constexpr uint32_t kDcbRtsControlEnable = 0x1000;  // RTS held on
constexpr uint32_t kDcbRtsControlHandshake = 0x2000;

struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

constexpr uint32_t PURGE_TXABORT = 0x1;
constexpr uint32_t PURGE_RXABORT = 0x2;
constexpr uint32_t PURGE_TXCLEAR = 0x4;
constexpr uint32_t PURGE_RXCLEAR = 0x8;

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Opens the port named "COM1".."COM4" exclusively; kInvalidPortHandle on failure.
    virtual PortHandle open(const std::string& portName) = 0;
    virtual bool setCommState(PortHandle h, const DeviceControlBlock& dcb) = 0;
    virtual bool setCommTimeouts(PortHandle h, const CommTimeouts& t) = 0;
    virtual bool setupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) = 0;
    virtual bool purgeComm(PortHandle h, uint32_t flags) = 0;
    // Returns at once with whatever is queued, up to `toRead` bytes.
    virtual bool readFile(PortHandle h, void* buffer, uint32_t toRead, uint32_t& bytesRead) = 0;
    virtual bool closeHandle(PortHandle h) = 0;
    // Whether the device behind an open handle is gone for good (an adapter pulled, the far side
    // of the line hung up), so that no read will ever deliver again. Asked after a read that
    // failed or found nothing; a port layer that cannot tell says no.
    virtual bool deviceLost(PortHandle) { return false; }
    // Lets a quiet handle report itself readable only once `bytes` bytes wait (1: from the first
    // byte on), so that a frame of known length wakes its reader once, when it is whole. Reads
    // still return whatever is queued. False where the port cannot; it then reports the first
    // byte.
    virtual bool setReadWake(PortHandle, uint32_t /*bytes*/) { return false; }

    // Why the last open failed, in words for the user (device path and system reason).
    virtual std::string lastError() const = 0;
};
