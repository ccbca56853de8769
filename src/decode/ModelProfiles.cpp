#include "ModelProfiles.h"

namespace {

const std::array<ModelProfile, 9> kProfiles = {{
    {IFKR31A, "IFKR31A", "KR31A", "KR31A Interface Program _Ver: 2.00", FrameFamily::Segment, false, nullptr},
    {IFKR31E, "IFKR31E", "KR31E", "KR31E Interface Program _Ver: 2.02", FrameFamily::Segment, false, nullptr},
    {IFPAX900, "IFPAX900", "PAX-900", "PAX-900 Interface Program _Ver: 2.00", FrameFamily::Segment, false,
     nullptr},
    {IF2285, "IF2285", "22-85", "MODELO 22-85 Interface Program _Ver: 1.00", FrameFamily::Digit, false,
     nullptr},
    {IFTS510, "IFTS510", "TS510/530", "ts510/530 Interface Program _Ver: 1.00", FrameFamily::Segment, false,
     nullptr},
    {IFKR47B, "IFKR47B", "KR47B", "KR47B Interface Program _Ver: 3.04", FrameFamily::Digit, false, nullptr},
    {IFKR31D, "IFKR31D", "KR31D", "KR31D Interface Program _Ver: 2.05", FrameFamily::Digit, false, "34"},
    {IFKR31F, "IFKR31F", "KR31F", "KR31F Interface Program _Ver: 1.00", FrameFamily::Digit, true, nullptr},
    {IFKR31G, "IFKR31G", "KR31G", "KR31G Interface Program _Ver: 1.00", FrameFamily::Digit, true, "6"},
}};

const std::array<CountRange, 3> kRanges = {{
    {"4", 4000, 400, 40, 80, 4002.0f, -4002.0f, -4001.0f, 4001.0f, "4000", "-4000", "4001", "-4001"},
    {"6", 6000, 600, 60, 120, 6000.0f, -6000.0f, -6001.0f, 6001.0f, "6000", "-6000", "6001", "-6001"},
    {"34", 3400, 340, 34, 68, 3400.0f, -3400.0f, -3401.0f, 3401.0f, "3400", "-3400", "3401", "-3401"},
}};

}  // namespace

const std::array<ModelProfile, 9>& modelProfiles() {
    return kProfiles;
}

const char* modelCheckCaption(ModelCheck m) {
    return m == IF7263x ? "IF7263x" : kProfiles[m].caption;
}

const char* modelCheckName(ModelCheck m) {
    return m == IF7263x ? "IF7263x" : kProfiles[m].checkBoxName;
}

std::optional<ModelCheck> modelCheckByCaption(std::string_view caption) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (const auto& p : kProfiles) {
        const std::string_view name = p.caption;
        if (name.size() != caption.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i) same = lower(name[i]) == lower(caption[i]);
        if (same) return p.check;
    }
    return std::nullopt;
}

std::string modelCaptionList() {
    std::string out;
    for (const auto& p : kProfiles) {
        if (!out.empty()) out += ", ";
        out += p.caption;
    }
    return out;
}

std::optional<CountRange> countRangeFor(std::string_view scaleDigits) {
    for (const auto& r : kRanges) {
        if (scaleDigits == r.scaleDigits) return r;
    }
    return std::nullopt;
}

ProfileChoice chooseProfile(const ControlStates& controls) {
    ProfileChoice choice;
    for (const auto& p : kProfiles) {
        if (!controls.checked(p.check)) continue;
        choice.family = p.family;
        choice.title = p.title;
        if (p.baud19200) choice.baud19200 = true;
        if (p.scaleDigits) choice.ScaleDigits = p.scaleDigits;
    }
    return choice;
}

void applyStartValues(MeterState& state) {
    applyCountRange(kRanges[0], state);
    state.LastUnitText = "113";
    state.ChartFollow = 1;
    state.FreqMode = 0;
}

void applyCountRange(const CountRange& range, MeterState& state) {
    state.ScaleDigits = range.scaleDigits;
    state.FullScale = range.FullScale;
    state.FullScaleTenth = range.FullScaleTenth;
    state.FullScaleHundredth = range.FullScaleHundredth;
    state.BarSegments = range.BarSegments;
    state.MaxLimit = static_cast<float>(range.FullScale + 2);
    state.MinLimit = -static_cast<float>(range.FullScale + 2);
    state.MaxReading = range.MaxReading;
    state.MinReading = range.MinReading;
}

void chooseModel(ControlStates& controls, const std::optional<std::string>& model, bool variant) {
    if (model) {
        if (const auto m = modelCheckByCaption(*model)) {
            for (int i = 0; i < IF7263x; ++i) controls.model[i] = false;
            controls.model[*m] = true;
        }
    }
    if (variant) controls.model[IF7263x] = true;
}

std::string checkedModelCaption(const ControlStates& controls) {
    std::string caption;
    for (const auto& p : modelProfiles()) {
        if (controls.checked(p.check)) caption = p.caption;
    }
    return caption;
}

ProfileChoice prepareMeterState(const ControlStates& controls, MeterState& state) {
    applyStartValues(state);
    const ProfileChoice choice = chooseProfile(controls);
    state.family = choice.family;
    if (choice.ScaleDigits != "4") {
        const auto range = countRangeFor(choice.ScaleDigits);
        if (range) {
            applyCountRange(*range, state);
            // the window writes the limit texts here, which sets the limits from them
            state.MaxLimit = range->MaxLimit;
            state.MinLimit = range->MinLimit;
        }
    }
    return choice;
}
