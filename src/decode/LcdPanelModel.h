#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Every element of the on-screen LCD and its companion indicators. The decoders and the
// reading pipeline address them through this enum on the hot path; tests and the window
// look them up by name.
enum class LcdElement : uint8_t {
    // digits, sign and decimal points
    LcdFH,
    LcdDa,
    LcdP1,
    LcdDb,
    LcdP2,
    LcdDc,
    LcdP3,
    LcdDd,
    // annunciators
    LcdAuto,
    LCDRS,
    LCD232C,
    LCDBF,
    LCDHold,
    LCDRec,
    LCDBATT,
    LCDTRMST,
    LcdRPM,
    LCDTRMS,
    LCDBT,
    LCDCS,
    LCDFS,
    LCDDI,
    LCDFm,
    LCDM1,
    LCDk,
    LCDHz,
    LCDohm,
    LCDu,
    Lcdm,
    LCDn,
    LcdV,
    LCDA,
    LCDF,
    LcdAC,
    LcdDc1,
    // companion indicators: link images, alarm sign, MIN/MAX readout
    CONok,
    CONokN,
    oltext,
    Label11,
    Label12,
    MinText,
    MaxText,
    MinTextU,
    MaxTextU,
    Count
};

constexpr int kLcdElementCount = static_cast<int>(LcdElement::Count);
static_assert(kLcdElementCount <= 64, "dirty mask holds one bit per element");

// The display as data: visibility and caption of each element. It starts in the state the
// window shows before the first frame (a reading of -3999, all annunciators off, link lost).
class LcdPanelModel {
public:
    LcdPanelModel();

    void setVisible(LcdElement e, bool on) {
        const auto i = idx(e);
        if (visible_[i] != on) {
            visible_[i] = on;
            dirty_ |= bit(e);
        }
    }
    void show(LcdElement e) { setVisible(e, true); }
    void hide(LcdElement e) { setVisible(e, false); }
    bool visible(LcdElement e) const { return visible_[idx(e)]; }

    void setCaption(LcdElement e, std::string_view text) {
        auto& c = caption_[idx(e)];
        if (c != text) {
            c.assign(text.data(), text.size());
            dirty_ |= bit(e);
        }
    }
    const std::string& caption(LcdElement e) const { return caption_[idx(e)]; }

    // Elements changed since the last call, one bit per element; clears the record.
    uint64_t takeDirty() {
        const uint64_t d = dirty_;
        dirty_ = 0;
        return d;
    }
    void markAllDirty() { dirty_ = (kLcdElementCount == 64) ? ~0ULL : ((1ULL << kLcdElementCount) - 1); }

    static const char* name(LcdElement e);
    static std::optional<LcdElement> byName(std::string_view name);
    // Caption and visibility the window starts with.
    static const char* startCaption(LcdElement e);
    static bool startVisible(LcdElement e);

    static constexpr uint64_t bit(LcdElement e) { return 1ULL << static_cast<unsigned>(e); }

private:
    static constexpr std::size_t idx(LcdElement e) { return static_cast<std::size_t>(e); }

    std::array<bool, kLcdElementCount> visible_{};
    std::array<std::string, kLcdElementCount> caption_{};
    uint64_t dirty_ = 0;
};
