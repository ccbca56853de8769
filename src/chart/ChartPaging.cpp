#include "ChartPaging.h"

#include <algorithm>
#include <limits>

bool ChartPaging::setMaxPointsPerPage(int value, int64_t points, QString* error) {
    if (value < 0) {
        if (error) *error = QStringLiteral("MaxPointsPerPage must be >= 0");
        return false;
    }
    maxPointsPerPage_ = value;
    page_ = std::min(page_, pageCount(points));
    return true;
}

bool ChartPaging::applyMaxrecordText(const QString& text, int64_t points, QString* error) {
    // Blanks around the number are allowed; within it only a sign and decimal digits. The
    // conversion alone would stop at a null character and take the digits before it.
    const QString bare = text.trimmed();
    bool ok = !bare.isEmpty();
    for (qsizetype i = 0; ok && i < bare.size(); ++i) {
        const QChar c = bare[i];
        ok = (c >= u'0' && c <= u'9') || (i == 0 && (c == u'+' || c == u'-'));
    }
    const int value = ok ? bare.toInt(&ok, 10) : 0;
    if (!ok) {
        if (error) *error = QStringLiteral("'%1' is not a valid integer value").arg(text);
        return false;
    }
    return setMaxPointsPerPage(value, points, error);
}

int ChartPaging::pageCount(int64_t points) const {
    if (maxPointsPerPage_ <= 0 || points <= 0) return 1;
    const int64_t pages = (points + maxPointsPerPage_ - 1) / maxPointsPerPage_;
    return static_cast<int>(std::min<int64_t>(pages, std::numeric_limits<int>::max()));
}

void ChartPaging::setPage(int page, int64_t points) {
    page_ = std::clamp(page, 1, pageCount(points));
}

// A page spans a whole page's width of the axis even when it holds fewer points, so the last page
// is drawn at the scale of the others.
PageView ChartPaging::view(int64_t points) const {
    PageView v;
    if (maxPointsPerPage_ <= 0) {
        v.first = 0;
        v.count = std::max<int64_t>(points, 0);
        v.axisMin = 0;
        v.axisMax = std::max<double>(1, static_cast<double>(points - 1));
        return v;
    }
    const int64_t per = maxPointsPerPage_;
    v.first = (page_ - 1) * per;
    v.count = std::clamp<int64_t>(points - v.first, 0, per);
    v.axisMin = static_cast<double>(v.first);
    v.axisMax = static_cast<double>(v.first + std::max<int64_t>(per - 1, 1));
    return v;
}

void ChartPaging::first(uint8_t& chartFollow) {
    page_ = 1;
    buttons_.first = false;
    buttons_.previous = false;
    buttons_.next = true;
    buttons_.last = true;
    chartFollow = 0;
    caption_ = QStringLiteral("1");
}

// Previous and Next report a boundary only when pressed at it; moving onto the first or the last
// page leaves the buttons there enabled. A page left beyond the end by New goes back to the last
// page that holds points.
void ChartPaging::previous(int64_t points, uint8_t& chartFollow) {
    if (page_ == 1) {
        buttons_.first = false;
        buttons_.previous = false;
    } else {
        setPage(page_ - 1, points);
    }
    buttons_.next = true;
    buttons_.last = true;
    chartFollow = 0;
    caption_ = QString::number(page_);
}

void ChartPaging::next(int64_t points, uint8_t& chartFollow) {
    if (page_ == pageCount(points)) {
        buttons_.next = false;
        buttons_.last = false;
    } else {
        setPage(page_ + 1, points);
    }
    buttons_.first = true;
    buttons_.previous = true;
    chartFollow = 0;
    caption_ = QString::number(page_);
}

void ChartPaging::last(int64_t points, uint8_t& chartFollow) {
    page_ = pageCount(points);
    buttons_.next = false;
    buttons_.last = false;
    buttons_.first = true;
    buttons_.previous = true;
    chartFollow = 1;
    caption_ = QString::number(page_);
}

void ChartPaging::followLastPage(int64_t points) {
    page_ = pageCount(points);
    caption_ = QString::number(page_);
}
