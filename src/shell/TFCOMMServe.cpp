// Serving the meter with --serve and --scpi: one channel, fed at each reading; the page's address
// sits in the status bar.
#include <QMessageBox>
#include <QStatusBar>

#include "EmbeddedServer.h"
#include "ModelProfiles.h"
#include "ServeAddressItem.h"
#include "ServeStart.h"
#include "ServedChannels.h"
#include "StateReading.h"
#include "TFCOMM.h"

void TFCOMM::startServing() {
    if (!options_.serve.any()) return;
    const std::string model = checkedModelCaption(line_.controls());
    served_ = std::make_unique<ServedChannels>();
    servedFill_ = std::make_unique<StateReading>();
    servedChannel_ = served_->addChannel(model, ServedKind::Meter, model,
                                         line_.devices().devicePath(line_.driver().ComPort()));
    std::string error;
    server_ = ::startServing(options_.serve, *served_, error);
    if (!server_) {
        showNotice(QMessageBox::Warning, QStringLiteral("ServeRefused"),
                   tr("The meter is not served: %1").arg(QString::fromStdString(error)));
        return;
    }
    const std::string page = server_->pageAddress();
    const std::string scpi = server_->scpiAddress();
    auto* item = new ServeAddressItem(QString::fromStdString(page.empty() ? scpi : page), this);
    item->setObjectName(QStringLiteral("ServeAddress"));
    statusBar()->addPermanentWidget(item);
}

void TFCOMM::serveReading() {
    if (!server_) return;
    MeterReading reading;
    servedFill_->fill(reading, line_.state(), line_.state().ReadingUtcUs,
                      checkedModelCaption(line_.controls()));
    served_->reading(servedChannel_, reading);
}
