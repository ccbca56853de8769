#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SimModel.h"
#include "SimReading.h"

namespace dmmsim {

enum class ScenarioKind : uint8_t { Steady, Ramp, Sine, Cycle, Overload, Noise };

const char* scenarioName(ScenarioKind k);
std::optional<ScenarioKind> scenarioByName(std::string_view name);
std::string scenarioNameList();

// A small generator whose sequence depends on nothing but its seed (the standard distributions
// may differ between libraries; these few lines do not).
class SimRandom {
public:
    explicit SimRandom(uint64_t seed) : state_(seed) {}
    uint64_t next();
    int below(int n);  // 0 <= result < n
    bool chance(double p);

private:
    uint64_t state_;
};

// How one frame on the line was damaged.
enum class Damage : uint8_t {
    None,
    LostByte,       // one byte missing (may be the end byte, which takes the next frame with it)
    ExtraByte,      // one byte too many inside the frame
    CorruptByte,    // a byte the listener can tell is wrong
    StrayEndByte,   // an end byte in the middle of the frame
    MidFrameStart,  // only the tail of the frame: the line came up in the middle of it
    AfterDamage,    // undamaged itself, but lost with the damaged frame before it
};
const char* damageName(Damage d);

// A piece of the byte stream: usually one frame, with what a listener makes of it.
struct Emission {
    std::vector<uint8_t> bytes;
    std::optional<SimReading> reading;  // the reading the frame carries; none for the stream's lead-in
    bool whole = false;                 // a listener assembles exactly this frame and decodes `reading`
    Damage damage = Damage::None;
};

struct ScenarioOptions {
    ScenarioKind kind = ScenarioKind::Ramp;
    uint64_t seed = 1;
    std::optional<SimFunction> function;  // default: volts
    Coupling coupling = Coupling::Dc;
    std::optional<double> value;  // steady: the value shown (default 1.234 in base units)
    double damageRate = 0.3;      // noise: share of frames damaged
};

// The endless stream of one scenario on one model. Everything follows from the options and the
// seed, so two streams with the same options are byte for byte the same.
class ScenarioStream {
public:
    ScenarioStream(const SimModel& model, const ScenarioOptions& options);

    // Whether the options can run on the model (the function exists there); otherwise why not.
    static bool check(const SimModel& model, const ScenarioOptions& options, std::string* error);

    Emission next();
    const SimModel& model() const { return model_; }
    // Frames handed out so far (the lead-in of a digit stream is not a frame).
    uint64_t frames() const { return frameNo_; }

private:
    SimReading readingAt(uint64_t n) const;
    SimReading cycleReading(uint64_t n) const;
    void damage(Emission& e, Damage kind);

    SimModel model_;
    ScenarioOptions options_;
    SimFunction function_;
    std::vector<RangeSpec> ranges_;
    SimRandom random_;
    uint64_t frameNo_ = 0;
    bool leadInSent_ = false;
    bool nextBroken_ = false;
};

}  // namespace dmmsim
