#include "FrameEncoder.h"

namespace dmmsim {

namespace {

// Seven-segment letters of the glyphs the meter draws.
enum Segment : uint8_t { A = 1, B = 2, C = 4, D = 8, E = 16, F = 32, G = 64 };

uint8_t segmentsOf(char glyph) {
    switch (glyph) {
        case '0':
            return A | B | C | D | E | F;
        case '1':
            return B | C;
        case '2':
            return A | B | D | E | G;
        case '3':
            return A | B | C | D | G;
        case '4':
            return B | C | F | G;
        case '5':
            return A | C | D | F | G;
        case '6':
            return A | C | D | E | F | G;
        case '7':
            return A | B | C;
        case '8':
            return A | B | C | D | E | F | G;
        case '9':
            return A | B | C | D | F | G;
        case 'L':
            return D | E | F;
        default:
            return 0;  // blank
    }
}

uint8_t bit(bool on, uint8_t value) {
    return on ? value : 0;
}

uint8_t digitNibble(char d) {
    return d >= '0' && d <= '9' ? static_cast<uint8_t>(d - '0') : 0;
}

uint8_t functionNibble(const SimReading& r, const SimModel& m) {
    switch (r.function) {
        case SimFunction::Volts:
            return 0xB;
        case SimFunction::MicroAmps:
            return 0xD;
        // the variant swaps the codes of the two current functions
        case SimFunction::MilliAmps:
            return m.variant ? 0xF : 0x9;
        case SimFunction::Amps:
            return m.variant ? 0x9 : 0xF;
        case SimFunction::Ohms:
            return 0x3;
        case SimFunction::Hertz:
        case SimFunction::Rpm:
            return 0x2;
        case SimFunction::Celsius:
        case SimFunction::Fahrenheit:
            return 0x4;
        case SimFunction::Continuity:
            return 0x5;
        case SimFunction::Diode:
            return 0x1;
        case SimFunction::Capacitance:
            return 0x6;
        case SimFunction::DutyCycle:
            break;
    }
    return 0x0;  // no such function on this family
}

}  // namespace

std::array<uint8_t, 14> encodeSegmentFrame(const SimReading& r) {
    std::array<uint8_t, 4> glyph{};
    if (r.overload) {
        glyph = {0, segmentsOf('0'), segmentsOf('L'), 0};
    } else {
        for (int i = 0; i < 4; ++i) glyph[i] = segmentsOf(r.digits[i]);
    }

    const SimFunction f = r.function;
    const bool volts = f == SimFunction::Volts || f == SimFunction::Diode;
    const bool amps = f == SimFunction::MicroAmps || f == SimFunction::MilliAmps || f == SimFunction::Amps;
    const bool ohms = f == SimFunction::Ohms || f == SimFunction::Continuity;

    std::array<uint8_t, 14> n{};
    n[0] = bit(r.coupling == Coupling::Ac, 8) | bit(r.coupling == Coupling::Dc, 4) | bit(r.autoRange, 2) |
           bit(r.rs232, 1);
    for (int i = 0; i < 4; ++i) {
        const uint8_t g = glyph[i];
        // first byte: sign or point, then E F A; second byte: D C G B
        const bool lead = i == 0 ? r.negative : r.point == i;
        n[1 + 2 * i] = bit(lead, 8) | bit(g & E, 4) | bit(g & F, 2) | bit(g & A, 1);
        n[2 + 2 * i] = bit(g & D, 8) | bit(g & C, 4) | bit(g & G, 2) | bit(g & B, 1);
    }
    n[9] = bit(r.prefix == Prefix::Micro, 8) | bit(r.prefix == Prefix::Nano, 4) |
           bit(r.prefix == Prefix::Kilo, 2) | bit(f == SimFunction::Diode, 1);
    n[10] = bit(r.prefix == Prefix::Milli, 8) | bit(f == SimFunction::DutyCycle, 4) |
            bit(r.prefix == Prefix::Mega, 2) | bit(f == SimFunction::Continuity, 1);
    n[11] = bit(f == SimFunction::Capacitance, 8) | bit(ohms, 4) | bit(r.recMark, 2) | bit(r.hold, 1);
    n[12] = bit(amps, 8) | bit(volts, 4) | bit(f == SimFunction::Hertz, 2) | bit(r.lowBattery, 1);
    n[13] = bit(f == SimFunction::Celsius, 1);

    std::array<uint8_t, 14> frame{};
    for (int i = 0; i < 14; ++i) frame[i] = static_cast<uint8_t>(((i + 1) << 4) | n[i]);
    return frame;
}

std::array<uint8_t, 11> encodeDigitFrame(const SimReading& r, const SimModel& model) {
    const bool modeBit = r.function == SimFunction::Rpm || r.function == SimFunction::Celsius;
    const uint8_t status = bit(modeBit, 8) | bit(r.negative, 4) | bit(r.lowBattery, 2) | bit(r.overload, 1);
    const uint8_t option2 = bit(r.coupling == Coupling::Dc, 8) | bit(r.coupling == Coupling::Ac, 4) |
                            bit(r.autoRange, 2) | bit(!r.rs232, 1);
    const uint8_t nibbles[9] = {
        static_cast<uint8_t>(r.rangeCode & 0xF),
        digitNibble(r.digits[0]),
        digitNibble(r.digits[1]),
        digitNibble(r.digits[2]),
        digitNibble(r.digits[3]),
        functionNibble(r, model),
        status,
        0,  // option 1: a meter that shows its main function sends nothing here
        option2,
    };
    std::array<uint8_t, 11> frame{};
    for (int i = 0; i < 9; ++i) frame[i] = static_cast<uint8_t>(0x30 | nibbles[i]);
    frame[9] = 0x0D;
    frame[10] = kDigitFrameLead;
    return frame;
}

std::vector<uint8_t> encodeFrame(const SimModel& model, const SimReading& r) {
    if (model.family == FrameFamily::Digit) {
        const auto f = encodeDigitFrame(r, model);
        return {f.begin(), f.end()};
    }
    const auto f = encodeSegmentFrame(r);
    return {f.begin(), f.end()};
}

std::string frameHexOf(const SimModel& model, const std::vector<uint8_t>& frame) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    if (model.family == FrameFamily::Digit) {
        out += kHex[kDigitFrameLead & 0xF];
        for (std::size_t i = 0; i < frame.size() && i < 10; ++i) out += kHex[frame[i] & 0xF];
        return out;
    }
    for (uint8_t b : frame) out += kHex[b & 0xF];
    return out;
}

}  // namespace dmmsim
