#include "IntervalKeys.h"

#include <QKeyEvent>

namespace IntervalKeys {

char16_t RecordSITimeKeyPress(char16_t key) {
    if ((key >= u'0' && key <= u'9') || key == 8) return key;
    return 0;
}

bool discardsKeyPress(const QKeyEvent& event) {
    if (event.type() != QEvent::KeyPress || event.text().isEmpty()) return false;
    switch (event.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return false;
    default:
        return RecordSITimeKeyPress(event.text().at(0).unicode()) == 0;
    }
}

}  // namespace IntervalKeys
