#include "DigitDecoder.h"

#include <array>
#include <cstdint>

#include "DigitTables.h"

namespace {

using E = LcdElement;

constexpr std::size_t kFrameLength = 11;

// Nibble value of an upper-case hexadecimal character, 0xFF for anything else.
constexpr std::array<uint8_t, 256> makeNibbleTable() {
    std::array<uint8_t, 256> t{};
    for (auto& v : t) v = 0xFF;
    for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<uint8_t>(c - 'A' + 10);
    return t;
}
constexpr std::array<uint8_t, 256> kNibble = makeNibbleTable();

// Characters 2 to 11 of the frame. bit(p) reads the 40-bit text the meter's flags are numbered in:
// four bits per character, most significant first, position 1 being the range nibble's bit 8.
struct FrameNibbles {
    std::array<uint8_t, 10> n{};
    bool bit(int p) const { return (n[(p - 1) / 4] >> (3 - (p - 1) % 4)) & 1u; }

    uint8_t range() const { return n[0]; }
    uint8_t status() const { return n[6]; }
    uint8_t option1() const { return n[7]; }
};

// FrameBits positions that are read.
constexpr int kModeBit = 25;  // RPM instead of Hz, degrees C instead of F
constexpr int kMinusBit = 26;
constexpr int kLowBatteryBit = 27;
constexpr int kOverloadBit = 28;
constexpr int kDcBit = 33;
constexpr int kAcBit = 34;
constexpr int kAutoBit = 35;
constexpr int kRs232OffBit = 36;

// The functions in the order they are tested, each with the annunciators that a frame of another
// function switches off. Order matters: an element one row hides on mismatch, a later row may show.
struct FunctionRow {
    char nibble;
    std::array<E, 2> hide;
    uint8_t hideCount;
};

constexpr FunctionRow kFunctions[] = {
    {'B', {E::LcdV}, 1},
    {'D', {E::LCDu}, 1},
    {'9', {}, 0},
    {'F', {}, 0},
    {'3', {E::LCDohm}, 1},
    {'2', {E::LcdRPM, E::LCDHz}, 2},
    {'4', {E::LCDCS, E::LCDFS}, 2},
    {'5', {E::LCDFm}, 1},
    {'1', {E::LCDDI}, 1},
    {'6', {E::LCDF}, 1},
};

constexpr std::array<E, 3> kPointElements = {E::LcdP1, E::LcdP2, E::LcdP3};

struct FlagElement {
    uint8_t flag;
    E element;
};
constexpr FlagElement kFlagElements[] = {
    {FlagKilo, E::LCDk},  {FlagMega, E::LCDM1}, {FlagMilli, E::Lcdm},
    {FlagMicro, E::LCDu}, {FlagAmp, E::LCDA},   {FlagNano, E::LCDn},
};

class DigitFrameDecoder {
public:
    DigitFrameDecoder(const FrameNibbles& f, MeterState& state, LcdPanelModel& panel,
                      const ControlStates& controls, PipelineInput& out)
        : f_(f),
          state_(state),
          panel_(panel),
          controls_(controls),
          out_(out),
          variant_(controls.checked(IF7263x)) {}

    bool run(char function);

private:
    void statusAndOptions();
    bool functionTests(char function);
    bool applyFunction(char function);
    bool applyMilliampere();
    bool applyRange(const DigitRangeTable& table);
    void setPoint(int point) { points_ |= static_cast<uint8_t>(1u << (point - 1)); }
    bool point(int point) const { return points_ & (1u << (point - 1)); }
    void blanking();

