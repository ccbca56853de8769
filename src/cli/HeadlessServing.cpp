#include "HeadlessServing.h"

#include <ostream>

#include "ServeStart.h"

std::unique_ptr<HeadlessServing> HeadlessServing::start(const ServeRequest& request, const std::string& model,
                                                        const std::string& device, std::ostream& err) {
    std::unique_ptr<HeadlessServing> s(new HeadlessServing());
    s->model_ = model;
    s->channel_ = s->channels_.addChannel(model, ServedKind::Meter, model, device);
    std::string error;
    s->server_ = startServing(request, s->channels_, error);
    if (!s->server_) {
        err << error << '\n';
        return nullptr;
    }
    err << servingLines(*s->server_);
    err.flush();
    return s;
}

void HeadlessServing::offer(const MeterState& state, const TallyCounts& tally, uint64_t recorded,
                            uint64_t published) {
    fill_.fill(reading_, state, state.ReadingUtcUs, model_);
    ServedCounters c;
    c.frames = tally.readings;
    c.damagedFrames = tally.droppedFrames;
    c.skippedBytes = tally.skippedBytes;
    c.recorded = recorded;
    c.published = published;
    channels_.counters(channel_, c);
    channels_.reading(channel_, reading_);
}
