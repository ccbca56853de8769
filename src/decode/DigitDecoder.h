#pragma once

#include <string_view>

#include "LcdPanelModel.h"
#include "MeterState.h"
#include "PipelineInput.h"
#include "ReadingSink.h"

// Decodes one accepted digit frame (low nibbles, "A" first, "D" eleventh) into the LCD panel and
// the unit, AC/DC and range-mode texts, and fills `out` for the reading pipeline, including the
// leading-zero blanking the pipeline applies once the numeric value is formed.
// Returns false when the frame cannot be completed: a frame text that is too short or not
// hexadecimal (nothing is touched), or a range nibble that is not a decimal digit (the panel writes
// made before that point stand).
bool decodeDigitFrame(std::string_view frameHex, MeterState& state, LcdPanelModel& panel,
                      const ControlStates& controls, ReadingSink& sink, PipelineInput& out);
