#pragma once

// The program's receiving side for a simulated model: the assembler of the model's family feeding
// the decoders and the reading pipeline, set up as start-up would for that model. Each whole frame
// leaves one Decoded record with the Reading it produced.

#include <string>
#include <vector>

#include "FrameAssembler.h"
#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "SimModel.h"

struct Decoded {
    std::string frameHex;
    bool complete = false;
    std::string valueText;
    float numericValue = 0;
    std::string unitText;
    std::string acDcText;
    std::string autoText;
};

class SimReceiver {
public:
    explicit SimReceiver(const dmmsim::SimModel& model)
        : engine_(state_, panel_, controls_, sink_),
          segment_(texts_, [this](const std::string& f) { decode(f); }),
          digit_(texts_, [this](const std::string& f) { decode(f); }) {
        controls_.model = {};
        controls_.model[model.check] = true;
        controls_.model[IF7263x] = model.variant;
        const ProfileChoice choice = chooseProfile(controls_);
        applyCountRange(*countRangeFor(choice.ScaleDigits), state_);
        state_.family = model.family;
    }

    void feed(const std::vector<uint8_t>& bytes) {
        bytesFed_ += bytes.size();
        if (state_.family == FrameFamily::Digit) {
            digit_.H47BRData(bytes.data(), static_cast<int32_t>(bytes.size()));
        } else {
            segment_.H31BRData(bytes.data(), static_cast<int32_t>(bytes.size()));
        }
    }

    std::size_t bytesFed() const { return bytesFed_; }
    const std::vector<Decoded>& decoded() const { return decoded_; }
    const Decoded& last() const { return decoded_.back(); }
    const LcdPanelModel& panel() const { return panel_; }
    const MeterState& state() const { return state_; }

private:
    void decode(const std::string& frameHex) {
        Decoded d;
        d.frameHex = frameHex;
        d.complete = state_.family == FrameFamily::Digit ? engine_.LcdDisplay47B(frameHex)
                                                         : engine_.LcdDisplay31B(frameHex);
        d.valueText = state_.ValueText;
        d.numericValue = state_.NumericValue;
        d.unitText = state_.UnitText;
        d.acDcText = state_.AcDcText;
        d.autoText = state_.AutoText;
        decoded_.push_back(d);
    }

    MeterState state_;
    LcdPanelModel panel_;
    ControlStates controls_;
    ReadingSink sink_;
    MeterEngine engine_;
    FrameTexts texts_;
    SegmentFrameAssembler segment_;
    DigitFrameAssembler digit_;
    std::vector<Decoded> decoded_;
    std::size_t bytesFed_ = 0;
};
