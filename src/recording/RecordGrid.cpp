#include "RecordGrid.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QStyledItemDelegate>
#include <QTableView>
#include <algorithm>
#include <cmath>

#include "LcdGlyphs.h"
#include "RecordTableModel.h"

namespace {

constexpr int kWidths[RecordTableModel::ColumnCount] = {39, 53, 37, 43, 36, 36};
constexpr int kUnitGlyphPx = 12;
constexpr int kRowHeight = 17;
constexpr int kIndicatorWidth = 11;
constexpr int kTitleHeight = kRowHeight + 1;
constexpr int kMargin = 1;
constexpr int kRepaintMs = 100;
const QColor kBackground(0x94, 0xBE, 0xFE);

// A cell as the grid draws it: over the cell's whole width, cut off at the edge rather than
// shortened with an ellipsis, so narrow columns show as much as fits ("MANU" needs all of its
// column). The view has painted the background already; only a selected cell needs a fill of its
// own. Asking the model for the text and alignment alone, and leaving out the style's item
// drawing, keeps a repaint of the grid cheap.
//
// Laying out and blending a cell's text costs tens of thousands of instructions, and most cells of
// a new row say what the rows before said (DC, AUTO, the unit, the second the reading came in):
// a cell is drawn once on its plain ground into a picture, and the picture is what later cells
// with the same text, colours and size show. The picture is drawn the way the cell would be, on
// the same ground at the same place within a pixel, so the two cannot differ.
class GridCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette::ColorGroup group =
            option.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QBrush& ground = option.palette.brush(group, selected ? QPalette::Highlight : QPalette::Base);
        if (selected) painter->fillRect(option.rect, ground);
        const QString text = index.data(Qt::DisplayRole).toString();
        if (text.isEmpty()) return;
        const QColor color =
            option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        const auto align = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        if (const QImage* picture = cellPicture(*painter, option, ground, align, text, color)) {
            painter->drawImage(option.rect.topLeft(), *picture);
            return;
        }
        painter->save();
        painter->setClipRect(option.rect);
        drawText(*painter, option.rect, option, align, text, color);
        painter->restore();
    }

protected:
    virtual void drawText(QPainter& painter, const QRect& rect, const QStyleOptionViewItem& option,
                          Qt::Alignment align, const QString& text, const QColor& color) const {
        painter.setFont(option.font);
        painter.setPen(color);
        painter.drawText(rect, static_cast<int>(align), text);
    }

private:
    struct Picture {
        QString text;
        QSize size;
        int ratio;
        QRgb color;
        QRgb ground;
        int align;
        QFont font;
        bool operator==(const Picture& o) const {
            return text == o.text && size == o.size && ratio == o.ratio && color == o.color &&
                   ground == o.ground && align == o.align && font == o.font;
        }
    };
    friend size_t qHash(const Picture& k, size_t seed) {
        return qHashMulti(seed, k.text, k.size.width(), k.ratio, k.color, k.ground, k.align);
    }
    static constexpr int kPictures = 512;

    // The cell's picture, or none where one could differ from drawing the cell in place: a ground
    // that is not one solid colour, or a painter that is not at whole device pixels.
    const QImage* cellPicture(const QPainter& painter, const QStyleOptionViewItem& option,
                              const QBrush& ground, Qt::Alignment align, const QString& text,
                              const QColor& color) const {
        if (ground.style() != Qt::SolidPattern || !ground.isOpaque()) return nullptr;
        const QTransform& t = painter.deviceTransform();
        const qreal ratio = t.m11();
        if (t.type() > QTransform::TxScale || ratio != t.m22() || ratio < 1 || ratio != std::floor(ratio) ||
            t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy()))
            return nullptr;
        const Picture key{text,         option.rect.size(),    static_cast<int>(ratio),
                          color.rgba(), ground.color().rgba(), static_cast<int>(align),
                          option.font};
        auto it = pictures_.constFind(key);
        if (it != pictures_.constEnd()) return &*it;
        if (pictures_.size() >= kPictures) pictures_.clear();
        QImage image(key.size * key.ratio, QImage::Format_RGB32);
        image.setDevicePixelRatio(key.ratio);
        image.fill(ground.color());
        QPainter p(&image);
        const QRect rect(QPoint(0, 0), key.size);
        p.setClipRect(rect);
        drawText(p, rect, option, align, text, color);
        p.end();
        return &*pictures_.insert(key, image);
    }

    mutable QHash<Picture, QImage> pictures_;
};

