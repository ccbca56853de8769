#include "BenchAlarms.h"

#include "AlarmBanner.h"
#include "AlarmPrograms.h"
#include "BenchModel.h"
#include "BenchWindow.h"
#include "RulesDialog.h"

BenchAlarms::BenchAlarms(BenchWindow& window, BenchModel& model)
    : window_(window),
      model_(model),
      banner_(new AlarmBanner(window.centralWidget())),
      rules_(model, [this](int id, const AlarmEvent& e) {
          banner_->show(e);
          const auto program = programs_.find(id);
          if (program != programs_.end() && program->second) program->second->run(e);
      }) {
    window.onChannelRules = [this](int id) { edit(id); };
}

BenchAlarms::~BenchAlarms() {
    window_.onChannelRules = nullptr;
}

void BenchAlarms::edit(int channelId) {
    const ChannelInfo* channel = model_.channel(channelId);
    if (!channel) return;
    const std::optional<RuleForm> form =
        RulesDialog::edit(&window_, QObject::tr("Triggers and alarms: %1").arg(channel->name),
                          rules_.form(channelId), rules_.channelNames(), rules_.indexOf(channelId), false);
    if (!form) return;
    const Result<> set = apply(channelId, *form);
    if (!set) window_.showProblems({QString::fromStdString(set.error())});
}

Result<> BenchAlarms::apply(int channelId, const RuleForm& form) {
    const Result<> set = rules_.setRules(channelId, form);
    if (!set) return set;
    const QString program = form.program.trimmed();
    programs_[channelId] =
        program.isEmpty() ? nullptr : std::make_unique<AlarmPrograms>(program, [](const std::string& line) {
            qInfo("%s", line.c_str());
        });
    return {};
}
