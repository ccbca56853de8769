// Publishing the readings to a broker: the client lives from the first Connect on; the link
// picture's tooltip shows its state and counts, a lost broker is said once, without a stop, and
// its return in a short note once the readings that waited are sent.
#include <QMessageBox>
#include <QTimer>

#include "ModelProfiles.h"
#include "ReadingPublisher.h"
#include "TFCOMM.h"

namespace {

const QString kBrokerLost = QStringLiteral("BrokerLost");
const QString kBrokerBack = QStringLiteral("BrokerBack");
constexpr int kBackLookMs = 200;

}  // namespace

void TFCOMM::startPublishing() {
    if (!options_.publish) return;
    const std::string model = checkedModelCaption(line_.controls());
    const std::string device = line_.devices().devicePath(line_.driver().ComPort());
    const std::string name = options_.publish->clientName.empty()
                                 ? ReadingPublisher::defaultClientName(model, device)
                                 : options_.publish->clientName;
    if (publisher_ && publisher_->clientName() == topicLevel(name)) return;
    // another port is another client: the old one says it is offline as it goes
    publisher_.reset();
    brokerLost_ = false;
    publisher_ = std::make_unique<ReadingPublisher>(
        *options_.publish, model, device, [this](const PublisherStatus& s) {
            QMetaObject::invokeMethod(
                this, [this, s] { brokerStateChanged(s); }, Qt::QueuedConnection);
        });
}

void TFCOMM::publishReading() {
    // the message's time is the one a row of this reading gets
    if (publisher_) publisher_->offer(line_.state(), store_.stampOf(line_.state()));
    serveReading();
}

void TFCOMM::brokerStateChanged(const PublisherStatus& status) {
    if (!publisher_) return;
    const QString broker = QString::fromStdString(publisher_->client().settings().url.display());
    if (status.state == BrokerState::NameInUse) {
        showNotice(QMessageBox::Warning, QStringLiteral("BrokerNameInUse"),
                   tr("Nothing is published to the broker %1: %2.")
                       .arg(broker, QString::fromStdString(status.reason)));
        return;
    }
    if (status.state == BrokerState::Online) {
        if (!brokerLost_) return;
        brokerLost_ = false;
        for (auto* box : findChildren<QMessageBox*>(kBrokerLost)) box->close();
        noteBrokerBack();
        return;
    }
    if (status.state != BrokerState::Offline || brokerLost_) return;
    brokerLost_ = true;
    sentBeforeLoss_ = status.sent;
    if (findChild<QMessageBox*>(kBrokerLost)) return;
    showNotice(
        QMessageBox::Warning, kBrokerLost,
        tr("The broker %1 cannot be reached: %2. The readings wait (up to %3; beyond that the oldest are "
           "dropped first) and are sent once it is back; the program keeps trying.")
            .arg(broker, QString::fromStdString(status.reason))
            .arg(publisher_->client().settings().queueBound));
}

void TFCOMM::noteBrokerBack() {
    if (!publisher_ || brokerLost_) return;
    const PublisherStatus s = publisher_->client().status();
    if (s.state == BrokerState::Online && s.waiting > 0) {
        QTimer::singleShot(kBackLookMs, this, &TFCOMM::noteBrokerBack);
        return;
    }
    if (s.state != BrokerState::Online) return;
    for (auto* box : findChildren<QMessageBox*>(kBrokerBack)) box->close();
    showNotice(QMessageBox::Information, kBrokerBack,
               tr("The broker %1 is back: %2 readings sent.")
                   .arg(QString::fromStdString(publisher_->client().settings().url.display()))
                   .arg(s.sent - sentBeforeLoss_));
}

QString TFCOMM::publishSummary() {
    if (!publisher_) return {};
    publisher_->tick();
    return QStringLiteral("\nBroker ") + QString::fromStdString(publisher_->summary());
}
