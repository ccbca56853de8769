// The bench chart with a day of eight channels at ten readings a second: filling the histories and
// drawing them, the whole day and the last ten minutes.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <string>
#include <vector>

#include "BenchChart.h"
#include "BenchStripView.h"
#include "BenchStrips.h"

namespace {

constexpr int kChannels = 8;
constexpr int64_t kDayPoints = 864'000;  // 24 h at 10 readings a second
constexpr int64_t kStart = 1'780'000'000'000;

// A slow wave with noise on it, different for each channel, and a stale minute every few hours.
std::vector<ChannelHistory> histories(int64_t points) {
    std::vector<ChannelHistory> all(kChannels);
    for (int c = 0; c < kChannels; ++c) {
        ChannelHistory& h = all[size_t(c)];
        uint32_t noise = 12345u + uint32_t(c);
        for (int64_t i = 0; i < points; ++i) {
            noise = noise * 1664525u + 1013904223u;
            const bool stale = i % 100'000 > 99'400;
            h.add(kStart + i * 100, stale ? NAN
                                          : (c + 1) * (1 + 0.3 * std::sin(double(i) / (3000.0 + 500 * c))) +
                                                (noise >> 20) * 1e-6);
        }
    }
    return all;
}

void addStrips(BenchStrips& strips, const std::vector<ChannelHistory>& all) {
    for (int c = 0; c < kChannels; ++c)
        strips.add(c, QStringLiteral("M%1").arg(c + 1), QStringLiteral("V"), &all[size_t(c)]);
}

BenchStrips& day() {
    static const std::vector<ChannelHistory> all = histories(kDayPoints);
    static BenchStrips strips = [] {
        BenchStrips s;
        addStrips(s, all);
        s.catchUp();
        return s;
    }();
    return strips;
}

// A day of points into the histories' levels (the values worked out too) and the strips taking
// them in; the rate is per point.
void BM_CatchUp(benchmark::State& state) {
    for (auto _ : state) {
        const std::vector<ChannelHistory> all = histories(state.range(0) / kChannels);
        BenchStrips strips;
        addStrips(strips, all);
        strips.catchUp();
        benchmark::DoNotOptimize(strips.lastTime());
    }
    state.counters["per_point"] =
        benchmark::Counter(double(state.range(0)) * double(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CatchUp)->Arg(kChannels* kDayPoints)->Unit(benchmark::kMillisecond);

// One whole drawing of the chart, 1000 pixels wide, strips, labels and axis included.
void BM_Redraw(benchmark::State& state) {
    const bool whole = state.range(0) == 1;
    BenchStrips& strips = day();
    BenchChart chart;
    chart.resize(1000, 450);
    chart.setStrips(&strips);
    const int64_t from = whole ? strips.firstTime() : strips.lastTime() - 600'000;
    chart.axis().show(from, strips.lastTime());
    chart.show();
    QApplication::processEvents();
    for (auto _ : state) {
        QPixmap picture = chart.view()->grab();
        benchmark::DoNotOptimize(picture.cacheKey());
    }
    state.SetLabel(std::string(whole ? "whole day" : "last 10 min") + ", 8 x 864,000 points");
}
BENCHMARK(BM_Redraw)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
