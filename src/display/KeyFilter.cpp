#include "KeyFilter.h"

#include <QKeyEvent>

bool discardsKeyPress(const QKeyEvent& event, char16_t (*filter)(char16_t)) {
    if (event.type() != QEvent::KeyPress || event.text().isEmpty()) return false;
    switch (event.key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Delete:
            return false;
        default:
            return filter(event.text().at(0).unicode()) == 0;
    }
}
