#pragma once

#include <QString>
#include <cstdint>

// Enabled states of the navigation buttons (and their menu items).
struct ChartButtons {
    bool first = true;
    bool previous = true;
    bool next = true;
    bool last = true;

    bool operator==(const ChartButtons& o) const {
        return first == o.first && previous == o.previous && next == o.next && last == o.last;
    }
};

// The points of one page and the span of the horizontal axis that shows them.
struct PageView {
    int64_t first = 0;  // index of the first point shown
    int64_t count = 0;  // points shown (fewer than a page on the last one, none beyond it)
    double axisMin = 0;
    double axisMax = 1;
};

// Paging of the trend chart: points per page, the current page, the navigation commands with the
// button states they leave, and the page number shown on the page button. The number of points
// is that of the series shown, passed in by the caller; following the newest page is the
// window's `ChartFollow`, which the commands set and the reading pipeline reads.
class ChartPaging {
public:
    int MaxPointsPerPage() const { return maxPointsPerPage_; }
    // Refuses a negative count with "MaxPointsPerPage must be >= 0" in *error. A page beyond the
    // new last page becomes the last page.
    bool setMaxPointsPerPage(int value, int64_t points, QString* error = nullptr);
    // The points-per-page edit: a decimal integer, else "'<text>' is not a valid integer value"
    // and the old value stays.
    bool applyMaxrecordText(const QString& text, int64_t points, QString* error = nullptr);

    int pageCount(int64_t points) const;
    int Page() const { return page_; }
    // Out-of-range pages are clamped to the first or the last page.
    void setPage(int page, int64_t points);
    PageView view(int64_t points) const;

    // the commands; each leaves its page number on the page button
    void first(uint8_t& chartFollow);
    void previous(int64_t points, uint8_t& chartFollow);
    void next(int64_t points, uint8_t& chartFollow);
    void last(int64_t points, uint8_t& chartFollow);
    // the reading pipeline's follow step: last page, shown on the page button, follow unchanged
    void followLastPage(int64_t points);

    const ChartButtons& buttons() const { return buttons_; }
    // caption of the page button `Bt10`
    const QString& pageCaption() const { return caption_; }

private:
    int maxPointsPerPage_ = 100;
    int page_ = 1;
    ChartButtons buttons_;
    QString caption_ = QStringLiteral("1");
};
