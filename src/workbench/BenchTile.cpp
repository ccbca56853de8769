#include "BenchTile.h"

#include <QContextMenuEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "BenchModel.h"
#include "BenchTileText.h"

namespace {

const QColor kDimmed(0x9a, 0x9a, 0x9a);
const QColor kOnline(0x1e, 0x8c, 0x45);
const QColor kOffline(0xc8, 0x30, 0x2a);
const QColor kStale(0xc7, 0x6a, 0x00);

void setColor(QLabel* label, const QColor& color) {
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
}

}  // namespace

BenchTile::BenchTile(BenchModel& model, int id, QWidget* parent) : QFrame(parent), model_(model), id_(id) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    setAutoFillBackground(true);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(1);

    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("BenchTileName"));
    QFont bold = name_->font();
    bold.setBold(true);
    name_->setFont(bold);
    state_ = new QLabel(this);
    state_->setObjectName(QStringLiteral("BenchTileState"));
    state_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(name_, 0, 0, 1, 2);
    grid->addWidget(state_, 0, 2, 1, 2);

    value_ = new QLabel(this);
    value_->setObjectName(QStringLiteral("BenchTileValue"));
    QFont large = value_->font();
    large.setPointSizeF(large.pointSizeF() * 2.2);
    large.setBold(true);
    value_->setFont(large);
    largeFont_ = large;
    basicPointSize_ = font().pointSizeF();
    value_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // room for the widest reading, so the tile keeps its size as readings change
    value_->setMinimumWidth(QFontMetrics(large).horizontalAdvance(QStringLiteral("-888.888 mWh")));
    grid->addWidget(value_, 1, 0, 1, 4);
    mode_ = new QLabel(this);
    mode_->setObjectName(QStringLiteral("BenchTileMode"));
    mode_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(mode_, 2, 0, 1, 4);

    min_ = addStat(tr("min"), 3, 0);
    max_ = addStat(tr("max"), 3, 2);
    mean_ = addStat(tr("mean"), 4, 0);
    stddev_ = addStat(tr("σ"), 4, 2);
    count_ = addStat(tr("n"), 5, 0);
    rel_ = addStat(tr("REL"), 5, 2);

    relButton_ = new QPushButton(tr("REL"), this);
    relButton_->setObjectName(QStringLiteral("BenchTileRel"));
    relButton_->setCheckable(true);
    relButton_->setToolTip(tr("Take the latest value as the reference; press again to let it go"));
    reset_ = new QPushButton(tr("Reset"), this);
    reset_->setObjectName(QStringLiteral("BenchTileReset"));
    reset_->setToolTip(tr("Start the statistics again"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(relButton_);
    buttons->addWidget(reset_);
    grid->addLayout(buttons, 6, 0, 1, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    connect(reset_, &QPushButton::clicked, this, &BenchTile::resetStatistics);
    connect(relButton_, &QPushButton::clicked, this, &BenchTile::toggleRel);
    setFocusPolicy(Qt::StrongFocus);
    refresh();
}

void BenchTile::resetStatistics() {
    model_.resetStatistics(id_);
    refresh();
}

void BenchTile::toggleRel() {
    if (model_.relReference(id_))
        model_.clearRel(id_);
    else
        model_.captureRel(id_);
    refresh();
}

void BenchTile::contextMenuEvent(QContextMenuEvent* event) {
    emit menuRequested(event->globalPos());
    event->accept();
}

void BenchTile::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        emit removeRequested();
    } else if (event->key() == Qt::Key_Menu) {
        emit menuRequested(mapToGlobal(rect().center()));
    } else {
        QFrame::keyPressEvent(event);
        return;
    }
    event->accept();
}

// the focused tile is the one the keys act on: it is outlined in the highlight colour
void BenchTile::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (!hasFocus()) return;
    QPainter painter(this);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void BenchTile::focusInEvent(QFocusEvent* event) {
    QFrame::focusInEvent(event);
    update();
}

