#include "SegmentDecoder.h"

#include <array>
#include <cstdint>

namespace {

using E = LcdElement;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Seven segments in the order D C G B E F A, first segment as the highest bit, to the digit text.
const char* digitForPattern(unsigned pattern, bool thirdDigit) {
    switch (pattern) {
        case 0b1101111:
            return "0";
        case 0b0101000:
            return "1";
        case 0b1011101:
            return "2";
        case 0b1111001:
            return "3";
        case 0b0111010:
            return "4";
        case 0b1110011:
            return "5";
        case 0b1110111:
            return "6";
        case 0b0101001:
            return "7";
        case 0b1111111:
            return "8";
        case 0b1111011:
            return "9";
        case 0b1000110:
            return thirdDigit ? "@" : "";  // the L of an overload display
        default:
            return "";
    }
}

struct SegmentBits {
    std::array<uint8_t, 14> nibble{};
    // 1-based bit position as laid out in the frame: nibble (p-1)/4, most significant bit first
    bool operator[](int p) const { return (nibble[(p - 1) / 4] >> (3 - (p - 1) % 4)) & 1; }
};

struct UnitBit {
    int position;
    E element;
    const char* text;
};

// In the order the unit text is built, so a prefix always comes before its unit.
constexpr UnitBit kUnitBits[] = {
    {37, E::LCDu, "u"}, {38, E::LCDn, "n"},   {39, E::LCDk, "k"},        {40, E::LCDDI, nullptr},
    {41, E::Lcdm, "m"}, {42, E::LCDBF, "%"},  {43, E::LCDM1, "M"},       {44, E::LCDFm, nullptr},
    {45, E::LCDF, "F"}, {46, E::LCDohm, "*"}, {47, E::LCDRec, nullptr},  {48, E::LCDHold, nullptr},
    {49, E::LCDA, "A"}, {50, E::LcdV, "V"},   {52, E::LCDBATT, nullptr},
};

}  // namespace

bool decodeSegmentFrame(std::string_view frameHex, MeterState& state, LcdPanelModel& panel,
                        const ControlStates& controls, ReadingSink& sink, PipelineInput& out) {
    SegmentBits bits;
    if (frameHex.size() != bits.nibble.size()) return false;
    for (std::size_t i = 0; i < bits.nibble.size(); ++i) {
        const int v = hexValue(frameHex[i]);
        if (v < 0) return false;
        bits.nibble[i] = static_cast<uint8_t>(v);
    }

    out.clear();
    out.family = FrameFamily::Segment;

    // link is alive
    panel.show(E::CONok);
    panel.hide(E::CONokN);
    state.LinkIdleTicks = 0;

    // digits: second byte of the digit (D C G B) followed by bits 2..0 of its first byte (E F A)
    for (int n = 0; n < 4; ++n) {
        const unsigned first = bits.nibble[1 + 2 * n];
        const unsigned second = bits.nibble[2 + 2 * n];
        out.DigitText[n] = digitForPattern((second << 3) | (first & 7u), n == 2);
    }

    state.AcDcText.clear();
    state.AutoText.clear();
    state.UnitText.clear();

    if (bits[5]) out.SignText = "-";
    panel.setVisible(E::LcdFH, bits[5]);

    constexpr int kPointBits[3] = {13, 21, 29};
    constexpr E kPoints[3] = {E::LcdP1, E::LcdP2, E::LcdP3};
    for (int i = 0; i < 3; ++i) {
        if (bits[kPointBits[i]]) out.PointText[i] = ".";
        panel.setVisible(kPoints[i], bits[kPointBits[i]]);
    }

    const bool ac = bits[1];
    panel.setVisible(E::LcdAC, ac);
    if (ac) state.AcDcText = "AC";
    if (controls.checked(IFKR31E)) {
        panel.setVisible(E::LCDTRMST, ac);
        panel.setVisible(E::LCDTRMS, ac);
    }

    const bool dc = bits[2];
    if (dc) state.AcDcText = "DC";
    // The meter's own LCD shows DC here; light it from the same bit.
    panel.setVisible(E::LcdDc1, dc);

    panel.setVisible(E::LcdAuto, bits[3]);
    state.AutoText = bits[3] ? "AUTO" : "MANU";

    panel.setVisible(E::LCDRS, bits[4]);
    panel.setVisible(E::LCD232C, bits[4]);

    for (const auto& u : kUnitBits) {
        const bool on = bits[u.position];
        panel.setVisible(u.element, on);
        if (on && u.text) state.UnitText += u.text;
    }

    const bool hertz = bits[51];
    if (bits[56] && !hertz) {
        panel.show(E::LCDCS);
        state.AcDcText.clear();
        state.UnitText = "#";
    } else {
        panel.hide(E::LCDCS);
    }

    const uint8_t oldFreqMode = state.FreqMode;
    if (hertz) {
        panel.hide(E::LCDCS);
        panel.show(E::LCDHz);
        state.UnitText += "Hz";
        state.AutoText = "AUTO";
        state.FreqMode = 1;
    } else {
        panel.hide(E::LCDHz);
        state.FreqMode = 0;
    }

    if (state.FreqMode != oldFreqMode) {
        sink.redrawScale();
        if (state.FreqMode == 1) {
            sink.setChartLeftAxis(5000.0, -5000.0);
        } else {
            sink.setChartLeftAxis(state.FullScale, -static_cast<double>(state.FullScale));
        }
    }
    return true;
}
