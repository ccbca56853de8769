#include "SimModel.h"

#include <algorithm>
#include <cmath>

#include "ModelProfiles.h"

namespace dmmsim {

namespace {

using P = Prefix;
using Ranges = std::vector<RangeSpec>;

// Ranges shared by both families. Digit meters send the range number, so their order is the
// meter's; the segment meters only show prefix and point, and use the same steps.
const Ranges kVolts = {{0, P::Milli, 3}, {1, P::None, 1}, {2, P::None, 2}, {3, P::None, 3}, {4, P::None, 0}};
const Ranges kVariantVolts = {
    {4, P::Milli, 3}, {0, P::None, 1}, {1, P::None, 2}, {2, P::None, 3}, {3, P::None, 0}};
const Ranges kOhms = {{0, P::None, 3}, {1, P::Kilo, 1}, {2, P::Kilo, 2},
                      {3, P::Kilo, 3}, {4, P::Mega, 1}, {5, P::Mega, 2}};
const Ranges kCapacitance = {{0, P::Nano, 1},  {1, P::Nano, 2},  {2, P::Nano, 3},  {3, P::Micro, 1},
                             {4, P::Micro, 2}, {5, P::Micro, 3}, {6, P::Milli, 1}, {7, P::Milli, 2}};
const Ranges kMicroAmps = {{0, P::Micro, 3}, {1, P::Micro, 0}};
const Ranges kMilliAmps = {{0, P::Milli, 2}, {1, P::Milli, 3}, {2, P::Milli, 0}};
const Ranges kAmps = {{0, P::None, 2}};
const Ranges kDegrees = {{0, P::None, 0}};
const Ranges kContinuity = {{0, P::None, 3}};
const Ranges kDiode = {{0, P::None, 1}};
// The variant shows diode and continuity with three digits: its last digit is not part of them.
const Ranges kVariantContinuity = {{0, P::None, 0, 3}};
const Ranges kVariantDiode = {{0, P::None, 1, 3}};

// Digit meters: range 0 of the frequency function is 1 Hz per count on every model, shown as
// kilohertz with three decimals by two of them and as plain hertz by the rest.
const Ranges kDigitHertzTail = {
    {1, P::Kilo, 2}, {2, P::Kilo, 3}, {3, P::Mega, 1}, {4, P::Mega, 2}, {5, P::Mega, 3}};
const Ranges kRpm = {{0, P::Kilo, 2}, {1, P::Kilo, 3}, {2, P::Mega, 1},
                     {3, P::Mega, 2}, {4, P::Mega, 3}, {5, P::Mega, 0}};

// Segment meters: a 40 Hz range at the bottom, then up in decades.
const Ranges kSegmentHertz = {{0, P::None, 2}, {1, P::None, 3}, {2, P::Kilo, 1}, {3, P::Kilo, 2},
                              {4, P::Kilo, 3}, {5, P::Mega, 1}, {6, P::Mega, 2}};
const Ranges kDuty = {{0, P::None, 3}};

Ranges segmentRanges(SimFunction f) {
    switch (f) {
        case SimFunction::Volts:
            return kVolts;
        case SimFunction::Ohms:
            return kOhms;
        case SimFunction::Continuity:
            return kContinuity;
        case SimFunction::Diode:
            return kDiode;
        case SimFunction::Hertz:
            return kSegmentHertz;
        case SimFunction::Capacitance:
            return kCapacitance;
        case SimFunction::MicroAmps:
            return kMicroAmps;
        case SimFunction::MilliAmps:
            return kMilliAmps;
        case SimFunction::Amps:
            return kAmps;
        case SimFunction::Celsius:
            return kDegrees;
        case SimFunction::DutyCycle:
            return kDuty;
        case SimFunction::Rpm:
        case SimFunction::Fahrenheit:
            break;
    }
    return {};
}

Ranges digitRanges(const SimModel& m, SimFunction f) {
    switch (f) {
        case SimFunction::Volts:
            return m.variant ? kVariantVolts : kVolts;
        case SimFunction::Ohms:
            return kOhms;
        case SimFunction::Continuity:
            return m.variant ? kVariantContinuity : kContinuity;
        case SimFunction::Diode:
            return m.variant ? kVariantDiode : kDiode;
        case SimFunction::Hertz: {
            const bool kiloAtZero = m.check == IFKR31D || m.check == IFKR47B;
            Ranges r = {kiloAtZero ? RangeSpec{0, P::Kilo, 1} : RangeSpec{0, P::None, 0}};
            r.insert(r.end(), kDigitHertzTail.begin(), kDigitHertzTail.end());
            return r;
        }
        case SimFunction::Rpm:
            return m.variant ? Ranges{} : kRpm;
        case SimFunction::Capacitance:
            return kCapacitance;
        case SimFunction::MicroAmps:
            return kMicroAmps;
        case SimFunction::MilliAmps:
            return kMilliAmps;
        case SimFunction::Amps:
            return kAmps;
        case SimFunction::Celsius:
        case SimFunction::Fahrenheit:
            return kDegrees;
        case SimFunction::DutyCycle:
            break;
    }
    return {};
}

Coupling couplingOf(SimFunction f, Coupling asked) {
    switch (f) {
        case SimFunction::Volts:
        case SimFunction::MicroAmps:
        case SimFunction::MilliAmps:
        case SimFunction::Amps:
            return asked == Coupling::None ? Coupling::Dc : asked;
        default:
            return Coupling::None;
    }
}

// Segment meters blank the leading zeros of the whole-number part, keeping the digit in front
// of the point (" 12.5", "0.123", "   7").
void blankLeadingZeros(SimReading& r, int shownDigits) {
    const int lastWhole = r.point > 0 ? r.point - 1 : shownDigits - 1;
    for (int i = 0; i < lastWhole && r.digits[i] == '0'; ++i) r.digits[i] = ' ';
}

}  // namespace

std::optional<SimModel> simModelFor(std::string_view caption, bool variant, std::string* error) {
    const auto check = modelCheckByCaption(caption);
    if (!check) {
        if (error)
            *error = "unknown model \"" + std::string(caption) + "\" (one of " + modelCaptionList() + ")";
        return std::nullopt;
    }
    const ModelProfile& p = modelProfiles()[*check];
    SimModel m;
    m.check = *check;
    m.caption = p.caption;
    m.family = p.family;
    m.baud = p.baud19200 ? 19200 : 2400;
    m.fullScale = countRangeFor(p.scaleDigits ? p.scaleDigits : "4")->FullScale;
    if (variant && m.family != FrameFamily::Digit) {
        if (error) *error = "the variant coding exists only for digit-frame models";
        return std::nullopt;
    }
    m.variant = variant;
    return m;
}

int RangeSpec::countExponent() const {
    const int decimals = point > 0 ? digits - point : 0;
    return prefixExponent(prefix) - decimals;
}

std::vector<RangeSpec> rangesFor(const SimModel& model, SimFunction f) {
    return model.family == FrameFamily::Digit ? digitRanges(model, f) : segmentRanges(f);
}

bool canShow(const SimModel& model, SimFunction f) {
    return !rangesFor(model, f).empty();
}

bool hasSign(SimFunction f, Coupling c) {
    switch (f) {
        case SimFunction::Volts:
        case SimFunction::MicroAmps:
        case SimFunction::MilliAmps:
        case SimFunction::Amps:
            return c != Coupling::Ac;
        case SimFunction::Celsius:
        case SimFunction::Fahrenheit:
            return true;
        default:
            return false;
    }
}

std::vector<SimFunction> functionsOf(const SimModel& model) {
    static const SimFunction kOrder[] = {
        SimFunction::Volts,       SimFunction::Ohms,       SimFunction::Continuity, SimFunction::Diode,
        SimFunction::Capacitance, SimFunction::Hertz,      SimFunction::Rpm,        SimFunction::DutyCycle,
        SimFunction::Celsius,     SimFunction::Fahrenheit, SimFunction::MicroAmps,  SimFunction::MilliAmps,
        SimFunction::Amps,
    };
    std::vector<SimFunction> out;
    for (SimFunction f : kOrder) {
        if (canShow(model, f)) out.push_back(f);
    }
    return out;
}

int countLimit(const SimModel& model, const RangeSpec& range) {
    return range.digits == 3 ? model.fullScale / 10 : model.fullScale;
}

SimReading fitReading(const SimModel& model, SimFunction f, double value, Coupling coupling,
                      std::optional<int> rangeIndex) {
    const Ranges ranges = rangesFor(model, f);
    SimReading r;
    r.function = f;
    r.coupling = couplingOf(f, coupling);
    r.negative = value < 0 && hasSign(f, r.coupling);
    const double magnitude = std::fabs(value);

    auto countsOn = [&](const RangeSpec& s) {
        return std::llround(magnitude / std::pow(10.0, s.countExponent()));
    };

    std::size_t chosen = ranges.size() - 1;
    if (rangeIndex) {
        chosen = static_cast<std::size_t>(std::clamp(*rangeIndex, 0, static_cast<int>(ranges.size()) - 1));
    } else {
        for (std::size_t i = 0; i < ranges.size(); ++i) {
            if (countsOn(ranges[i]) < countLimit(model, ranges[i])) {
                chosen = i;
                break;
            }
        }
    }
    const RangeSpec& s = ranges[chosen];
    r.rangeCode = s.code;
    r.prefix = s.prefix;
    r.point = s.point;
    r.autoRange = !rangeIndex && ranges.size() > 1;

    const long long counts = countsOn(s);
    if (counts >= countLimit(model, s)) {
        r.overload = true;
        return r;
    }
    long long rest = counts;
    for (int i = s.digits - 1; i >= 0; --i) {
        r.digits[i] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    }
    for (int i = s.digits; i < 4; ++i) r.digits[i] = ' ';
    if (counts == 0) r.negative = false;
    if (model.family == FrameFamily::Segment) blankLeadingZeros(r, s.digits);
    return r;
}

}  // namespace dmmsim
