#include "EditErrorNote.h"

#include <QAbstractScrollArea>
#include <QLabel>
#include <QLineEdit>
#include <QToolTip>
#include <QVector>
#include <algorithm>
#include <optional>

namespace EditErrorNote {

namespace {

// Longer messages wrap onto a second line rather than reach across the window.
constexpr int kNoteWidth = 240;
const char* const kRefusedProperty = "refusedText";

QString noteName(const QLineEdit* edit) {
    return edit->objectName() + QStringLiteral("Error");
}

QLabel* noteOf(const QLineEdit* edit) {
    QWidget* window = edit->window();
    return window ? window->findChild<QLabel*>(noteName(edit), Qt::FindDirectChildrenOnly) : nullptr;
}

// What a note must not lie over: every control shown in the window (a widget without shown
// children, or a scrolled view as a whole) and the other notes.
void collectControls(const QWidget* widget, const QWidget* window, const QWidget* note, QVector<QRect>& out) {
    bool hasShownChild = false;
    if (!qobject_cast<const QAbstractScrollArea*>(widget)) {
        for (const QObject* child : widget->children()) {
            const auto* w = qobject_cast<const QWidget*>(child);
            if (!w || w == note || w->isWindow() || w->isHidden()) continue;
            hasShownChild = true;
            collectControls(w, window, note, out);
        }
    }
    if (widget != window && !hasShownChild)
        out.append(QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()));
}

// The first place beside the edit, below it first, where the note lies inside the window and
// over no control; nothing when there is none.
std::optional<QPoint> freePlace(const QLineEdit* edit, const QLabel* note) {
    QWidget* window = edit->window();
    QVector<QRect> controls;
    collectControls(window, window, note, controls);
    const QRect field(edit->mapTo(window, QPoint(0, 0)), edit->size());
    const QSize size = note->size();
    const QPoint candidates[] = {
        {field.left(), field.bottom() + 2},
        {field.right() - size.width() + 1, field.bottom() + 2},
        {field.left(), field.top() - size.height() - 1},
        {field.right() - size.width() + 1, field.top() - size.height() - 1},
        {field.right() + 3, field.top()},
        {field.right() + 3, field.bottom() - size.height() + 1},
        {field.left() - size.width() - 2, field.top()},
        {field.left() - size.width() - 2, field.bottom() - size.height() + 1},
    };
    for (const QPoint at : candidates) {
        const QRect place(at, size);
        if (!window->rect().contains(place)) continue;
        bool free = true;
        for (const QRect& control : controls) free = free && !control.intersects(place);
        if (free) return at;
    }
    return std::nullopt;
}

void place(QLineEdit* edit, QLabel* note) {
    note->hide();  // not an obstacle to itself
    const std::optional<QPoint> at = freePlace(edit, note);
    // The field is framed in red and carries the message as its tooltip. With no free place for
    // the note, the message shows in the field's own balloon while it is being typed in.
    edit->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid #B00000; }"));
    edit->setToolTip(note->text());
    if (!at) {
        if (edit->hasFocus())
            QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), note->text(), edit);
        return;
    }
    note->move(*at);
    note->raise();
    note->show();
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
        note->setWordWrap(true);
        note->setStyleSheet(QStringLiteral(
            "QLabel { background: #FFFFE1; color: #B00000; border: 1px solid #B00000; padding: 1px 3px; }"));
    }
    note->setText(message);
    note->setProperty(kRefusedProperty, true);
    note->setFixedWidth(std::min(kNoteWidth, note->sizeHint().width()));
    note->setFixedHeight(note->heightForWidth(note->width()));
    place(edit, note);
}

void clear(QLineEdit* edit) {
    QLabel* note = noteOf(edit);
    if (!note || !note->property(kRefusedProperty).toBool()) return;
    note->setProperty(kRefusedProperty, false);
    note->hide();
    if (QToolTip::isVisible() && QToolTip::text() == note->text()) QToolTip::hideText();
    edit->setStyleSheet(QString());
    edit->setToolTip(QString());
}

QString text(const QLineEdit* edit) {
    const QLabel* note = noteOf(edit);
    return note && note->property(kRefusedProperty).toBool() ? note->text() : QString();
}

void follow(QWidget* window) {
    for (QLabel* note : window->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (!note->property(kRefusedProperty).toBool()) continue;
        QString name = note->objectName();
        name.chop(5);  // "Error"
        if (auto* edit = window->findChild<QLineEdit*>(name)) place(edit, note);
    }
}

}  // namespace EditErrorNote
