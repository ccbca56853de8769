#pragma once

#include <QString>
#include <QValidator>
#include <cstdint>
#include <optional>

// Turning the text of an alarm-limit edit into a limit, and the keys those edits accept.
namespace LimitRules {

// A decimal integer in the signed 32-bit range with an optional leading sign; nothing for any
// other text, the empty text and a lone sign (a value being typed) included.
std::optional<float> limitFromText(const QString& text);

// The conversion error shown for a text that is not an integer.
QString invalidIntegerMessage(const QString& text);

// Sets `limit` from `text` when it is an integer within the meter's count range, -fullScale to
// fullScale. Otherwise the limit keeps its value, `error` (when given) receives the reason and
// the result is false.
bool applyLimitText(const QString& text, int32_t fullScale, float& limit, QString* error = nullptr);

// Typed characters pass if they are digits, backspace (8), '+' or '-'; every other character
// becomes the null character, which discards it. The position in the text does not matter.
char16_t filterKey(char16_t key);

// Holds the text of a limit edit to the characters filterKey lets through, however they come:
// typed, pasted, or composed by an input method (dead keys, compose sequences), which sends no
// key presses for the key filter to see. A change that would bring in any other character is
// refused whole. Texts set by the program are not checked.
class LimitTextValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override;
};

}  // namespace LimitRules
