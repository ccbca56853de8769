// A day of readings without a window: frames of one model through the frame assembler, decoder and
// reading pipeline of the headless mode, with the record store ("limitless", Repeat off) and the
// chart's point store and paging fed as the window feeds them, in the chunks a 50 ms poll reads.
// After every chunk it does what the window does at the end of one: the trace keeps its last lines,
// the grid's model shows the rows around the newest, the chart is handed the visible page reduced
// to its pixel columns. Prints frames per second and peak memory, and fails when the memory beyond
// the two stores' rows and points grows, or when the trace, the grid's model or what the chart is
// handed grows with the run.
//
// Usage: soak_day [--model KR31G|KR31E|...] [--frames N] [--per-page N]
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "ChartPaging.h"
#include "ChartPoints.h"
#include "FrameAssembler.h"
#include "FrameEncoder.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "PageSampler.h"
#include "ProcessMemory.h"
#include "RecordStore.h"
#include "RecordTable.h"
#include "RecordTableModel.h"
#include "SimModel.h"

namespace {

constexpr int kTraceLines = 1000;  // the window's trace keeps this many lines
constexpr int kGridRows = 8;       // rows the grid shows at its stored size
constexpr int kPlotColumns = 300;  // pixel columns of the chart's plot at its stored size

// The window's consumers of a reading, without widgets.
class SoakWindow : public ReadingSink {
public:
    SoakWindow(MeterState& meter, const ControlStates& controls, int perPage)
        : meter_(meter), controls_(controls), store_(record_, table_), model_(table_) {
        table_.openEmpty("Kr47bdb");
        RecordStore::applyStartValues(record_);
        record_.RepeatSet = false;                    // Repeat off
        store_.setLimit(kRecordLimitItems[5].limit);  // "limitless"
        chartPaging_.setMaxPointsPerPage(perPage, 0);
        chartPoints_.sampleFill();
    }

    void recordReading() override { store_.INDataToTable(meter_); }
    void showChartSeries(int index) override { chartPoints_.setActiveSeries(index); }
    void clearChart() override {
        chartPoints_.sampleFill();
        showChartSeries(0);
        showChartSeries(controls_.BtFill ? 0 : 1);
    }
    void addChartPoint(int series, double y) override {
        const int index = series == 1 ? ChartPoints::LineSeries : series == 2 ? ChartPoints::AreaSeries : -1;
        if (index >= 0) chartPoints_.add(index, static_cast<float>(y));
    }
    void followLastPage() override { chartPaging_.followLastPage(chartPoints_.activeCount()); }
    void traceFrame(std::string_view frameHex) override {
        pendingTrace_.emplace_back(frameHex);
        if (pendingTrace_.size() > kTraceLines) pendingTrace_.pop_front();
    }

    // What the window does once a chunk is through.
    void finishChunk() {
        for (std::string& line : pendingTrace_) trace_.push_back(std::move(line));
        pendingTrace_.clear();
        while (trace_.size() > kTraceLines) trace_.pop_front();

        const int64_t rows = table_.rowCount();
        model_.setWindow(std::max<int64_t>(0, rows - kGridRows), kGridRows, rows - 1);

        const PageView page = chartPaging_.view(chartPoints_.activeCount());
        PageSampler::sample(chartPoints_, page.first, page.count, kPlotColumns, shown_,
                            chartPoints_.activeSeries() == ChartPoints::AreaSeries ? &fill_ : nullptr);
    }

    // Bytes the two stores hold for their rows and points.
    int64_t storeBytes() const {
        // the point store keeps a float per point and a min/max pair per 16, 256, ... points
        return static_cast<int64_t>(table_.bytesUsed()) + chartPoints_.size() * 4 +
               chartPoints_.size() * 8 / 15;
    }

    // Anything the window would hand its widgets that grew beyond what the screen shows.
    std::string boundsBroken() const {
        if (trace_.size() > kTraceLines)
            return "the frame trace grew to " + std::to_string(trace_.size()) + " lines";
        if (model_.rowCount() > kGridRows)
            return "the grid's model holds " + std::to_string(model_.rowCount()) + " rows";
        const int64_t shownLimit = std::max<int64_t>(chartPaging_.MaxPointsPerPage(), 4 * kPlotColumns + 4);
        if (shown_.size() > shownLimit || fill_.size() > shownLimit)
            return "the chart is handed " + std::to_string(shown_.size()) + " points";
        return {};
    }

