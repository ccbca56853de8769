#include "EditErrorNote.h"

#include <QLabel>
#include <QLineEdit>
#include <algorithm>

namespace EditErrorNote {

namespace {

QString noteName(const QLineEdit* edit) { return edit->objectName() + QStringLiteral("Error"); }

QLabel* noteOf(const QLineEdit* edit) {
    QWidget* window = edit->window();
    return window ? window->findChild<QLabel*>(noteName(edit), Qt::FindDirectChildrenOnly) : nullptr;
}

}  // namespace

void show(QLineEdit* edit, const QString& message) {
    QWidget* window = edit->window();
    QLabel* note = noteOf(edit);
    if (!note) {
        note = new QLabel(window);
        note->setObjectName(noteName(edit));
        note->setFocusPolicy(Qt::NoFocus);
        note->setAttribute(Qt::WA_TransparentForMouseEvents);
        note->setStyleSheet(QStringLiteral(
            "QLabel { background: #FFFFE1; color: #B00000; border: 1px solid #B00000; padding: 1px 3px; }"));
    }
    note->setText(message);
    note->adjustSize();
    // below the edit, kept inside the window; above it when there is no room below
    QPoint at = edit->mapTo(window, QPoint(0, edit->height() + 1));
    if (at.y() + note->height() > window->height()) at.ry() -= edit->height() + note->height() + 2;
    at.setX(std::max(0, std::min(at.x(), window->width() - note->width())));
    note->move(at);
    note->raise();
    note->show();
}

void clear(QLineEdit* edit) {
    if (QLabel* note = noteOf(edit)) note->hide();
}

QString text(const QLineEdit* edit) {
    const QLabel* note = noteOf(edit);
    return note && !note->isHidden() ? note->text() : QString();
}

}  // namespace EditErrorNote