    const FrameNibbles& f_;
    MeterState& state_;
    LcdPanelModel& panel_;
    const ControlStates& controls_;
    PipelineInput& out_;
    const bool variant_;
    uint8_t flags_ = 0;   // DigitUnitFlag bits
    uint8_t points_ = 0;  // bit i: point after digit i + 1
};

void DigitFrameDecoder::statusAndOptions() {
    const bool minus = f_.bit(kMinusBit);
    if (minus) out_.SignText = "-";
    panel_.setVisible(E::LcdFH, minus);
    panel_.setVisible(E::LCDBATT, f_.bit(kLowBatteryBit));

    // AC first, so that DC wins the text when the meter sets both.
    const bool ac = f_.bit(kAcBit);
    panel_.setVisible(E::LcdAC, ac);
    if (ac) state_.AcDcText = "AC";
    const bool dc = f_.bit(kDcBit);
    panel_.setVisible(E::LcdDc1, dc);
    if (dc) state_.AcDcText = "DC";

    const bool autoRange = f_.bit(kAutoBit);
    panel_.setVisible(E::LcdAuto, autoRange);
    state_.AutoText = autoRange ? "AUTO" : "MANU";

    const bool rs232 = !f_.bit(kRs232OffBit);
    panel_.setVisible(E::LCDRS, rs232);
    panel_.setVisible(E::LCD232C, rs232);
}

bool DigitFrameDecoder::applyRange(const DigitRangeTable& table) {
    const uint8_t range = f_.range();
    if (range > 9) return false;  // the meter never sends one; the frame cannot be placed
    const DigitRange& r = table[range];
    if (!r.unit) return true;
    state_.UnitText = r.unit;
    flags_ |= r.flags;
    if (r.point) setPoint(r.point);
    return true;
}

bool DigitFrameDecoder::applyMilliampere() {
    state_.UnitText = "mA";
    return applyRange(DigitTables::milliampere());
}

bool DigitFrameDecoder::applyFunction(char function) {
    switch (function) {
        case 'B':
            panel_.show(E::LcdV);
            state_.UnitText = "V";
            return applyRange(DigitTables::voltage(variant_));
        case 'D':
            state_.UnitText = "uA";
            return applyRange(DigitTables::microampere());
        case '9':
        case 'F':
            // The variant meter has the two current functions the other way round.
            if ((function == '9') != variant_) return applyMilliampere();
            state_.UnitText = "A";
            flags_ |= FlagAmp;
            setPoint(2);
            return true;
        case '3':
            panel_.show(E::LCDohm);
            state_.UnitText = "*";
            return applyRange(DigitTables::resistance());
        case '2':
            if (!f_.bit(kModeBit) || variant_) {
                panel_.show(E::LCDHz);
                panel_.hide(E::LcdRPM);
                const bool kiloFirst = controls_.checked(IFKR31D) || controls_.checked(IFKR47B);
                return applyRange(DigitTables::hertz(kiloFirst));
            }
            panel_.show(E::LcdRPM);
            panel_.hide(E::LCDHz);
            return applyRange(DigitTables::rpm());
        case '4': {
            const bool celsius = f_.bit(kModeBit);
            panel_.setVisible(E::LCDCS, celsius);
            panel_.setVisible(E::LCDFS, !celsius);
            state_.UnitText = celsius ? "#" : "?";
            return true;
        }
        case '5':
            panel_.show(E::LCDFm);
            state_.UnitText = "&";
            setPoint(3);
            if (controls_.checked(IFKR31D)) {
                panel_.show(E::LCDohm);
                state_.UnitText = "&*";
            }
            return true;
        case '1':
            panel_.show(E::LCDDI);
            panel_.show(E::LcdV);
            state_.UnitText = ")";
            setPoint(1);
            return true;
        case '6':
            panel_.show(E::LCDF);
            return applyRange(DigitTables::capacitance());
        default:
            return true;
    }
}

bool DigitFrameDecoder::functionTests(char function) {
    for (const auto& row : kFunctions) {
        if (row.nibble == function) {
            if (!applyFunction(function)) return false;
        } else {
            for (uint8_t i = 0; i < row.hideCount; ++i) panel_.hide(row.hide[i]);
        }
    }
    return true;
}

// Which leading digit elements the pipeline hides once the reading's number is formed. The
// decision reads the digit texts and the point flags, not what the panel shows.
void DigitFrameDecoder::blanking() {
    out_.applyBlanking = true;
    auto& hide = out_.hideDigit;
    hide = {};
    if (f_.bit(kOverloadBit)) {
        // Only the "0" and the "L" of the overload display stay.
        hide = {true, false, false, true};
        return;
    }
    const auto& d = out_.DigitText;
    const bool zero1 = d[0] == "0";
    const bool zero12 = zero1 && d[1] == "0";
    if (points_ == 0) {
        hide[0] = zero1;
        hide[1] = zero12;
        hide[2] = zero12 && d[2] == "0";
    }
    if (point(2) && zero1) hide[0] = true;
    if (point(3)) {
        hide[0] = hide[0] || zero1;
        hide[1] = hide[1] || zero12;
    }
}

bool DigitFrameDecoder::run(char function) {
    state_.AcDcText.clear();
    state_.AutoText.clear();
    state_.UnitText.clear();

    statusAndOptions();

    if (!functionTests(function)) return false;

    // Status 0 with option-1 1 is the meter's frequency reading, whatever the function says.
    if (f_.status() == 0 && f_.option1() == 1) {
        points_ = 0;
        flags_ = 0;
        panel_.hide(E::LcdV);
        panel_.show(E::LCDHz);
        panel_.hide(E::LcdRPM);
        if (!applyRange(DigitTables::frequencyOverride())) return false;
    }

    for (int i = 0; i < 3; ++i) {
        const bool on = point(i + 1);
        if (on) out_.PointText[i] = ".";
        panel_.setVisible(kPointElements[i], on);
    }
    for (const auto& fe : kFlagElements) panel_.setVisible(fe.element, flags_ & fe.flag);

    if (variant_) {
        // The variant meter shows three digits in the diode and continuity functions.
        if (panel_.visible(E::LCDDI)) {
            out_.DigitText[3].clear();
            state_.UnitText += "V";
        }
        if (panel_.visible(E::LCDFm)) {
            out_.DigitText[3].clear();
            out_.PointText[2].clear();
            panel_.hide(E::LcdP3);
            state_.UnitText += "*";
            panel_.show(E::LCDohm);
        }
    }

    blanking();
    return true;
}

}  // namespace

bool decodeDigitFrame(std::string_view frameHex, MeterState& state, LcdPanelModel& panel,
                      const ControlStates& controls, ReadingSink& sink, PipelineInput& out) {
    out.clear();
    out.family = FrameFamily::Digit;

    // The assembler passes whole frames only; anything else is refused before it touches the panel.
    if (frameHex.size() < kFrameLength) return false;
    for (std::size_t i = 0; i < kFrameLength; ++i) {
        if (kNibble[static_cast<unsigned char>(frameHex[i])] == 0xFF) return false;
    }
    FrameNibbles f;
    for (std::size_t i = 0; i < f.n.size(); ++i)
        f.n[i] = kNibble[static_cast<unsigned char>(frameHex[i + 1])];

    // link is alive
    panel.show(E::CONok);
    panel.hide(E::CONokN);
    state.LinkIdleTicks = 0;

    sink.traceFrame(frameHex);

    const char function = frameHex[6];
    out.functionNibble = function;
    for (int i = 0; i < 4; ++i) out.DigitText[i].assign(1, frameHex[2 + i]);
    if (f.bit(kOverloadBit)) {
        out.DigitText[1] = "0";
        out.DigitText[2] = "@";
    }

    return DigitFrameDecoder(f, state, panel, controls, out).run(function);
}
