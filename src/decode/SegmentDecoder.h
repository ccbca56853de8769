#pragma once

#include <string_view>

#include "LcdPanelModel.h"
#include "MeterState.h"
#include "PipelineInput.h"
#include "ReadingSink.h"

// Decodes one whole 14-nibble segment frame into the LCD panel, the unit, AC/DC and range-mode
// texts and the frequency mode, and fills `out` for the reading pipeline. Returns false for a
// frame text that is not 14 hexadecimal digits (the assembler never passes one).
bool decodeSegmentFrame(std::string_view frameHex, MeterState& state, LcdPanelModel& panel,
                        const ControlStates& controls, ReadingSink& sink, PipelineInput& out);
