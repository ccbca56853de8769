#include "MeterSettings.h"

#include <QSettings>

#include "ModelProfiles.h"

namespace {

QSettings userSettings() {
    return QSettings(QStringLiteral("dmmview"), QStringLiteral("dmmview"));
}

QString portKey(int port) {
    return QStringLiteral("devices/COM%1").arg(port);
}

bool isDigitModel(ModelCheck m) {
    return m != IF7263x && modelProfiles()[m].family == FrameFamily::Digit;
}

}  // namespace

// A value that is not what this program writes (another program's file, an edit by hand, an older
// version) is passed over: the defaults stand in for it.
MeterSettings::MeterSettings(bool enabled) : enabled_(enabled) {
    if (!enabled_) return;
    const QSettings s = userSettings();
    for (int port = 1; port <= 4; ++port) {
        const QVariant v = s.value(portKey(port));
        if (v.typeId() == QMetaType::QString && !v.toString().trimmed().isEmpty())
            portPaths_[port] = v.toString().toStdString();
    }
    const auto model = modelCheckByCaption(s.value(QStringLiteral("model")).toString().toStdString());
    if (!model) return;
    model_ = modelCheckCaption(*model);
    variant_ = isDigitModel(*model) && s.value(QStringLiteral("variant")).toString() == QLatin1String("true");
}

AppOptions MeterSettings::applyTo(AppOptions o) const {
    for (const auto& [port, path] : portPaths_) o.portPaths.emplace(port, path);
    // the variant is a coding of the model's frames: it comes with the model
    if (!o.model && model_) {
        o.model = model_;
        o.variant = o.variant || variant_;
    }
    return o;
}

void MeterSettings::storeDevice(int port, const std::string& path) {
    if (!enabled_ || port < 1 || port > 4 || path.empty()) return;
    userSettings().setValue(portKey(port), QString::fromStdString(path));
}

void MeterSettings::storeModel(ModelCheck model, bool variant) {
    if (!enabled_ || model == IF7263x) return;
    QSettings s = userSettings();
    s.setValue(QStringLiteral("model"), QString::fromLatin1(modelCheckCaption(model)));
    s.setValue(QStringLiteral("variant"), variant && isDigitModel(model));
}
