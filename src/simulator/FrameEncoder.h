#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "SimModel.h"
#include "SimReading.h"

namespace dmmsim {

// The 14 bytes of a segment frame: byte i carries tag i (1..E) in its high nibble and four LCD
// segment or annunciator bits in its low nibble.
std::array<uint8_t, 14> encodeSegmentFrame(const SimReading& r);

// A digit frame as the meter sends it: range, four digits, function, status, option 1, option 2,
// each as 0x30 + nibble, then CR LF. A blank digit goes out as 0 (the frame has no blank).
std::array<uint8_t, 11> encodeDigitFrame(const SimReading& r, const SimModel& model);

// The frame of the model's family.
std::vector<uint8_t> encodeFrame(const SimModel& model, const SimReading& r);

// The LF a digit meter sent at the end of its previous frame. A stream that starts with it
// lets a listener take the first frame as whole.
constexpr uint8_t kDigitFrameLead = 0x0A;

// What the receiving side keeps of a frame that arrives whole: the low hexadecimal digit of each
// byte, for digit frames counted from the LF in front of it up to the CR.
std::string frameHexOf(const SimModel& model, const std::vector<uint8_t>& frame);

}  // namespace dmmsim
