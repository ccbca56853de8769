#include "Condition.h"

#include <QRegularExpression>

#include "RuleText.h"

namespace {

// Where the comparison stands: its first character and length, and the kind.
struct Split {
    qsizetype at = -1;
    qsizetype length = 0;
    Condition::Kind kind = Condition::Kind::Above;
};

Split findComparison(const QString& text) {
    int depth = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == '[') ++depth;
        if (c == ']') --depth;
        if (depth > 0 || (c != '<' && c != '>')) continue;
        const bool orEqual = i + 1 < text.size() && text.at(i + 1) == '=';
        if (c == '>')
            return {i, orEqual ? 2 : 1, orEqual ? Condition::Kind::AtLeast : Condition::Kind::Above};
        return {i, orEqual ? 2 : 1, orEqual ? Condition::Kind::AtMost : Condition::Kind::Below};
    }
    static const QRegularExpression band(QStringLiteral("(^|\\s)(inside|outside)\\s"));
    const QRegularExpressionMatch m = band.match(text);
    if (!m.hasMatch()) return {};
    return {m.capturedStart(2), m.capturedLength(2),
            m.captured(2) == "inside" ? Condition::Kind::Inside : Condition::Kind::Outside};
}

}  // namespace

Condition::~Condition() = default;

Result<std::unique_ptr<Condition>> Condition::parse(const QString& text,
                                                    const std::function<int(const QString&)>& channelOf,
                                                    int ownChannel) {
    const Split split = findComparison(text);
    if (split.at < 0)
        return Failure{"a comparison is expected (>, <, >=, <=, inside or outside): " +
                       RuleText::quoted(text)};
    std::unique_ptr<Condition> c(new Condition);
    c->text_ = text.trimmed();
    c->kind_ = split.kind;

    QString left = text.left(split.at).trimmed();
    if (left.isEmpty()) left = QStringLiteral("value");
    BenchExpression::Parsed parsed = BenchExpression::parse(left, [&](const QString& name) {
        return name == QLatin1String("value") ? ownChannel : channelOf(name);
    });
    if (!parsed.expression)
        return Failure{"in " + RuleText::quoted(text) + ": " + parsed.error.toStdString() + " at character " +
                       std::to_string(parsed.position + 1)};
    c->expression_ = std::move(parsed.expression);

    const QString right = text.mid(split.at + split.length).trimmed();
    std::vector<RuleText::Quantity> ends;
    const bool band = split.kind == Kind::Inside || split.kind == Kind::Outside;
    const QStringList parts = band ? right.split(QStringLiteral("..")) : QStringList{right};
    if (band && parts.size() != 2) return Failure{"a band is written LOW .. HIGH: " + RuleText::quoted(text)};
    for (const QString& part : parts) {
        Result<RuleText::Quantity> q = RuleText::quantity(part);
        if (!q) return Failure{"in " + RuleText::quoted(text) + ": " + q.error()};
        ends.push_back(q.value());
    }
    // "1 .. 2 V": the unit written once applies to both ends
    if (band && ends[0].unit.isEmpty()) ends[0].unit = ends[1].unit;
    for (const RuleText::Quantity& q : ends) {
        if (q.baseUnit() != ends[0].baseUnit())
            return Failure{"the two ends of " + RuleText::quoted(text) + " are in different units"};
    }
    c->unit_ = ends[0].baseUnit();
    c->scale_ = ends[0].scale();
    c->low_ = ends[0].base();
    c->high_ = ends.back().base();
    if (c->low_ > c->high_)
        return Failure{"the band of " + RuleText::quoted(text) + " is written high to low"};
    return c;
}

std::optional<Condition::Value> Condition::evaluate(
    int64_t utcUs, const std::function<std::optional<BenchExpression::Input>(int)>& input) {
    const std::optional<BenchExpression::Result> r = expression_->evaluate(utcUs / 1000, input);
    if (!r) return std::nullopt;
    unitMismatch_ = !unit_.isEmpty() && DerivedUnit::of(r->unit) != DerivedUnit::of(unit_);
    if (unitMismatch_) return std::nullopt;
    return Value{r->value, r->unit};
}

bool Condition::holds(double v, double slack) const {
    switch (kind_) {
        case Kind::Above:
            return v > low_ - slack;
        case Kind::AtLeast:
            return v >= low_ - slack;
        case Kind::Below:
            return v < low_ + slack;
        case Kind::AtMost:
            return v <= low_ + slack;
        case Kind::Inside:
            return v >= low_ - slack && v <= high_ + slack;
        case Kind::Outside:
            return v < low_ + slack || v > high_ - slack;
    }
    return false;
}

ConditionState::Change ConditionState::update(const Condition& condition, int64_t utcUs, double value) {
    inside_ = condition.holds(value, inside_ ? hysteresis_ : 0);
    if (!inside_) {
        since_.reset();
        if (!on_) return Change::None;
        on_ = false;
        return Change::Left;
    }
    if (!since_) since_ = utcUs;
    return tick(utcUs);
}

ConditionState::Change ConditionState::tick(int64_t utcUs) {
    if (on_ || !inside_ || !since_ || utcUs - *since_ < holdUs_) return Change::None;
    on_ = true;
    return Change::Entered;
}
