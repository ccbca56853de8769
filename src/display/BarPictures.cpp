#include "BarPictures.h"

#include <QEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace {

// The bar's own option, as its paint event fills it in (the call is protected).
struct OptionOf : QProgressBar {
    static QStyleOptionProgressBar of(const QProgressBar& bar) {
        QStyleOptionProgressBar option;
        (bar.*&OptionOf::initStyleOption)(&option);
        return option;
    }
};

}  // namespace

BarPictures::BarPictures(QProgressBar* bar) : QObject(bar), bar_(bar) {
    bar->installEventFilter(this);
}

BarPictures::Look BarPictures::lookNow() const {
    const int flags = (bar_->orientation() == Qt::Horizontal ? 1 : 0) | (bar_->invertedAppearance() ? 2 : 0) |
                      (bar_->isTextVisible() ? 4 : 0) | (bar_->isEnabled() ? 8 : 0) |
                      (bar_->isActiveWindow() ? 16 : 0) |
                      (bar_->layoutDirection() == Qt::RightToLeft ? 32 : 0);
    return {bar_->size(), bar_->devicePixelRatioF(),  bar_->minimum(), bar_->maximum(),
            flags,        bar_->palette().cacheKey(), bar_->font(),    bar_->style()};
}

// On a clear picture, with the painter set up as a widget's own painter is (pen, font and
// background of the widget), so that the style draws what it draws on the bar itself.
QPixmap BarPictures::draw() const {
    const qreal ratio = bar_->devicePixelRatioF();
    QPixmap picture(bar_->size() * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setPen(bar_->palette().color(bar_->foregroundRole()));
    painter.setBackground(bar_->palette().brush(bar_->backgroundRole()));
    painter.setFont(bar_->font());
    painter.setLayoutDirection(bar_->layoutDirection());
    const QStyleOptionProgressBar option = OptionOf::of(*bar_);
    bar_->style()->drawControl(QStyle::CE_ProgressBar, &option, &painter, bar_);
    return picture;
}

bool BarPictures::eventFilter(QObject* watched, QEvent* event) {
    if (watched != bar_ || event->type() != QEvent::Paint) return false;
    const Look look = lookNow();
    if (look != look_) {
        pictures_.clear();
        look_ = look;
    }
    auto shown = pictures_.find(bar_->value());
    if (shown == pictures_.end()) shown = pictures_.emplace(bar_->value(), draw()).first;
    QPainter painter(bar_);
    painter.drawPixmap(0, 0, shown->second);
    return true;
}
