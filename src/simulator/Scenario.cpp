#include "Scenario.h"

#include <algorithm>
#include <cmath>

#include "FrameEncoder.h"

namespace dmmsim {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct ScenarioName {
    const char* name;
    ScenarioKind kind;
};

constexpr ScenarioName kScenarios[] = {
    {"steady", ScenarioKind::Steady}, {"ramp", ScenarioKind::Ramp},         {"sine", ScenarioKind::Sine},
    {"cycle", ScenarioKind::Cycle},   {"overload", ScenarioKind::Overload}, {"noise", ScenarioKind::Noise},
};

constexpr int kRampFrames = 200;  // one rise and fall
constexpr int kSineFrames = 64;   // one period
constexpr int kCycleFramesPerRange = 4;

double defaultValue(SimFunction f, const SimModel& m, const std::vector<RangeSpec>& ranges) {
    switch (f) {
        case SimFunction::Celsius:
            return 23.0;
        case SimFunction::Fahrenheit:
            return 73.0;
        case SimFunction::Diode:
            return 0.562;
        case SimFunction::Continuity:
            return 12.3;
        case SimFunction::DutyCycle:
            return 50.0;
        default:
            break;
    }
    const RangeSpec& s = ranges[ranges.size() > 1 ? 1 : 0];
    return std::min(1234, countLimit(m, s) / 2) * std::pow(10.0, s.countExponent());
}

}  // namespace

const char* scenarioName(ScenarioKind k) {
    for (const auto& s : kScenarios) {
        if (s.kind == k) return s.name;
    }
    return "?";
}

std::optional<ScenarioKind> scenarioByName(std::string_view name) {
    for (const auto& s : kScenarios) {
        if (name == s.name) return s.kind;
    }
    return std::nullopt;
}

std::string scenarioNameList() {
    std::string out;
    for (const auto& s : kScenarios) {
        if (!out.empty()) out += ", ";
        out += s.name;
    }
    return out;
}

const char* damageName(Damage d) {
    switch (d) {
        case Damage::None:
            return "none";
        case Damage::LostByte:
            return "lost byte";
        case Damage::ExtraByte:
            return "extra byte";
        case Damage::CorruptByte:
            return "corrupt byte";
        case Damage::StrayEndByte:
            return "stray end byte";
        case Damage::MidFrameStart:
            return "mid-frame start";
        case Damage::AfterDamage:
            return "after damage";
    }
    return "?";
}

uint64_t SimRandom::next() {
    // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int SimRandom::below(int n) {
    return n <= 1 ? 0 : static_cast<int>(next() % static_cast<uint64_t>(n));
}

bool SimRandom::chance(double p) {
    return static_cast<double>(next() >> 11) * 0x1.0p-53 < p;
}

ScenarioStream::ScenarioStream(const SimModel& model, const ScenarioOptions& options)
    : model_(model),
      options_(options),
      function_(options.function.value_or(SimFunction::Volts)),
      ranges_(rangesFor(model, function_)),
      random_(options.seed) {}

bool ScenarioStream::check(const SimModel& model, const ScenarioOptions& options, std::string* error) {
    const SimFunction f = options.function.value_or(SimFunction::Volts);
    if (!canShow(model, f)) {
        if (error)
            *error = std::string("the ") + model.caption + " has no \"" + functionName(f) + "\" function";
        return false;
    }
    return true;
}

SimReading ScenarioStream::readingAt(uint64_t n) const {
    const SimFunction f = function_;
    const Coupling c = options_.coupling;
    const bool withSign = hasSign(f, c);
    const int mainRange = ranges_.size() > 1 ? 1 : 0;
    const RangeSpec& main = ranges_[mainRange];
    const double fullValue = countLimit(model_, main) * std::pow(10.0, main.countExponent());

    switch (options_.kind) {
        case ScenarioKind::Steady:
            return fitReading(model_, f, options_.value.value_or(defaultValue(f, model_, ranges_)), c);
        case ScenarioKind::Ramp:
        case ScenarioKind::Noise: {
            const int t = static_cast<int>(n % kRampFrames);
            const double x = (t < kRampFrames / 2 ? t : kRampFrames - t) / (kRampFrames / 2.0);
            const double span = 0.9 * fullValue;
            return fitReading(model_, f, withSign ? (2 * x - 1) * span : x * span, c);
        }
        case ScenarioKind::Sine: {
            const double s = std::sin(2 * kPi * static_cast<double>(n % kSineFrames) / kSineFrames);
            const double a = 0.95 * fullValue;
            return fitReading(model_, f, withSign ? a * s : a * (1 + s) / 2, c, mainRange);
        }
        case ScenarioKind::Overload: {
            static const double kUp[] = {0.9, 0.99, 1.05, 1.5, 0.5, 0.99, 1.2, 0.5};
            static const double kUpDown[] = {0.9, 0.99, 1.05, 1.5, 0.5, -0.99, -1.05, -0.5};
            const double share = (withSign ? kUpDown : kUp)[n % 8];
            return fitReading(model_, f, share * fullValue, c, mainRange);
        }
        case ScenarioKind::Cycle:
            return cycleReading(n);
    }
    return {};
}

