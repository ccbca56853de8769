#include "AlarmBanner.h"

#include <QDateTime>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

#include "BenchUnits.h"

AlarmBanner::AlarmBanner(QWidget* host) : QFrame(host), label_(new QLabel(this)) {
    setObjectName(QStringLiteral("AlarmBanner"));
    setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 4, 4);
    label_->setWordWrap(true);
    row->addWidget(label_, 1);
    auto* close = new QToolButton(this);
    close->setText(QStringLiteral("\u00D7"));
    close->setAutoRaise(true);
    close->setToolTip(tr("Close"));
    connect(close, &QToolButton::clicked, this, &QWidget::hide);
    row->addWidget(close, 0, Qt::AlignTop);
    host->installEventFilter(this);
    hide();
}

QString AlarmBanner::lineFor(const AlarmEvent& e) {
    const QString time = QDateTime::fromMSecsSinceEpoch(e.utcUs / 1000).toString(QStringLiteral("HH:mm:ss"));
    QString line = tr("Alarm %1 %2 at %3").arg(e.name, e.entered ? tr("entered") : tr("left"), time);
    if (e.value == e.value)
        line += QStringLiteral(": %1 %2").arg(e.channel, BenchUnits::formatSi(e.value, e.unit));
    return line + QStringLiteral(" (%1)").arg(e.condition);
}

void AlarmBanner::show(const AlarmEvent& e) {
    active_.removeAll(e.name);
    if (e.entered) active_ << e.name;
    QString text = lineFor(e);
    if (!active_.isEmpty() && !(active_.size() == 1 && e.entered))
        text += QStringLiteral("\n") + tr("In force: %1").arg(active_.join(QStringLiteral(", ")));
    label_->setText(text);
    const bool alarm = !active_.isEmpty();
    setStyleSheet(alarm ? QStringLiteral("#AlarmBanner { background: #b3261e; } QLabel { color: white; }")
                        : QStringLiteral("#AlarmBanner { background: #2e7d32; } QLabel { color: white; }"));
    place();
    QFrame::show();
    raise();
}

QString AlarmBanner::text() const {
    return label_->text();
}

bool AlarmBanner::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) place();
    return QFrame::eventFilter(watched, event);
}

void AlarmBanner::place() {
    const int width = parentWidget()->width();
    setFixedWidth(width);
    adjustSize();
    move(0, parentWidget()->height() - height());
}
