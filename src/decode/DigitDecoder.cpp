#include "DigitDecoder.h"

bool decodeDigitFrame(std::string_view frameHex, MeterState& state, LcdPanelModel& panel,
                      const ControlStates& controls, ReadingSink& sink, PipelineInput& out) {
    (void)frameHex;
    (void)state;
    (void)panel;
    (void)controls;
    (void)sink;
    out.clear();
    out.family = FrameFamily::Digit;
    return false;
}
