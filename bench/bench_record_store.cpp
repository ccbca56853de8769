// The record store over a day at the line rate: ten million readings, Repeat off, no limit.
// Reports the memory a row takes (the table's own count and the process's resident growth)
// and the time of one offered reading that becomes a row. The readings come 10 ms apart from an
// evening on, so the rows cross midnight with their dates.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "LocalClock.h"
#include "MeterState.h"
#include "RecordStore.h"

namespace {

constexpr int64_t kDayOfRows = 10000000;
// what a row may take at most, all of its texts and its date included
constexpr double kMostBytesPerRow = 24.0;

long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * 4096;
}

// The readings of a meter sweeping its range in two units, as value texts and counts.
std::vector<MeterState> sweep() {
    std::vector<MeterState> out;
    char text[16];
    for (int i = 0; i < 16000; ++i) {
        MeterState m;
        const int counts = i % 8000 - 4000;
        std::snprintf(text, sizeof text, "%s%d.%03d", counts < 0 ? "-" : "", std::abs(counts) / 1000,
                      std::abs(counts) % 1000);
        m.ValueText = text;
        m.NumericValue = static_cast<float>(counts);
        m.UnitText = i < 8000 ? "V" : "mV";
        m.AcDcText = "DC";
        m.AutoText = "AUTO";
        out.push_back(m);
    }
    return out;
}

void BM_TenMillionReadings(benchmark::State& state) {
    const auto readings = sweep();
    for (auto _ : state) {
        RecordState s;
        RecordTable table;
        table.openEmpty("Kr47bdb");
        RecordStore store(s, table);
        s.RepeatSet = false;
        store.setLimit(kRecordLimitItems.back().limit);
        LocalClock zone;
        int64_t now = LocalClock::parseLocal("2026-12-07T20:00:00").value_or(0);
        store.setLocalClock([&] { return zone.at(now += 10); });
        const long rss0 = residentBytes();
        const auto t0 = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < kDayOfRows; ++i)
            store.INDataToTable(readings[static_cast<std::size_t>(i % 16000)]);
        const auto t1 = std::chrono::steady_clock::now();
        const long rss1 = residentBytes();
        if (table.rowCount() != kDayOfRows) state.SkipWithError("not every reading was stored");
        state.counters["rows"] = static_cast<double>(table.rowCount());
        state.counters["ns_per_append"] =
            std::chrono::duration<double, std::nano>(t1 - t0).count() / kDayOfRows;
        const double bytesPerRow = static_cast<double>(table.bytesUsed()) / kDayOfRows;
        state.counters["table_bytes_per_row"] = bytesPerRow;
        const RecordRow first = table.row(0), last = table.row(kDayOfRows - 1);
        state.counters["days"] = last.day - first.day + 1;
        if (first.day == kNoDay || last.day == first.day)
            state.SkipWithError("the rows did not keep their dates");
        if (bytesPerRow > kMostBytesPerRow) state.SkipWithError("a row takes more than 24 bytes");
        state.counters["rss_bytes_per_row"] = static_cast<double>(rss1 - rss0) / kDayOfRows;
    }
}
BENCHMARK(BM_TenMillionReadings)->Iterations(1)->Unit(benchmark::kMillisecond);

// One offered reading that is stored, on a table that keeps growing (emptied each day's worth).
void BM_INDataToTable(benchmark::State& state) {
    const auto readings = sweep();
    RecordState s;
    RecordTable table;
    table.openEmpty("Kr47bdb");
    RecordStore store(s, table);
    s.RepeatSet = false;
    store.setLimit(kRecordLimitItems.back().limit);
    std::size_t i = 0;
    for (auto _ : state) {
        if (!store.INDataToTable(readings[i])) {
            state.PauseTiming();
            store.RecordNewClick();
            state.ResumeTiming();
        }
        if (++i == readings.size()) i = 0;
    }
}
BENCHMARK(BM_INDataToTable);

// A steady reading with Repeat on: refused by the key test, the common case of a still display.
void BM_RepeatRefused(benchmark::State& state) {
    const auto readings = sweep();
    RecordState s;
    RecordTable table;
    table.openEmpty("Kr47bdb");
    RecordStore store(s, table);
    store.INDataToTable(readings[0]);
    for (auto _ : state) benchmark::DoNotOptimize(store.INDataToTable(readings[0]));
}
BENCHMARK(BM_RepeatRefused);

}  // namespace

BENCHMARK_MAIN();
