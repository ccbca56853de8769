#pragma once

#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "AppOptions.h"
#include "ReadingPublisher.h"

// Publishing for a run without a window: the broker must answer before the run starts, each later
// change between connected and not is one line on the error stream, and the counts end the run.
class HeadlessPublishing {
public:
    // Connects for `model` reading `path`; nothing (with the message written) when the broker
    // cannot be reached or refuses the login.
    static std::unique_ptr<HeadlessPublishing> start(const PublishRequest& request, const std::string& model,
                                                     const std::string& path, bool waitForRoom, std::ostream& err);

    void offer(const MeterState& reading) { publisher_->offer(reading); }
    // Sends what waits (giving up when the broker takes nothing for a while), disconnects and
    // writes the counts; false when readings were dropped or could not be sent.
    bool finish();

private:
    HeadlessPublishing(std::ostream& err) : err_(err) {}
    void stateChanged(const PublisherStatus& s);

    std::ostream& err_;
    std::mutex errMutex_;
    bool started_ = false;  // guarded by errMutex_: lines only once the run has begun
    bool lost_ = false;     // a lost connection was reported
    std::unique_ptr<ReadingPublisher> publisher_;
};
