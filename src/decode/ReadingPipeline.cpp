#include "ReadingPipeline.h"

#include "DisplayNumber.h"

namespace {

using E = LcdElement;

bool segmentOverload(const PipelineInput& in) {
    return in.DigitText[1] == "0" && in.DigitText[2] == "@";
}
bool digitOverload(const PipelineInput& in) {
    return in.DigitText[2] == "@";
}

bool overloadOf(const PipelineInput& in) {
    return in.family == FrameFamily::Digit ? digitOverload(in) : segmentOverload(in);
}

void formValueText(const PipelineInput& in, std::string& out) {
    const auto& d = in.DigitText;
    const auto& p = in.PointText;
    out.clear();
    out += in.SignText;
    if (d[2] == "@") {
        if (in.family == FrameFamily::Digit) {
            out += p[0];
            out += '0';
            out += p[1];
            out += 'L';
            out += p[2];
        } else {
            out += d[0];
            out += p[0];
            out += d[1];
            out += p[1];
            out += 'L';
            out += p[2];
            out += d[3];
        }
        return;
    }
    out += d[0];
    out += p[0];
    out += d[1];
    out += p[1];
    out += d[2];
    out += p[2];
    out += d[3];
}

bool dropFrame(MeterState& state) {
    ++state.DroppedFrames;
    return false;
}

}  // namespace

bool runReadingPipeline(const PipelineInput& in, MeterState& state, LcdPanelModel& panel,
                        const ControlStates& controls, ReadingSink& sink) {
    const bool digitFamily = in.family == FrameFamily::Digit;
    const bool negative = in.SignText == "-";
    const bool overload = overloadOf(in);
    const float overloadCounts = static_cast<float>(digitFamily ? state.FullScale + 1 : state.FullScale);

    // 1. value text
    formValueText(in, state.ValueText);

    // 2. numeric value
    if (overload) {
        state.NumericValue = negative ? -overloadCounts : overloadCounts;
    } else {
        const auto n = displayNumber(in.DigitText, 0, 3, in.SignText);
        if (!n) return dropFrame(state);
        state.NumericValue = static_cast<float>(*n);
    }

    // Digit frames blank leading zeros once the number is read; every frame starts from all shown.
    if (in.applyBlanking) {
        panel.setVisible(E::LcdDa, !in.hideDigit[0]);
        panel.setVisible(E::LcdDb, !in.hideDigit[1]);
        panel.setVisible(E::LcdDc, !in.hideDigit[2]);
        panel.setVisible(E::LcdDd, !in.hideDigit[3]);
    }

    // 3. alarm
    const bool alarm = (state.NumericValue > state.MaxLimit && controls.SetMaxB) ||
                       (state.NumericValue < state.MinLimit && controls.SetMinB);
    if (alarm) {
        sink.beep();
        panel.show(E::oltext);
    } else {
        panel.hide(E::oltext);
    }

    // 4. decimal-point position: the rightmost lit point wins
    int32_t dpPos = 0;
    if (panel.visible(E::LcdP1)) dpPos = 1;
    if (panel.visible(E::LcdP2)) dpPos = 2;
    if (panel.visible(E::LcdP3)) dpPos = 3;

    // 5. a range or unit change clears the chart and re-arms MIN/MAX; the reading then counts at
    // once, so MIN/MAX never show texts of the old range under the new unit
    if (state.UnitText != state.LastUnitText || dpPos != state.LastDpPos) {
        sink.showChartSeries(controls.BtFill ? 0 : 1);
        sink.clearChart();
        state.LastUnitText = state.UnitText;
        state.MaxReading = -overloadCounts;
        state.MinReading = overloadCounts;
    }
    if (state.NumericValue >= state.MaxReading) {
        state.MaxValueText = state.ValueText;
        state.MaxReading = state.NumericValue;
    }
    if (state.NumericValue <= state.MinReading) {
        state.MinValueText = state.ValueText;
        state.MinReading = state.NumericValue;
    }

    // 6.
    state.LastDpPos = dpPos;
    state.Overload = overload;
    state.Decimals = displayDecimals(in.DigitText, dpPos);

    // 7. MIN/MAX readout
    panel.setCaption(E::MaxText, state.MaxValueText);
    panel.setCaption(E::MinText, state.MinValueText);
    panel.setCaption(E::MaxTextU, state.UnitText);
    panel.setCaption(E::MinTextU, state.UnitText);

    // 8. digits
    panel.setCaption(E::LcdDa, in.DigitText[0]);
    panel.setCaption(E::LcdDb, in.DigitText[1]);
    panel.setCaption(E::LcdDc, in.DigitText[2]);
    panel.setCaption(E::LcdDd, in.DigitText[3]);

    // 9. scale: the reading in tens of counts, zero at FullScaleTenth
    int scalePos;
    if (overload) {
        scalePos = negative ? 0 : state.BarSegments * 10;
    } else {
        const auto tens = displayNumber(in.DigitText, 0, 2, in.SignText);
        if (!tens) return dropFrame(state);
        scalePos = *tens + state.FullScaleTenth;
    }
    sink.movePointer(scalePos);

    // 10. record store
    sink.recordReading();

    // 11. bar: the two leading digits
    if (overload) {
        sink.setBarPosition(digitFamily && in.functionNibble == '1' ? 25 : state.FullScaleHundredth);
    } else {
        const auto lead = displayNumber(in.DigitText, 0, 1, std::string());
        if (!lead) return dropFrame(state);
        sink.setBarPosition(*lead < 2 ? 1 : *lead);
    }

    // 12.-14. chart: one point on each series, following the last page
    double y;
    if (overload) {
        y = negative ? -state.FullScale : state.FullScale;
    } else {
        const auto n = displayNumber(in.DigitText, 0, 3, in.SignText);
        if (!n) return dropFrame(state);
        y = *n;
    }
    sink.addChartPoint(1, y);
    if (state.ChartFollow == 1) sink.followLastPage();
    sink.addChartPoint(2, y);
    return true;
}
