#include "ReportLayout.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTime>
#include <algorithm>
#include <cmath>

namespace {

struct Column {
    const char* title;
    double titleLeft;
    double fieldLeft;
};

// Left edges in millimetres from the band's left edge: column titles and field values.
constexpr Column kColumns[] = {
    {"No", 8.47, 8.47},      {"Time", 33.87, 33.87},  {"DC/AC", 64.29, 65.62},
    {"Value", 99.48, 99.48}, {"Unit", 132.29, 131.23}, {"AUTO", 162.98, 162.98},
};

constexpr double kMmPerInch = 25.4;

QRectF bandText(double bandTop, double left, double top, double width = 0.0) {
    return QRectF(ReportMm::kMargin + left, ReportMm::kMargin + bandTop + top, width, ReportMm::kTextHeight);
}

}  // namespace

const int ReportLayout::kRowsPerPage = static_cast<int>(
    std::floor((ReportMm::kFooterBandTop - ReportMm::kFirstDetailTop) / ReportMm::kDetailBandHeight + 1e-9));
const QString ReportLayout::kTitle = QStringLiteral("The Data Print Title");
const QString ReportLayout::kFooter = QStringLiteral("The Data Print Foot");

ReportLayout::ReportLayout(const RecordSource& rows) : rows_(rows) {}

int ReportLayout::pageCountFor(int64_t rows) {
    if (rows <= 0) return 0;
    return static_cast<int>((rows + kRowsPerPage - 1) / kRowsPerPage);
}

int ReportLayout::pageCount() const { return pageCountFor(rows_.rowCount()); }

QFont ReportLayout::font() {
    QFont f;
    f.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    f.setPointSizeF(10.0);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

std::vector<ReportText> ReportLayout::pageTexts(int page) const {
    std::vector<ReportText> texts;
    if (page < 0 || page >= pageCount()) return texts;
    const double titleLeft = (ReportMm::kBandWidth - ReportMm::kTitleWidth) / 2;
    texts.push_back({kTitle, bandText(0.0, titleLeft, ReportMm::kTitleTop, ReportMm::kTitleWidth), true});
    for (const Column& c : kColumns) {
        texts.push_back({QString::fromLatin1(c.title),
                         bandText(ReportMm::kColumnBandTop, c.titleLeft, ReportMm::kColumnTitleTop)});
    }
    const int64_t firstRow = static_cast<int64_t>(page) * kRowsPerPage;
    const int64_t endRow = std::min<int64_t>(firstRow + kRowsPerPage, rows_.rowCount());
    for (int64_t r = firstRow; r < endRow; ++r) {
        const double bandTop = ReportMm::kFirstDetailTop + static_cast<double>(r - firstRow) * ReportMm::kDetailBandHeight;
        const std::vector<QString> fields = reportFieldTexts(rows_.row(r));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            texts.push_back({fields[i], bandText(bandTop, kColumns[i].fieldLeft, ReportMm::kDetailTop)});
        }
    }
    texts.push_back({kFooter, bandText(ReportMm::kFooterBandTop, ReportMm::kFooterLeft, ReportMm::kFooterTop)});
    return texts;
}

void ReportLayout::paintPage(QPainter& painter, int page, double dpiX, double dpiY, QPointF originMm) const {
    const double sx = dpiX / kMmPerInch;
    const double sy = dpiY / kMmPerInch;
    auto toDevice = [&](const QRectF& mm) {
        return QRectF((mm.left() - originMm.x()) * sx, (mm.top() - originMm.y()) * sy, mm.width() * sx,
                      mm.height() * sy);
    };
    painter.setFont(font());
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double bandRight = ReportMm::kMargin + ReportMm::kBandWidth;

    for (const ReportText& t : pageTexts(page)) {
        QRectF box = t.box;
        if (box.width() <= 0.0) {
            // the box fits its text, but never reaches past the band
            const double textMm = std::ceil(metrics.horizontalAdvance(t.text)) / sx;
            box.setWidth(std::min(textMm, bandRight - box.left()));
        }
        const QRectF device = toDevice(box);
        // texts are white-backed: a long text covers whatever lies under it
        painter.fillRect(device, Qt::white);
        painter.setPen(Qt::black);
        const int align = (t.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop | Qt::TextWordWrap;
        painter.save();
        painter.setClipRect(device);
        painter.drawText(device, align, t.text);
        painter.restore();
    }
}

int ReportLayout::render(QPagedPaintDevice& device, int first, int last, const Progress& progress) const {
    first = std::max(first, 0);
    last = std::min(last, pageCount() - 1);
    if (first > last) return 0;

    const QMarginsF margins(ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin);
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, margins,
                                     QPageLayout::Millimeter));
    QPainter painter;
    if (!painter.begin(&device)) return 0;
    // The painter starts at the corner of the printable area; a device with wider minimum margins
    // moves that corner, and the texts are placed relative to the paper all the same.
    // Devices round the margins to whole points or pixels; the corner they paint from is what counts.
    const double dpiX = device.logicalDpiX();
    const double dpiY = device.logicalDpiY();
    const QPoint corner = device.pageLayout().paintRectPixels(device.logicalDpiX()).topLeft();
    const QPointF origin(corner.x() * kMmPerInch / dpiX, corner.y() * kMmPerInch / dpiY);

    const int count = last - first + 1;
    int done = 0;
    for (int page = first; page <= last; ++page) {
        if (page > first) device.newPage();
        paintPage(painter, page, dpiX, dpiY, origin);
        ++done;
        if (progress && !progress(done, count)) break;
    }
    painter.end();
    return done;
}

int ReportLayout::render(QPagedPaintDevice& device, const Progress& progress) const {
    return render(device, 0, pageCount() - 1, progress);
}

std::vector<QString> reportFieldTexts(const RecordRow& row) {
    return {QString::number(row.no), recordTimeText(row.timeMs), recordText(row.dcAc),
            recordText(row.value),   recordText(row.unit),       recordText(row.autoText)};
}

QString recordTimeText(int32_t timeMs) {
    const QTime t = QTime::fromMSecsSinceStartOfDay(timeMs);
    return t.isValid() ? t.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString recordText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (utf8.hasError()) s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return s;
}

ReportPdfResult writeReportPdf(const RecordSource& rows, const QString& path, const ReportLayout::Progress& progress) {
    ReportPdfResult result;
    const ReportLayout layout(rows);
    if (layout.pageCount() == 0) {
        result.error = QStringLiteral("The table holds no rows: no report was written.");
        return result;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return result;
    }
    {
        QPdfWriter pdf(&file);
        pdf.setTitle(ReportLayout::kTitle);
        pdf.setCreator(QStringLiteral("dmmview"));
        result.pages = layout.render(pdf, progress);
    }
    if (result.pages < layout.pageCount()) {
        file.cancelWriting();
        result.cancelled = result.pages > 0;
        if (!result.cancelled) result.error = QStringLiteral("Could not write %1.").arg(path);
        return result;
    }
    if (!file.commit()) {
        result.error = QStringLiteral("Could not write %1: %2").arg(path, file.errorString());
        return result;
    }
    result.written = true;
    return result;
}
