#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "MinMaxPyramid.h"

// The points of the trend chart's two series. Both series always receive the same values (the
// reading pipeline adds each reading to the line series and then to the area series), so one
// value per point is kept and each series only has its own count. A run of a day at the fast line
// rate is some 15 million points: values live in fixed-size chunks, so appending never moves what
// is stored, and a min/max summary over blocks of 16, 256, 4096 ... points lets a page of millions
// of points be reduced to the plot's pixel columns in time that hardly depends on its length.
// The summary is the MinMaxPyramid the bench's history uses too.
class ChartPoints {
public:
    // indices in the chart's series list
    static constexpr int AreaSeries = 0;  // Series2
    static constexpr int LineSeries = 1;  // Series1
    static constexpr int SeriesCount = 2;

    using Range = MinMaxPyramid<float>::Range;

    ChartPoints();

    // Appends y to one series. The series that is behind only catches up with the value the other
    // one stored at that position.
    void add(int series, float y);
    // Empties both series and gives each one sample point. Its value is 0.
    void sampleFill();
    void clear();

    // The next point appended starts a new stretch of the curve: no line joins it to the point
    // before, as when the meter was away for a while.
    void breakLine();
    // The first break at or after `index`; a break at k parts point k - 1 from point k. A number
    // past every point when there is none.
    int64_t nextBreak(int64_t index) const;

    int64_t count(int series) const { return count_[series]; }
    // Number of values held: the count of the series that is ahead.
    int64_t size() const { return size_; }
    float value(int64_t index) const { return chunks_[index >> kChunkBits][index & kChunkMask]; }

    // The series shown; -1 when none is.
    int activeSeries() const { return active_; }
    void setActiveSeries(int series) { active_ = series >= 0 && series < SeriesCount ? series : -1; }
    int64_t activeCount() const { return active_ < 0 ? 0 : count_[active_]; }

    // Smallest and largest value of the points [first, last); the range must not be empty.
    Range range(int64_t first, int64_t last) const;

private:
    static constexpr int kChunkBits = 16;
    static constexpr int64_t kChunkSize = int64_t(1) << kChunkBits;
    static constexpr int64_t kChunkMask = kChunkSize - 1;
    void append(float y);

    std::vector<std::unique_ptr<float[]>> chunks_;
    MinMaxPyramid<float> summary_;
    int64_t size_ = 0;
    std::array<int64_t, SeriesCount> count_{};
    std::vector<int64_t> breaks_;  // ascending
    int active_ = AreaSeries;
};