// Every function of the model (volts both DC and AC) on each of its ranges in turn, a few frames
// each, on manual range.
SimReading ScenarioStream::cycleReading(uint64_t n) const {
    struct Step {
        SimFunction f;
        Coupling c;
        int range;
        RangeSpec rangeSpec;
    };
    std::vector<Step> steps;
    for (SimFunction f : functionsOf(model_)) {
        const auto ranges = rangesFor(model_, f);
        const std::vector<Coupling> couplings = f == SimFunction::Volts
                                                    ? std::vector<Coupling>{Coupling::Dc, Coupling::Ac}
                                                    : std::vector<Coupling>{Coupling::Dc};
        for (Coupling c : couplings) {
            for (std::size_t i = 0; i < ranges.size(); ++i)
                steps.push_back({f, c, static_cast<int>(i), ranges[i]});
        }
    }
    const Step& s = steps[(n / kCycleFramesPerRange) % steps.size()];
    const int counts = countLimit(model_, s.rangeSpec) * 3 / 10 + static_cast<int>(n % kCycleFramesPerRange);
    return fitReading(model_, s.f, counts * std::pow(10.0, s.rangeSpec.countExponent()), s.c, s.range);
}

Emission ScenarioStream::next() {
    const bool digit = model_.family == FrameFamily::Digit;
    const bool noise = options_.kind == ScenarioKind::Noise;
    Emission e;
    if (digit && !noise && !leadInSent_) {
        leadInSent_ = true;
        e.bytes = {kDigitFrameLead};
        return e;
    }
    leadInSent_ = true;

    e.reading = readingAt(frameNo_);
    e.bytes = encodeFrame(model_, *e.reading);
    e.whole = true;
    ++frameNo_;

    if (noise) {
        if (frameNo_ == 1) {
            damage(e, Damage::MidFrameStart);  // the line comes up in the middle of a frame
        } else if (nextBroken_) {
            nextBroken_ = false;
            e.whole = false;
            e.damage = Damage::AfterDamage;
        } else if (random_.chance(options_.damageRate)) {
            damage(e, static_cast<Damage>(1 + random_.below(5)));
        }
    }
    return e;
}

// Each kind of damage is placed so that the listener must drop the frame: a damaged frame that
// still passed as whole would carry a reading nobody sent. Where the damage reaches into the
// next frame, that one is marked as lost too.
void ScenarioStream::damage(Emission& e, Damage kind) {
    auto& b = e.bytes;
    const bool digit = model_.family == FrameFamily::Digit;
    const auto at = [&](int i) { return b.begin() + i; };
    e.damage = kind;
    e.whole = false;
    if (!digit) {
        // 14 bytes tagged 1..E; the byte tagged E ends the frame
        switch (kind) {
            case Damage::LostByte: {
                const int k = random_.below(14);
                b.erase(at(k));
                nextBroken_ = k == 13;
                break;
            }
            case Damage::ExtraByte:
                b.insert(at(random_.below(14)),
                         static_cast<uint8_t>(((1 + random_.below(13)) << 4) | random_.below(16)));
                break;
            case Damage::CorruptByte: {
                const int k = random_.below(13);
                int tag = random_.below(13);  // 0..C, never E
                if (tag >= k + 1) ++tag;      // skip the byte's own tag: 0..D without k+1
                b[k] = static_cast<uint8_t>((tag << 4) | (b[k] & 0xF));
                break;
            }
            case Damage::StrayEndByte:
                b.insert(at(1 + random_.below(12)), static_cast<uint8_t>(0xE0 | random_.below(16)));
                break;
            case Damage::MidFrameStart:
                b.erase(b.begin(), at(1 + random_.below(13)));
                break;
            default:
                break;
        }
        return;
    }
    // nine data bytes, CR (index 9), LF (index 10); the listener's frame runs from the LF before
    // it to the CR and is whole when its eleventh low digit is D
    const auto dataByte = [&](bool notD) {
        int nibble = random_.below(notD ? 15 : 16);
        if (notD && nibble >= 0xD) ++nibble;
        return static_cast<uint8_t>(0x30 | nibble);
    };
    switch (kind) {
        case Damage::LostByte: {
            const int k = random_.below(11);
            b.erase(at(k));
            e.whole = k == 10;     // only the LF: this frame is fine, the next starts without it
            nextBroken_ = k >= 9;  // a lost CR joins this frame to the next
            if (e.whole) e.damage = Damage::LostByte;
            break;
        }
        case Damage::ExtraByte: {
            // the frame grows to twelve; its eleventh digit is then option 2 or the extra byte
            const bool option2IsD = (b[8] & 0xF) == 0xD;
            const int k = option2IsD ? 9 : random_.below(10);
            b.insert(at(k), dataByte(k == 9));
            break;
        }
        case Damage::CorruptByte:
            b[9] = dataByte(true);  // the CR: this frame runs on into the next one
            nextBroken_ = true;
            break;
        case Damage::StrayEndByte:
            b.insert(at(random_.below(9)), 0x0D);
            break;
        case Damage::MidFrameStart:
            b.erase(b.begin(), at(1 + random_.below(9)));
            break;
        default:
            break;
    }
}

}  // namespace dmmsim
