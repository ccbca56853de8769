#pragma once

class QKeyEvent;

// The keys the sampling-interval edit and the chart's points-per-page edit accept: digits and
// backspace. Pasted text is not filtered here.
namespace IntervalKeys {

// `RecordSITimeKeyPress`: digits and backspace (8) pass; every other character becomes the null
// character, which the edit discards.
char16_t RecordSITimeKeyPress(char16_t key);

// True for a key press that types a character RecordSITimeKeyPress discards. Presses without
// text, the focus keys and Delete are left alone.
bool discardsKeyPress(const QKeyEvent& event);

}  // namespace IntervalKeys
