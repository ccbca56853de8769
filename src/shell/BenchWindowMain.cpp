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
void restore(const AppOptions& options, const BenchSettings& kept, BenchSession& session,
             QStringList& problems) {
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
    const char* password = std::getenv("DMMVIEW_MQTT_PASSWORD");
    session.restore(wanted, password ? password : "", &problems);
}

}  // namespace

int runBenchWindow(const AppOptions& options) {
    BenchModel model;
    BenchSession session(model);
    QStringList problems;
    BenchSettings kept;
    if (!options.noSettings) {
        QSettings settings = userSettings();
        kept = loadBenchSettings(settings);
        restore(options, kept, session, problems);
    }
    applyBenchOptions(options, session, problems);
    if (options.recordPath) {
        QString error;
        if (!session.startRecording(QString::fromStdString(*options.recordPath), &error)) problems << error;
    }
    // the page, the API and the instrument port over every channel, the address in the status bar
    std::unique_ptr<BenchServing> serving;
    if (options.serve.any()) {
        std::string error;
        serving = BenchServing::start(model, options.serve, error);
        if (!serving) problems << QString::fromStdString(error);
    }
    BenchWindow window(session);
    if (serving) {
        const std::string page = serving->server().pageAddress();
        auto* item = new ServeAddressItem(
            QString::fromStdString(page.empty() ? serving->server().scpiAddress() : page), &window);
        item->setObjectName(QStringLiteral("ServeAddress"));
        window.statusBar()->addPermanentWidget(item);
    }
    if (!options.noSettings) {
        window.onBenchChanged = [&] {
            QSettings settings = userSettings();
            saveBenchSettings(settings, toKeep(options, session.settings(), kept));
        };
    }
    BenchAlarms alarms(window, model);
    window.resize(1000, 700);
    window.show();
    window.showProblems(problems);
    const int code = QApplication::exec();
    QString error;
    if (!session.finishRecording(&error)) {
        qWarning("%s", qPrintable(error));
        return exitStatus(ExitCode::Failed);
    }
    return code;
}
