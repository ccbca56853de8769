// dmmsim: a multimeter on a serial line, for trying the program without one.

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "FrameEncoder.h"
#include "ModelProfiles.h"
#include "SimRunner.h"

using namespace dmmsim;

namespace {

constexpr uint64_t kCaptureFrames = 500;

std::atomic<bool> gStop{false};

void onSignal(int) {
    gStop = true;
}

void printHelp() {
    std::cout << "Usage: dmmsim [options] (--pty | --device PATH | --capture FILE)\n"
                 "Sends the display of a simulated multimeter the way the meter does.\n\n"
                 "  --model NAME      "
              << modelCaptionList()
              << " (default KR31E)\n"
                 "  --variant         the alternative coding of the digit-frame meters\n"
                 "  --scenario NAME   "
              << scenarioNameList()
              << " (default ramp)\n"
                 "  --function NAME   "
              << functionNameList()
              << " (default vdc)\n"
                 "  --value X         steady: the value shown, in volts, ohms, hertz, ... \n"
                 "  --seed N          seed of the noise scenario (default 1)\n"
                 "  --count N         frames to send (default: until interrupted; "
              << kCaptureFrames
              << " for a capture)\n"
                 "  --interval MS     time from frame to frame (default: back to back)\n"
                 "  --verbose         print every frame sent on stderr\n"
                 "  --replay FILE     send the bytes of FILE (a line kept with dmmview --save-bytes) as\n"
                 "                    they are, at the model's line pace; into a pseudo-terminal once a\n"
                 "                    reader has opened it, staying until the reader closes it\n"
                 "  --pty             create a pseudo-terminal, print its path and send into it\n"
                 "  --device PATH     send into a serial device at the meter's baud rate\n"
                 "  --capture FILE    write the frames into a file as fast as possible\n"
                 "  --help            this text\n";
}

[[noreturn]] void usageError(const std::string& message) {
    std::cerr << "dmmsim: " << message << "\nTry dmmsim --help.\n";
    std::exit(2);
}

uint64_t parseCount(const std::string& option, const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-') {
        usageError(option + " wants a whole number, not \"" + text + "\"");
    }
    return v;
}

// A decimal number with a point, whatever the locale says ("+1.5", "-0.25", "2e3").
double parseValue(const std::string& text) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (text.empty() || ec != std::errc() || end != last || !std::isfinite(v))
        usageError("--value wants a number, not \"" + text + "\"");
    return v;
}

void printFrame(const Emission& e) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string line;
    for (uint8_t b : e.bytes) {
        line += kHex[b >> 4];
        line += kHex[b & 0xF];
        line += ' ';
    }
    if (e.reading) {
        const bool ac = e.reading->function == SimFunction::Volts && e.reading->coupling == Coupling::Ac;
        line += " " + e.reading->text() + " " + (ac ? "vac" : functionName(e.reading->function));
    }
    if (e.damage != Damage::None) line += std::string(" [") + damageName(e.damage) + "]";
    std::cerr << line << '\n';
}

void installStopHandlers() {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGHUP, onSignal);
    std::signal(SIGPIPE, SIG_IGN);
}

enum class ReplayInto { Pty, Device, Capture };

