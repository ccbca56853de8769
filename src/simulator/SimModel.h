#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MeterState.h"
#include "SimReading.h"

namespace dmmsim {

// The meter being simulated: how it frames its display, how fast its line runs and how many
// counts its display holds.
struct SimModel {
    ModelCheck check = IFKR31E;
    std::string caption = "KR31E";
    FrameFamily family = FrameFamily::Segment;
    int baud = 2400;
    int fullScale = 4000;  // 4000, 6000 or 3400 counts
    bool variant = false;  // the alternative digit-frame coding (voltage range order, mA/A swapped, ...)
};

// The model of a check-box caption ("KR31E", "22-85", ...). The variant exists only for digit-frame
// models. On failure `error` says why.
std::optional<SimModel> simModelFor(std::string_view caption, bool variant, std::string* error = nullptr);

// One range of a function: the meter's range number, the prefix and decimal point it shows, and
// how many digits the reading has (the variant shows three-digit diode and continuity readings).
struct RangeSpec {
    int code = 0;
    Prefix prefix = Prefix::None;
    int point = 0;
    int digits = 4;

    // Power of ten of one count of the last shown digit, in the function's base unit.
    int countExponent() const;
};

// The ranges of `f` on `model`, finest first; empty when the model cannot show the function.
std::vector<RangeSpec> rangesFor(const SimModel& model, SimFunction f);
bool canShow(const SimModel& model, SimFunction f);
// Whether the function shows a minus sign: DC volts and currents, temperatures.
bool hasSign(SimFunction f, Coupling c);

// The functions `model` can show, in the order the front panel switch would reach them.
std::vector<SimFunction> functionsOf(const SimModel& model);

// The largest count a range shows plus one: the model's count range, a tenth of it for a
// three-digit reading.
int countLimit(const SimModel& model, const RangeSpec& range);

// Turns a physical value (volts, ohms, hertz, farads, amperes, degrees, percent) into the display
// the meter would show: the finest range that holds it (auto range), or range `rangeIndex` of
// rangesFor() (manual range). A value beyond the chosen range shows as overload. A negative value
// keeps its sign only where the function has one (DC volts and currents, temperatures).
// Precondition: canShow(model, f).
SimReading fitReading(const SimModel& model, SimFunction f, double value, Coupling coupling,
                      std::optional<int> rangeIndex = std::nullopt);

}  // namespace dmmsim
