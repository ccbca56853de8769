#include "BenchStrips.h"

#include <algorithm>
#include <limits>

#include "BenchModel.h"

void BenchStrips::add(int id, const QString& name, const QString& unit, const ChannelHistory* history) {
    auto strip = std::make_unique<Strip>(Strip{id, name, unit, BenchStripPoints(history)});
    const auto same =
        std::find_if(strips_.begin(), strips_.end(), [id](const auto& s) { return s->id == id; });
    if (same != strips_.end())
        *same = std::move(strip);
    else
        strips_.push_back(std::move(strip));
}

void BenchStrips::follow(const BenchModel& model) {
    std::vector<std::unique_ptr<Strip>> kept;
    for (const int id : model.channelIds()) {
        const ChannelInfo* info = model.channel(id);
        if (!info) continue;
        const auto old =
            std::find_if(strips_.begin(), strips_.end(), [id](const auto& s) { return s && s->id == id; });
        if (old != strips_.end()) {
            (*old)->name = info->name;
            (*old)->unit = info->unit;
            kept.push_back(std::move(*old));
        } else {
            kept.push_back(std::make_unique<Strip>(
                Strip{id, info->name, info->unit, BenchStripPoints(&model.history(id))}));
        }
    }
    strips_ = std::move(kept);
}

void BenchStrips::catchUp() {
    for (auto& s : strips_) s->points.catchUp();
}

int64_t BenchStrips::firstTime() const {
    int64_t first = std::numeric_limits<int64_t>::max();
    for (const auto& s : strips_) {
        if (s->points.size() > 0) first = std::min(first, s->points.time(0));
    }
    return first == std::numeric_limits<int64_t>::max() ? 0 : first;
}

int64_t BenchStrips::lastTime() const {
    int64_t last = 0;
    for (const auto& s : strips_) {
        if (s->points.size() > 0) last = std::max(last, s->points.time(s->points.size() - 1));
    }
    return last;
}
