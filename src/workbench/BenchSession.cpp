#include "BenchSession.h"

#include "BenchExpression.h"
#include "BenchRecorder.h"

BenchSession::BenchSession(BenchModel& model, QObject* parent) : QObject(parent), model_(model) {
    connect(&model_, &BenchModel::channelAdded, this, [this] { retryWaiting(); });
}

BenchSession::~BenchSession() {
    finishRecording();
}

LocalMeterSource* BenchSession::addLocalMeter(const LocalMeterChoice& choice, QString* error,
                                              bool keepWhenClosed) {
    const QString refusal = model_.checkNewName(choice.name);
    if (!refusal.isEmpty()) {
        if (error) *error = choice.name + ": " + refusal;
        return nullptr;
    }
    auto source = std::make_unique<LocalMeterSource>(choice, model_);
    if (!source->start(error)) {
        if (!keepWhenClosed || source->channelId() < 0) {
            model_.removeChannel(source->channelId());
            return nullptr;
        }
        source->keepTrying();
    }
    local_.push_back(std::move(source));
    return local_.back().get();
}

BrokerMeterSource* BenchSession::addBroker(const SubscribeRequest& request) {
    brokers_.push_back(std::make_unique<BrokerMeterSource>(request, model_));
    brokerRequests_.push_back(request);
    brokers_.back()->start();
    return brokers_.back().get();
}

BenchModel::MathAdded BenchSession::addMath(const QString& name, const QString& expression) {
    return addMath(name, expression, !brokers_.empty());
}

BenchModel::MathAdded BenchSession::addMath(const QString& name, const QString& expression, bool mayWait) {
    BenchModel::MathAdded added = model_.addMath(name, expression);
    if (added.id >= 0 || !mayWait) return added;
    // sound, with every other name taken as known: it only waits for channels still to come
    const auto syntax = BenchExpression::parse(
        expression, [&name](const QString& n) { return n == name ? BenchExpression::kItself : 0; });
    if (!syntax.expression) return {-1, syntax.error, syntax.position};
    if (!model_.checkNewName(name).isEmpty() || waitingIndex(name) >= 0) return added;
    const QStringList loop = waitingLoop(name, BenchExpression::names(expression));
    if (!loop.isEmpty()) {
        added.error = tr("the channels read each other: %1").arg(loop.join(QStringLiteral(" \u2192 ")));
        added.position = -1;
        return added;
    }
    waiting_.push_back({name, expression});
    return BenchModel::MathAdded{};
}

int BenchSession::waitingIndex(const QString& name) const {
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        if (waiting_[i].name == name) return int(i);
    }
    return -1;
}

// The waiting channels that lead from `reads` back to `name`, as "name → A → B → name"; empty
// when none does. Channels of the model read nothing that waits, so a loop runs through waiting
// ones only.
QStringList BenchSession::waitingLoop(const QString& name, const QStringList& reads) const {
    for (const QString& next : reads) {
        if (next == name) return {name, name};
        const int w = waitingIndex(next);
        if (w < 0) continue;
        QStringList path = waitingLoopFrom(next, name, {name});
        if (!path.isEmpty()) return path;
    }
    return {};
}

QStringList BenchSession::waitingLoopFrom(const QString& at, const QString& name, QStringList path) const {
    if (path.contains(at)) return {};  // a loop of others, refused when it was made
    path << at;
    const int w = waitingIndex(at);
    if (w < 0) return {};
    for (const QString& next : BenchExpression::names(waiting_[std::size_t(w)].expression)) {
        if (next == name) return path << name;
        const QStringList found = waitingLoopFrom(next, name, path);
        if (!found.isEmpty()) return found;
    }
    return {};
}

QStringList BenchSession::waitingMaths() const {
    QStringList list;
    for (const Waiting& w : waiting_) list << w.name + '=' + w.expression;
    return list;
}

void BenchSession::retryWaiting() {
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        const Waiting w = waiting_[i];
        waiting_.erase(waiting_.begin() + std::ptrdiff_t(i));
        // once added, its own announcement has tried the others (it may be the input they wait for)
        if (model_.addMath(w.name, w.expression).id >= 0) return;
        waiting_.insert(waiting_.begin() + std::ptrdiff_t(i), w);
    }
}

void BenchSession::removeChannel(int id) {
    for (auto it = local_.begin(); it != local_.end(); ++it) {
        if ((*it)->channelId() == id) {
            local_.erase(it);
            break;
        }
    }
    model_.removeChannel(id);
}

bool BenchSession::startRecording(const QString& path, QString* error) {
    finishRecording();
    recorder_ = std::make_unique<BenchRecorder>(model_, path);
    if (recorder_->start(error)) return true;
    recorder_.reset();
    return false;
}

bool BenchSession::finishRecording(QString* error) {
    if (!recorder_) return true;
    const bool ok = recorder_->finish(error);
    return ok;
}

void BenchSession::restore(const BenchSettings& settings, const std::string& password, QStringList* errors) {
    restoreSources(settings, password, errors);
    restoreMaths(settings, errors);
}

void BenchSession::restoreSources(const BenchSettings& settings, const std::string& password,
                                  QStringList* errors) {
    auto note = [errors](const QString& line) {
        if (errors) *errors << line;
    };
    for (const BenchSettings::Meter& m : settings.meters) {
        QString error;
        const LocalMeterChoice choice{m.name, m.model.toStdString(), m.variant, m.path.toStdString()};
        LocalMeterSource* source = addLocalMeter(choice, &error, true);
        if (!source)
            note(m.name + ": " + error);
        else if (!error.isEmpty())
            note(m.name + ": " + error + tr(" (tried again every two seconds)"));
    }
    for (const QString& url : settings.subscriptions) {
        std::string why;
        const auto parsed = parseBrokerUrl(url.toStdString(), why);
        if (!parsed) {
            note(url + ": " + QString::fromStdString(why));
            continue;
        }
        SubscribeRequest request;
        request.url = *parsed;
        request.password = password;
        addBroker(request);
    }
}

void BenchSession::restoreMaths(const BenchSettings& settings, QStringList* errors) {
    // kept ones wait for a channel not there (yet): the list stays whole for the next run
    for (const BenchSettings::Math& m : settings.maths) {
        const BenchModel::MathAdded added = addMath(m.name, m.expression, true);
        if (added.id < 0 && !added.error.isEmpty() && errors)
            *errors << m.name + "=" + m.expression + ": " + added.error;
    }
}

BenchSettings BenchSession::settings() const {
    BenchSettings s;
    for (const auto& meter : local_) {
        const LocalMeterChoice& choice = meter->choice();
        s.meters.push_back({choice.name, QString::fromStdString(choice.model), choice.variant,
                            QString::fromStdString(choice.path)});
    }
    for (const int id : model_.channelIds()) {
        const ChannelInfo* ch = model_.channel(id);
        if (ch->kind == ChannelKind::Math) s.maths.push_back({ch->name, ch->expression});
    }
    for (const Waiting& w : waiting_) s.maths.push_back({w.name, w.expression});
    for (const SubscribeRequest& r : brokerRequests_)
        s.subscriptions << QString::fromStdString(r.url.display() + "/" + r.url.prefix);
    return s;
}
