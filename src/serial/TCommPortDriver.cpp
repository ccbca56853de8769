#include "TCommPortDriver.h"

#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <exception>
#include <iterator>

namespace {

constexpr uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                   14400, 19200, 38400, 56000, 57600, 115200};
constexpr unsigned kPollTimerId = 1;

}  // namespace

uint32_t baudRateValue(TComPortBaudRate rate) {
    const auto index = static_cast<std::size_t>(rate);
    return index < std::size(kBaudRates) ? kBaudRates[index] : 0;
}

int64_t byteArrivalUs(int64_t readUs, uint64_t bytesAfter, uint32_t baud) {
    if (baud == 0) return readUs;
    // 10 bits of 1/baud seconds each, in microseconds, rounded to the nearest
    const uint64_t lineUs = (bytesAfter * 10'000'000 + baud / 2) / baud;
    return readUs - static_cast<int64_t>(lineUs);
}

TCommPortDriver::TCommPortDriver(SerialPort& port, PollTimer& timer)
    : port_(port), timer_(timer), inputBuffer_(inBufSize_), readClock_([] {
          return std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::system_clock::now().time_since_epoch())
              .count();
      }) {}

TCommPortDriver::~TCommPortDriver() {
    Disconnect();
}

std::string TCommPortDriver::portName() const {
    return std::string("COM") + static_cast<char>('1' + static_cast<int>(comPort_));
}

bool TCommPortDriver::Connected() const {
    // The handle is judged as a signed 32-bit value: the failure value of an open counts as closed.
    return static_cast<int32_t>(portHandle_) > 0;
}

bool TCommPortDriver::Connect() {
    if (Connected()) return true;
    portHandle_ = port_.open(portName());
    if (!Connected()) return false;
    lostReported_ = false;
    ApplySettings();
    port_.setCommTimeouts(portHandle_, CommTimeouts{1, 0, 1, 0, 0});
    timer_.setTimer(kPollTimerId, pollingDelay_);
    return true;
}

void TCommPortDriver::Disconnect() {
    if (!Connected()) return;
    timer_.killTimer(kPollTimerId);
    port_.closeHandle(portHandle_);
    portHandle_ = 0;
}

void TCommPortDriver::ApplySettings() {
    if (!Connected()) return;

    DeviceControlBlock dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = baudRateValue(speed_);
    dcb.Flags = kDcbBinary;
    if (enableDtr_) dcb.Flags |= kDcbDtrControlEnable;
    if (hw_ == hhRTSCTS) dcb.Flags |= kDcbOutxCtsFlow | kDcbRtsControlHandshake;
    if (sw_ == shXONXOFF) dcb.Flags |= kDcbOutX | kDcbInX;
    dcb.XonLim = static_cast<uint16_t>(inBufSize_ / 4);
    dcb.XoffLim = 1;
    dcb.ByteSize = static_cast<uint8_t>(dataBits_ + 5);
    dcb.Parity = parity_;
    dcb.StopBits = stopBits_;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;

    port_.setCommState(portHandle_, dcb);
    FlushBuffers(true, true);
    port_.setupComm(portHandle_, inBufSize_, outBufSize_);
}

void TCommPortDriver::FlushBuffers(bool inBuf, bool outBuf) {
    if (!Connected()) return;
    uint32_t mask = 0;
    if (outBuf) mask |= PURGE_TXABORT | PURGE_TXCLEAR;
    if (inBuf) mask |= PURGE_RXABORT | PURGE_RXCLEAR;
    port_.purgeComm(portHandle_, mask);
}

void TCommPortDriver::TimerWndProc(unsigned message) {
    if (message != WM_TIMER || !Connected()) return;

    uint32_t bytesRead = 0;
    const auto size = static_cast<uint32_t>(inputBuffer_.size());
    const bool ok = port_.readFile(portHandle_, inputBuffer_.data(), size, bytesRead);
    if ((!ok || bytesRead == 0) && !lostReported_ && port_.deviceLost(portHandle_)) {
        lostReported_ = true;
        if (onPortLost_) onPortLost_(this);
        return;
    }
    if (ok && bytesRead == 0) {
        // nothing came, not even what a whole-frame wake promised: the next byte wakes the timer,
        // which then ticks a period later as on any line
        restUntilReadable(1);
        return;
    }
    if (!ok || !onReceiveData_) return;
    // A port layer that claims more than it was asked for must not make the receiver read past the buffer.
    if (bytesRead > size) bytesRead = size;
    readTimeUs_ = readClock_();

    // The tick runs from the event loop, which cannot recover from an exception passing through it;
    // a receiver that fails loses the rest of this chunk, and polling goes on.
    expectedBytes_ = 0;
    try {
        onReceiveData_(this, inputBuffer_.data(), static_cast<int32_t>(bytesRead));
    } catch (const std::exception& e) {
        qWarning("Received data dropped: %s", e.what());
    } catch (...) {
        qWarning("Received data dropped: unknown failure in the receiver");
    }
    // Less than the line carries in half a period came from a line that was mostly quiet, a meter
    // pausing between its frames: the timer rests until the next byte (or the rest of the frame the
    // receiver waits for) rather than ticking through the pause only to find it empty. A busy line
    // keeps it ticking.
    if (Connected() && uint64_t(bytesRead) * 20'000 < uint64_t(baudRateValue(speed_)) * pollingDelay_) {
        restUntilReadable(std::max<uint32_t>(expectedBytes_, 1));
    }
}

void TCommPortDriver::restUntilReadable(uint32_t bytes) {
    const bool wholeFrame = bytes > 1 && port_.setReadWake(portHandle_, bytes);
    if (!wholeFrame) port_.setReadWake(portHandle_, 1);
    timer_.restUntilReadable(kPollTimerId, portHandle_, wholeFrame);
}

void TCommPortDriver::setComPort(TComPortNumber v) {
    // The port in use cannot change under an open handle.
    if (Connected()) return;
    comPort_ = v;
}

void TCommPortDriver::setComPortSpeed(TComPortBaudRate v) {
    speed_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortDataBits(TComPortDataBits v) {
    dataBits_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortStopBits(TComPortStopBits v) {
    stopBits_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortParity(TComPortParity v) {
    parity_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortHwHandshaking(TComPortHwHandshaking v) {
    hw_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortSwHandshaking(TComPortSwHandshaking v) {
    sw_ = v;
    ApplySettings();
}

void TCommPortDriver::setComPortInBufSize(uint16_t v) {
    // The receive queue was sized when the port was set up; the buffer stays matched to it.
    if (Connected()) return;
    inputBuffer_.clear();
    inputBuffer_.shrink_to_fit();
    inBufSize_ = v;
    inputBuffer_.resize(inBufSize_);
}

void TCommPortDriver::setComPortPollingDelay(uint16_t v) {
    if (v == pollingDelay_) return;
    if (Connected()) {
        timer_.killTimer(kPollTimerId);
        pollingDelay_ = v;
        timer_.setTimer(kPollTimerId, pollingDelay_);
    } else {
        pollingDelay_ = v;
    }
}
