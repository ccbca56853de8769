#pragma once

#include <string>
#include <string_view>

// Pieces of JSON text written by hand where a writer object would cost more than the text.
namespace JsonText {

// `text` (UTF-8) as a quoted JSON string.
void appendString(std::string& out, std::string_view text);
// A number in NumberText's plain decimal form; null when it is not finite.
void appendNumber(std::string& out, double value);

}  // namespace JsonText
