// Frames per second through the digit-frame assembler, decoder and reading pipeline, with the panel
// model, a sink that does nothing and no window.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"

namespace {

// Volts (DC, auto), negative millivolts, kilo-ohms, kilohertz, RPM, Celsius, microfarads, an
// overload, a diode reading, the frequency reading of the voltage function and milliamperes (AC).
const char* const kDigitFrames[] = {
    "A11234B00AD", "A03999B40AD", "A202373002D", "A212342000D", "A212342800D", "A002354800D",
    "A412346000D", "A10000B102D", "A005621000D", "A21234B010D", "A112349004D",
};

// CR LF after every frame, so each frame's text starts with the LF of the one before.
std::vector<uint8_t> digitStream(int frames) {
    std::vector<uint8_t> bytes{'\r'};
    const int kinds = static_cast<int>(std::size(kDigitFrames));
    for (int f = 0; f < frames; ++f) {
        // a meter repeats one reading several times before the user turns the dial
        const std::string hex = kDigitFrames[(f / 5) % kinds];
        bytes.push_back('\n');
        for (std::size_t i = 1; i + 1 < hex.size(); ++i) {
            bytes.push_back(static_cast<uint8_t>(0x30 | std::stoi(hex.substr(i, 1), nullptr, 16)));
        }
        bytes.push_back('\r');
    }
    return bytes;
}

void BM_DigitFramesThroughPipeline(benchmark::State& st) {
    constexpr int kFrames = 1100;
    const std::vector<uint8_t> bytes = digitStream(kFrames);
    MeterState meter;
    meter.family = FrameFamily::Digit;
    LcdPanelModel lcd;
    ControlStates boxes;
    boxes.model = {};
    boxes.model[IFKR47B] = true;
    ReadingSink noSink;
    MeterEngine engine(meter, lcd, boxes, noSink);
    FrameTexts texts;
    int64_t decoded = 0;
    DigitFrameAssembler assembler(texts, [&](const std::string& f) { decoded += engine.LcdDisplay47B(f); });

    const std::size_t chunk = static_cast<std::size_t>(st.range(0));
    for (auto _ : st) {
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            assembler.H47BRData(bytes.data() + at, static_cast<int32_t>(std::min(chunk, bytes.size() - at)));
        }
        lcd.takeDirty();  // what the window's sync would do once per poll
    }
    benchmark::DoNotOptimize(decoded);
    st.SetItemsProcessed(st.iterations() * kFrames);
    if (decoded != static_cast<int64_t>(st.iterations()) * kFrames) st.SkipWithError("frames lost");
}
BENCHMARK(BM_DigitFramesThroughPipeline)->Arg(11)->Arg(100)->Arg(2048);

}  // namespace

BENCHMARK_MAIN();
