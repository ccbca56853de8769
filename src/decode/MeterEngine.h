#pragma once

#include <string_view>

#include "LcdPanelModel.h"
#include "MeterState.h"
#include "PipelineInput.h"
#include "ReadingSink.h"

// Runs one whole frame of either family through its decoder and the reading pipeline, on the
// state, panel and sink it is given. The window and the headless mode both drive it.
class MeterEngine {
public:
    MeterEngine(MeterState& state, LcdPanelModel& panel, ControlStates& controls, ReadingSink& sink)
        : state_(state), panel_(panel), controls_(controls), sink_(sink) {}

    // Each returns true when the frame yielded a complete reading; a frame that could not be
    // completed is counted in MeterState::DroppedFrames.
    bool LcdDisplay31B(std::string_view frameHex);
    bool LcdDisplay47B(std::string_view frameHex);

    MeterState& state() { return state_; }
    LcdPanelModel& panel() { return panel_; }
    ControlStates& controls() { return controls_; }
    ReadingSink& sink() { return sink_; }

private:
    MeterState& state_;
    LcdPanelModel& panel_;
    ControlStates& controls_;
    ReadingSink& sink_;
    PipelineInput input_;  // reused so a frame costs no allocation
};
