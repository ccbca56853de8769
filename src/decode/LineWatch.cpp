#include "LineWatch.h"

#include <vector>

#include "ModelProfiles.h"

namespace {

// Whole frames of the other family needed before the bytes are said to fit it: random bytes
// hardly ever make one, a meter sends several a second.
constexpr uint64_t kOtherFramesToFit = 2;

const char* familyWords(FrameFamily f) {
    return f == FrameFamily::Segment ? "14-byte segment frames" : "digit frames ending in CR";
}

FrameFamily otherFamily(FrameFamily f) {
    return f == FrameFamily::Segment ? FrameFamily::Digit : FrameFamily::Segment;
}

const char* baudWords(bool baud19200) {
    return baud19200 ? "19200 baud" : "2400 baud";
}

// "A, B and C"
std::string joinNames(const std::vector<std::string>& names, const char* last) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) out += i + 1 == names.size() ? last : ", ";
        out += names[i];
    }
    return out;
}

// Models of `family` (any family for None) at the given rate, `except` left out.
std::vector<std::string> modelsOf(FrameFamily family, bool baud19200, const std::string& except) {
    std::vector<std::string> names;
    for (const ModelProfile& p : modelProfiles()) {
        if ((family == FrameFamily::None || p.family == family) && p.baud19200 == baud19200 &&
            except != p.caption) {
            names.emplace_back(p.caption);
        }
    }
    return names;
}

// The models that send `family`, those at the line's present baud rate first:
// "22-85, KR47B, KR31D (2400 baud); KR31F, KR31G (19200 baud)".
std::string modelsSending(FrameFamily family, bool baud19200, const std::string& except) {
    std::string out;
    for (const bool rate : {baud19200, !baud19200}) {
        const std::vector<std::string> names = modelsOf(family, rate, except);
        if (names.empty()) continue;
        if (!out.empty()) out += "; ";
        out += joinNames(names, ", ") + " (" + baudWords(rate) + ")";
    }
    return out;
}

// The first of the models that send `family`, at the line's present baud rate if any does.
std::optional<std::string> firstModelSending(FrameFamily family, bool baud19200, const std::string& except) {
    for (const bool rate : {baud19200, !baud19200}) {
        const std::vector<std::string> names = modelsOf(family, rate, except);
        if (!names.empty()) return names.front();
    }
    return std::nullopt;
}

const char* kChooseModel = " Start dmmview with --model and the meter's name.";

}  // namespace

LineWatch::LineWatch(const FrameTexts& own, const MeterState& meter) : own_(own), meter_(meter) {}

void LineWatch::start(std::string portLabel, const ControlStates& controls) {
    const ProfileChoice choice = chooseProfile(controls);
    family_ = choice.family;
    baud19200_ = choice.baud19200;
    model_.clear();
    for (const ModelProfile& p : modelProfiles()) {
        if (controls.checked(p.check)) model_ = p.caption;  // the last checked box decides, as at start-up
    }
    port_ = std::move(portLabel);
    ownWholeAtStart_ = own_.wholeFrames;
    ownBrokenAtStart_ = own_.brokenFrames;
    decoderDropsAtStart_ = meter_.DroppedFrames;
    bytes_ = 0;
    firstByte_.reset();
    hintGiven_ = false;
    otherTexts_ = FrameTexts{};
}

void LineWatch::received(const void* data, int32_t size, Clock::time_point now) {
    if (!started() || size <= 0) return;
    bytes_ += static_cast<uint64_t>(size);
    if (!firstByte_) firstByte_ = now;
    // Once the model reads the line there is nothing to find out; the other assembler stops costing.
    if (counts().readings > 0) return;
    if (family_ == FrameFamily::Segment)
        otherDigit_.H47BRData(data, size);
    else
        otherSegment_.H31BRData(data, size);
}

LineCounts LineWatch::counts() const {
    LineCounts c;
    if (!started()) return c;
    c.bytes = bytes_;
    c.wholeFrames = own_.wholeFrames - ownWholeAtStart_;
    const uint64_t decoderDrops = meter_.DroppedFrames - decoderDropsAtStart_;
    c.droppedFrames = own_.brokenFrames - ownBrokenAtStart_ + decoderDrops;
    c.readings = c.wholeFrames > decoderDrops ? c.wholeFrames - decoderDrops : 0;
    c.otherFrames = otherTexts_.wholeFrames;
    return c;
}

std::optional<LineWatch::Hint> LineWatch::takeHint(Clock::time_point now) {
    if (hintGiven_ || !firstByte_ || now - *firstByte_ < kHintDelay || counts().readings > 0)
        return std::nullopt;
    hintGiven_ = true;
    return hint();
}

std::optional<std::string> LineWatch::finalHint() const {
    if (!started()) return std::nullopt;
    const LineCounts c = counts();
    if (c.readings > 0) return std::nullopt;
    if (c.bytes == 0) return "No reading from " + port_ + ": no bytes arrived.";
    return hint().text + kChooseModel;
}

LineWatch::Hint LineWatch::hint() const {
    Hint h;
    std::string& s = h.text;
    const LineCounts c = counts();
    s = "No reading from " + port_ + ": " + std::to_string(c.bytes) + " bytes arrived, but ";
    if (c.wholeFrames == 0) {
        s += std::string("no frame of the kind the ") + model_ + " sends (" + familyWords(family_) + ").";
    } else {
        s += std::to_string(c.wholeFrames) + " frames of the kind the " + model_ + " sends (" +
             familyWords(family_) + ") could not be read as its display.";
    }

    const FrameFamily other = otherFamily(family_);
    if (c.otherFrames >= kOtherFramesToFit && c.otherFrames > c.wholeFrames) {
        s += " The bytes fit " + std::string(familyWords(other)) + " (" + std::to_string(c.otherFrames) +
             " whole frames), which these models send: " + modelsSending(other, baud19200_, model_) + ".";
        h.model = firstModelSending(other, baud19200_, model_);
        return h;
    }
    if (c.wholeFrames > 0) {
        const std::string others = modelsSending(family_, baud19200_, model_);
        if (!others.empty()) s += " The meter may be another model that sends them: " + others + ".";
        h.model = firstModelSending(family_, baud19200_, model_);
        return h;
    }
    // Read at the wrong speed, a meter's bytes come out as something else entirely.
    s += std::string(" The meter may send at the other baud rate (this model reads the line at ") +
         baudWords(baud19200_) + "): the 19200-baud models are " +
         joinNames(modelsOf(FrameFamily::None, true, {}), " and ") + ", the others send at 2400 baud.";
    // no frame of either family: nothing tells which model it is
    return h;
}

std::string LineWatch::summary() const {
    if (!started()) return "Not connected yet";
    const LineCounts c = counts();
    std::string s = port_ + ": " + std::to_string(c.bytes) + " bytes, " + std::to_string(c.wholeFrames) +
                    " whole frames, " + std::to_string(c.droppedFrames) + " dropped";
    if (c.readings == 0 && c.otherFrames > 0) {
        s += ", " + std::to_string(c.otherFrames) + " whole " + familyWords(otherFamily(family_));
    }
    return s;
}
