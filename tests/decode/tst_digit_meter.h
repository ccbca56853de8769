#pragma once

#include <QString>
#include <QStringList>
#include <string>
#include <string_view>
#include <vector>

#include "LcdPanelModel.h"
#include "MeterEngine.h"
#include "ModelProfiles.h"
#include "RecordingSink.h"

// A digit-frame meter without a window: state, panel, model boxes and a sink that also keeps the
// frame trace.
struct DigitTraceSink : RecordingSink {
    std::vector<std::string> trace;
    void traceFrame(std::string_view frameHex) override { trace.emplace_back(frameHex); }
};

struct DigitMeter {
    MeterState state;
    LcdPanelModel panel;
    ControlStates controls;
    DigitTraceSink sink;
    MeterEngine engine{state, panel, controls, sink};

    explicit DigitMeter(const QString& models = QStringLiteral("KR47B")) { select(models); }

    // Checks exactly the boxes named by caption ("KR31D+IF7263x") and takes their count range.
    void select(const QString& models) {
        controls.model = {};
        for (const QString& caption : models.split('+')) {
            if (caption == QLatin1String("IF7263x")) {
                controls.model[IF7263x] = true;
            } else if (const auto check = modelCheckByCaption(caption.toStdString())) {
                controls.model[*check] = true;
            } else {
                qFatal("unknown model box %s", qPrintable(caption));
            }
        }
        applyCountRange(*countRangeFor(chooseProfile(controls).ScaleDigits), state);
        state.family = FrameFamily::Digit;
    }

    bool feed(const char* frameHex) { return engine.LcdDisplay47B(frameHex); }

    QString caption(LcdElement e) const { return QString::fromStdString(panel.caption(e)); }
};
