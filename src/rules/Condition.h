#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "BenchExpression.h"
#include "Result.h"

// A condition over channels: an expression of the bench's language compared with a threshold,
// "value > 1.5", "abs(U) < 0.1", "P > 2 W", "value inside 1 V .. 2 V", "I outside 4 mA .. 20 mA".
// The expression may be left out ("> 60 °C" reads the rule's own channel). Values are compared in
// base units: a threshold with a unit is taken to its base unit (200 mA is 0.2 A) and must match
// the expression's unit; a threshold without one is a plain number in the base unit.
class Condition {
public:
    enum class Kind { Above, AtLeast, Below, AtMost, Inside, Outside };

    // `channelOf` gives the channel of a name, -1 for none; "value" (and a missing expression)
    // means `ownChannel`.
    static Result<std::unique_ptr<Condition>> parse(const QString& text,
                                                    const std::function<int(const QString&)>& channelOf,
                                                    int ownChannel);

    Kind kind() const { return kind_; }
    const QString& text() const { return text_; }
    const std::vector<int>& inputs() const { return expression_->inputs(); }
    // The unit of the threshold's base ("A" for "< 200 mA"); empty when written without one.
    const QString& unit() const { return unit_; }
    // One of the unit the threshold is written in, in its base unit (0.001 for mA).
    double scale() const { return scale_; }

    struct Value {
        double value;  // base unit
        QString unit;
    };
    // The expression's value from the latest inputs; nothing for a gap (an input missing or
    // overloaded) or a unit that is not the threshold's.
    std::optional<Value> evaluate(int64_t utcUs,
                                  const std::function<std::optional<BenchExpression::Input>(int)>& input);
    // Whether the last evaluation gave a value whose unit did not match the threshold's.
    bool unitMismatch() const { return unitMismatch_; }

    // Whether `value` is in the condition. `slack` widens the band the value may stay in once it
    // is there: a condition that holds is left only beyond the threshold moved by `slack`.
    bool holds(double value, double slack = 0) const;

    ~Condition();

private:
    Condition() = default;
    QString text_;
    std::unique_ptr<BenchExpression> expression_;
    Kind kind_ = Kind::Above;
    double low_ = 0;   // the threshold, or the band's lower end
    double high_ = 0;  // the band's upper end
    QString unit_;
    double scale_ = 1;
    bool unitMismatch_ = false;
};

// Whether a condition counts, followed reading by reading: it is entered when the value comes
// into the condition and has stayed there for the hold time, and left only when the value goes
// beyond the threshold by more than the hysteresis, so a noisy value near the threshold enters
// and leaves once. A reading without a value (an overload, a gap) changes nothing.
class ConditionState {
public:
    ConditionState(int64_t holdUs = 0, double hysteresis = 0) : holdUs_(holdUs), hysteresis_(hysteresis) {}

    enum class Change { None, Entered, Left };
    Change update(const Condition& condition, int64_t utcUs, double value);
    // The hold time may run out between readings.
    Change tick(int64_t utcUs);

    bool on() const { return on_; }
    void reset() { on_ = inside_ = false, since_.reset(); }

private:
    int64_t holdUs_;
    double hysteresis_;
    bool inside_ = false;  // the value is in the condition (with the hysteresis)
    bool on_ = false;      // and has been for the hold time
    std::optional<int64_t> since_;
};
