#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "AppOptions.h"
#include "ExitCode.h"
#include "ReadingPublisher.h"

// Publishing for a run without a window: the broker must answer before the run starts, each later
// change between connected and not is one line on the error stream, and the counts end the run.
//
// A source that can pause (a capture, a pipe) waits for the broker, however long, instead of
// letting readings go; a live device cannot, and its readings queue up to the bound.
class HeadlessPublishing {
public:
    // What the run does while it waits; false ends the wait (an interrupt).
    using WhileWaiting = std::function<bool()>;

    // Connects for `model` reading `path`, which can pause (`canWait`) or not; nothing (with the
    // message written and `code` set: NotStarted when another run publishes under the same name,
    // Failed otherwise) when the broker cannot be reached, refuses the login or the wait is
    // broken off.
    static std::unique_ptr<HeadlessPublishing> start(const PublishRequest& request, const std::string& model,
                                                     const std::string& path, bool canWait,
                                                     const WhileWaiting& whileWaiting, std::ostream& err,
                                                     ExitCode& code);

    void offer(const MeterState& reading, const LocalStamp& at) { publisher_->offer(reading, at); }
    void offer(const MeterReading& reading, const LocalStamp& at) { publisher_->offer(reading, at); }
    ReadingPublisher& publisher() { return *publisher_; }
    // Sends what waits, disconnects and writes the counts; false when readings were dropped,
    // refused or could not be sent. A broker that is away is tried again at once; a source that
    // can pause then waits for it as long as `keepWaiting` allows, a live device at most until
    // it has taken nothing for 10 s.
    bool finish(const WhileWaiting& keepWaiting);

private:
    HeadlessPublishing(std::ostream& err, bool canWait) : err_(err), canWait_(canWait) {}
    void stateChanged(const PublisherStatus& s);

    std::ostream& err_;
    const bool canWait_;
    std::mutex errMutex_;
    bool started_ = false;  // guarded by errMutex_: lines only once the run has begun
    bool lost_ = false;     // a lost connection was reported
    std::unique_ptr<ReadingPublisher> publisher_;
};
