// A week of the bench on a test clock: eight meters at the line's full rate (174 readings a
// second each) and two math channels over them go through the bench's model, whose histories the
// chart's strips read. Every 250 ms of the test clock the strips take in what came, as the chart
// does; after each day, and at the end, the chart draws the whole run. Prints the memory, the
// history's bytes, the time of a "Whole run" drawing and what a zoom into the last minute shows,
// and fails when the peak memory passes --max-mib, a whole-run drawing takes longer than
// --max-draw-ms, or the last minute is not drawn from the readings themselves.
//
// Usage: soak_week [--days N] [--hours N] [--max-mib 400] [--max-draw-ms 50]
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "BenchChart.h"
#include "BenchModel.h"
#include "BenchStripTrace.h"
#include "BenchStripView.h"
#include "BenchStrips.h"
#include "ProcessMemory.h"

namespace {

constexpr int kMeters = 8;
constexpr double kRate = 174.0;  // readings a second a meter
constexpr int64_t kStart = 1'780'000'000'000;
constexpr int64_t kDayMs = 86'400'000;

struct Options {
    int64_t spanMs = 7 * kDayMs;
    double maxMib = 400;
    double maxDrawMs = 50;
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const double v = std::atof(argv[++i]);
        if (a == "--days")
            o.spanMs = int64_t(v * double(kDayMs));
        else if (a == "--hours")
            o.spanMs = int64_t(v * 3'600'000.0);
        else if (a == "--max-mib")
            o.maxMib = v;
        else if (a == "--max-draw-ms")
            o.maxDrawMs = v;
        else
            return false;
    }
    return o.spanMs > 0;
}

// Milliseconds of one full drawing of the chart, the best of three.
double drawMs(BenchChart& chart) {
    double best = 1e9;
    for (int k = 0; k < 3; ++k) {
        QElapsedTimer timer;
        timer.start();
        QPixmap picture = chart.view()->grab();
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
        if (picture.isNull()) return 1e9;
    }
    return best;
}

double historyMib(const BenchModel& model) {
    std::size_t bytes = 0;
    for (const int id : model.channelIds()) bytes += model.history(id).bytes();
    return mib(int64_t(bytes));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: soak_week [--days N] [--hours N] [--max-mib MiB] [--max-draw-ms MS]\n");
        return 2;
    }

    BenchModel model;
    std::vector<int> meters;
    for (int m = 0; m < kMeters; ++m) meters.push_back(model.addMeter(QStringLiteral("M%1").arg(m + 1)));
    model.addMath(QStringLiteral("P"), QStringLiteral("M1 * M2"));
    model.addMath(QStringLiteral("E"), QStringLiteral("integral(M3 * M4)"));
    BenchStrips strips;
    BenchChart chart;
    chart.resize(1000, 600);
    chart.setStrips(&strips);
    chart.show();
    strips.follow(model);

    // every reading of a meter shares its texts, as a meter's readings mostly do
    std::vector<BenchReading> readings(kMeters);
    for (int m = 0; m < kMeters; ++m) {
        readings[size_t(m)].unit = m % 2 == 0 ? QStringLiteral("V") : QStringLiteral("A");
        readings[size_t(m)].display = m % 2 == 0 ? QStringLiteral("12.000 V") : QStringLiteral("0.5000 A");
        readings[size_t(m)].acdc = QStringLiteral("DC");
        readings[size_t(m)].range = QStringLiteral("AUTO");
    }

    std::printf("soak_week: %d meters at %.0f readings/s, 2 math channels, %.2f days on a test clock\n",
                kMeters, kRate, double(o.spanMs) / double(kDayMs));
    std::printf("%6s %12s %10s %10s %10s %12s\n", "day", "readings", "RSS MiB", "peak MiB", "hist MiB",
                "whole ms");
    const auto wallStart = std::chrono::steady_clock::now();
    const int64_t ticks = int64_t(double(o.spanMs) / 1000.0 * kRate);  // readings per meter
    uint64_t count = 0;
    int64_t nextCatchUp = kStart + 250;
    int64_t nextReport = kStart + std::min(kDayMs, o.spanMs);
    double worstDraw = 0;
    uint32_t noise = 12345;
    bool unitsKnown = false;
    for (int64_t k = 0; k < ticks; ++k) {
        const int64_t t = kStart + int64_t(std::llround(double(k) * 1000.0 / kRate));
        const double phase = double(k) / (kRate * 600.0);  // a ten-minute wave
        for (int m = 0; m < kMeters; ++m) {
            noise = noise * 1664525u + 1013904223u;
            BenchReading& r = readings[size_t(m)];
            r.timeMs = t;
            const double level = m % 2 == 0 ? 12.0 + m : 0.5 + 0.1 * m;
            r.value = level * (1 + 0.2 * std::sin(phase + m)) + double(noise >> 20) * 1e-6;
            model.addReading(meters[size_t(m)], r, t);
            ++count;
        }
        if (t >= nextCatchUp) {
            if (!unitsKnown) {
                strips.follow(model);  // the strips learn the units
                unitsKnown = true;
            }
            model.checkStale(t);
            strips.catchUp();
            nextCatchUp += 250;
        }
        if (t >= nextReport || k + 1 == ticks) {
            strips.catchUp();
            chart.axis().setLatest(strips.lastTime());
            chart.axis().show(strips.firstTime(), strips.lastTime());
            const double ms = drawMs(chart);
            worstDraw = std::max(worstDraw, ms);
            std::printf("%6.2f %12llu %10.1f %10.1f %10.1f %12.1f\n", double(t - kStart) / double(kDayMs),
                        static_cast<unsigned long long>(count), mib(memoryOf("VmRSS")),
                        mib(memoryOf("VmHWM")), historyMib(model), ms);
            std::fflush(stdout);
            nextReport += kDayMs;
        }
    }
    const double wallS = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    // the last minute: every strip drawn from its readings, as many points as were read
    const int64_t last = strips.lastTime();
    chart.axis().show(last - 60'000, last);
    const int columns = chart.view()->plotRect(0).width();
    bool raw = true;
    for (int i = 0; i < strips.size(); ++i) {
        const BenchStripPoints& p = strips.at(i).points;
        const BenchStripTrace trace =
            BenchStripTrace::reduce(p, chart.axis().start(), double(chart.axis().span()) / columns, columns);
        const int64_t inView = p.size() - p.lowerBound(last - 60'000);
        std::printf("last minute, %s: %lld points, widest bucket %lld ms, %zu bars\n",
                    qPrintable(strips.at(i).name), static_cast<long long>(inView),
                    static_cast<long long>(trace.bucketMs), trace.bars.size());
        raw = raw && trace.bucketMs == 0 && inView > 0 && !trace.bars.empty();
    }
    const double zoomMs = drawMs(chart);
    const double peak = mib(memoryOf("VmHWM"));
    std::printf("readings fed: %llu meter readings in %.0f s (%.0f ns each, math included)\n",
                static_cast<unsigned long long>(count), wallS, wallS * 1e9 / double(count));
    std::printf(
        "peak memory: %.1f MiB (limit %.0f); whole run drawn in %.1f ms at worst (limit %.0f); "
        "last minute drawn in %.1f ms, from readings: %s\n",
        peak, o.maxMib, worstDraw, o.maxDrawMs, zoomMs, raw ? "yes" : "NO");
    const bool ok = peak <= o.maxMib && worstDraw <= o.maxDrawMs && raw;
    std::printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