    int64_t rows() const { return table_.rowCount(); }
    int64_t points() const { return chartPoints_.activeCount(); }
    std::size_t tableBytes() const { return table_.bytesUsed(); }

private:
    MeterState& meter_;
    const ControlStates& controls_;
    RecordState record_;
    RecordTable table_;
    RecordStore store_;
    RecordTableModel model_;
    ChartPoints chartPoints_;
    ChartPaging chartPaging_;
    std::deque<std::string> pendingTrace_;
    std::deque<std::string> trace_;
    QList<QPointF> shown_;
    QList<QPointF> fill_;
};

// One cycle of readings of DC volts on a fixed range, every count from minus to plus the range's
// last and back, as the meter's frames of its family.
std::vector<uint8_t> frameCycle(const dmmsim::SimModel& model, int& framesInCycle) {
    const auto ranges = dmmsim::rangesFor(model, dmmsim::SimFunction::Volts);
    const dmmsim::RangeSpec range = ranges.at(ranges.size() > 1 ? 1 : 0);
    const int top = dmmsim::countLimit(model, range) - 1;
    std::vector<uint8_t> bytes;
    if (model.family == FrameFamily::Digit) bytes.push_back(dmmsim::kDigitFrameLead);
    framesInCycle = 0;
    for (int step = 0; step < 4 * top; ++step) {
        const int counts = step < 2 * top ? step - top : 3 * top - step;
        dmmsim::SimReading r;
        r.function = dmmsim::SimFunction::Volts;
        r.coupling = dmmsim::Coupling::Dc;
        r.rangeCode = range.code;
        r.prefix = range.prefix;
        r.point = range.point;
        r.negative = counts < 0;
        const std::string digits = std::to_string(counts < 0 ? -counts : counts);
        const std::string padded = std::string(4 - digits.size(), '0') + digits;
        for (int i = 0; i < 4; ++i) r.digits[i] = padded[i];
        const std::vector<uint8_t> frame = dmmsim::encodeFrame(model, r);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        ++framesInCycle;
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    std::string caption = "KR31G";
    int64_t frames = 15'000'000;  // a day of digit frames at 19,200 baud
    int perPage = 100;            // the stored points per page
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--model")
            caption = argv[i + 1];
        else if (a == "--frames")
            frames = std::stoll(argv[i + 1]);
        else if (a == "--per-page")
            perPage = std::stoi(argv[i + 1]);
    }
    std::string error;
    const auto sim = dmmsim::simModelFor(caption, false, &error);
    if (!sim) {
        std::fprintf(stderr, "soak_day: %s\n", error.c_str());
        return 2;
    }

    ControlStates controls;
    controls.model.fill(false);
    controls.model[sim->check] = true;
    MeterState meter;
    const ProfileChoice choice = prepareMeterState(controls, meter);
    LcdPanelModel panel;
    SoakWindow window(meter, controls, perPage);
    MeterEngine engine(meter, panel, controls, window);
    FrameTexts texts;
    int64_t readings = 0;
    SegmentFrameAssembler segment(texts, [&](const std::string& f) { readings += engine.LcdDisplay31B(f); });
    DigitFrameAssembler digit(texts, [&](const std::string& f) { readings += engine.LcdDisplay47B(f); });

    int framesInCycle = 0;
    const std::vector<uint8_t> cycle = frameCycle(*sim, framesInCycle);
    const std::size_t bytesPerFrame =
        (cycle.size() - (choice.family == FrameFamily::Digit ? 1 : 0)) / framesInCycle;
    // what one 50 ms poll reads at the line rate: a tenth of the baud rate in bytes a second
    const std::size_t chunk =
        std::max<std::size_t>(1, std::size_t(choice.baud19200 ? 19200 : 2400) / 10 / 20);
    const uint64_t totalBytes = uint64_t(frames) * bytesPerFrame;

    std::printf("%s: %lld frames of %zu bytes in chunks of %zu bytes, %d points per page\n", caption.c_str(),
                static_cast<long long>(frames), bytesPerFrame, chunk, perPage);
    const auto start = std::chrono::steady_clock::now();
    int64_t baselineOther = -1;
    int64_t worstOther = 0;
    std::string broken;
    uint64_t fed = 0;
    std::size_t at = 0;
    uint64_t nextCheck = 0;
    while (fed < totalBytes && broken.empty()) {
        const std::size_t n = std::min<uint64_t>({chunk, cycle.size() - at, totalBytes - fed});
        if (choice.family == FrameFamily::Digit)
            digit.H47BRData(cycle.data() + at, int32_t(n));
        else
            segment.H31BRData(cycle.data() + at, int32_t(n));
        window.finishChunk();
        fed += n;
        at += n;
        // the digit cycle starts with the line feed of the frame before; later rounds have theirs
        if (at == cycle.size()) at = choice.family == FrameFamily::Digit ? 1 : 0;
        if (fed >= nextCheck) {
            nextCheck += totalBytes / 50;
            broken = window.boundsBroken();
            const int64_t other = memoryOf("VmRSS") - window.storeBytes();
            // the first check settles the program's own memory; later ones may not add to it
            if (baselineOther < 0 && fed > totalBytes / 40) baselineOther = other;
            worstOther = std::max(worstOther, other);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (broken.empty()) broken = window.boundsBroken();

    const int64_t peak = memoryOf("VmHWM");
    const int64_t rows = window.rows();
    const int64_t points = window.points();
    std::printf("readings %lld, dropped %llu, rows %lld, chart points %lld\n",
                static_cast<long long>(readings), static_cast<unsigned long long>(meter.DroppedFrames),
                static_cast<long long>(rows), static_cast<long long>(points));
    std::printf("%.1f s, %.0f frames per second\n", seconds, double(frames) / seconds);
    std::printf("peak memory (VmHWM) %.1f MiB; rows hold %.1f MiB (%.1f bytes a row)\n", mib(peak),
                mib(int64_t(window.tableBytes())), rows ? double(window.tableBytes()) / double(rows) : 0.0);
    std::printf("memory beyond rows and points: %.1f MiB after the first checks, at most %.1f MiB\n",
                mib(baselineOther), mib(worstOther));

    int status = 0;
    // every reading is stored until the limit stops the store: at the limit, or one past it as
    // a test of the limit before the count is raised would give
    const int64_t limit = kRecordLimitItems[5].limit;
    const bool rowsRight = readings <= limit ? rows == readings : rows == limit || rows == limit + 1;
    if (readings != frames || meter.DroppedFrames != 0) {
        std::printf("FAIL: %lld of %lld frames gave a reading\n", static_cast<long long>(readings),
                    static_cast<long long>(frames));
        status = 1;
    }
    if (!rowsRight) {
        std::printf("FAIL: %lld rows stored of %lld readings\n", static_cast<long long>(rows),
                    static_cast<long long>(readings));
        status = 1;
    }
    if (!broken.empty()) {
        std::printf("FAIL: %s\n", broken.c_str());
        status = 1;
    }
    // a few MiB of slack for the allocator's own bookkeeping and the memory it keeps for reuse
    constexpr int64_t kSlack = 32 << 20;
    if (baselineOther >= 0 && worstOther > baselineOther + kSlack) {
        std::printf("FAIL: memory beyond rows and points grew by %.1f MiB\n",
                    mib(worstOther - baselineOther));
        status = 1;
    }
    // the stores' budgets: 20 bytes a row, a block of rows filling up and the few distinct texts;
    // a float a point and its summary
    if (int64_t(window.tableBytes()) > rows * 20 + (int64_t(4) << 20)) {
        std::printf("FAIL: %.1f bytes a row\n", double(window.tableBytes()) / double(rows));
        status = 1;
    }
    if (peak > rows * 24 + points * 5 + (int64_t(64) << 20)) {
        std::printf("FAIL: peak memory beyond the budget of the rows and points\n");
        status = 1;
    }
    if (status == 0) std::printf("OK\n");
    return status;
}
