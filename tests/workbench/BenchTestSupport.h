#pragma once

#include <unistd.h>

#include <QByteArray>
#include <QTimer>
#include <functional>

#include "../serial/PseudoTerminal.h"
#include "FrameEncoder.h"

// A simulated meter on a pseudo-terminal: a frame every `everyMs` of what `value(k)` gives for the
// k-th frame, until stopped.
class FedLine {
public:
    FedLine(const char* model, dmmsim::SimFunction function, std::function<double(int)> value,
            int everyMs = 100)
        : sim_(*dmmsim::simModelFor(model, false)), function_(function), value_(std::move(value)) {
        timer_.setInterval(everyMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { send(); });
    }
    const std::string& path() const { return line_.slavePath; }
    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    int sent() const { return k_; }

private:
    void send() {
        const dmmsim::SimReading r = dmmsim::fitReading(sim_, function_, value_(k_++), dmmsim::Coupling::Dc);
        QByteArray piece;
        if (k_ == 1 && sim_.family == FrameFamily::Digit) piece += char(dmmsim::kDigitFrameLead);
        for (const uint8_t b : dmmsim::encodeFrame(sim_, r)) piece += char(b);
        if (::write(line_.master, piece.constData(), size_t(piece.size())) != piece.size()) timer_.stop();
    }

    PseudoTerminal line_;
    dmmsim::SimModel sim_;
    dmmsim::SimFunction function_;
    std::function<double(int)> value_;
    QTimer timer_;
    int k_ = 0;
};
