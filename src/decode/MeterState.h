#pragma once

#include <array>
#include <cstdint>
#include <string>

enum class FrameFamily : uint8_t { None, Segment, Digit };

// The hidden model check boxes, in the order the start-up tests them. The last one is the
// digit-frame variant switch, which takes no part in start-up.
enum ModelCheck : int {
    IFKR31A,
    IFKR31E,
    IFPAX900,
    IF2285,
    IFTS510,
    IFKR47B,
    IFKR31D,
    IFKR31F,
    IFKR31G,
    IF7263x,
    ModelCheckCount
};

// States of the check boxes that the decoding path reads: the model boxes and the ones the
// user ticks (alarm arming, chart fill). The window keeps this in step with its widgets.
struct ControlStates {
    std::array<bool, ModelCheckCount> model{};
    bool SetMaxB = false;
    bool SetMinB = false;
    bool BtFill = true;

    ControlStates() { model[IFKR31E] = true; }
    bool checked(ModelCheck m) const { return model[m]; }
};

// Meter-wide state shared by start-up, the decoders, the pipeline, the scale and the recorder.
struct MeterState {
    // profile and count range
    FrameFamily family = FrameFamily::None;
    std::string ScaleDigits = "4";
    int32_t FullScale = 4000;
    int32_t FullScaleTenth = 400;
    int32_t FullScaleHundredth = 40;
    int32_t BarSegments = 80;

    // alarm limits, in counts
    float MaxLimit = 4002.0f;
    float MinLimit = -4002.0f;

    // the Reading
    std::string ValueText;
    float NumericValue = 0.0f;
    std::string UnitText;
    std::string AcDcText;
    std::string AutoText;
    // How many of the displayed digits stand after the decimal point (NumericValue counts in
    // steps of ten to the minus that), and whether the display shows an overload.
    int32_t Decimals = 0;
    bool Overload = false;
    // When the reading's frame ended on the line (its last byte arrived), in microseconds since
    // 1970 UTC; 0 when the source of the bytes has no clock. Rows and messages take their time
    // from it.
    int64_t ReadingUtcUs = 0;

    // pipeline memory
    std::string LastUnitText = "113";
    int32_t LastDpPos = 0;
    float MaxReading = -4001.0f;
    float MinReading = 4001.0f;
    std::string MaxValueText;
    std::string MinValueText;

    uint8_t FreqMode = 0;
    int32_t LinkIdleTicks = 0;
    uint8_t ChartFollow = 1;

    // frames that reached a decoder but could not be completed
    uint64_t DroppedFrames = 0;
};
