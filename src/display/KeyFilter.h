#pragma once

class QKeyEvent;

// True for a key press that types a character `filter` turns into the null character, so the
// edit it is meant for discards it. Presses without text, the keys that move the focus and the
// Delete key (an editing key that some systems give text) are left alone. Pasted text is not
// filtered here.
bool discardsKeyPress(const QKeyEvent& event, char16_t (*filter)(char16_t));
