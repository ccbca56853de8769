#pragma once

#include "LcdPanelModel.h"
#include "MeterState.h"
#include "PipelineInput.h"
#include "ReadingSink.h"

// The common tail of both decoders: forms ValueText and NumericValue, sounds the alarm, keeps
// MIN/MAX, detects a range or unit change, writes the digits, and feeds the scale, the bar, the
// record store and the chart.
//
// Returns false when the digits do not form a whole number where a number is needed; the steps
// already taken stand, the rest of the frame is dropped and counted in DroppedFrames.
bool runReadingPipeline(const PipelineInput& in, MeterState& state, LcdPanelModel& panel,
                        const ControlStates& controls, ReadingSink& sink);
