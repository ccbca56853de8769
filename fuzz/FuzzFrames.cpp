// The receive path without a window, as the headless mode wires it: frame assembler of the
// profile's family, decoder, reading pipeline. The same bytes are fed twice, once in the chunks
// the input chooses and once as a single chunk; since a frame may be split across any number of
// polls, both runs must drive the consumers identically, and anything else aborts.
#include "FuzzEntries.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FrameAssembler.h"
#include "HeadlessRunner.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"

namespace {

// Writes every call of the pipeline into one text, so two runs can be compared.
class DigestSink : public ReadingSink {
public:
    std::string digest;

    void KDsetup(int a) override { add('S', a); }
    void KDrun(int p) override { add('K', p); }
    void setBarPosition(int p) override { add('B', p); }
    void beep() override { digest += '!'; }
    void INDataToTable() override { digest += 'R'; }
    void ShowSeries(int i) override { add('W', i); }
    void BtNewClick() override { digest += 'N'; }
    void setChartLeftAxis(double mx, double mn) override {
        add('A', static_cast<long long>(mx));
        add('a', static_cast<long long>(mn));
    }
    void addChartPoint(int s, double y) override {
        // a chart point is always a whole number of counts
        if (!std::isfinite(y) || y != std::floor(y)) fail("chart point is not a whole number");
        add('P', s);
        add(':', static_cast<long long>(y));
    }
    void followLastPage() override { digest += 'F'; }
    void traceFrame(std::string_view f) override {
        digest += 'T';
        digest.append(f);
    }

    static void fail(const char* what) {
        std::fprintf(stderr, "fuzz frames: %s\n", what);
        std::abort();
    }

private:
    void add(char tag, long long v) {
        digest += tag;
        digest += std::to_string(v);
    }
};

struct Run {
    explicit Run(const ControlStates& c)
        : controls(c), engine(state, panel, controls, sink),
          segment(texts, [this](const std::string& f) { completed(engine.LcdDisplay31B(f)); }),
          digit(texts, [this](const std::string& f) { completed(engine.LcdDisplay47B(f)); }) {
        family = prepareMeterState(controls, state).family;
    }

    void feed(const uint8_t* data, int32_t size) {
        if (family == FrameFamily::Segment) segment.H31BRData(data, size);
        else if (family == FrameFamily::Digit) digit.H47BRData(data, size);
        if (texts.RxHexText.size() != texts.RxTagText.size() || texts.RxHexText.size() > kMaxFrameTextLength)
            DigestSink::fail("frame buffers out of step");
    }

    // What the headless mode prints for a completed reading.
    void completed(bool ok) {
        if (!ok) return;
        sink.digest += '|';
        sink.digest += state.ValueText;
        sink.digest += '\t';
        appendCounts(sink.digest, state.NumericValue);
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

    Run chunked(controls);
    std::vector<uint8_t> stream;
    std::size_t i = 1;
    while (i < size) {
        const std::size_t want = data[i++];
        const std::size_t n = std::min(want, size - i);
        chunked.feed(data + i, static_cast<int32_t>(n));
        stream.insert(stream.end(), data + i, data + i + n);
        i += n;
    }

    Run whole(controls);
    whole.feed(stream.data(), static_cast<int32_t>(stream.size()));
    if (whole.sink.digest != chunked.sink.digest) DigestSink::fail("chunks change what the frames drive");
    if (whole.state.DroppedFrames != chunked.state.DroppedFrames) DigestSink::fail("chunks change the dropped frames");
    if (whole.texts.FrameHex != chunked.texts.FrameHex || whole.texts.RxHexText != chunked.texts.RxHexText)
        DigestSink::fail("chunks change the frame texts");
    return 0;
}

}  // namespace FuzzEntries
