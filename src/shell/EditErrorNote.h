#pragma once

#include <QString>

class QLineEdit;
class QWidget;

// Says why the text of an edit is refused, in a note beside the edit, without taking the focus:
// every key typed goes on reaching the edit, so a number can be typed through its intermediate
// forms ("-", "-2-", ...) without losing keys to a message box. The note stays until the edit's
// text is accepted again. It goes where it covers no other control, below the edit if there is
// room, else above, right or left of it; where there is no such place, the message shows in the
// edit's tooltip balloon while the edit has the focus. The edit is framed in red and keeps the
// message as its tooltip until its text is accepted.
namespace EditErrorNote {

void show(QLineEdit* edit, const QString& message);
void clear(QLineEdit* edit);
// the message shown for the edit, empty when there is none
QString text(const QLineEdit* edit);
// The window's controls moved: the notes shown find their places again.
void follow(QWidget* window);

}  // namespace EditErrorNote
