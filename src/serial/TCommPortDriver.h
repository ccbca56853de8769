#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "SerialPort.h"

enum TComPortNumber : uint8_t { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };
enum TComPortBaudRate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200
};
enum TComPortDataBits : uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits : uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity : uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking : uint8_t { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking : uint8_t { shNONE, shXONXOFF };

// Bits per second for each TComPortBaudRate, in enumeration order.
uint32_t baudRateValue(TComPortBaudRate rate);

// When a byte of a chunk arrived: the chunk was read at `readUs` (microseconds since 1970 UTC)
// and `bytesAfter` bytes of it followed that byte on a line of `baud` baud, ten bit times a byte
// (start bit, eight data bits, stop bit). The last byte of the chunk is taken to have arrived at
// the read itself, so no time is ever later than the read.
int64_t byteArrivalUs(int64_t readUs, uint64_t bytesAfter, uint32_t baud);

class TCommPortDriver;
using TComPortReceiveDataEvent =
    std::function<void(TCommPortDriver* sender, const void* dataPtr, int32_t dataSize)>;
// Raised once per connection when the open port's device vanishes. The port stays open until the
// receiver calls Disconnect, which it should do at once: nothing will come from that handle, and
// holding it keeps the device's name taken when the adapter comes back.
using TComPortLostEvent = std::function<void(TCommPortDriver* sender)>;

// The periodic call that drives polling: the driver sets and kills timer 1 through it, and the
// timer calls TCommPortDriver::TimerWndProc on every tick.
class PollTimer {
public:
    virtual ~PollTimer() = default;
    virtual void setTimer(unsigned id, unsigned periodMs) = 0;
    virtual void killTimer(unsigned id) = 0;
    // The line is quiet: the running timer `id` may rest until the open `handle` has something to
    // read (bytes, or a hang-up), then tick again at its period from then on, so that a quiet line
    // costs no ticks and a byte waits at most a period. True when it rests; a timer that cannot
    // watch the handle goes on ticking.
    // With `tickAtOnce`, the first tick after the rest comes as soon as the handle is readable
    // rather than a period later: for a handle that waits for a whole frame before it says so.
    virtual bool restUntilReadable(unsigned /*id*/, PortHandle /*handle*/, bool /*tickAtOnce*/ = false) {
        return false;
    }
};

constexpr unsigned WM_TIMER = 0x113;

// Receive-only serial port component: opens one of COM1..COM4 with the stored line settings and
// polls it; every poll that finds bytes hands them as one chunk to OnReceiveData.
class TCommPortDriver {
public:
    TCommPortDriver(SerialPort& port, PollTimer& timer);
    ~TCommPortDriver();
    TCommPortDriver(const TCommPortDriver&) = delete;
    TCommPortDriver& operator=(const TCommPortDriver&) = delete;

    bool Connect();
    void Disconnect();
    bool Connected() const;
    void ApplySettings();
    void FlushBuffers(bool inBuf, bool outBuf);
    // The polling step; acts only on WM_TIMER while the port is open.
    void TimerWndProc(unsigned message);

    // properties
    TComPortNumber ComPort() const { return comPort_; }
    void setComPort(TComPortNumber v);
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void setComPortSpeed(TComPortBaudRate v);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void setComPortDataBits(TComPortDataBits v);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void setComPortStopBits(TComPortStopBits v);
    TComPortParity ComPortParity() const { return parity_; }
    void setComPortParity(TComPortParity v);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hw_; }
    void setComPortHwHandshaking(TComPortHwHandshaking v);
    TComPortSwHandshaking ComPortSwHandshaking() const { return sw_; }
    void setComPortSwHandshaking(TComPortSwHandshaking v);
    uint16_t ComPortInBufSize() const { return inBufSize_; }
    void setComPortInBufSize(uint16_t v);
    uint16_t ComPortOutBufSize() const { return outBufSize_; }
    uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void setComPortPollingDelay(uint16_t v);
    bool EnableDTROnOpen() const { return enableDtr_; }
    void setEnableDTROnOpen(bool v) { enableDtr_ = v; }
    uint16_t OutputTimeout() const { return outputTimeout_; }
    void setOutputTimeout(uint16_t v) { outputTimeout_ = v; }
    const TComPortReceiveDataEvent& OnReceiveData() const { return onReceiveData_; }
    void setOnReceiveData(TComPortReceiveDataEvent e) { onReceiveData_ = std::move(e); }
    const TComPortLostEvent& OnPortLost() const { return onPortLost_; }
    void setOnPortLost(TComPortLostEvent e) { onPortLost_ = std::move(e); }

    // The moment (microseconds since 1970 UTC) of the latest read that delivered bytes, and when
    // the byte that had `bytesAfter` bytes after it in that chunk arrived.
    int64_t readTimeUs() const { return readTimeUs_; }
    int64_t arrivalUs(uint64_t bytesAfter) const {
        return byteArrivalUs(readTimeUs_, bytesAfter, baudRateValue(speed_));
    }
    // The clock read after every read that delivered bytes; the system clock unless replaced.
    void setReadClock(std::function<int64_t()> clock) { readClock_ = std::move(clock); }

    PortHandle portHandle() const { return portHandle_; }
    // Told by the receiver, while it takes a chunk, that the frame it waits for ends `bytes` bytes
    // from now. When the line then falls quiet, the port is read once that many bytes are there,
    // as the frame ends, rather than at its first byte and a period later: one wake a frame.
    // Holds for the chunk being taken only; a port that cannot wait for a count ignores it.
    void ExpectBytes(uint32_t bytes) { expectedBytes_ = bytes; }
    // "COM1".."COM4" for the stored ComPort.
    std::string portName() const;
    SerialPort& serialPort() { return port_; }

private:
    // rests the poll timer until `bytes` bytes wait, or the first byte where the port cannot count
    void restUntilReadable(uint32_t bytes);

    SerialPort& port_;
    PollTimer& timer_;
    PortHandle portHandle_ = 0;
    TComPortNumber comPort_ = pnCOM2;
    TComPortBaudRate speed_ = br9600;
    TComPortDataBits dataBits_ = db8BITS;
    TComPortStopBits stopBits_ = sb1BITS;
    TComPortParity parity_ = ptNONE;
    TComPortHwHandshaking hw_ = hhNONE;
    TComPortSwHandshaking sw_ = shNONE;
    uint16_t inBufSize_ = 2048;
    uint16_t outBufSize_ = 2048;
    TComPortReceiveDataEvent onReceiveData_;
    TComPortLostEvent onPortLost_;
    uint16_t pollingDelay_ = 50;
    bool enableDtr_ = true;
    uint16_t outputTimeout_ = 4000;
    std::vector<uint8_t> inputBuffer_;
    bool lostReported_ = false;
    uint32_t expectedBytes_ = 0;
    int64_t readTimeUs_ = 0;
    std::function<int64_t()> readClock_;
};
