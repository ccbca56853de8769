#include "BenchExpression.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

// --- units ---

namespace {

// Named units and what they are made of, the named one preferred when a result matches it.
struct NamedUnit {
    const char* name;
    std::map<QString, double> powers;
};
const std::vector<NamedUnit>& namedUnits() {
    static const std::vector<NamedUnit> units = {
        {"W", {{"V", 1}, {"A", 1}}},
        {"\u03A9", {{"V", 1}, {"A", -1}}},
        {"Wh", {{"V", 1}, {"A", 1}, {"h", 1}}},
        {"Ah", {{"A", 1}, {"h", 1}}},
        {"S", {{"V", -1}, {"A", 1}}},
    };
    return units;
}

QString powerText(double power) {
    if (power == 2) return QStringLiteral("\u00B2");
    if (power == 3) return QStringLiteral("\u00B3");
    return '^' + QString::number(power);
}

}  // namespace

DerivedUnit DerivedUnit::of(const QString& unit) {
    DerivedUnit u;
    if (unit.isEmpty()) return u;
    for (const NamedUnit& n : namedUnits()) {
        if (unit == QString::fromUtf8(n.name)) {
            u.powers_ = n.powers;
            return u;
        }
    }
    u.powers_[unit] = 1;
    return u;
}

DerivedUnit DerivedUnit::times(const DerivedUnit& other, double power) const {
    DerivedUnit u = *this;
    for (const auto& [symbol, p] : other.powers_) {
        const double sum = (u.powers_[symbol] += p * power);
        if (sum == 0) u.powers_.erase(symbol);
    }
    return u;
}

DerivedUnit DerivedUnit::toThe(double power) const {
    DerivedUnit u;
    for (const auto& [symbol, p] : powers_) u.powers_[symbol] = p * power;
    return u;
}

QString DerivedUnit::name() const {
    for (const NamedUnit& n : namedUnits()) {
        if (powers_ == n.powers) return QString::fromUtf8(n.name);
    }
    // volts and amperes first, as they are read aloud
    QStringList symbols;
    for (const auto& entry : powers_) symbols << entry.first;
    std::stable_sort(symbols.begin(), symbols.end(), [](const QString& a, const QString& b) {
        auto rank = [](const QString& s) { return s == "V" ? 0 : s == "A" ? 1 : 2; };
        return rank(a) < rank(b);
    });
    QStringList above, below;
    for (const QString& s : symbols) {
        const double p = powers_.at(s);
        if (p > 0)
            above << (p == 1 ? s : s + powerText(p));
        else
            below << (p == -1 ? s : s + powerText(-p));
    }
    QString text = above.isEmpty() ? QStringLiteral("1") : above.join(QChar(0x00B7));
    if (!below.isEmpty()) text += '/' + below.join(QChar(0x00B7));
    return above.isEmpty() && below.isEmpty() ? QString() : text;
}

// --- syntax ---

struct BenchExpression::Node {
    enum Kind { Number, Channel, Add, Sub, Mul, Div, Neg, Abs, Sqrt, Integral } kind;
    double number = 0;
    int channel = -1;
    std::unique_ptr<Node> a, b;
    // an integral's memory
    bool hasLast = false;
    qint64 lastMs = 0;
    double lastValue = 0;
    double sum = 0;
};

namespace {

using Node = BenchExpression::Node;

struct Fault {
    QString error;
    int position;
};

class Parser {
public:
    Parser(const QString& text, const std::function<int(const QString&)>& channelOf, std::vector<int>& inputs)
        : text_(text), channelOf_(channelOf), inputs_(inputs) {}

