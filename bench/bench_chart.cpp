// The trend chart at the size of a long run: adding points, preparing a page for the chart, and
// preparing and drawing it in the chart panel.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPixmap>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "ChartPaging.h"
#include "ChartPanel.h"
#include "ChartPoints.h"
#include "PageSampler.h"

namespace {

constexpr int64_t kLongRun = 10'000'000;

// a sine of 6400 readings a period, as counts
float readingAt(int64_t i) {
    static const std::vector<float> period = [] {
        std::vector<float> v(6400);
        for (size_t k = 0; k < v.size(); ++k) v[k] = std::round(3800.0f * std::sin(float(k) * 0.000981748f));
        return v;
    }();
    return period[size_t(i % 6400)];
}

void addReadings(ChartPoints& p, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        const float y = readingAt(i);
        p.add(ChartPoints::LineSeries, y);
        p.add(ChartPoints::AreaSeries, y);
    }
}

ChartPoints& longRun() {
    static ChartPoints points = [] {
        ChartPoints p;
        addReadings(p, kLongRun);
        return p;
    }();
    return points;
}

// Fills a store from empty to N points; the rate is per point, both series included.
void BM_AddPoints(benchmark::State& state) {
    const int64_t n = state.range(0);
    for (auto _ : state) {
        ChartPoints p;
        addReadings(p, n);
        benchmark::DoNotOptimize(p.size());
    }
    // seconds per point
    state.counters["per_point"] = benchmark::Counter(
        double(n) * double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_AddPoints)->RangeMultiplier(10)->Range(1000, kLongRun)->Unit(benchmark::kMillisecond);

// The last page of 100 points, or all points on one page, for a plot 300 pixels wide.
void BM_SamplePage(benchmark::State& state) {
    const ChartPoints& points = longRun();
    const int64_t perPage = state.range(0);
    const int64_t count = perPage == 0 ? points.size() : perPage;
    QList<QPointF> out;
    for (auto _ : state) {
        PageSampler::sample(points, points.size() - count, count, 300, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel(perPage == 0 ? "all 10,000,000 points" : "100 points");
}
BENCHMARK(BM_SamplePage)->Arg(100)->Arg(0)->Unit(benchmark::kMicrosecond);

// Prepares the page and draws the chart panel at its stored size, one full drawing each time,
// with the area (0) or the line (1) shown.
void BM_DrawPage(benchmark::State& state) {
    ChartPoints& points = longRun();
    points.setActiveSeries(int(state.range(1)));
    ChartPaging paging;
    paging.setMaxPointsPerPage(int(state.range(0)), points.size());
    paging.followLastPage(points.size());
    ChartPanel panel;
    panel.resize(320, 233);
    panel.attach(&points, &paging);
    panel.show();
    QApplication::processEvents();
    for (auto _ : state) {
        panel.invalidate();
        panel.refresh();
        QPixmap picture = panel.grab();
        benchmark::DoNotOptimize(picture.cacheKey());
    }
    state.SetLabel(std::string(state.range(0) == 0 ? "all 10,000,000 points" : "100 points") +
                   (state.range(1) == 0 ? ", area" : ", line"));
}
BENCHMARK(BM_DrawPage)->ArgsProduct({{100, 0}, {0, 1}})->Unit(benchmark::kMillisecond);

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
