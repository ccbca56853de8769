// The window's triggers and alarms: the dialog from the Record menu, the rules engine between the
// readings and the record store, the banner, the alarm program and the alarm messages.
#include <QMenu>
#include <QMessageBox>

#include "AlarmBanner.h"
#include "AlarmMessage.h"
#include "AlarmPrograms.h"
#include "LocalClock.h"
#include "ModelProfiles.h"
#include "ReadingPublisher.h"
#include "ReadingState.h"
#include "RulesDialog.h"
#include "TFCOMM.h"
#include "ui_TFCOMM.h"

namespace {
constexpr int kRulesTickMs = 250;
}

void TFCOMM::bindRules() {
    auto* action = new QAction(tr("Triggers and alarms…"), this);
    action->setObjectName(QStringLiteral("TriggersAndAlarms"));
    ui_->Record1->addSeparator();
    ui_->Record1->addAction(action);
    connect(action, &QAction::triggered, this, &TFCOMM::editRules);
    alarmBanner_ = new AlarmBanner(centralWidget());
    rulesTick_.setInterval(kRulesTickMs);
    connect(&rulesTick_, &QTimer::timeout, this, [this] {
        if (rules_) rules_->tick();
    });
}

void TFCOMM::editRules() {
    const std::optional<RuleForm> form =
        RulesDialog::edit(this, tr("Triggers and alarms"), rulesForm_, rulesChannels(), 0, true);
    if (!form) return;
    // the dialog read the texts; what can still fail is the summary file
    const Result<> applied = applyRules(*form);
    if (!applied) QMessageBox::warning(this, windowTitle(), QString::fromStdString(applied.error()));
}

Result<> TFCOMM::applyRules(const RuleForm& form) {
    const Result<RuleSettings> settings = form.settings(rulesChannels(), 0);
    if (!settings) return Failure{settings.error()};
    auto summary = std::make_unique<SummaryFile>();
    std::string error;
    if (settings.value().summaryEveryUs && !summary->open(form.summaryPath.toStdString(), &error))
        return Failure{error};
    RulesEngine::Output out;
    out.record = [this](int, const MeterReading& reading, const std::string&) {
        store_.INDataToTable(recordedState(reading));
    };
    out.alarm = [this](const AlarmEvent& e) { alarmEvent(e); };
    out.summary = [s = summary.get()](const SummaryRow& row) { s->add(row); };
    Result<std::unique_ptr<RulesEngine>> engine = RulesEngine::create(
        settings.value(), rulesChannels(), 0, [] { return utcNowUsOfWindow(); }, out);
    if (!engine) return Failure{engine.error()};
    if (rules_) rules_->finish();
    rules_ = std::move(engine.value());
    rulesSummary_ = std::move(summary);
    rulesForm_ = form;
    delete alarmPrograms_;
    alarmPrograms_ =
        form.program.trimmed().isEmpty()
            ? nullptr
            : new AlarmPrograms(
                  form.program.trimmed(), [](const std::string& line) { qInfo("%s", line.c_str()); }, this);
    rulesGate_ = settings.value().gatesRecording() || settings.value().changePercent.has_value();
    if (form.empty()) {
        rules_.reset();
        rulesTick_.stop();
    } else {
        rulesTick_.start();
    }
    return {};
}

// The meter's one channel, named by its model; "value" in a condition reads it as well.
std::vector<QString> TFCOMM::rulesChannels() const {
    return {QString::fromStdString(checkedModelCaption(line_.controls()))};
}

int64_t TFCOMM::utcNowUsOfWindow() {
    return LocalClock::utcNowMs() * 1000;
}

// A reading for the record store: through the rules when they decide what is recorded.
void TFCOMM::offerToRules() {
    MeterReading reading;
    const int64_t at = line_.state().ReadingUtcUs != 0 ? line_.state().ReadingUtcUs : utcNowUsOfWindow();
    toReading_.fill(reading, line_.state(), at, checkedModelCaption(line_.controls()));
    if (!rulesGate_) store_.INDataToTable(line_.state());
    rules_->offer(0, reading);
}

void TFCOMM::alarmEvent(const AlarmEvent& e) {
    alarmBanner_->show(e);
    qInfo("%s", qPrintable(AlarmBanner::lineFor(e)));
    if (alarmPrograms_) alarmPrograms_->run(e);
    if (publisher_) {
        publisher_->client().publishRetained(
            options_.publish->url.prefix + "/" + publisher_->clientName() + "/alarm/" + e.name.toStdString(),
            alarmMessage(e));
    }
}
