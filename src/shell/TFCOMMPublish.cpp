// Publishing the readings to a broker: the client lives from the first Connect on; the link
// picture's tooltip shows its state and counts, and a lost broker is said once, without a stop.
#include <QMessageBox>

#include "HeadlessRunner.h"
#include "ReadingPublisher.h"
#include "TFCOMM.h"

void TFCOMM::startPublishing() {
    if (!options_.publish) return;
    const std::string model = checkedModelCaption(controls_);
    const std::string device = port_.devicePath(comm2_.ComPort());
    const std::string name = options_.publish->clientName.empty() ? ReadingPublisher::defaultClientName(model, device)
                                                                  : options_.publish->clientName;
    if (publisher_ && publisher_->clientName() == topicLevel(name)) return;
    // another port is another client: the old one says it is offline as it goes
    publisher_.reset();
    publisher_ = std::make_unique<ReadingPublisher>(*options_.publish, model, device, [this](const PublisherStatus& s) {
        QMetaObject::invokeMethod(this, [this, s] { brokerStateChanged(s); }, Qt::QueuedConnection);
    });
}

void TFCOMM::publishReading() {
    if (publisher_) publisher_->offer(meter_);
}

void TFCOMM::brokerStateChanged(const PublisherStatus& status) {
    if (status.state != BrokerState::Offline || findChild<QMessageBox*>(QStringLiteral("BrokerLost"))) return;
    showNotice(QMessageBox::Warning, QStringLiteral("BrokerLost"),
               tr("The broker %1 cannot be reached: %2. The readings wait (up to %3, the oldest go first) and are "
                  "sent once it is back; the program keeps trying.")
                   .arg(QString::fromStdString(publisher_->client().settings().url.display()),
                        QString::fromStdString(status.reason))
                   .arg(publisher_->client().settings().queueBound));
}

QString TFCOMM::publishSummary() {
    if (!publisher_) return {};
    publisher_->tick();
    return QStringLiteral("\nBroker ") + QString::fromStdString(publisher_->summary());
}
