#include "LcdPanelModel.h"

namespace {

struct ElementInfo {
    const char* name;
    const char* caption;
    bool visibleAtStart;
};

// In enum order. Captions are characters of the LCD symbol font (see LcdGlyphs).
constexpr ElementInfo kElements[kLcdElementCount] = {
    {"LcdFH", "-", true},       {"LcdDa", "3", true},       {"LcdP1", "", false},
    {"LcdDb", "9", true},       {"LcdP2", "", false},       {"LcdDc", "9", true},
    {"LcdP3", "", false},       {"LcdDd", "9", true},       {"LcdAuto", "AUTO", false},
    {"LCDRS", "RS", false},     {"LCD232C", "232C", false}, {"LCDBF", "%", false},
    {"LCDHold", "\"", false},   {"LCDRec", "!", false},     {"LCDBATT", "$", false},
    {"LCDTRMST", "T", false},   {"LcdRPM", "RPM", false},   {"LCDTRMS", "RMS", false},
    {"LCDBT", "(", false},      {"LCDCS", "#", false},      {"LCDFS", "?", false},
    {"LCDDI", ")", false},      {"LCDFm", "&", false},      {"LCDM1", "M", false},
    {"LCDk", "k", false},       {"LCDHz", "Hz", false},     {"LCDohm", "*", false},
    {"LCDu", "+", false},       {"Lcdm", "m", false},       {"LCDn", "n", false},
    {"LcdV", "V", false},       {"LCDA", "A", false},       {"LCDF", "F", false},
    {"LcdAC", "AC", false},     {"LcdDc1", "DC", false},    {"CONok", "", false},
    {"CONokN", "", true},       {"oltext", "OL !!", false}, {"Label11", "MIN: ", true},
    {"Label12", "MAX: ", true}, {"MinText", "4001", true},  {"MaxText", "-4001", true},
    {"MinTextU", "*", true},    {"MaxTextU", "*", true},
};

}  // namespace

LcdPanelModel::LcdPanelModel() {
    for (int i = 0; i < kLcdElementCount; ++i) {
        visible_[i] = kElements[i].visibleAtStart;
        caption_[i] = kElements[i].caption;
    }
    markAllDirty();
}

const char* LcdPanelModel::name(LcdElement e) {
    return kElements[idx(e)].name;
}

const char* LcdPanelModel::startCaption(LcdElement e) {
    return kElements[idx(e)].caption;
}

bool LcdPanelModel::startVisible(LcdElement e) {
    return kElements[idx(e)].visibleAtStart;
}

std::optional<LcdElement> LcdPanelModel::byName(std::string_view name) {
    for (int i = 0; i < kLcdElementCount; ++i) {
        if (name == kElements[i].name) return static_cast<LcdElement>(i);
    }
    return std::nullopt;
}
