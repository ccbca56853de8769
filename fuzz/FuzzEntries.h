#pragma once

#include <cstddef>
#include <cstdint>

// The entry functions of the fuzz targets. Each takes one input of any length and content and
// returns 0; a fault shows as a sanitizer report or, where a function checks a rule of its own,
// as an abort. The libFuzzer programs call them, and so does the replay test of the normal build.
namespace FuzzEntries {

// A byte stream for one model profile, cut into chunks as the input says, through the frame
// assembler of the profile's family, its decoder and the reading pipeline. Layout of the input:
// byte 0 picks the profile and the check boxes (see FuzzFrames.cpp), then any number of chunks,
// each a length byte followed by up to that many bytes.
int frames(const uint8_t* data, std::size_t size);

// A whole file through the Paradox table reader.
int paradoxTable(const uint8_t* data, std::size_t size);

// A text through the rules of the edits that take numbers: alarm limits, sampling interval, points
// per page. Byte 0 picks the rule (modulo 3, in that order), the rest is the text as UTF-8.
int texts(const uint8_t* data, std::size_t size);

// Bytes as an HTTP client would send them to the server: parsed within the server's limits and
// routed (Host, token, paths, query).
int serveRequest(const uint8_t* data, std::size_t size);

// Lines of the instrument protocol, one program message each.
int scpi(const uint8_t* data, std::size_t size);

// Lines of NAME=EXPRESSION as math channels of a bench over the meters U, I and [M-1], then a few
// readings through them; the whole input also as one expression on its own.
int expressions(const uint8_t* data, std::size_t size);

// Messages a broker delivers to the bench, each a length byte and the client's name, two length
// bytes (little-endian) and the payload, and a byte whose low bit picks the status topic over
// the reading topic, through the bench's judgement of them (BrokerIntake).
int brokerMessage(const uint8_t* data, std::size_t size);

}  // namespace FuzzEntries
