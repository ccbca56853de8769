#pragma once

// Running the headless decoder in the test process: segment frames from their hex texts, and one
// run of the command line over bytes given as standard input.
#include <sstream>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "HeadlessRunner.h"

// A segment frame's bytes: each position tag in the high nibble, the frame text's digit below it.
inline std::string segmentBytes(const std::string& frameHex) {
    std::string bytes;
    for (std::size_t i = 0; i < frameHex.size(); ++i) {
        bytes.push_back(static_cast<char>(((i + 1) << 4) | std::stoi(frameHex.substr(i, 1), nullptr, 16)));
    }
    return bytes;
}

struct Run {
    int code;
    std::string out;
    std::string err;
};

// The command line `args` over `input` as standard input; an options error counts as exit code 2.
inline Run decode(const std::vector<std::string>& args, const std::string& input) {
    const OptionsResult r = parseOptions(args);
    if (!r.error.empty()) return {2, "", r.error};
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int code = exitStatus(runHeadless(r.options, in, out, err));
    return {code, out.str(), err.str()};
}
