#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace dmmsim {

// One start bit, eight data bits, one stop bit: ten bit times per byte.
constexpr int kBitsPerByte = 10;
constexpr double lineBytesPerSecond(int baud) {
    return static_cast<double>(baud) / kBitsPerByte;
}
// How long `bytes` bytes take on the line.
std::chrono::nanoseconds lineTime(uint64_t bytes, int baud);

// How many unread bytes make a line stale: one second of it. A reader polling the line a few
// times a second never has that much waiting.
std::size_t staleLimitFor(int baud);

// Writes bytes into a file descriptor no faster than the line would carry them: each byte is
// handed over when its stop bit would have arrived.
class PacedWriter {
public:
    enum class Full { Wait, Drop };  // what a write does when the other side's buffer is full

    PacedWriter(int fd, int baud, Full whenFull);

    // Empties the receive queue of `queueFd` (the far end of the line) when more than `limit`
    // bytes wait in it: nobody is reading, and a listener who comes later wants the meter's
    // present reading, not a backlog.
    void setStaleLimit(int queueFd, std::size_t limit);

    // False when `stop` was raised or the descriptor failed.
    bool write(const uint8_t* data, std::size_t size, const std::atomic<bool>& stop);
    // The line stays quiet for `d` after what was written so far.
    void idle(std::chrono::nanoseconds d);

    uint64_t bytesWritten() const { return written_; }
    uint64_t bytesDropped() const { return dropped_; }
    const std::string& error() const { return error_; }

private:
    using Clock = std::chrono::steady_clock;
    bool handOver(const uint8_t* data, std::size_t size);
    void discardStale();

    int fd_;
    const std::atomic<bool>* stop_ = nullptr;  // of the write in progress, seen while waiting for room
    std::chrono::nanoseconds byteTime_;
    Full whenFull_;
    int queueFd_ = -1;
    std::size_t staleLimit_ = 0;
    Clock::time_point lineFree_;  // when the line has sent everything handed to it so far
    bool started_ = false;
    uint64_t written_ = 0;
    uint64_t dropped_ = 0;
    std::string error_;
};

// A pseudo-terminal standing in for a serial port. The slave side is held open the whole time so
// the line does not hang up between readers; the master side is written without blocking.
class PseudoTerminal {
public:
    // nullptr on failure, with the reason in `error`.
    static std::unique_ptr<PseudoTerminal> create(std::string* error);
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int masterFd() const { return master_; }
    int slaveFd() const { return slave_; }

    // For a line that must reach one reader whole: closes this side's hold on the slave, so that
    // the master tells when a reader has it open. Bytes written before stay queued for the reader.
    bool releaseSlave(std::string* error);
    // After releaseSlave: waits until a reader has opened the slave and finished setting up its
    // line (a reader flushes the queue as it connects). False when `stop` was raised first.
    bool waitForReader(const std::atomic<bool>& stop);
    // After releaseSlave: whether the reader has closed the slave again (or none has opened it).
    bool readerGone() const;
    const std::string& slavePath() const { return slavePath_; }

private:
    PseudoTerminal() = default;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Opens a serial device for writing with the meter's line settings (8 data bits, no parity,
// 1 stop bit, no flow control). -1 on failure, with the reason in `error`.
int openSerialDevice(const std::string& path, int baud, std::string* error);

}  // namespace dmmsim
