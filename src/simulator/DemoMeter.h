#pragma once

#include <memory>
#include <string>

// A simulated meter inside the program, for trying it without one: a pseudo-terminal that a
// scenario writes into at the model's line pace from a thread of its own. Open slavePath() as
// the serial port. The destructor stops the thread and closes the line.
class DemoMeter {
public:
    // `modelCaption` as on the model check boxes ("KR31E", "22-85", ...); `scenario` one of the
    // simulator's scenario names; `variant` the alternative digit-frame coding.
    explicit DemoMeter(const std::string& modelCaption, const std::string& scenario = "ramp",
                       bool variant = false);
    ~DemoMeter();
    DemoMeter(const DemoMeter&) = delete;
    DemoMeter& operator=(const DemoMeter&) = delete;

    // False when the meter could not start; errorString() says why.
    bool ok() const;
    const std::string& errorString() const;
    // The device path to open, e.g. "/dev/pts/5"; empty when not ok().
    const std::string& slavePath() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