    std::unique_ptr<Node> whole() {
        if (text_.size() > BenchExpression::kMaxLength) {
            pos_ = BenchExpression::kMaxLength;
            return fail(QStringLiteral("longer than %1 characters").arg(BenchExpression::kMaxLength));
        }
        auto node = sum();
        skipSpace();
        if (node && pos_ < text_.size())
            fail(text_.at(pos_) == ')' ? "')' without its '('" : "operator expected");
        return fault_ ? nullptr : std::move(node);
    }
    const std::optional<Fault>& fault() const { return fault_; }

private:
    std::unique_ptr<Node> fail(const QString& error) {
        if (!fault_) fault_ = Fault{error, static_cast<int>(pos_)};
        return nullptr;
    }
    void skipSpace() {
        while (pos_ < text_.size() && text_.at(pos_).isSpace()) ++pos_;
    }
    bool take(QChar c) {
        skipSpace();
        if (pos_ < text_.size() && text_.at(pos_) == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    static std::unique_ptr<Node> make(Node::Kind kind, std::unique_ptr<Node> a = {},
                                      std::unique_ptr<Node> b = {}) {
        auto n = std::make_unique<Node>();
        n->kind = kind;
        n->a = std::move(a);
        n->b = std::move(b);
        return n;
    }

    std::unique_ptr<Node> sum() {
        auto left = product();
        while (left) {
            if (take('+'))
                left = make(Node::Add, std::move(left), product());
            else if (take('-'))
                left = make(Node::Sub, std::move(left), product());
            else
                break;
            if (!left->b) return nullptr;
        }
        return left;
    }
    std::unique_ptr<Node> product() {
        auto left = unary();
        while (left) {
            if (take('*'))
                left = make(Node::Mul, std::move(left), unary());
            else if (take('/'))
                left = make(Node::Div, std::move(left), unary());
            else
                break;
            if (!left->b) return nullptr;
        }
        return left;
    }
    // Each sign, parenthesis and function goes one level deeper, as far as kMaxDepth.
    struct Deeper {
        explicit Deeper(int& depth) : depth_(depth) { ++depth_; }
        ~Deeper() { --depth_; }
        int& depth_;
    };
    bool tooDeep() {
        if (depth_ <= BenchExpression::kMaxDepth) return false;
        fail(QStringLiteral("nested more than %1 deep").arg(BenchExpression::kMaxDepth));
        return true;
    }

    std::unique_ptr<Node> unary() {
        const Deeper level(depth_);
        if (tooDeep()) return nullptr;
        if (take('-')) {
            auto operand = unary();
            return operand ? make(Node::Neg, std::move(operand)) : nullptr;
        }
        if (take('+')) return unary();
        return primary();
    }
    std::unique_ptr<Node> primary() {
        skipSpace();
        if (pos_ >= text_.size()) return fail("value expected");
        const QChar c = text_.at(pos_);
        if (c == '(') {
            ++pos_;
            auto inner = sum();
            if (!inner) return nullptr;
            if (!take(')')) return fail("')' expected");
            return inner;
        }
        if (c.isDigit() || c == '.') return number();
        if (c == '[') return bracketedName();
        if (c.isLetter() || c == '_') return word();
        return fail(QStringLiteral("unexpected '%1'").arg(c));
    }
    std::unique_ptr<Node> number() {
        const qsizetype start = pos_;
        while (pos_ < text_.size() && (text_.at(pos_).isDigit() || text_.at(pos_) == '.')) ++pos_;
        // an exponent only when digits follow it, so "2e" is refused where it stands
        if (pos_ < text_.size() && (text_.at(pos_) == 'e' || text_.at(pos_) == 'E')) {
            qsizetype p = pos_ + 1;
            if (p < text_.size() && (text_.at(p) == '+' || text_.at(p) == '-')) ++p;
            if (p < text_.size() && text_.at(p).isDigit()) {
                while (p < text_.size() && text_.at(p).isDigit()) ++p;
                pos_ = p;
            }
        }
        bool ok = false;
        const double value = text_.mid(start, pos_ - start).toDouble(&ok);
        if (!ok) {
            pos_ = start;
            return fail("not a number");
        }
        auto n = make(Node::Number);
        n->number = value;
        return n;
    }
    std::unique_ptr<Node> word() {
        const qsizetype start = pos_;
        while (pos_ < text_.size() && (text_.at(pos_).isLetterOrNumber() || text_.at(pos_) == '_')) ++pos_;
        const QString name = text_.mid(start, pos_ - start);
        skipSpace();
        if (pos_ < text_.size() && text_.at(pos_) == '(') {
            Node::Kind kind;
            if (name == "abs")
                kind = Node::Abs;
            else if (name == "sqrt")
                kind = Node::Sqrt;
            else if (name == "integral")
                kind = Node::Integral;
            else {
                pos_ = start;
                return fail(QStringLiteral("unknown function '%1'").arg(name));
            }
            ++pos_;
            auto inner = sum();
            if (!inner) return nullptr;
            if (!take(')')) return fail("')' expected");
            return make(kind, std::move(inner));
        }
        return channel(name, start);
    }
    // A name that is not a plain word, such as a broker client's "KR31G-ttyUSB0", in brackets.
    std::unique_ptr<Node> bracketedName() {
        const qsizetype start = pos_;
        const qsizetype end = text_.indexOf(']', start + 1);
        if (end < 0) return fail("']' expected");
        pos_ = end + 1;
        return channel(text_.mid(start + 1, end - start - 1), start);
    }
    std::unique_ptr<Node> channel(const QString& name, qsizetype start) {
        const int id = channelOf_(name);
        if (id == BenchExpression::kItself) {
            pos_ = start;
            return fail(QStringLiteral("'%1' cannot read itself").arg(name));
        }
        if (id < 0) {
            pos_ = start;
            return fail(QStringLiteral("no channel named '%1'").arg(name));
        }
        if (std::find(inputs_.begin(), inputs_.end(), id) == inputs_.end()) inputs_.push_back(id);
        auto n = make(Node::Channel);
        n->channel = id;
        return n;
    }

    const QString& text_;
    const std::function<int(const QString&)>& channelOf_;
    std::vector<int>& inputs_;
    qsizetype pos_ = 0;
    int depth_ = 0;
    std::optional<Fault> fault_;
};

// A value on its way through the expression: a number given in the expression has no unit of
// its own and takes the unit of what it is added to (U - 0.5 is in volts).
struct Value {
    double number;
    DerivedUnit unit;
    bool literal = false;
};

using Inputs = std::function<std::optional<BenchExpression::Input>(int)>;

std::optional<Value> evaluateNode(Node& n, qint64 timeMs, const Inputs& input) {
    switch (n.kind) {
        case Node::Number:
            return Value{n.number, {}, true};
        case Node::Channel: {
            const auto in = input(n.channel);
            if (!in) return std::nullopt;
            return Value{in->value, DerivedUnit::of(in->unit)};
        }
        case Node::Neg:
        case Node::Abs:
        case Node::Sqrt: {
            auto v = evaluateNode(*n.a, timeMs, input);
            if (!v) return std::nullopt;
            if (n.kind == Node::Neg)
                v->number = -v->number;
            else if (n.kind == Node::Abs)
                v->number = std::fabs(v->number);
            else if (v->number < 0)
                return std::nullopt;
            else {
                v->number = std::sqrt(v->number);
                v->unit = v->unit.toThe(0.5);
            }
            return v;
        }
        case Node::Integral: {
            const auto v = evaluateNode(*n.a, timeMs, input);
            if (!v) {
                // the stretch without a value is left out, not bridged
                n.hasLast = false;
                return std::nullopt;
            }
            if (n.hasLast && timeMs > n.lastMs)
                n.sum += (n.lastValue + v->number) / 2 * double(timeMs - n.lastMs) / 3600000.0;
            if (!n.hasLast || timeMs >= n.lastMs) {
                n.hasLast = true;
                n.lastMs = timeMs;
                n.lastValue = v->number;
            }
            return Value{n.sum, v->unit.times(DerivedUnit::of("h"))};
        }
        default:
            break;
    }
    const auto a = evaluateNode(*n.a, timeMs, input);
    const auto b = evaluateNode(*n.b, timeMs, input);
    if (!a || !b) return std::nullopt;
    switch (n.kind) {
        case Node::Add:
        case Node::Sub: {
            if (!a->literal && !b->literal && a->unit != b->unit) return std::nullopt;
            const double number = n.kind == Node::Add ? a->number + b->number : a->number - b->number;
            return Value{number, a->literal ? b->unit : a->unit, a->literal && b->literal};
        }
        case Node::Mul:
            return Value{a->number * b->number, a->unit.times(b->unit), a->literal && b->literal};
        case Node::Div:
            if (b->number == 0) return std::nullopt;
            return Value{a->number / b->number, a->unit.times(b->unit, -1), a->literal && b->literal};
        default:
            return std::nullopt;
    }
}

void resetNode(Node& n) {
    if (n.kind == Node::Integral) {
        n.hasLast = false;
        n.sum = 0;
    }
    if (n.a) resetNode(*n.a);
    if (n.b) resetNode(*n.b);
}

}  // namespace

BenchExpression::~BenchExpression() = default;

BenchExpression::Parsed BenchExpression::parse(const QString& text,
                                               const std::function<int(const QString&)>& channelOf) {
    Parsed parsed;
    std::unique_ptr<BenchExpression> expression(new BenchExpression);
    Parser parser(text, channelOf, expression->inputs_);
    expression->root_ = parser.whole();
    if (!expression->root_) {
        const Fault fault = parser.fault().value_or(Fault{"value expected", 0});
        parsed.error = fault.error;
        parsed.position = fault.position;
        return parsed;
    }
    parsed.expression = std::move(expression);
    return parsed;
}

QStringList BenchExpression::names(const QString& text) {
    QStringList found;
    const Parsed parsed = parse(text, [&found](const QString& name) {
        if (!found.contains(name)) found << name;
        return int(found.size());
    });
    return parsed.expression ? found : QStringList();
}

std::optional<BenchExpression::Result> BenchExpression::evaluate(qint64 timeMs, const Inputs& input) {
    const auto v = evaluateNode(*root_, timeMs, input);
    if (!v || !std::isfinite(v->number)) return std::nullopt;
    return Result{v->number, v->unit.name()};
}

void BenchExpression::resetIntegrals() {
    resetNode(*root_);
}