// The unit column: unit codes drawn as the meter's symbols, right-aligned like the value.
class LcdUnitDelegate : public GridCellDelegate {
public:
    using GridCellDelegate::GridCellDelegate;

protected:
    void drawText(QPainter& painter, const QRect& rect, const QStyleOptionViewItem&, Qt::Alignment,
                  const QString& text, const QColor& color) const override {
        // the symbols keep two pixels from the next column's text
        const qreal width = LcdGlyphs::textWidth(text, kUnitGlyphPx) + 2;
        const QPointF topLeft(rect.left() + rect.width() - width,
                              rect.top() + (rect.height() - LcdGlyphs::lineHeight(kUnitGlyphPx)) / 2.0);
        painter.setRenderHint(QPainter::Antialiasing);
        LcdGlyphs::drawText(painter, topLeft, text, kUnitGlyphPx, false, false, color);
    }
};

// A dotted frame over the whole grid, titles included, while it has the keyboard focus: an empty
// grid has no current cell to show it. It takes no mouse events and draws nothing else.
class FocusFrame : public QWidget {
public:
    explicit FocusFrame(QWidget* view) : QWidget(view) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        hide();
    }

protected:
    // Only the frame's line belongs to it: the rows under it can be moved on screen as they are.
    void resizeEvent(QResizeEvent*) override {
        setMask(QRegion(rect()).subtracted(QRegion(rect().adjusted(1, 1, -1, -1))));
    }

    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QPen pen(Qt::black, 1, Qt::DotLine);
        p.setPen(pen);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

// The grid's scroll bar spans the whole table, so with every new row its range and value change
// though the slider seldom moves by a pixel: it is painted again only when what it shows changed
// (the slider's place and size, and which ends it has reached).
class TableScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    // Range, page and value are looked at together, where they end up: one at a time, a range
    // grown under the old value would seem to move the slider off the end and back.
    void place(int maximum, int page, int value) {
        placing_ = true;
        setRange(0, maximum);
        setPageStep(page);
        setValue(value);
        placing_ = false;
        sliderChange(SliderValueChange);
    }

protected:
    void sliderChange(SliderChange change) override {
        if (placing_) return;
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect slider =
            style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
        const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
        if (slider == shownSlider_ && ends == shownEnds_) return;
        shownSlider_ = slider;
        shownEnds_ = ends;
        QScrollBar::sliderChange(change);
    }
    void resizeEvent(QResizeEvent* event) override {
        shownSlider_ = QRect();
        QScrollBar::resizeEvent(event);
    }

private:
    QRect shownSlider_;
    int shownEnds_ = -1;
    bool placing_ = false;
};

}  // namespace

RecordGrid::RecordGrid(QWidget* parent)
    : QFrame(parent),
      view_(new QTableView(this)),
      bar_(new TableScrollBar(Qt::Vertical, this)),
      repaints_(kRepaintMs, [this] {
          if (repaintHeld_) holdRepaints(false);
          if (barBehind_ && model_) placeBar(model_->firstRow(), visibleRows());
      }) {
    setFrameShape(QFrame::StyledPanel);
    setFrameShadow(QFrame::Sunken);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    layout->setSpacing(0);
    layout->addWidget(view_);
    layout->addWidget(bar_);

    QFont gridFont(QStringLiteral("Arial"));
    gridFont.setPixelSize(12);
    view_->setFont(gridFont);
    QFont titleFont(QStringLiteral("MS Sans Serif"));
    titleFont.setPixelSize(11);
    view_->horizontalHeader()->setFont(titleFont);
    view_->verticalHeader()->setFont(titleFont);

    QPalette pal = view_->palette();
    pal.setColor(QPalette::Base, kBackground);
    view_->setPalette(pal);

    view_->setFrameShape(QFrame::NoFrame);
    view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view_->setSelectionMode(QAbstractItemView::SingleSelection);
    view_->setSelectionBehavior(QAbstractItemView::SelectItems);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    view_->setShowGrid(true);
    view_->setWordWrap(false);
    // Tab moves on to the next control, not from cell to cell
    view_->setTabKeyNavigation(false);
    view_->setCornerButtonEnabled(false);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    view_->horizontalHeader()->setHighlightSections(false);
    view_->horizontalHeader()->setMinimumSectionSize(8);
    view_->horizontalHeader()->setFixedHeight(kTitleHeight);
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setMinimumSectionSize(8);
    view_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    view_->verticalHeader()->setFixedWidth(kIndicatorWidth);
    view_->verticalHeader()->setDefaultAlignment(Qt::AlignCenter);
    view_->verticalHeader()->setHighlightSections(false);
    view_->setItemDelegate(new GridCellDelegate(view_));
    view_->setItemDelegateForColumn(RecordTableModel::ColUnit, new LcdUnitDelegate(view_));
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);
    focusFrame_ = new FocusFrame(view_);

    bar_->setRange(0, 0);
    connect(bar_, &QScrollBar::valueChanged, this, [this](int value) { showFrom(value); });
}

