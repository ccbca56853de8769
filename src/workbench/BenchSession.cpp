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
    BenchModel::MathAdded added = model_.addMath(name, expression);
    if (added.id >= 0 || brokers_.empty()) return added;
    // sound, with every name taken as known: it only waits for meters still to be found
    const auto syntax = BenchExpression::parse(expression, [](const QString&) { return 0; });
    const bool nameFree = model_.checkNewName(name).isEmpty();
    if (!syntax.expression || !nameFree) return added;
    waiting_.push_back({name, expression});
    return BenchModel::MathAdded{};
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
    for (const BenchSettings::Math& m : settings.maths) {
        const BenchModel::MathAdded added = addMath(m.name, m.expression);
        if (added.id < 0 && !added.error.isEmpty()) note(m.name + "=" + m.expression + ": " + added.error);
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
