#include "HeadlessRules.h"

#include <pthread.h>

#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "AlarmMessage.h"
#include "AlarmPrograms.h"
#include "CsvExport.h"
#include "LocalClock.h"
#include "MqttPublisher.h"
#include "NumberText.h"
#include "ShownName.h"

namespace {

constexpr int kTickMs = 250;
// What programs still running at the end are given before they are ended.
constexpr std::chrono::milliseconds kProgramGrace{5000};

// The thread about to be started takes the signal mask of the one starting it: the interrupts
// are left to the reading thread, whose waits they break.
class InterruptsBlocked {
public:
    InterruptsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

private:
    sigset_t old_;
};

}  // namespace

std::unique_ptr<HeadlessRules> HeadlessRules::start(const RuleOptions& options,
                                                    const std::vector<QString>& channels, int ownChannel,
                                                    std::function<int64_t()> clock, bool ticking,
                                                    std::ostream& err, std::string* error) {
    std::unique_ptr<HeadlessRules> r(new HeadlessRules(options, err));
    HeadlessRules* self = r.get();
    if (!options.summaryPath.empty() && !r->summary_.open(options.summaryPath, error)) return nullptr;
    RulesEngine::Output out;
    out.record = [self](int, const MeterReading& reading, const std::string& note) {
        if (self->recorder_) self->recorder_(reading, note);
    };
    out.alarm = [self](const AlarmEvent& e) { self->alarm(e); };
    out.summary = [self](const SummaryRow& row) {
        // said once, when it first fails
        if (!self->summary_.add(row) && !self->summaryFailed_) {
            self->summaryFailed_ = true;
            self->err_ << shownName(self->summary_.error()) << '\n';
        }
    };
    if (options.settings.gatesRecording()) {
        out.segment = [self](const SegmentEvent& e) {
            self->err_ << "segment " << e.number << (e.started ? " started at " : " ended at ")
                       << alarmTimeText(e.utcUs) << ": " << e.why << '\n';
        };
    }
    Result<std::unique_ptr<RulesEngine>> engine =
        RulesEngine::create(options.settings, channels, ownChannel, std::move(clock), out);
    if (!engine) {
        *error = engine.error();
        return nullptr;
    }
    r->engine_ = std::move(engine.value());

    if (!options.onAlarm.empty() || ticking) {
        {
            InterruptsBlocked blocked;
            r->thread_.start();
        }
        r->context_ = new QObject;
        r->context_->moveToThread(&r->thread_);
        QMetaObject::invokeMethod(
            r->context_,
            [self, ticking] {
                if (!self->options_.onAlarm.empty()) {
                    self->programs_ = new AlarmPrograms(
                        QString::fromStdString(self->options_.onAlarm),
                        [self](const std::string& line) {
                            std::lock_guard<std::mutex> lock(self->mutex_);
                            self->err_ << shownName(line) << '\n';
                        },
                        self->context_);
                }
                if (ticking) {
                    auto* timer = new QTimer(self->context_);
                    QObject::connect(timer, &QTimer::timeout, [self] {
                        std::lock_guard<std::mutex> lock(self->mutex_);
                        self->engine_->tick();
                        self->checkDone();
                    });
                    timer->start(kTickMs);
                }
            },
            Qt::BlockingQueuedConnection);
    }
    return r;
}

HeadlessRules::~HeadlessRules() {
    if (thread_.isRunning()) {
        QMetaObject::invokeMethod(
            context_, [this] { delete context_; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
}

void HeadlessRules::setPublisher(MqttPublisher* publisher, const std::string& topicBase) {
    publisher_ = publisher;
    topicBase_ = topicBase;
}

void HeadlessRules::offer(int channel, const MeterReading& reading) {
    std::lock_guard<std::mutex> lock(mutex_);
    engine_->offer(channel, reading);
    checkDone();
}

void HeadlessRules::checkDone() {
    if (doneSaid_ || !engine_->done() || !options_.settings.gatesRecording()) return;
    doneSaid_ = true;
    if (whenDone_) whenDone_();
}

void HeadlessRules::alarm(const AlarmEvent& e) {
    if (e.entered) ++entered_;
    err_ << "alarm " << shownName(e.name.toStdString()) << (e.entered ? " entered" : " left") << " at "
         << alarmTimeText(e.utcUs);
    if (e.value == e.value)
        err_ << ": " << e.channel.toStdString() << ' ' << NumberText::of(e.value) << ' '
             << e.unit.toStdString();
    err_ << " (" << e.condition.toStdString() << ")\n";
    if (publisher_)
        publisher_->publishRetained(topicBase_ + "/alarm/" + e.name.toStdString(), alarmMessage(e));
    if (programs_)
        QMetaObject::invokeMethod(
            programs_, [p = programs_, e] { p->run(e); }, Qt::QueuedConnection);
}

void HeadlessRules::finish() {
    auto onThread = [this](const std::function<void()>& work) {
        if (thread_.isRunning()) QMetaObject::invokeMethod(context_, work, Qt::BlockingQueuedConnection);
    };
    // no more ticks
    onThread([this] {
        for (QTimer* t : context_->findChildren<QTimer*>()) t->stop();
    });
    {
        std::lock_guard<std::mutex> lock(mutex_);
        engine_->finish();
    }
    // the programs still running get their time
    onThread([this] {
        if (programs_) programs_->finish(kProgramGrace);
    });
    std::lock_guard<std::mutex> lock(mutex_);
    if (engine_->skipped() > 0)
        err_ << engine_->skipped() << " readings not recorded: they differed from the last recorded one by "
             << NumberText::of(*options_.settings.changePercent) << " % or less\n";
    if (!summary_.close() && !summaryFailed_) err_ << shownName(summary_.error()) << '\n';
}
