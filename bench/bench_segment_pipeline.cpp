// Frames per second through the segment-frame assembler, decoder and reading pipeline, with the
// panel model and no window: the whole receive path of one reading.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"

namespace {

// A mix of readings: volts with a point, negative millivolts, overload, hertz, Celsius, AC.
const char* const kFrames[] = {
    "705DB1F2700040", "485DB1F2708040", "49F3F3F3F00040", "41F3F3FBF00040", "A7DFD7D7D00040",
    "47D855B1F00040", "800003E9F00040", "2007DE80020400", "E7D5B1F1520041", "43E7DFD7D20021",
};

std::vector<uint8_t> makeStream(int frames) {
    std::vector<uint8_t> bytes;
    const int kinds = sizeof kFrames / sizeof kFrames[0];
    for (int f = 0; f < frames; ++f) {
        // mostly one reading at a time, as a meter sends it; now and then another range
        const std::string hex = kFrames[(f / 7) % kinds];
        for (int i = 0; i < 14; ++i) {
            const int nibble = std::stoi(hex.substr(i, 1), nullptr, 16);
            bytes.push_back(static_cast<uint8_t>(((i + 1) << 4) | nibble));
        }
    }
    return bytes;
}

void BM_SegmentFramesThroughPipeline(benchmark::State& st) {
    const int framesPerStream = 1000;
    const std::vector<uint8_t> stream = makeStream(framesPerStream);
    MeterState state;
    state.family = FrameFamily::Segment;
    LcdPanelModel panel;
    ControlStates controls;
    ReadingSink sink;
    MeterEngine engine(state, panel, controls, sink);
    FrameTexts texts;
    int64_t completed = 0;
    SegmentFrameAssembler assembler(texts,
                                    [&](const std::string& f) { completed += engine.LcdDisplay31B(f); });
    const int chunk = static_cast<int>(st.range(0));
    for (auto _ : st) {
        for (std::size_t off = 0; off < stream.size(); off += chunk) {
            const int n = static_cast<int>(std::min<std::size_t>(chunk, stream.size() - off));
            assembler.H31BRData(stream.data() + off, n);
        }
        panel.takeDirty();
    }
    benchmark::DoNotOptimize(completed);
    st.SetItemsProcessed(st.iterations() * framesPerStream);
    if (completed != static_cast<int64_t>(st.iterations()) * framesPerStream) st.SkipWithError("frames lost");
}
BENCHMARK(BM_SegmentFramesThroughPipeline)->Arg(12)->Arg(100)->Arg(2048);

}  // namespace

BENCHMARK_MAIN();
