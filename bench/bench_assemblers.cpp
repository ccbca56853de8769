// Bytes per second through the two frame assemblers alone, the decoders replaced by a counter:
// how much line the assembly itself could keep up with.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "FrameAssembler.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kFramesPerStream = 4000;

// Whole segment frames with varying display bits, as a meter sends them back to back.
Bytes segmentStream() {
    std::mt19937 rng(31);
    Bytes b;
    for (int f = 0; f < kFramesPerStream; ++f) {
        for (int i = 0; i < 14; ++i) b.push_back(static_cast<uint8_t>(((i + 1) << 4) | (rng() & 0x0F)));
    }
    return b;
}

// Whole digit frames as CR LF terminated lines, cut so that each starts with the LF of the one
// before it (as the assembler sees them), and the stream can repeat without a broken frame.
Bytes digitStream() {
    std::mt19937 rng(47);
    Bytes b;
    for (int f = 0; f < kFramesPerStream; ++f) {
        b.push_back(0x0A);
        for (int i = 0; i < 9; ++i) b.push_back(static_cast<uint8_t>(0x30 + rng() % 10));
        b.push_back(0x0D);
    }
    return b;
}

template <typename Assembler, typename Feed>
void runAssembler(benchmark::State& st, const Bytes& stream, Feed feed) {
    FrameTexts texts;
    int64_t frames = 0;
    Assembler assembler(texts, [&](const std::string&) { ++frames; });
    const auto chunk = static_cast<std::size_t>(st.range(0));
    for (auto _ : st) {
        for (std::size_t off = 0; off < stream.size(); off += chunk) {
            const auto n = std::min(chunk, stream.size() - off);
            (assembler.*feed)(stream.data() + off, static_cast<int32_t>(n));
        }
    }
    benchmark::DoNotOptimize(frames);
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * stream.size()));
    if (frames != static_cast<int64_t>(st.iterations()) * kFramesPerStream) st.SkipWithError("frames lost");
}

void BM_SegmentAssembler(benchmark::State& st) {
    static const Bytes stream = segmentStream();
    runAssembler<SegmentFrameAssembler>(st, stream, &SegmentFrameAssembler::H31BRData);
}
BENCHMARK(BM_SegmentAssembler)->Arg(64)->Arg(2048);

void BM_DigitAssembler(benchmark::State& st) {
    static const Bytes stream = digitStream();
    runAssembler<DigitFrameAssembler>(st, stream, &DigitFrameAssembler::H47BRData);
}
BENCHMARK(BM_DigitAssembler)->Arg(64)->Arg(2048);

}  // namespace

BENCHMARK_MAIN();
