#pragma once

#include <QAbstractScrollArea>
#include <QRectF>
#include <QSizeF>

class ReportLayout;

// Where the pages of a preview lie on its scrolled canvas: pages in rows of one or two (facing),
// a gap around each. Everything is computed from the page number, so a report of any length costs
// the same to place.
class PageGrid {
public:
    int pageCount = 0;
    int columns = 1;
    QSizeF pageSize;  // pixels
    double gap = 12.0;

    int rowOf(int page) const { return page / columns; }
    int rowCount() const { return (pageCount + columns - 1) / columns; }
    double rowHeight() const { return pageSize.height() + gap; }
    QSizeF contentSize() const;
    QRectF pageRect(int page) const;
    // The first and last page of the rows that reach into the band [top, top + height).
    std::pair<int, int> pagesIn(double top, double height) const;
    // The first page of the row that shows most of itself in the band.
    int pageMostShown(double top, double height) const;
};

// The page area of the print preview: draws the pages that are on screen, laid out from the report
// when they are painted and never kept. Zoom is relative to the paper's real size on this screen.
class ReportPageView : public QAbstractScrollArea {
    Q_OBJECT

public:
    enum class Fit { None, Width, Page };

    explicit ReportPageView(const ReportLayout& layout, QWidget* parent = nullptr);

    const ReportLayout& layout() const { return layout_; }
    int pageCount() const { return grid_.pageCount; }
    int currentPage() const { return current_; }  // 0-based; 0 when there are no pages
    double zoom() const { return zoom_; }
    Fit fit() const { return fit_; }
    bool facing() const { return grid_.columns == 2; }

    void goToPage(int page);
    void setZoom(double zoom);  // ends any fit
    void setFit(Fit fit);
    void setFacing(bool facing);

    static constexpr double kMinZoom = 0.1;
    static constexpr double kMaxZoom = 8.0;

signals:
    void currentPageChanged(int page);
    void zoomChanged(double zoom);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent* event) override;  // with Ctrl it zooms

private:
    QSizeF paperPixels() const;  // the paper at zoom 1
    void relayout(int keepPage);
    void updateScrollBars();
    double top() const;
    void scrollToTop(double y);
    void followScroll();

    const ReportLayout& layout_;
    PageGrid grid_;
    double zoom_ = 1.0;
    Fit fit_ = Fit::Width;
    int current_ = 0;
    // pixels of the canvas per step of the vertical scroll bar, so that very long reports stay
    // within the scroll bar's range
    double unit_ = 1.0;
    bool scrolling_ = false;  // set while the view itself moves the scroll bars
};
