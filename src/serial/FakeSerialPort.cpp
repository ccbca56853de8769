#include "FakeSerialPort.h"

#include <algorithm>

SerialCall& FakeSerialPort::record(SerialCall::Kind kind, PortHandle h) {
    SerialCall call;
    call.kind = kind;
    call.handle = h;
    calls_.push_back(call);
    return calls_.back();
}

PortHandle FakeSerialPort::open(const std::string& portName) {
    PortHandle h = kInvalidPortHandle;
    if (openFails_ || lost_) {
        lastError_ = "Cannot open " + portName + ": the port is refused.";
    } else {
        h = nextHandle_++;
        open_.insert(h);
        lastError_.clear();
    }
    record(SerialCall::Open, h).portName = portName;
    return h;
}

bool FakeSerialPort::setCommState(PortHandle h, const DeviceControlBlock& dcb) {
    record(SerialCall::SetCommState, h).dcb = dcb;
    return open_.count(h) != 0;
}

bool FakeSerialPort::setCommTimeouts(PortHandle h, const CommTimeouts& t) {
    record(SerialCall::SetCommTimeouts, h).timeouts = t;
    return open_.count(h) != 0;
}

bool FakeSerialPort::setupComm(PortHandle h, uint32_t inQueue, uint32_t outQueue) {
    SerialCall& call = record(SerialCall::SetupComm, h);
    call.first = inQueue;
    call.second = outQueue;
    return open_.count(h) != 0;
}

bool FakeSerialPort::purgeComm(PortHandle h, uint32_t flags) {
    record(SerialCall::PurgeComm, h).first = flags;
    if (open_.count(h) == 0) return false;
    // Clearing the receive side discards whatever had arrived and was not read yet.
    if (flags & PURGE_RXCLEAR) rxQueue_.clear();
    return true;
}

bool FakeSerialPort::readFile(PortHandle h, void* buffer, uint32_t toRead, uint32_t& bytesRead) {
    SerialCall& call = record(SerialCall::ReadFile, h);
    call.first = toRead;
    bytesRead = 0;
    if (open_.count(h) == 0) return false;
    if (failNextRead_ || lost_) {
        failNextRead_ = false;
        return false;
    }
    const auto n = static_cast<uint32_t>(std::min<std::size_t>(toRead, rxQueue_.size()));
    auto* out = static_cast<uint8_t*>(buffer);
    std::copy(rxQueue_.begin(), rxQueue_.begin() + n, out);
    rxQueue_.erase(rxQueue_.begin(), rxQueue_.begin() + n);
    bytesRead = n;
    call.second = n;
    return true;
}

bool FakeSerialPort::closeHandle(PortHandle h) {
    record(SerialCall::CloseHandle, h);
    return open_.erase(h) != 0;
}

void FakeSerialPort::queueBytes(const std::vector<uint8_t>& bytes) {
    rxQueue_.insert(rxQueue_.end(), bytes.begin(), bytes.end());
}

std::vector<SerialCall::Kind> FakeSerialPort::callKinds() const {
    std::vector<SerialCall::Kind> kinds;
    kinds.reserve(calls_.size());
    for (const SerialCall& c : calls_) kinds.push_back(c.kind);
    return kinds;
}

int FakeSerialPort::count(SerialCall::Kind kind) const {
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [kind](const SerialCall& c) { return c.kind == kind; }));
}

const SerialCall* FakeSerialPort::last(SerialCall::Kind kind) const {
    for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
        if (it->kind == kind) return &*it;
    }
    return nullptr;
}

void FakePollTimer::setTimer(unsigned id, unsigned periodMs) {
    ++setCount_;
    timers_[id] = periodMs;
}

void FakePollTimer::killTimer(unsigned id) {
    ++killCount_;
    timers_.erase(id);
}

unsigned FakePollTimer::period(unsigned id) const {
    const auto it = timers_.find(id);
    return it == timers_.end() ? 0 : it->second;
}
