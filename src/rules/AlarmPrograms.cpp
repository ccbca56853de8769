#include "AlarmPrograms.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>

#include "CsvExport.h"
#include "LocalClock.h"
#include "NumberText.h"

namespace {

// Output kept for the log, from the start; the rest is counted.
constexpr qsizetype kOutputKept = 4096;

std::string oneLine(QByteArray text) {
    text = text.trimmed();
    text.replace('\r', "");
    text.replace('\n', " | ");
    return text.toStdString();
}

}  // namespace

AlarmPrograms::AlarmPrograms(const QString& program, Log log, QObject* parent)
    : QObject(parent), program_(program), log_(std::move(log)) {}

AlarmPrograms::~AlarmPrograms() {
    for (auto& [name, slot] : slots_) {
        if (slot.process) {
            slot.process->disconnect();
            slot.process->kill();
            slot.process->waitForFinished(1000);
        }
    }
}

std::vector<std::pair<QString, QString>> AlarmPrograms::environmentOf(const AlarmEvent& e) {
    LocalClock zone;
    const LocalStamp at = zone.atReadingTime(e.utcUs);
    return {
        {"DMM_ALARM", e.name},
        {"DMM_STATE", e.entered ? QStringLiteral("entered") : QStringLiteral("left")},
        {"DMM_VALUE", QString::fromStdString(NumberText::of(e.value))},
        {"DMM_UNIT", e.unit},
        {"DMM_CHANNEL", e.channel},
        {"DMM_TIME", QString::fromStdString(CsvExport::dateTimeText(at.day, at.timeMs, at.utcOffsetMin))}};
}

void AlarmPrograms::run(const AlarmEvent& event) {
    Slot& slot = slots_[event.name];
    if (!slot.process) {
        start(slot, event);
        return;
    }
    if (slot.waiting)
        log_("alarm " + event.name.toStdString() + ": the program for '" +
             (slot.waiting->entered ? "entered" : "left") + "' was skipped: the one before is still running");
    slot.waiting = event;
}

void AlarmPrograms::start(Slot& slot, const AlarmEvent& event) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QStringList arguments;
    for (const auto& [name, value] : environmentOf(event)) {
        environment.insert(name, value);
        arguments << value;
    }
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setProgram(program_);
    process->setArguments(arguments);
    QProcess* p = process.get();
    const QString alarm = event.name;
    connect(p, &QProcess::readyRead, this, [this, p, alarm] {
        Slot& s = slots_[alarm];
        const QByteArray more = p->readAll();
        if (s.output.size() < kOutputKept) s.output += more.left(kOutputKept - s.output.size());
    });
    connect(p, &QProcess::finished, this, [this, alarm] { ended(alarm); });
    connect(p, &QProcess::errorOccurred, this, [this, alarm](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) ended(alarm);
    });
    slot.output.clear();
    slot.process = std::move(process);
    ++started_;
    p->start();
}

void AlarmPrograms::ended(const QString& alarm) {
    Slot& slot = slots_[alarm];
    if (!slot.process) return;
    std::unique_ptr<QProcess> p = std::move(slot.process);
    p->disconnect(this);
    const QByteArray rest = p->readAll();
    if (slot.output.size() < kOutputKept) slot.output += rest.left(kOutputKept - slot.output.size());
    std::string line = "alarm " + alarm.toStdString() + ": " + program_.toStdString();
    if (p->error() == QProcess::FailedToStart) {
        line += " could not be started: " + p->errorString().toStdString();
    } else if (p->exitStatus() == QProcess::CrashExit) {
        line += " ended by a signal";
    } else {
        line += " exited with " + std::to_string(p->exitCode());
    }
    const std::string output = oneLine(slot.output);
    if (!output.empty()) line += "; it said: " + output;
    log_(line);
    p.release()->deleteLater();
    if (slot.waiting) {
        const AlarmEvent next = *slot.waiting;
        slot.waiting.reset();
        start(slot, next);
    }
}

int AlarmPrograms::running() const {
    int n = 0;
    for (const auto& [name, slot] : slots_) n += slot.process ? 1 : 0;
    return n;
}

void AlarmPrograms::finish(std::chrono::milliseconds grace) {
    QElapsedTimer waited;
    waited.start();
    for (auto& [name, slot] : slots_) {
        slot.waiting.reset();
        if (!slot.process) continue;
        const qint64 left = std::max<qint64>(0, grace.count() - waited.elapsed());
        if (!slot.process->waitForFinished(int(left))) {
            log_("alarm " + name.toStdString() + ": " + program_.toStdString() +
                 " was still running at the end of the run and was ended");
            slot.process->kill();
            slot.process->waitForFinished(1000);
        }
        ended(name);
    }
}
