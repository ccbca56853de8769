#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "SerialPort.h"
#include "TCommPortDriver.h"

// One call the driver made on the port layer, with its arguments.
struct SerialCall {
    enum Kind { Open, SetCommState, SetCommTimeouts, SetupComm, PurgeComm, ReadFile, CloseHandle };

    Kind kind = Open;
    PortHandle handle = 0;   // the handle passed in, or for Open the handle returned
    std::string portName;    // Open
    DeviceControlBlock dcb;  // SetCommState
    CommTimeouts timeouts;   // SetCommTimeouts
    uint32_t first = 0;      // SetupComm: receive queue; PurgeComm: mask; ReadFile: bytes asked for
    uint32_t second = 0;     // SetupComm: transmit queue; ReadFile: bytes delivered
};

// A serial port that exists only in memory: it records every call, hands out bytes a test queued
// (as the operating system's receive queue would, up to the size asked for), and can be told to
// refuse the next opens or fail the next read.
class FakeSerialPort : public SerialPort {
public:
    PortHandle open(const std::string& portName) override;
    bool setCommState(PortHandle h, const DeviceControlBlock& dcb) override;
    bool setCommTimeouts(PortHandle h, const CommTimeouts& t) override;
    bool setupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) override;
    bool purgeComm(PortHandle h, uint32_t flags) override;
    bool readFile(PortHandle h, void* buffer, uint32_t toRead, uint32_t& bytesRead) override;
    bool closeHandle(PortHandle h) override;
    std::string lastError() const override { return lastError_; }
    bool deviceLost(PortHandle h) override { return lost_ && open_.count(h) != 0; }

    // Bytes that arrive on the line; the next reads take them in order.
    void queueBytes(const std::vector<uint8_t>& bytes);
    std::size_t queuedBytes() const { return rxQueue_.size(); }
    void setOpenFails(bool fails) { openFails_ = fails; }
    void failNextRead() { failNextRead_ = true; }
    // The device goes away: reads fail from now on and the port layer reports it lost.
    void loseDevice() { lost_ = true; }
    // It is back: the next open works again.
    void restoreDevice() { lost_ = false; }

    const std::vector<SerialCall>& calls() const { return calls_; }
    std::vector<SerialCall::Kind> callKinds() const;
    int count(SerialCall::Kind kind) const;
    // The latest call of that kind, or nullptr.
    const SerialCall* last(SerialCall::Kind kind) const;
    void clearCalls() { calls_.clear(); }
    // Handles opened and not yet closed.
    const std::set<PortHandle>& openHandles() const { return open_; }

private:
    SerialCall& record(SerialCall::Kind kind, PortHandle h);

    std::vector<SerialCall> calls_;
    std::deque<uint8_t> rxQueue_;
    std::set<PortHandle> open_;
    PortHandle nextHandle_ = 100;
    bool openFails_ = false;
    bool failNextRead_ = false;
    bool lost_ = false;
    std::string lastError_;
};

// A poll timer that never fires by itself: it records which timers are set, and tests tick the
// driver by hand.
class FakePollTimer : public PollTimer {
public:
    void setTimer(unsigned id, unsigned periodMs) override;
    void killTimer(unsigned id) override;

    bool running(unsigned id) const { return timers_.count(id) != 0; }
    // Period of a running timer, 0 when it is not running.
    unsigned period(unsigned id) const;
    int setCount() const { return setCount_; }
    int killCount() const { return killCount_; }

private:
    std::map<unsigned, unsigned> timers_;
    int setCount_ = 0;
    int killCount_ = 0;
};
