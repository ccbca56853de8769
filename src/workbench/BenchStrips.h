#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

#include "BenchStripPoints.h"

class BenchModel;

// The strips of the bench chart, one a channel in the order the bench shows its channels, each
// reading that channel's history.
class BenchStrips {
public:
    struct Strip {
        int id;  // the channel's
        QString name;
        QString unit;  // the base unit the values are in ("V", "W", "Wh")
        BenchStripPoints points;
    };

    // A strip for channel `id` reading `history`, at the end; a strip of that id is replaced.
    void add(int id, const QString& name, const QString& unit, const ChannelHistory* history);
    // The model's channels, in its order: strips of channels that stay keep their summary.
    void follow(const BenchModel& model);
    // Takes in the points every history got since the last call.
    void catchUp();

    int size() const { return int(strips_.size()); }
    const Strip& at(int i) const { return *strips_[size_t(i)]; }
    // the earliest and the latest time taken in, 0 when there is none
    int64_t firstTime() const;
    int64_t lastTime() const;

private:
    std::vector<std::unique_ptr<Strip>> strips_;
};
