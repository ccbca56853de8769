// The receive path without a window, as the headless mode wires it: frame assembler of the
// profile's family, decoder, reading pipeline, with the record store and the chart's points fed
// as the window feeds them. The same bytes are fed twice, once in the chunks the input chooses and
// once as a single chunk; since a frame may be split across any number of polls, both runs must
// drive the consumers identically, and anything else aborts. The stores are fed in the single-chunk
// run only: the digest of the calls already shows that the other run would offer them the same.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ChartPaging.h"
#include "ChartPoints.h"
#include "FrameAssembler.h"
#include "FuzzEntries.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "NumberText.h"
#include "PageSampler.h"
#include "RecordStore.h"
#include "RecordTable.h"

namespace {

// Writes every call of the pipeline into one text, so two runs can be compared.
class DigestSink : public ReadingSink {
public:
    DigestSink(const MeterState& meter, const ControlStates& controls, bool stores)
        : stores_(stores), meter_(meter), controls_(controls), store_(record_, table_) {
        table_.openEmpty("Kr47bdb");
        RecordStore::applyStartValues(record_);
        store_.setClock([] { return 0; });
        chartPoints_.sampleFill();
    }

    std::string digest;
    RecordState record_;
    RecordTable table_;
    ChartPoints chartPoints_;
    ChartPaging chartPaging_;

    // the letters and numbers of the digest stay as the seeds were made with
    void redrawScale() override { add('S', 1); }
    void movePointer(int p) override { add('K', p); }
    void setBarPosition(int p) override { add('B', p); }
    void beep() override { digest += '!'; }
    void recordReading() override {
        digest += 'R';
        if (stores_) store_.INDataToTable(meter_);
    }
    void showChartSeries(int i) override {
        add('W', i);
        if (stores_) chartPoints_.setActiveSeries(i);
    }
    void clearChart() override {
        digest += 'N';
        if (!stores_) return;
        chartPoints_.sampleFill();
        chartPoints_.setActiveSeries(controls_.BtFill ? ChartPoints::AreaSeries : ChartPoints::LineSeries);
    }
    void setChartLeftAxis(double mx, double mn) override {
        add('A', static_cast<long long>(mx));
        add('a', static_cast<long long>(mn));
    }
    void addChartPoint(int s, double y) override {
        // a chart point is always a whole number of counts
        if (!std::isfinite(y) || y != std::floor(y)) fail("chart point is not a whole number");
        add('P', s);
        add(':', static_cast<long long>(y));
        const int index = s == 1 ? ChartPoints::LineSeries : s == 2 ? ChartPoints::AreaSeries : -1;
        if (stores_ && index >= 0) chartPoints_.add(index, static_cast<float>(y));
    }
    void followLastPage() override {
        digest += 'F';
        if (stores_) chartPaging_.followLastPage(chartPoints_.activeCount());
    }

    // What the window hands its chart of the page in view, small enough for the plot.
    void checkChartPage() const {
        const PageView page = chartPaging_.view(chartPoints_.activeCount());
        QList<QPointF> shown;
        QList<QPointF> fill;
        PageSampler::sample(chartPoints_, page.first, page.count, 64, shown, &fill);
        if (shown.size() > std::max<qsizetype>(page.count, 4 * 64 + 4))
            fail("the chart is handed too many points");
    }
    void traceFrame(std::string_view f) override {
        digest += 'T';
        digest.append(f);
    }

    static void fail(const char* what) {
        std::fprintf(stderr, "fuzz frames: %s\n", what);
        std::abort();
    }

private:
    bool stores_;
    const MeterState& meter_;
    const ControlStates& controls_;
    RecordStore store_;

    void add(char tag, long long v) {
        digest += tag;
        digest += std::to_string(v);
    }
};

struct Run {
    Run(const ControlStates& c, bool stores)
        : controls(c),
          sink(state, controls, stores),
          engine(state, panel, controls, sink),
          segment(texts, [this](const std::string& f) { completed(engine.LcdDisplay31B(f)); }),
          digit(texts, [this](const std::string& f) { completed(engine.LcdDisplay47B(f)); }) {
        family = prepareMeterState(controls, state).family;
    }

    void feed(const uint8_t* data, int32_t size) {
        if (family == FrameFamily::Segment)
            segment.H31BRData(data, size);
        else if (family == FrameFamily::Digit)
            digit.H47BRData(data, size);
        if (texts.RxHexText.size() != texts.RxTagText.size() || texts.RxHexText.size() > kMaxFrameTextLength)
            DigestSink::fail("frame buffers out of step");
    }

    // What the headless mode prints for a completed reading.
    void completed(bool ok) {
        if (!ok) return;
        sink.digest += '|';
        sink.digest += state.ValueText;
        sink.digest += '\t';
        NumberText::append(sink.digest, state.NumericValue);
        sink.digest += '\t';
        sink.digest += state.UnitText;
        sink.digest += '\t';
        sink.digest += state.AcDcText;
        sink.digest += '\t';
        sink.digest += state.AutoText;
    }

    ControlStates controls;
    MeterState state;
    LcdPanelModel panel;
    DigestSink sink;
    MeterEngine engine;
    FrameTexts texts;
    SegmentFrameAssembler segment;
    DigitFrameAssembler digit;
    FrameFamily family = FrameFamily::None;
};

}  // namespace

namespace FuzzEntries {

// Byte 0: bits 0-3 the profile (modulo the number of profiles), bit 4 the digit-frame variant
// switch, bit 5 SetMaxB, bit 6 SetMinB, bit 7 Fill unchecked.
int frames(const uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const uint8_t head = data[0];
    ControlStates controls;
    controls.model.fill(false);
    const auto& profiles = modelProfiles();
    controls.model[profiles[(head & 0x0F) % profiles.size()].check] = true;
    controls.model[IF7263x] = (head & 0x10) != 0;
    controls.SetMaxB = (head & 0x20) != 0;
    controls.SetMinB = (head & 0x40) != 0;
    controls.BtFill = (head & 0x80) == 0;

    Run chunked(controls, false);
    std::vector<uint8_t> stream;
    std::size_t i = 1;
    while (i < size) {
        const std::size_t want = data[i++];
        const std::size_t n = std::min(want, size - i);
        chunked.feed(data + i, static_cast<int32_t>(n));
        stream.insert(stream.end(), data + i, data + i + n);
        i += n;
    }

    Run whole(controls, true);
    whole.feed(stream.data(), static_cast<int32_t>(stream.size()));
    if (whole.sink.digest != chunked.sink.digest) DigestSink::fail("chunks change what the frames drive");
    if (whole.state.DroppedFrames != chunked.state.DroppedFrames)
        DigestSink::fail("chunks change the dropped frames");
    if (whole.texts.FrameHex != chunked.texts.FrameHex || whole.texts.RxHexText != chunked.texts.RxHexText)
        DigestSink::fail("chunks change the frame texts");
    const RecordTable& rows = whole.sink.table_;
    for (int64_t r = 0; r < rows.rowCount(); ++r) {
        if (rows.row(r).no != r + 1) DigestSink::fail("rows numbered out of order");
    }
    const ChartPoints& points = whole.sink.chartPoints_;
    if (points.size() > 0) {
        const ChartPoints::Range all = points.range(0, points.size());
        for (int64_t p = 0; p < points.size(); ++p) {
            if (points.value(p) < all.min || points.value(p) > all.max)
                DigestSink::fail("chart range misses a point");
        }
    }
    whole.sink.checkChartPage();
    return 0;
}

}  // namespace FuzzEntries
