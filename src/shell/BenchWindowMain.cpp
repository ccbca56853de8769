#include "BenchWindowMain.h"

#include <QApplication>
#include <QSettings>
#include <QStatusBar>
#include <cstdlib>
#include <map>
#include <memory>

#include "BenchAlarms.h"
#include "BenchRunner.h"
#include "BenchServing.h"
#include "BenchSession.h"
#include "BenchSettings.h"
#include "BenchWindow.h"
#include "EmbeddedServer.h"
#include "ExitCode.h"
#include "ServeAddressItem.h"

namespace {

QSettings userSettings() {
    return QSettings(QStringLiteral("dmmview"), QStringLiteral("dmmview"));
}

bool givenOnCommandLine(const AppOptions& options, const QString& name) {
    for (const std::string& m : options.meters) {
        if (QString::fromStdString(m.substr(0, m.find('='))) == name) return true;
    }
    for (const auto& [mathName, expression] : options.maths) {
        if (QString::fromStdString(mathName) == name) return true;
    }
    return false;
}

QString subscriptionText(const BrokerUrl& url) {
    return QString::fromStdString(url.display() + "/" + url.prefix);
}

bool subscribedOnCommandLine(const AppOptions& options, const QString& url) {
    for (const BrokerUrl& given : options.subscriptions) {
        if (subscriptionText(given) == url) return true;
    }
    return false;
}

// What to keep of the bench as it is now: the command line wins for its run only, so where it
// named a channel or a broker, what was kept before stays kept instead.
BenchSettings toKeep(const AppOptions& options, const BenchSettings& now, const BenchSettings& before) {
    BenchSettings keep;
    for (const BenchSettings::Meter& m : now.meters) {
        if (!givenOnCommandLine(options, m.name)) keep.meters.push_back(m);
    }
    for (const BenchSettings::Meter& m : before.meters) {
        if (givenOnCommandLine(options, m.name)) keep.meters.push_back(m);
    }
    for (const BenchSettings::Math& m : now.maths) {
        if (!givenOnCommandLine(options, m.name)) keep.maths.push_back(m);
    }
    for (const BenchSettings::Math& m : before.maths) {
        if (givenOnCommandLine(options, m.name)) keep.maths.push_back(m);
    }
    for (const QString& url : now.subscriptions) {
        if (!subscribedOnCommandLine(options, url) || before.subscriptions.contains(url))
            keep.subscriptions << url;
    }
    return keep;
}

// The kept bench, less what the command line names again: the command line wins for this run.
BenchSettings wantedOf(const AppOptions& options, const BenchSettings& kept) {
    BenchSettings wanted;
    for (const BenchSettings::Meter& m : kept.meters) {
        if (!givenOnCommandLine(options, m.name)) wanted.meters.push_back(m);
    }
    for (const BenchSettings::Math& m : kept.maths) {
        if (!givenOnCommandLine(options, m.name)) wanted.maths.push_back(m);
    }
    for (const QString& url : kept.subscriptions) {
        if (!subscribedOnCommandLine(options, url)) wanted.subscriptions << url;
    }
    return wanted;
}

}  // namespace

// Every meter first, kept and given, then every math channel: a kept one over a meter of the
// command line finds it, and one over a channel that is not there waits for it.
BenchWindowRun::BenchWindowRun(const AppOptions& options) : options_(options), session_(model_) {
    const char* password = std::getenv("DMMVIEW_MQTT_PASSWORD");
    BenchSettings wanted;
    if (!options.noSettings) {
        QSettings settings = userSettings();
        kept_ = loadBenchSettings(settings);
        wanted = wantedOf(options, kept_);
    }
    session_.restoreSources(wanted, password ? password : "", &problems_);
    applyBenchSources(options, session_, problems_);
    session_.restoreMaths(wanted, &problems_);
    applyBenchMaths(options, session_, problems_);
    if (options.recordPath) {
        QString error;
        if (!session_.startRecording(QString::fromStdString(*options.recordPath), &error)) problems_ << error;
    }
    // the page, the API and the instrument port over every channel, the address in the status bar
    if (options.serve.any()) {
        std::string error;
        serving_ = BenchServing::start(model_, options.serve, error);
        if (!serving_) problems_ << QString::fromStdString(error);
    }
    window_ = std::make_unique<BenchWindow>(session_);
    if (serving_) {
        const std::string page = serving_->server().pageAddress();
        auto* item = new ServeAddressItem(
            QString::fromStdString(page.empty() ? serving_->server().scpiAddress() : page), window_.get());
        item->setObjectName(QStringLiteral("ServeAddress"));
        window_->statusBar()->addPermanentWidget(item);
    }
    if (!options.noSettings) {
        window_->onBenchChanged = [this] {
            QSettings settings = userSettings();
            saveBenchSettings(settings, toKeep(options_, session_.settings(), kept_));
        };
    }
    alarms_ = std::make_unique<BenchAlarms>(*window_, model_);
}

BenchWindowRun::~BenchWindowRun() = default;

int BenchWindowRun::finish(int code) {
    alarms_.reset();
    window_.reset();
    QString error;
    if (!session_.finishRecording(&error)) {
        qWarning("%s", qPrintable(error));
        return exitStatus(ExitCode::Failed);
    }
    return code;
}

int runBenchWindow(const AppOptions& options) {
    BenchWindowRun run(options);
    run.window().resize(1000, 700);
    run.window().show();
    run.window().showProblems(run.problems());
    return run.finish(QApplication::exec());
}
