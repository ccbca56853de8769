#pragma once

#include <array>
#include <string>

#include "MeterState.h"

// What a decoder hands to the reading pipeline for one frame.
struct PipelineInput {
    FrameFamily family = FrameFamily::Segment;
    std::string SignText;                  // "-" or empty
    std::array<std::string, 4> DigitText;  // DigitText1..4: "0".."9", "@", other, or empty (blank)
    std::array<std::string, 3> PointText;  // PointText1..3: "." or empty
    char functionNibble = 0;               // digit frames: the function nibble (diode is '1')

    // Digit frames: leading digit elements the decoder hides once the numeric value is formed.
    bool applyBlanking = false;
    std::array<bool, 4> hideDigit{};

    void clear() {
        SignText.clear();
        for (auto& d : DigitText) d.clear();
        for (auto& p : PointText) p.clear();
        functionNibble = 0;
        applyBlanking = false;
        hideDigit = {};
    }
};
