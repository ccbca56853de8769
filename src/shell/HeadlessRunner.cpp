#include "HeadlessRunner.h"

#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <thread>

#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "PosixSerialPort.h"
#include "TCommPortDriver.h"

namespace {

std::atomic<bool> g_interrupted{false};

void onInterrupt(int) { g_interrupted = true; }

// Prints each completed reading; the window's consumers are not there.
class PrintingRun {
public:
    PrintingRun(const ControlStates& controls, std::ostream& out)
        : controls_(controls), engine_(state_, panel_, controls_, sink_), out_(out),
          segment_(texts_, [this](const std::string& f) { print(engine_.LcdDisplay31B(f)); }),
          digit_(texts_, [this](const std::string& f) { print(engine_.LcdDisplay47B(f)); }) {}

    MeterState& state() { return state_; }

    void feed(const void* data, int32_t size) {
        if (state_.family == FrameFamily::Segment) segment_.H31BRData(data, size);
        else if (state_.family == FrameFamily::Digit) digit_.H47BRData(data, size);
    }

private:
    void print(bool completed) {
        if (!completed) return;
        out_ << state_.ValueText << '\t' << formatCounts(state_.NumericValue) << '\t' << state_.UnitText << '\t'
             << state_.AcDcText << '\t' << state_.AutoText << '\n';
    }

    ControlStates controls_;
    MeterState state_;
    LcdPanelModel panel_;
    ReadingSink sink_;
    MeterEngine engine_;
    std::ostream& out_;
    FrameTexts texts_;
    SegmentFrameAssembler segment_;
    DigitFrameAssembler digit_;
};

// Polling without an event loop: the headless run calls the driver's tick itself.
class ManualPollTimer : public PollTimer {
public:
    void setTimer(unsigned, unsigned periodMs) override { periodMs_ = periodMs; }
    void killTimer(unsigned) override {}
    unsigned periodMs() const { return periodMs_; }

private:
    unsigned periodMs_ = 50;
};

bool isCharacterDevice(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

void readStream(std::istream& in, PrintingRun& run) {
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        run.feed(buffer, static_cast<int32_t>(in.gcount()));
    }
}

int readDevice(const std::string& path, const ProfileChoice& choice, PrintingRun& run, std::ostream& err) {
    PosixSerialPort port;
    port.setDevicePath(pnCOM1, path);
    ManualPollTimer timer;
    TCommPortDriver driver(port, timer);
    driver.setComPort(pnCOM1);
    driver.setComPortSpeed(choice.baud19200 ? br19200 : br2400);
    driver.setOnReceiveData([&run](TCommPortDriver*, const void* data, int32_t size) { run.feed(data, size); });
    if (!driver.Connect()) {
        err << port.lastError() << '\n';
        return 2;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    while (!g_interrupted) {
        driver.TimerWndProc(WM_TIMER);
        std::this_thread::sleep_for(std::chrono::milliseconds(timer.periodMs()));
    }
    driver.Disconnect();
    return 0;
}

}  // namespace

std::string formatCounts(float value) {
    char buf[64];
    const double v = value;
    if (std::isfinite(v) && v == std::floor(v)) {
        std::snprintf(buf, sizeof buf, "%.0f", v == 0.0 ? 0.0 : v);
    } else {
        std::snprintf(buf, sizeof buf, "%.6f", v);
    }
    return buf;
}

void applyModelOptions(const AppOptions& options, ControlStates& controls) {
    if (options.model) {
        if (const auto m = modelCheckByCaption(*options.model)) {
            for (int i = 0; i < IF7263x; ++i) controls.model[i] = false;
            controls.model[*m] = true;
        }
    }
    if (options.variant) controls.model[IF7263x] = true;
}

ProfileChoice prepareMeterState(const ControlStates& controls, MeterState& state) {
    applyStartValues(state);
    const ProfileChoice choice = chooseProfile(controls);
    state.family = choice.family;
    if (choice.ScaleDigits != "4") {
        const auto range = countRangeFor(choice.ScaleDigits);
        if (range) {
            applyCountRange(*range, state);
            // the window writes the limit texts here, which sets the limits from them
            state.MaxLimit = range->MaxLimit;
            state.MinLimit = range->MinLimit;
        }
    }
    return choice;
}

int runHeadless(const AppOptions& options, std::istream& stdinStream, std::ostream& out, std::ostream& err) {
    ControlStates controls;
    applyModelOptions(options, controls);
    const std::string& path = *options.decodePath;

    PrintingRun run(controls, out);
    const ProfileChoice choice = prepareMeterState(controls, run.state());
    if (choice.family == FrameFamily::None) {
        err << "no meter model selected\n";
        return 2;
    }

    int code = 0;
    if (path == "-") {
        readStream(stdinStream, run);
    } else if (isCharacterDevice(path)) {
        code = readDevice(path, choice, run, err);
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            err << "cannot read '" << path << "': " << std::strerror(errno) << '\n';
            return 2;
        }
        readStream(file, run);
    }
    out.flush();
    if (run.state().DroppedFrames > 0) err << "dropped frames: " << run.state().DroppedFrames << '\n';
    return code;
}