void BenchTile::focusOutEvent(QFocusEvent* event) {
    QFrame::focusOutEvent(event);
    update();
}

QLabel* BenchTile::addStat(const QString& caption, int row, int column) {
    auto* name = new QLabel(caption, this);
    auto* value = new QLabel(this);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setObjectName(QStringLiteral("BenchTileStat_") + caption);
    auto* grid = static_cast<QGridLayout*>(layout());
    grid->addWidget(name, row, column);
    grid->addWidget(value, row, column + 1);
    return value;
}

void BenchTile::refresh() {
    const ChannelInfo* info = model_.channel(id_);
    if (!info) return;
    name_->setText(fontMetrics().elidedText(info->name, Qt::ElideMiddle, kMostTextWidth / 2));
    setToolTip(info->kind == ChannelKind::Math ? info->name + QStringLiteral(" = ") + info->expression
                                               : info->source);

    const bool online = model_.isOnline(id_);
    const bool stale = model_.isStale(id_);
    state_->setText(!online ? tr("offline") : stale ? tr("stale") : tr("online"));
    setColor(state_, !online ? kOffline : stale ? kStale : kOnline);
    const bool dim = !online || stale;
    if (dim != dimmed_) {
        dimmed_ = dim;
        setColor(value_, dim ? kDimmed : palette().color(QPalette::WindowText));
    }

    const std::optional<BenchReading> latest = model_.latest(id_);
    const ChannelStats s = model_.statistics(id_);
    const std::optional<double> rel = model_.relValue(id_);
    const BenchTileText text = BenchTileText::of(*info, latest, s, rel);
    setValueText(text.value);
    QString mode;
    if (info->kind == ChannelKind::Math) {
        mode = QStringLiteral("= ") + info->expression;
    } else if (latest) {
        mode = QStringList({latest->acdc, latest->range}).join(QStringLiteral("  ")).trimmed();
    }
    const QString before = model_.statisticsUnitBefore(id_);
    if (!before.isEmpty())
        mode += (mode.isEmpty() ? QString() : QStringLiteral("  \u00B7  ")) +
                tr("statistics since %1 \u2192 %2").arg(before, info->unit);
    // what the channel's line has to say stands in place of the mode until readings come
    if (const QString note = model_.note(id_); !note.isEmpty()) mode = note;
    mode_->setText(fontMetrics().elidedText(mode, Qt::ElideRight, kMostTextWidth));
    mode_->setToolTip(mode);

    QString count = QString::number(s.count);
    QStringList apart;
    if (s.gaps > 0) apart << tr("%1 gaps").arg(s.gaps);
    if (s.overloads > 0) apart << tr("%1 OL").arg(s.overloads);
    if (!apart.isEmpty()) count += QStringLiteral(" (") + apart.join(QStringLiteral(", ")) + QLatin1Char(')');
    count_->setText(count);
    count_->setToolTip(tr("numbers since the last reset; gaps and overloads are counted apart"));
    min_->setText(text.min);
    max_->setText(text.max);
    mean_->setText(text.mean);
    stddev_->setText(text.stddev);
    const bool captured = model_.relReference(id_).has_value();
    rel_->setText(rel ? text.rel : captured ? QStringLiteral("--") : QStringLiteral("off"));
    relButton_->setChecked(captured);
}

// The value in the large font while it fits the widest tile; a longer text (a broker's meter
// may show anything) in a smaller font, and cut short only past the smallest.
void BenchTile::setValueText(const QString& text) {
    if (value_->text() == text) return;
    QFont font = largeFont_;
    while (QFontMetrics(font).horizontalAdvance(text) > kMostValueWidth &&
           font.pointSizeF() > basicPointSize_)
        font.setPointSizeF(std::max(basicPointSize_, font.pointSizeF() * 0.85));
    if (font != value_->font()) value_->setFont(font);
    value_->setText(QFontMetrics(font).elidedText(text, Qt::ElideMiddle, kMostValueWidth));
}
