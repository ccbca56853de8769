#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <string>

#include "BenchReading.h"
#include "EmbeddedServer.h"
#include "MeterReading.h"
#include "ServeOptions.h"
#include "ServedChannels.h"

class BenchModel;

// The bench served: every meter and math channel of the model, those it gains later too, fed from
// the model's signals on the model's thread.
class BenchServing : public QObject {
    Q_OBJECT
public:
    // Nothing, with the reason in `error` (one line), when the servers cannot start.
    static std::unique_ptr<BenchServing> start(BenchModel& model, const ServeRequest& request,
                                               std::string& error);
    ~BenchServing() override;

    const EmbeddedServer& server() const { return *server_; }

private:
    explicit BenchServing(BenchModel& model);
    void add(int id);
    void reading(int id, const BenchReading& reading);

    BenchModel& model_;
    ServedChannels channels_;
    struct Served {
        int id = -1;        // in the served channels
        std::string model;  // the meter's model caption, "math" for a math channel
    };
    std::map<int, Served> served_;  // by the model's channel id
    std::unique_ptr<EmbeddedServer> server_;
};

// A bench reading as a meter's: the display "500.0 mA" shows 500 in mA, 0.5 in the base unit A.
MeterReading benchMeterReading(const BenchReading& reading, const std::string& model);
