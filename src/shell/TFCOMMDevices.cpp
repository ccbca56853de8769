// The ComSetup menu's choice of the meter: the device behind each port name and the model.
#include <QActionGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QSignalBlocker>

#include "DevicesDialog.h"
#include "ModelProfiles.h"
#include "TFCOMM.h"
#include "ui_TFCOMM.h"

namespace {

// The model whose profile applies: the last checked box in table order.
std::optional<ModelCheck> appliedModel(const ControlStates& controls) {
    std::optional<ModelCheck> model;
    for (const ModelProfile& p : modelProfiles()) {
        if (controls.checked(p.check)) model = p.check;
    }
    return model;
}

}  // namespace

// After the four ports: Devices… and the Meter model submenu, a radio item a model in the order
// of the model table and a check item for the variant of the digit frame.
void TFCOMM::bindMeterMenu() {
    QAction* devices = ui_->ComSetup1->addAction(tr("&Devices…"), this, &TFCOMM::chooseDevices);
    devices->setObjectName(QStringLiteral("Devices1"));
    modelMenu_ = ui_->ComSetup1->addMenu(tr("&Meter model"));
    modelMenu_->setObjectName(QStringLiteral("MeterModel1"));
    auto* group = new QActionGroup(modelMenu_);
    for (const ModelProfile& p : modelProfiles()) {
        QAction* item = modelMenu_->addAction(QString::fromLatin1(p.caption));
        item->setCheckable(true);
        item->setActionGroup(group);
        const ModelCheck model = p.check;
        connect(item, &QAction::triggered, this, [this, model] { chooseModel(model); });
    }
    modelMenu_->addSeparator();
    variantItem_ = modelMenu_->addAction(tr("Variant IF7263x (digit frames)"));
    variantItem_->setObjectName(QStringLiteral("Variant1"));
    variantItem_->setCheckable(true);
    connect(variantItem_, &QAction::triggered, this, &TFCOMM::chooseVariant);
}

void TFCOMM::syncMeterMenu() {
    const QList<QAction*> items = modelMenu_->actions();
    const std::optional<ModelCheck> model = appliedModel(line_.controls());
    for (const ModelProfile& p : modelProfiles()) items[p.check]->setChecked(model == p.check);
    variantItem_->setChecked(line_.controls().checked(IF7263x));
    variantItem_->setEnabled(line_.state().family == FrameFamily::Digit);
}

void TFCOMM::chooseDevices() {
    std::array<QString, 4> paths;
    for (int n = 0; n < 4; ++n)
        paths[n] = QString::fromStdString(line_.devices().devicePath(static_cast<TComPortNumber>(n)));
    DevicesDialog dialog(paths, line_.driver().Connected() ? static_cast<int>(line_.driver().ComPort()) : -1,
                         this);
    if (dialog.exec() != QDialog::Accepted) return;
    const std::array<QString, 4> chosen = dialog.paths();
    for (int n = 0; n < 4; ++n) {
        if (chosen[n] == paths[n]) continue;
        line_.devices().setDevicePath(static_cast<TComPortNumber>(n), chosen[n].toStdString());
        settings_.storeDevice(n + 1, chosen[n].toStdString());
    }
    updatePortTooltips();
}

// A model chosen while disconnected takes effect as it would at start-up: title, receive handler,
// baud rate, count range with its limits and captions, scale and chart axis.
void TFCOMM::chooseModel(ModelCheck model) {
    if (line_.driver().Connected()) return;
    const bool digit = modelProfiles()[model].family == FrameFamily::Digit;
    for (int i = 0; i < IF7263x; ++i) modelBoxes()[i]->setChecked(i == model);
    if (!digit) ui_->IF7263x->setChecked(false);
    readModelChecks();

    applyStartValues(line_.state());
    line_.driver().setComPortSpeed(br2400);
    // the texts and captions the window starts with; the limits keep their start values
    const auto range = countRangeFor("4");
    {
        const QSignalBlocker quietMax(ui_->Setmax);
        const QSignalBlocker quietMin(ui_->SetMin);
        ui_->Setmax->setText(QString::fromLatin1(range->SetmaxText));
        ui_->SetMin->setText(QString::fromLatin1(range->SetMinText));
    }
    line_.panel().setCaption(LcdElement::MinText, range->MinTextCaption);
    line_.panel().setCaption(LcdElement::MaxText, range->MaxTextCaption);
    applyProfile();
    setChartLeftAxis(line_.state().FullScale, -line_.state().FullScale);
    KDsetup(1);
    KDrun(line_.state().FullScaleTenth);
    syncPanel();
    syncMeterMenu();
    settings_.storeModel(model, line_.controls().checked(IF7263x));
}

void TFCOMM::chooseVariant(bool on) {
    ui_->IF7263x->setChecked(on && line_.state().family == FrameFamily::Digit);
    readModelChecks();
    syncMeterMenu();
    if (const auto model = appliedModel(line_.controls()))
        settings_.storeModel(*model, line_.controls().checked(IF7263x));
}
