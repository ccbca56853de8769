#include "BenchRunner.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <ostream>

#include "BenchRecorder.h"
#include "BenchRules.h"
#include "BenchServing.h"
#include "BenchSession.h"
#include "BrokerIntake.h"
#include "HeadlessPublishing.h"
#include "HeadlessRules.h"
#include "HeadlessSources.h"
#include "Interrupts.h"
#include "LocalClock.h"
#include "NumberText.h"
#include "ServeStart.h"
#include "ShownName.h"

namespace {

// A math channel's reading as a meter's, for publishing: "16.67 mWh" shows 16.67 in mWh.
MeterState asMeterState(const BenchReading& r) {
    MeterState s;
    const QString display = r.display;
    const qsizetype space = display.indexOf(' ');
    s.ValueText = display.left(space).toStdString();
    s.UnitText = space < 0 ? std::string() : display.mid(space + 1).toStdString();
    QString digits = display.left(space);
    digits.remove('.');
    s.NumericValue = digits.toFloat();
    return s;
}

std::string text(const QString& s) {
    return s.toStdString();
}

}  // namespace

QString mathRefusal(const QString& name, const QString& expression, const BenchModel::MathAdded& added) {
    QString out = name + ": " + added.error;
    if (added.position < 0) return out;
    out += QStringLiteral(" at character %1\n  %2\n  %3^")
               .arg(added.position + 1)
               .arg(expression, QString(added.position, ' '));
    return out;
}

bool applyBenchOptions(const AppOptions& options, BenchSession& session, QStringList& errors) {
    const bool sources = applyBenchSources(options, session, errors);
    return applyBenchMaths(options, session, errors) && sources;
}

bool applyBenchSources(const AppOptions& options, BenchSession& session, QStringList& errors) {
    bool ok = true;
    for (const std::string& m : options.meters) {
        std::string why;
        const LocalMeterChoice choice = parseMeterChoice(m, why);
        QString error;
        if (!why.empty()) {
            errors << QString::fromStdString(why);
            ok = false;
        } else if (!session.addLocalMeter(choice, &error)) {
            errors << "--meter " + QString::fromStdString(m) + ": " + error;
            ok = false;
        }
    }
    for (const BrokerUrl& url : options.subscriptions) {
        SubscribeRequest request;
        request.url = url;
        if (const char* password = std::getenv("DMMVIEW_MQTT_PASSWORD")) request.password = password;
        request.caFile = options.subscribeCa;
        // one session per broker and prefix: several of them under one id would push each other off
        if (!options.subscribeId.empty())
            request.clientId =
                options.subscribeId + (options.subscriptions.size() > 1
                                           ? "-" + std::to_string(&url - &options.subscriptions[0] + 1)
                                           : std::string());
        // the session at the broker is this bench's: a recording's, or the window's
        request.purpose =
            options.recordPath
                ? QFileInfo(QString::fromStdString(*options.recordPath)).absoluteFilePath().toStdString()
            : options.bench ? "window"
                            : "bench";
        session.addBroker(request);
    }
    return ok;
}

bool applyBenchMaths(const AppOptions& options, BenchSession& session, QStringList& errors) {
    bool ok = true;
    for (const auto& [name, expression] : options.maths) {
        const QString n = QString::fromStdString(name), e = QString::fromStdString(expression);
        const BenchModel::MathAdded added = session.addMath(n, e);
        if (added.id < 0 && !added.error.isEmpty()) {
            errors << "--math " + mathRefusal(n, e, added);
            ok = false;
        }
    }
    return ok;
}

