#include "HeadlessPublishing.h"

#include <ostream>

namespace {

using std::chrono::milliseconds;

// The first answer has its own limit inside the client; this one only guards against a hang.
constexpr milliseconds kFirstAnswerLimit{15000};
// At the end, the queue is given up once the broker has taken nothing for this long.
constexpr milliseconds kDrainPatience{10000};

}  // namespace

std::unique_ptr<HeadlessPublishing> HeadlessPublishing::start(const PublishRequest& request, const std::string& model,
                                                              const std::string& path, bool waitForRoom,
                                                              std::ostream& err) {
    std::unique_ptr<HeadlessPublishing> p(new HeadlessPublishing(err));
    HeadlessPublishing* self = p.get();
    p->publisher_ = std::make_unique<ReadingPublisher>(
        request, model, path, [self](const PublisherStatus& s) { self->stateChanged(s); });
    p->publisher_->setWaitForRoom(waitForRoom);
    MqttPublisher& client = p->publisher_->client();
    const std::string broker = request.url.display();
    if (!client.waitUntilTried(kFirstAnswerLimit)) {
        const PublisherStatus s = client.status();
        err << "cannot publish to the broker " << broker << ": "
            << (s.reason.empty() ? std::string("no answer") : s.reason) << '\n';
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(p->errMutex_);
    p->started_ = true;
    err << broker << ": connected, publishing as " << p->publisher_->clientName() << '\n';
    return p;
}

void HeadlessPublishing::stateChanged(const PublisherStatus& s) {
    std::lock_guard<std::mutex> lock(errMutex_);
    if (!started_) return;
    const std::string broker = publisher_->client().settings().url.display();
    if (s.state == BrokerState::Online) {
        if (!lost_) return;
        lost_ = false;
        err_ << broker << ": connected again, " << s.waiting << " readings waiting\n";
    } else {
        lost_ = true;
        err_ << broker << ": connection lost (" << s.reason << "); readings wait in the queue, trying again in "
             << s.retrySeconds << " s\n";
    }
    err_.flush();
}

bool HeadlessPublishing::finish() {
    publisher_->finish();
    MqttPublisher& client = publisher_->client();
    client.drain(kDrainPatience);
    client.stop();
    const PublisherStatus s = client.status();
    std::lock_guard<std::mutex> lock(errMutex_);
    err_ << client.settings().url.display() << ": readings published " << s.sent << ", dropped " << s.dropped
         << ", not sent " << s.waiting << '\n';
    return s.dropped == 0 && s.waiting == 0;
}
