#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// A unit as powers of the units it is made of: W is V·A, Ω is V/A, Wh is V·A·h. Units that are
// not made of others (Hz, F, °C, %) count as units of their own.
class DerivedUnit {
public:
    DerivedUnit() = default;
    // Takes apart a base unit as a reading carries it ("W" is V·A, "Ah" A·h).
    static DerivedUnit of(const QString& unit);

    DerivedUnit times(const DerivedUnit& other, double power = 1) const;
    DerivedUnit toThe(double power) const;
    bool operator==(const DerivedUnit& other) const { return powers_ == other.powers_; }
    bool operator!=(const DerivedUnit& other) const { return powers_ != other.powers_; }
    bool isNone() const { return powers_.empty(); }

    // The name: a named unit where there is one (V·A "W", V/A "Ω", V·A·h "Wh", A·h "Ah",
    // A/V "S"), otherwise the parts ("V²", "V·h", "A/Hz").
    QString name() const;

private:
    std::map<QString, double> powers_;
};

// A math channel's expression: + - * / over channel names and numbers, parentheses, abs(),
// sqrt() and integral() (the time integral in hours). Values are taken in base units; the result
// carries the unit derived from its inputs.
class BenchExpression {
public:
    struct Parsed {
        std::unique_ptr<BenchExpression> expression;  // null: refused
        QString error;
        int position = -1;  // 0-based character index of the fault
    };
    // The longest expression taken, in characters, and how deep parentheses, functions and signs
    // may nest: the parser and the computation go down the expression as deep as it nests.
    static constexpr int kMaxLength = 1000;
    static constexpr int kMaxDepth = 40;
    // What `channelOf` gives for the name of the channel being defined: it cannot read itself.
    static constexpr int kItself = -2;

    // `channelOf` gives the channel id of a name, -1 for none, kItself for the channel's own.
    static Parsed parse(const QString& text, const std::function<int(const QString&)>& channelOf);
    // The channel names the expression reads, each once in the order they appear; empty when it
    // has a fault of syntax.
    static QStringList names(const QString& text);
    ~BenchExpression();

    // The channels it reads, each once, in the order they first appear.
    const std::vector<int>& inputs() const { return inputs_; }

    struct Input {
        double value;  // base unit
        QString unit;
    };
    struct Result {
        double value;
        QString unit;
    };
    // Computes the value at `timeMs` from the latest value of each input; `input` gives nothing
    // for an input without a usable value (stale, overloaded, offline). Nothing is a gap: a
    // missing input, units that cannot be added, a division by zero, a root of a negative.
    // Integrals add the stretch since the last computation with a value, as a trapezoid.
    std::optional<Result> evaluate(qint64 timeMs, const std::function<std::optional<Input>(int)>& input);

    // Integrals start again from zero.
    void resetIntegrals();

    struct Node;

private:
    BenchExpression() = default;
    std::unique_ptr<Node> root_;
    std::vector<int> inputs_;
};