ExitCode runBenchHeadless(const AppOptions& options, std::ostream& out, std::ostream& err) {
    BenchModel model;
    model.setHistoryKept(false);
    BenchSession session(model);
    QStringList errors;
    const bool ready = applyBenchOptions(options, session, errors);
    for (const QString& e : errors) err << text(e) << '\n';
    if (!ready) return ExitCode::NotStarted;

    QString error;
    if (options.recordPath && !session.startRecording(QString::fromStdString(*options.recordPath), &error)) {
        err << text(error) << '\n';
        return ExitCode::NotStarted;
    }

    // what happens to the channels, one line each on the error stream
    auto name = [&model](int id) { return text(model.channel(id) ? model.channel(id)->name : QString()); };
    QObject::connect(&model, &BenchModel::onlineChanged, [&](int id, bool online) {
        QString why;
        for (const auto& broker : session.brokers())
            if (why.isEmpty()) why = broker->offlineReason(id);
        err << name(id) << (online ? ": online" : ": offline")
            << (why.isEmpty() ? "" : " (" + text(why) + ")") << '\n'
            << std::flush;
    });
    QObject::connect(&model, &BenchModel::channelChanged, [&](int id) {
        const QString before = model.statisticsUnitBefore(id);
        if (!before.isEmpty())
            err << name(id) << ": the unit changed from " << text(before) << " to "
                << text(model.channel(id)->unit) << ": its statistics start again\n"
                << std::flush;
    });
    QObject::connect(&model, &BenchModel::staleChanged, [&](int id, bool stale) {
        if (stale && model.isOnline(id))
            err << name(id) << ": no reading for " << model.staleAfterMs(id) / 1000.0 << " s\n" << std::flush;
    });
    for (const auto& broker : session.brokers()) {
        QObject::connect(
            broker.get(), &BrokerMeterSource::connectionChanged, [&err](bool connected, const QString& why) {
                err << "broker: "
                    << (connected ? std::string("connected") : "not connected (" + text(why) + ")") << '\n'
                    << std::flush;
            });
        QObject::connect(broker.get(), &BrokerMeterSource::notice, [&err](const QString& text) {
            err << "broker: " << text.toStdString() << '\n' << std::flush;
        });
        QObject::connect(broker.get(), &BrokerMeterSource::meterDiscovered, [&](int id) {
            err << name(id) << ": found at " << text(model.channel(id)->source) << '\n' << std::flush;
        });
    }
    for (const auto& meter : session.localMeters()) {
        QObject::connect(meter.get(), &LocalMeterSource::lost, [&err](const QString& why) {
            err << text(why) << '\n' << std::flush;
        });
    }

    // the page, the API and the instrument port over every channel
    std::unique_ptr<BenchServing> serving;
    if (options.serve.any()) {
        std::string why;
        serving = BenchServing::start(model, options.serve, why);
        if (!serving) {
            err << why << '\n';
            return ExitCode::NotStarted;
        }
        err << servingLines(serving->server()) << std::flush;
    }

    // alarms and summaries over the channels there are now (--meter and --math)
    std::unique_ptr<HeadlessRules> rules;
    std::vector<QString> names;
    if (options.rules) {
        for (const int id : model.channelIds()) names.push_back(model.channel(id)->name);
        std::string why;
        rules = HeadlessRules::start(*options.rules, names, -1, utcNowUs, true, err, &why);
        if (!rules) {
            err << why << '\n';
            return ExitCode::NotStarted;
        }
        QObject::connect(&model, &BenchModel::readingAdded, [&](int id, const BenchReading& r) {
            const auto at = std::find(names.begin(), names.end(), model.channel(id)->name);
            if (at != names.end()) rules->offer(int(at - names.begin()), BenchRules::readingOf(r));
        });
    }

    // the math channels, each published as a meter of its own name
    std::map<int, std::unique_ptr<HeadlessPublishing>> publishing;
    LocalClock clock;  // a message carries its reading's own time
    ExitCode code = ExitCode::Success;
    auto publish = [&](int id) {
        const ChannelInfo* ch = model.channel(id);
        if (!options.publish || !ch || ch->kind != ChannelKind::Math) return;
        PublishRequest request = *options.publish;
        const std::string own = text(ch->name);
        request.clientName = request.clientName.empty() ? own : request.clientName + "-" + own;
        ExitCode refused = ExitCode::Success;
        auto p = HeadlessPublishing::start(
            request, "math", own, false, [] { return !interrupted(); }, err, refused);
        if (!p) {
            code = refused;
            QCoreApplication::exit();
            return;
        }
        publishing[id] = std::move(p);
    };
    for (const int id : model.channelIds()) publish(id);
    QObject::connect(&model, &BenchModel::channelAdded, publish);
    QObject::connect(&model, &BenchModel::readingAdded, [&](int id, const BenchReading& r) {
        const auto it = publishing.find(id);
        if (it != publishing.end() && r.hasValue()) it->second->offer(asMeterState(r), clock.at(r.timeMs));
    });

    installInterruptHandlers();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [] {
        if (interrupted()) QCoreApplication::quit();
    });
    watch.start(100);
    if (code == ExitCode::Success) QCoreApplication::exec();
    watch.stop();

    // the end of the run is no news about the channels
    QObject::disconnect(&model, nullptr, nullptr, nullptr);
    if (rules) rules->finish();
    for (const auto& meter : session.localMeters()) meter->stop();
    for (const auto& broker : session.brokers()) broker->stop();
    if (BenchRecorder* recorder = session.recorder()) {
        const bool written = session.finishRecording(&error);
        const uint64_t rows = recorder->rows();
        err << *options.recordPath << ": " << rows << (rows == 1 ? " row" : " rows") << " written"
            << (recorder->appended() ? " after the rows already in it\n" : "\n");
        if (!written) {
            err << text(error) << '\n';
            code = worse(code, ExitCode::Failed);
        }
    }
    for (auto& [id, p] : publishing) {
        if (!p->finish(untilInterruptedAgain())) code = worse(code, ExitCode::Failed);
    }

    // each channel's statistics, and the meters that said nothing
    // numbers as every file has them: plain decimals in the fewest digits that read back the same
    out << "channel\tnumbers\tgaps\toverloads\tmean\tstddev\tmin\tmax\tunit\n";
    for (const int id : model.channelIds()) {
        const ChannelInfo* ch = model.channel(id);
        const ChannelStats s = model.statistics(id);
        out << shownName(ch->name.toStdString()) << '\t' << s.count << '\t' << s.gaps << '\t' << s.overloads;
        for (const double v : {s.mean, s.stddev, s.min, s.max})
            out << '\t' << (s.count > 0 ? NumberText::of(v) : std::string());
        out << '\t' << shownName(ch->unit.toStdString()) << '\n';
    }
    out.flush();
    for (const auto& meter : session.localMeters()) {
        if (meter->readings() > 0) continue;
        err << text(meter->choice().name) << ": no reading was decoded from " << meter->choice().path
            << " (is " << meter->choice().model << " the meter's model?)\n";
        code = worse(code, ExitCode::Failed);
    }
    for (const int id : model.channelIds()) {
        const ChannelInfo* ch = model.channel(id);
        if (ch->kind != ChannelKind::Meter || model.readingCount(id) > 0 || !ch->source.startsWith("mqtt"))
            continue;
        err << text(ch->name) << ": announced itself on the broker but sent no reading\n";
        code = worse(code, ExitCode::Failed);
    }
    for (const auto& broker : session.brokers()) {
        const std::string refused = broker->intake().refusalSummary();
        if (!refused.empty()) err << "broker: " << refused << '\n';
        if (broker->messages() > 0) continue;
        err << "no meter published a reading on the broker"
            << (broker->connected() ? "" : " (not connected: " + text(broker->reason()) + ")") << '\n';
        code = worse(code, ExitCode::Failed);
    }
    for (const QString& w : session.waitingMaths())
        err << "--math " << text(w) << ": its inputs were never found\n";
    return code;
}