RecordGrid::~RecordGrid() {
    view_->setModel(nullptr);
}

void RecordGrid::setSource(const RecordSource* rows) {
    rows_ = rows;
    view_->setModel(nullptr);
    model_ = std::make_unique<RecordTableModel>(*rows_);
    view_->setModel(model_.get());
    for (int c = 0; c < RecordTableModel::ColumnCount; ++c) view_->setColumnWidth(c, kWidths[c]);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& now) {
                if (selecting_ || !now.isValid()) return;
                currentColumn_ = now.column();
                current_ = model_->firstRow() + now.row();
                model_->setWindow(model_->firstRow(), visibleRows(), current_);
            });
    shownTotal_ = 0;
    current_ = -1;
    refresh();
}

int64_t RecordGrid::firstShownRow() const {
    return model_ ? model_->firstRow() : 0;
}
int RecordGrid::rowsShown() const {
    return model_ ? model_->rowCount() : 0;
}

// Rows that fit under the titles, worked out from the grid's own size: the view's geometry lags
// behind while the grid is hidden.
int RecordGrid::visibleRows() const {
    int h = contentsRect().height() - 2 * kMargin - kTitleHeight;
    if (view_->horizontalScrollBar()->isVisible()) h -= view_->horizontalScrollBar()->height();
    return std::max(1, h / kRowHeight);
}

void RecordGrid::refresh() {
    if (!rows_) return;
    const int64_t total = rows_->rowCount();
    if (total == shownTotal_) return;
    if (total < shownTotal_) {
        // rows went away without a reset: show the table from its start
        reset();
        return;
    }
    shownTotal_ = total;
    if (repaints_.holding() && !repaintHeld_) holdRepaints(true);
    moveCurrent(total - 1);
    placeNotice();
    repaints_.changed();
}

// Only the rows wait: the titles change only when the indicator moves, and a scroll bar with its
// updates turned off is not drawn at all when the grid around it is.
void RecordGrid::holdRepaints(bool hold) {
    repaintHeld_ = hold;
    view_->viewport()->setUpdatesEnabled(!hold);
}

void RecordGrid::reset() {
    shownTotal_ = rows_ ? rows_->rowCount() : 0;
    current_ = shownTotal_ > 0 ? 0 : -1;
    bar_->blockSignals(true);
    bar_->setRange(0, static_cast<int>(std::max<int64_t>(0, shownTotal_ - visibleRows())));
    bar_->setValue(0);
    bar_->blockSignals(false);
    showFrom(0);
    placeNotice();
}

