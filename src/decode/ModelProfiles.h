#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "MeterState.h"

// One row of the model table: what a checked hidden model box applies at start-up.
struct ModelProfile {
    ModelCheck check;
    const char* checkBoxName;  // e.g. "IFKR31E"
    const char* caption;       // e.g. "KR31E": the name users give on the command line
    const char* title;         // window title
    FrameFamily family;        // which assembler is bound to the driver
    bool baud19200;            // true: switch the line to 19200 baud; otherwise it stays as stored
    const char* scaleDigits;   // nullptr: leave the count range as it is
};

// The nine profiles in the order start-up applies them.
const std::array<ModelProfile, 9>& modelProfiles();

// Caption and name of every hidden box, the variant switch included.
const char* modelCheckCaption(ModelCheck m);
const char* modelCheckName(ModelCheck m);
// The model box of a caption, matched without regard to case ("kr31e" is KR31E).
std::optional<ModelCheck> modelCheckByCaption(std::string_view caption);
// "KR31A, KR31E, ..." for error messages.
std::string modelCaptionList();

// The values a count range fixes.
struct CountRange {
    const char* scaleDigits;
    int32_t FullScale;
    int32_t FullScaleTenth;
    int32_t FullScaleHundredth;
    int32_t BarSegments;
    float MaxLimit;  // what start-up leaves in MaxLimit once the limit texts are written
    float MinLimit;
    float MaxReading;
    float MinReading;
    const char* SetmaxText;
    const char* SetMinText;
    const char* MinTextCaption;
    const char* MaxTextCaption;
};

std::optional<CountRange> countRangeFor(std::string_view scaleDigits);

// Result of testing the model boxes in table order: later checked rows overwrite earlier ones.
struct ProfileChoice {
    FrameFamily family = FrameFamily::None;  // None: no box checked, nothing is bound
    std::optional<std::string> title;        // unset: the title stays as it is
    bool baud19200 = false;
    std::string ScaleDigits = "4";
};

ProfileChoice chooseProfile(const ControlStates& controls);

// The values start-up gives the state before any model is applied: 4000 counts, the first frame
// marked as a change, a new record run, the chart following, frequency mode off.
void applyStartValues(MeterState& state);

// Sets the range values of `digits` into the state (limits at +-(FullScale + 2) first, as start-up
// does before the limit texts are written).
void applyCountRange(const CountRange& range, MeterState& state);

// Makes the box of `model` (a caption, in any case) the only checked model box, when it names
// one, and checks the variant switch when `variant` asks for it.
void chooseModel(ControlStates& controls, const std::optional<std::string>& model, bool variant);

// The model the checked boxes select: the last checked one, as the start-up applies them.
std::string checkedModelCaption(const ControlStates& controls);

// The start-up values of the state for the checked model, as the window's start-up leaves them
// (count range, limits, MIN/MAX start values, first-frame markers), without any window.
ProfileChoice prepareMeterState(const ControlStates& controls, MeterState& state);
