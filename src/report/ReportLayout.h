#pragma once

#include <QFont>
#include <QRectF>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "RecordRow.h"

class QPagedPaintDevice;
class QPainter;

// Millimetres of the printed report: A4 portrait, 10 mm margins, four bands of the full printable
// width. Band tops are measured from the top margin; text positions from their band's corner.
namespace ReportMm {
constexpr double kPaperWidth = 210.0;
constexpr double kPaperHeight = 297.0;
constexpr double kMargin = 10.0;
constexpr double kBandWidth = kPaperWidth - 2 * kMargin;         // 190
constexpr double kPrintableHeight = kPaperHeight - 2 * kMargin;  // 277
constexpr double kTitleBandHeight = 10.58;
constexpr double kColumnBandHeight = 10.58;
constexpr double kDetailBandHeight = 6.61;
constexpr double kFooterBandHeight = 10.58;
constexpr double kColumnBandTop = kTitleBandHeight;
constexpr double kFirstDetailTop = kTitleBandHeight + kColumnBandHeight;
// The footer sits at the foot of every page, whatever the number of rows above it.
constexpr double kFooterBandTop = kPrintableHeight - kFooterBandHeight;
constexpr double kTextHeight = 4.50;
constexpr double kTitleWidth = 35.45;
constexpr double kTitleTop = 2.12;
constexpr double kColumnTitleTop = 4.23;
constexpr double kDetailTop = 2.12;
constexpr double kFooterLeft = 8.47;
constexpr double kFooterTop = 4.23;
}  // namespace ReportMm

// One text of a laid-out page. `box` is in millimetres from the paper's top left corner; a width
// of 0 means the box is as wide as its text (up to the band's right edge).
struct ReportText {
    QString text;
    QRectF box;
    bool centred = false;
};

// The banded report over a table of rows: a title band, a column header band, one detail band per
// row in table order and a footer band on every page. No rows, no pages. The layout reads its
// source while it renders; hand it a snapshot when the table may change meanwhile.
class ReportLayout {
public:
    explicit ReportLayout(const RecordSource& rows);

    static const int kRowsPerPage;
    static const QString kTitle;
    static const QString kFooter;

    // Called after each page laid out; returning false stops the rendering after that page.
    using Progress = std::function<bool(int pagesDone, int pagesTotal)>;

    int pageCount() const;
    static int pageCountFor(int64_t rows);

    // The texts of page `page` (0-based), in painting order.
    std::vector<ReportText> pageTexts(int page) const;

    // Lays out pages first..last (0-based, both included, clamped to the report) on the device, one
    // device page each, after setting it to A4 portrait with 10 mm margins. Returns the number of
    // pages laid out; nothing is painted (and the painter never begun) for an empty range.
    int render(QPagedPaintDevice& device, int first, int last, const Progress& progress = {}) const;
    int render(QPagedPaintDevice& device, const Progress& progress = {}) const;

    // Paints one page on a painter already begun on a device of the given resolution, with the
    // painter's origin at the paper position `originMm` (the corner of what it paints).
    void paintPage(QPainter& painter, int page, double dpiX, double dpiY, QPointF originMm = {}) const;

    // Arial 10 pt; Liberation Sans stands in where Arial is not installed.
    static QFont font();

private:
    const RecordSource& rows_;
};

// The six printed texts of a row: No, Time, DC/AC, Value, Unit, AUTO. Nval is not printed; the
// unit keeps the symbol codes of the meter font, which print as their plain characters.
std::vector<QString> reportFieldTexts(const RecordRow& row);

// A time of day (milliseconds since midnight) as the report prints it: as the grid shows it and Save
// writes it in the text, in the system's time format with seconds.
QString recordTimeText(int32_t timeMs);

// A stored text as it is shown: UTF-8, or Latin-1 where the bytes are not UTF-8.
QString recordText(const std::string& text);

struct ReportPdfResult {
    bool written = false;
    bool cancelled = false;
    int pages = 0;
    QString error;  // why nothing was written, for the user
};

// Writes the report of `rows` as a PDF. An empty table writes no file. The file appears only when
// the whole report was written: a failure or a cancel leaves an existing file as it was.
ReportPdfResult writeReportPdf(const RecordSource& rows, const QString& path,
                               const ReportLayout::Progress& progress = {});
