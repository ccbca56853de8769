#pragma once

#include <map>
#include <optional>
#include <string>

#include "AppOptions.h"
#include "MeterState.h"

// The meter the user chose in the window, kept between runs in the user's settings file: the
// device behind each of COM1..COM4, the model and its digit-frame variant. Nothing else is kept.
class MeterSettings {
public:
    // Reads the stored choice; a disabled one (--no-settings) neither reads nor writes anything.
    explicit MeterSettings(bool enabled);

    // The options of this run: the stored choice, under what the command line gives. The command
    // line wins for this run and is not stored.
    AppOptions applyTo(AppOptions commandLine) const;

    // Keep what the user chose in the window for the next run.
    void storeDevice(int port, const std::string& path);
    void storeModel(ModelCheck model, bool variant);

private:
    bool enabled_;
    std::map<int, std::string> portPaths_;  // 1..4
    std::optional<std::string> model_;      // a model's caption
    bool variant_ = false;
};
