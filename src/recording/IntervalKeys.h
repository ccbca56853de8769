#pragma once

// The keys the sampling-interval edit and the chart's points-per-page edit accept: digits and
// backspace. Pasted text is not filtered here.
namespace IntervalKeys {

// `RecordSITimeKeyPress`: digits and backspace (8) pass; every other character becomes the null
// character, which the edit discards.
char16_t RecordSITimeKeyPress(char16_t key);

}  // namespace IntervalKeys
