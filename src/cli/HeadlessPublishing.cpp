#include "HeadlessPublishing.h"

#include <ostream>

namespace {

using std::chrono::milliseconds;

// The first answer has its own limit inside the client; this one only guards against a hang.
constexpr milliseconds kFirstAnswerLimit{15000};
// At the end of a live run, the queue is given up once the broker has taken nothing for this long.
constexpr milliseconds kDrainPatience{10000};
constexpr milliseconds kWaitSlice{100};

}  // namespace

std::unique_ptr<HeadlessPublishing> HeadlessPublishing::start(const PublishRequest& request,
                                                              const std::string& model,
                                                              const std::string& path, bool canWait,
                                                              const WhileWaiting& whileWaiting,
                                                              std::ostream& err, ExitCode& code) {
    std::unique_ptr<HeadlessPublishing> p(new HeadlessPublishing(err, canWait));
    HeadlessPublishing* self = p.get();
    p->publisher_ = std::make_unique<ReadingPublisher>(
        request, model, path, [self](const PublisherStatus& s) { self->stateChanged(s); });
    if (canWait) p->publisher_->setWaitForRoom(whileWaiting);
    MqttPublisher& client = p->publisher_->client();
    const std::string broker = request.url.display();
    code = ExitCode::Failed;
    bool connected = false;
    for (auto waited = milliseconds(0); waited < kFirstAnswerLimit; waited += kWaitSlice) {
        connected = client.waitUntilTried(kWaitSlice);
        if (client.status().state != BrokerState::Connecting) break;
        // an interrupt while the broker is silent ends the run at once
        if (!whileWaiting()) return nullptr;
    }
    if (!connected) {
        const PublisherStatus s = client.status();
        if (s.state == BrokerState::NameInUse) code = ExitCode::NotStarted;
        err << "cannot publish to the broker " << broker << ": "
            << (s.reason.empty() ? std::string("no answer") : s.reason) << '\n';
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(p->errMutex_);
    p->started_ = true;
    err << broker << ": connected, publishing as " << p->publisher_->clientName() << '\n';
    const std::string note = client.status().note;
    if (!note.empty()) err << broker << ": " << note << '\n';
    code = ExitCode::Success;
    return p;
}

void HeadlessPublishing::stateChanged(const PublisherStatus& s) {
    std::lock_guard<std::mutex> lock(errMutex_);
    if (!started_) return;
    const std::string broker = publisher_->client().settings().url.display();
    if (s.state == BrokerState::NameInUse) {
        err_ << broker << ": " << s.reason << '\n';
        err_.flush();
        return;
    }
    if (s.state == BrokerState::Online) {
        if (!lost_) return;
        lost_ = false;
        err_ << broker << ": connected again, " << s.waiting << " readings waiting\n";
    } else {
        lost_ = true;
        err_ << broker << ": connection lost (" << s.reason << "); "
             << (canWait_ ? "reading waits for the broker" : "readings wait in the queue")
             << ", trying again in " << s.retrySeconds << " s\n";
    }
    err_.flush();
}

bool HeadlessPublishing::finish(const WhileWaiting& keepWaiting) {
    publisher_->finish();
    MqttPublisher& client = publisher_->client();
    const std::string broker = client.settings().url.display();
    PublisherStatus s = client.status();
    if (s.waiting > 0) {
        // a broker that came back since the last attempt need not wait for the next one
        client.retryNow();
        if (canWait_) {
            {
                std::lock_guard<std::mutex> lock(errMutex_);
                if (s.state != BrokerState::Online)
                    err_ << broker << ": waiting for the broker to take the last " << s.waiting
                         << " readings (interrupt to give up)\n";
            }
            client.drain(std::chrono::hours(24 * 365), keepWaiting);
        } else {
            client.drain(kDrainPatience, keepWaiting);
        }
    }
    client.stop();
    s = client.status();
    std::lock_guard<std::mutex> lock(errMutex_);
    err_ << broker << ": readings published " << s.sent << ", dropped " << s.dropped << ", not sent "
         << s.waiting;
    if (s.refused > 0) err_ << ", refused by the broker " << s.refused << " (" << s.refusal << ")";
    err_ << '\n';
    // a run that gave its name up to another one did not publish what it read
    return s.dropped == 0 && s.waiting == 0 && s.refused == 0 && s.state != BrokerState::NameInUse;
}
