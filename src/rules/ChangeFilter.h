#pragma once

#include <cstdint>
#include <string>

struct MeterReading;

// Event rows: a reading passes only when it differs from the last one that passed by more than a
// share of that one's size, or shows another unit, or goes into or out of an overload. The first
// reading always passes. Counts the readings held back since the last one that passed.
class ChangeFilter {
public:
    explicit ChangeFilter(double percent) : share_(percent / 100.0) {}

    bool pass(const MeterReading& reading);
    // Readings held back before the one that passed last.
    int64_t skippedBefore() const { return skippedBefore_; }
    int64_t skippedTotal() const { return total_; }
    // A reading still held back when the run ends.
    int64_t skippedSince() const { return skipped_; }

private:
    double share_;
    bool any_ = false;
    bool overload_ = false;
    double last_ = 0;
    std::string unit_;
    int64_t skipped_ = 0;
    int64_t skippedBefore_ = 0;
    int64_t total_ = 0;
};
