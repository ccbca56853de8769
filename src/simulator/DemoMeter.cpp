#include "DemoMeter.h"

#include <atomic>
#include <thread>

#include "SimRunner.h"

using namespace dmmsim;

namespace {

// A meter sends a few readings a second; the line's own pace would be far more than a person
// can follow.
constexpr std::chrono::milliseconds kDemoInterval(250);

}  // namespace

struct DemoMeter::Impl {
    std::string error;
    std::string slavePath;
    std::unique_ptr<PseudoTerminal> pty;
    std::unique_ptr<ScenarioStream> stream;
    std::unique_ptr<PacedWriter> writer;
    std::atomic<bool> stop{false};
    std::thread thread;
};

DemoMeter::DemoMeter(const std::string& modelCaption, const std::string& scenario, bool variant)
    : d_(std::make_unique<Impl>()) {
    const auto model = simModelFor(modelCaption, variant, &d_->error);
    if (!model) return;
    ScenarioOptions options;
    const auto kind = scenarioByName(scenario);
    if (!kind) {
        d_->error = "unknown scenario \"" + scenario + "\" (one of " + scenarioNameList() + ")";
        return;
    }
    options.kind = *kind;
    options.seed = 1;
    if (!ScenarioStream::check(*model, options, &d_->error)) return;
    d_->pty = PseudoTerminal::create(&d_->error);
    if (!d_->pty) return;
    d_->stream = std::make_unique<ScenarioStream>(*model, options);
    d_->writer = std::make_unique<PacedWriter>(d_->pty->masterFd(), model->baud, PacedWriter::Full::Drop);
    d_->writer->setStaleLimit(d_->pty->slaveFd(), staleLimitFor(model->baud));
    d_->slavePath = d_->pty->slavePath();
    Impl* impl = d_.get();
    impl->thread = std::thread([impl] {
        RunOptions run;
        run.interval = kDemoInterval;
        runPaced(*impl->stream, *impl->writer, run, impl->stop);
    });
}

DemoMeter::~DemoMeter() {
    d_->stop = true;
    if (d_->thread.joinable()) d_->thread.join();
}

bool DemoMeter::ok() const {
    return d_->error.empty() && d_->pty != nullptr;
}

const std::string& DemoMeter::errorString() const {
    return d_->error;
}

const std::string& DemoMeter::slavePath() const {
    return d_->slavePath;
}