void RecordGrid::setEmptyNotice(const QString& text) {
    if (!notice_) {
        notice_ = new QLabel(view_->viewport());
        notice_->setWordWrap(true);
        notice_->setAlignment(Qt::AlignCenter);
        notice_->setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    notice_->setText(text);
    placeNotice();
}

QString RecordGrid::emptyNotice() const {
    return notice_ && !notice_->isHidden() ? notice_->text() : QString();
}

// The notice fills the rows' area as it is now (called again whenever that area changes size),
// in the largest type up to 12 pixels that shows it whole.
void RecordGrid::placeNotice() {
    if (!notice_) return;
    notice_->setVisible(!notice_->text().isEmpty() && shownTotal_ == 0);
    if (notice_->isHidden()) return;
    const QRect area = view_->viewport()->rect().adjusted(6, 0, -6, 0);
    notice_->setGeometry(area);
    for (int px = 12; px >= 8; --px) {
        notice_->setStyleSheet(QStringLiteral("color: #800000; font: bold %1px \"Arial\";").arg(px));
        if (notice_->heightForWidth(area.width()) <= area.height()) break;
    }
}

// Makes `row` current and scrolls only as far as needed to show it.
void RecordGrid::moveCurrent(int64_t row) {
    if (shownTotal_ == 0) {
        current_ = -1;
    } else {
        current_ = std::clamp<int64_t>(row, 0, shownTotal_ - 1);
    }
    const int n = visibleRows();
    int64_t first = model_ ? model_->firstRow() : 0;
    if (current_ < first) first = current_;
    if (current_ >= first + n) first = current_ - n + 1;
    first = std::clamp<int64_t>(first, 0, std::max<int64_t>(0, shownTotal_ - n));
    // rows streaming in move the scroll bar when the rows are drawn, not at every row
    if (repaintHeld_) {
        barBehind_ = true;
    } else {
        placeBar(first, n);
    }
    showFrom(first);
}

void RecordGrid::placeBar(int64_t first, int shown) {
    barBehind_ = false;
    bar_->blockSignals(true);
    static_cast<TableScrollBar*>(bar_)->place(static_cast<int>(std::max<int64_t>(0, shownTotal_ - shown)),
                                              shown, static_cast<int>(first));
    bar_->blockSignals(false);
}

// While the newest row is followed, each new row moves the window down by one: the rows it keeps
// are moved up on screen as they are, and only what that does not bring along is painted, the
// new rows and the cell whose selection went away, rather than every cell of the grid.
void RecordGrid::showFrom(int64_t first) {
    if (!model_) return;
    ++updates_;
    const int n = visibleRows();
    const int moved = repaintHeld_ ? 0 : model_->movedBy(first, n);
    const QModelIndex selected = view_->selectionModel()->currentIndex();
    const int64_t selectedBefore = selected.isValid() ? model_->firstRow() + selected.row() : -1;
    if (moved > 0) {
        // A shown focus frame's line runs over the last pixel column and line of the rows' area:
        // that part is painted again, the rest is moved.
        QWidget* rowsArea = view_->viewport();
        const QRect r = rowsArea->rect();
        const bool framed = focusFrame_->isVisible();
        rowsArea->scroll(0, -moved * view_->verticalHeader()->defaultSectionSize(),
                         framed ? r.adjusted(0, 0, -1, -1) : r);
        if (framed) {
            rowsArea->update(QRect(r.right(), r.top(), 1, r.height()));
            rowsArea->update(QRect(r.left(), r.bottom(), r.width(), 1));
        }
    }
    model_->setWindow(first, n, current_, moved > 0);
    if (moved > 0) {
        // whole lines of pixels from a row's top, its own grid lines (right and below) included; the
        // line above it belongs to the row above, which was moved up whole, and taking that line in
        // would have the view paint every cell of that row again
        QWidget* rowsArea = view_->viewport();
        const auto repaintFrom = [&](int row, int rows) {
            const int top = view_->rowViewportPosition(row);
            const int bottom = rows > 0
                                   ? view_->rowViewportPosition(row + rows - 1) + view_->rowHeight(row) + 1
                                   : rowsArea->height();
            rowsArea->update(QRect(0, top, rowsArea->width(), bottom - top));
        };
        repaintFrom(model_->rowCount() - moved, 0);
        // the cell whose selection went away
        const int64_t row = selectedBefore - model_->firstRow();
        if (selectedBefore >= 0 && row >= 0 && row < model_->rowCount()) {
            rowsArea->update(view_->visualRect(model_->index(static_cast<int>(row), selected.column())));
        }
    }
    selectCurrent();
}

void RecordGrid::selectCurrent() {
    selecting_ = true;
    const int64_t r = current_ - model_->firstRow();
    auto* sel = view_->selectionModel();
    if (current_ >= 0 && r >= 0 && r < model_->rowCount()) {
        sel->setCurrentIndex(model_->index(static_cast<int>(r), currentColumn_),
                             QItemSelectionModel::ClearAndSelect);
    } else {
        sel->clear();
    }
    selecting_ = false;
}

void RecordGrid::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    placeNotice();
    if (!model_) return;
    bar_->setPageStep(visibleRows());
    moveCurrent(current_);
}

bool RecordGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport() && event->type() == QEvent::Resize) placeNotice();
    if (watched == view_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        focusFrame_->setGeometry(view_->rect());
        focusFrame_->raise();
        focusFrame_->setVisible(event->type() == QEvent::FocusIn);
    }
    if (watched == view_->viewport() && event->type() == QEvent::Wheel) {
        QApplication::sendEvent(bar_, event);
        return true;
    }
    if (watched == view_ && event->type() == QEvent::KeyPress && model_) {
        const int n = visibleRows();
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Up:
                moveCurrent(current_ - 1);
                return true;
            case Qt::Key_Down:
                moveCurrent(current_ + 1);
                return true;
            case Qt::Key_PageUp:
                moveCurrent(current_ - n);
                return true;
            case Qt::Key_PageDown:
                moveCurrent(current_ + n);
                return true;
            case Qt::Key_Home:
                if (static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier) {
                    moveCurrent(0);
                    return true;
                }
                break;
            case Qt::Key_End:
                if (static_cast<QKeyEvent*>(event)->modifiers() & Qt::ControlModifier) {
                    moveCurrent(shownTotal_ - 1);
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

QIcon RecordGrid::closeDataIcon() {
    // a sheet of rows with a red cross over it
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(2.5, 1.5, 10, 13));
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
    for (int y = 4; y <= 12; y += 3) p.drawLine(QPointF(4.5, y + 0.5), QPointF(10.5, y + 0.5));
    p.setPen(QPen(QColor(0xD0, 0, 0), 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 7), QPointF(14, 14));
    p.drawLine(QPointF(14, 7), QPointF(7, 14));
    p.end();
    return QIcon(pm);
}
