#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <string>

#include "BrokerUrl.h"

class BenchModel;

// "2026-12-07T14:31:53.123+01:00" as milliseconds since 1970 UTC; nothing when it is not such a
// time.
std::optional<qint64> parseIsoTime(const std::string& text);

// What --subscribe asks: the broker and the prefix its meters publish under.
struct SubscribeRequest {
    BrokerUrl url;         // the prefix is its topic part
    std::string password;  // empty: none (from the environment, as for --publish)
    std::string caFile;    // mqtts: the CA to trust
};

// Every meter that publishes under the prefix becomes a channel named by its client name, found
// from its status topic; online/offline follow that topic. Readings arrive on the broker
// client's thread and are handed to the model on this one.
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

signals:
    void connectionChanged(bool connected, const QString& reason);
    void meterDiscovered(int channelId);

private:
    void takeInbox();
    int discover(const QString& client);

    struct Impl;
    std::unique_ptr<Impl> d_;
};
