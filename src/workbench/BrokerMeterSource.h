#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>

#include "BrokerUrl.h"

class BenchModel;
class BrokerIntake;

// What --subscribe asks: the broker and the prefix its meters publish under.
struct SubscribeRequest {
    BrokerUrl url;         // the prefix is its topic part
    std::string password;  // empty: none (from the environment, as for --publish)
    std::string caFile;    // mqtts: the CA to trust
    // The session's name at the broker, the same from one start to the next so that readings
    // published while the bench was away from the broker reach it; empty: one made from this
    // computer's name, the broker, the prefix and `purpose`.
    std::string clientId;
    std::string purpose = "bench";  // what this bench does (its recording's path), for the id
};

// Every meter that publishes under the prefix becomes a channel named by its client name, found
// from its status topic; online/offline follow that topic, and the broker's loss takes every
// meter offline with the broker's reason. Messages arrive on the broker client's thread and are
// judged (BrokerIntake: limits, duplicates, order, times) and handed to the model on this one.
class BrokerMeterSource : public QObject {
    Q_OBJECT
public:
    BrokerMeterSource(const SubscribeRequest& request, BenchModel& model, QObject* parent = nullptr);
    ~BrokerMeterSource() override;

    void start();
    void stop();
    // Whether the broker is reached, and why not.
    bool connected() const;
    QString reason() const;
    uint64_t messages() const;  // reading messages taken in
    // Why a meter of this broker is offline: "broker lost: <reason>" or "status offline"; empty
    // for a channel online or not of this broker.
    QString offlineReason(int channelId) const;
    const BrokerIntake& intake() const;

signals:
    void connectionChanged(bool connected, const QString& reason);
    void meterDiscovered(int channelId);
    // Something said once: the bound of meters reached, messages lost to a bench that fell behind.
    void notice(const QString& text);

private:
    void takeInbox();
    int discover(const QString& shown, const std::string& client);
    void brokerState(bool connected, const QString& why);

    struct Impl;
    std::unique_ptr<Impl> d_;
};