// Sends a kept line again: into a capture file or a device named `target`, or into a
// pseudo-terminal that waits for its reader, so the reader gets every byte.
int replay(const std::string& path, const SimModel& model, ReplayInto into, const std::string& target,
           bool verbose) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        std::cerr << "dmmsim: " << path << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
    std::string error;
    if (into == ReplayInto::Capture) {
        if (!replayCapture(file, target, &error)) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
        return 0;
    }

    installStopHandlers();
    std::unique_ptr<PseudoTerminal> pty;
    int fd = -1;
    if (into == ReplayInto::Pty) {
        pty = PseudoTerminal::create(&error);
        if (!pty || !pty->releaseSlave(&error)) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
        fd = pty->masterFd();
        std::cout << pty->slavePath() << std::endl;
        if (!pty->waitForReader(gStop)) return 0;
    } else {
        fd = openSerialDevice(target, model.baud, &error);
        if (fd < 0) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
    }

    // Nothing is dropped: a replay that loses bytes would not reproduce the run.
    PacedWriter writer(fd, model.baud, PacedWriter::Full::Wait);
    const uint64_t sent = replayPaced(file, writer, gStop, &error);
    if (verbose) std::cerr << "dmmsim: replayed " << sent << " bytes of " << path << '\n';
    // The reader takes the last bytes in its own time; closing the master now would hang up the
    // line under them. Stay until the reader closes the line.
    while (pty && !gStop.load() && !pty->readerGone()) ::usleep(20000);
    if (!pty) ::close(fd);
    if (!writer.error().empty()) error = writer.error();
    if (!error.empty()) {
        std::cerr << "dmmsim: " << error << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string modelName = "KR31E";
    bool variant = false;
    ScenarioOptions options;
    RunOptions run;
    bool verbose = false;
    enum class Output { None, Pty, Device, Capture } output = Output::None;
    std::string target;
    int outputs = 0;
    std::string replayPath;
    std::string scenarioOption;  // the last option that only a simulated display uses

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usageError(a + " needs a value");
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            printHelp();
            return 0;
        } else if (a == "--model") {
            modelName = value();
        } else if (a == "--variant") {
            variant = true;
        } else if (a == "--scenario") {
            scenarioOption = a;
            const std::string s = value();
            const auto kind = scenarioByName(s);
            if (!kind) usageError("unknown scenario \"" + s + "\" (one of " + scenarioNameList() + ")");
            options.kind = *kind;
        } else if (a == "--function") {
            scenarioOption = a;
            const std::string s = value();
            const auto f = functionByName(s);
            if (!f) usageError("unknown function \"" + s + "\" (one of " + functionNameList() + ")");
            options.function = *f;
            options.coupling = s == "vac" ? Coupling::Ac : Coupling::Dc;
        } else if (a == "--value") {
            scenarioOption = a;
            options.value = parseValue(value());
        } else if (a == "--seed") {
            scenarioOption = a;
            options.seed = parseCount(a, value());
        } else if (a == "--count") {
            scenarioOption = a;
            run.frames = parseCount(a, value());
        } else if (a == "--interval") {
            scenarioOption = a;
            run.interval = std::chrono::milliseconds(parseCount(a, value()));
        } else if (a == "--replay") {
            replayPath = value();
        } else if (a == "--verbose") {
            verbose = true;
        } else if (a == "--pty") {
            output = Output::Pty;
            ++outputs;
        } else if (a == "--device") {
            output = Output::Device;
            target = value();
            ++outputs;
        } else if (a == "--capture") {
            output = Output::Capture;
            target = value();
            ++outputs;
        } else {
            usageError("unknown option \"" + a + "\"");
        }
    }
    if (outputs != 1) usageError("choose one output: --pty, --device PATH or --capture FILE");
    if (!replayPath.empty() && !scenarioOption.empty()) {
        usageError("--replay sends the file as it is; " + scenarioOption + " does not apply to it");
    }

    std::string error;
    const auto model = simModelFor(modelName, variant, &error);
    if (!model) usageError(error);
    if (!ScenarioStream::check(*model, options, &error)) usageError(error);
    if (!replayPath.empty()) {
        const ReplayInto into = output == Output::Pty      ? ReplayInto::Pty
                                : output == Output::Device ? ReplayInto::Device
                                                           : ReplayInto::Capture;
        return replay(replayPath, *model, into, target, verbose);
    }

    ScenarioStream stream(*model, options);
    std::function<void(const Emission&)> onSent;
    if (verbose) onSent = printFrame;

    if (output == Output::Capture) {
        // frames damaged so that a listener must drop them, for checking what it counts
        uint64_t frames = 0, unreadable = 0;
        const auto count = [&](const Emission& e) {
            if (onSent) onSent(e);
            if (!e.reading) return;
            ++frames;
            if (!e.whole) ++unreadable;
        };
        if (!writeCapture(stream, run.frames.value_or(kCaptureFrames), target, &error, count)) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
        if (unreadable > 0) {
            std::cerr << "dmmsim: " << frames << " frames written, " << unreadable
                      << " of them damaged so that they cannot be read\n";
        }
        return 0;
    }

    installStopHandlers();

    std::unique_ptr<PseudoTerminal> pty;
    int fd = -1;
    if (output == Output::Pty) {
        pty = PseudoTerminal::create(&error);
        if (!pty) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
        fd = pty->masterFd();
        std::cout << pty->slavePath() << std::endl;
    } else {
        fd = openSerialDevice(target, model->baud, &error);
        if (fd < 0) {
            std::cerr << "dmmsim: " << error << '\n';
            return 1;
        }
    }

    PacedWriter writer(fd, model->baud, pty ? PacedWriter::Full::Drop : PacedWriter::Full::Wait);
    if (pty) writer.setStaleLimit(pty->slaveFd(), staleLimitFor(model->baud));
    runPaced(stream, writer, run, gStop, onSent);
    if (!pty) ::close(fd);
    if (!writer.error().empty()) {
        std::cerr << "dmmsim: " << writer.error() << '\n';
        return 1;
    }
    return 0;
}
