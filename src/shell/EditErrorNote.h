#pragma once

#include <QString>

class QLineEdit;

// Says why the text of an edit is refused, in a note just below the edit, without taking the
// focus: every key typed goes on reaching the edit, so a number can be typed through its
// intermediate forms ("-", "-2-", ...) without losing keys to a message box. The note stays until
// the edit's text is accepted again.
namespace EditErrorNote {

void show(QLineEdit* edit, const QString& message);
void clear(QLineEdit* edit);
// the message shown for the edit, empty when there is none
QString text(const QLineEdit* edit);

}  // namespace EditErrorNote
