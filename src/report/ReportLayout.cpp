#include "ReportLayout.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QRawFont>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

#include "SaveBesideFile.h"
#include "TimeOfDayFormat.h"

namespace {

struct Column {
    const char* title;
    double titleLeft;
    double fieldLeft;
};

// Left edges in millimetres from the band's left edge: column titles and field values.
constexpr Column kColumns[] = {
    {"No", 8.47, 8.47},      {"Time", 33.87, 33.87},   {"DC/AC", 64.29, 65.62},
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

int ReportLayout::pageCount() const {
    return pageCountFor(rows_.rowCount());
}

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
        const double bandTop =
            ReportMm::kFirstDetailTop + static_cast<double>(r - firstRow) * ReportMm::kDetailBandHeight;
        const std::vector<QString> fields = reportFieldTexts(rows_.row(r));
        for (std::size_t i = 0; i < fields.size(); ++i) {
            texts.push_back({fields[i], bandText(bandTop, kColumns[i].fieldLeft, ReportMm::kDetailTop)});
        }
    }
    texts.push_back(
        {kFooter, bandText(ReportMm::kFooterBandTop, ReportMm::kFooterLeft, ReportMm::kFooterTop)});
    return texts;
}

namespace {

// Draws the texts of a page as glyph runs, many texts to a run: a page holds some two hundred
// short texts, and laying out and emitting each one by itself costs more than the glyphs.
// Glyphs and advances of the Latin-1 characters are looked up once per page; other texts, and
// texts that must be clipped or centred, are drawn one by one. Only engines that take glyphs as
// they are get runs: a recorded picture (the print preview's pages) would turn them into outlines.
class GlyphBatch {
public:
    GlyphBatch(QPainter& painter, const QFontMetricsF& metrics)
        : painter_(painter), metrics_(metrics), raw_(QRawFont::fromFont(painter.font())) {
        glyph_.fill(kUnknown);
        const QPaintEngine::Type engine = painter.paintEngine()->type();
        enabled_ = engine == QPaintEngine::Pdf || engine == QPaintEngine::Raster;
    }
    ~GlyphBatch() { flush(); }

    // Whether the engine takes glyph runs; otherwise every text is drawn by itself.
    bool enabled() const { return enabled_; }

    // The advance of `text` summed glyph by glyph, or -1 when it has characters beyond Latin-1.
    double width(const QString& text) {
        double w = 0.0;
        for (const QChar c : text) {
            if (!lookUp(c)) return -1.0;
            w += advance_[c.unicode()];
        }
        return w;
    }

    // Adds a text whose width() was not -1, its baseline starting at `origin`.
    void add(const QString& text, QPointF origin) {
        double x = origin.x();
        for (const QChar c : text) {
            glyphs_.push_back(glyph_[c.unicode()]);
            positions_.push_back(QPointF(x, origin.y()));
            x += advance_[c.unicode()];
        }
    }

    void flush() {
        if (glyphs_.isEmpty()) return;
        QGlyphRun run;
        run.setRawFont(raw_);
        run.setGlyphIndexes(glyphs_);
        run.setPositions(positions_);
        painter_.drawGlyphRun(QPointF(0, 0), run);
        glyphs_.clear();
        positions_.clear();
    }

private:
    static constexpr quint32 kUnknown = 0xFFFFFFFF;

    bool lookUp(QChar c) {
        if (c.unicode() >= glyph_.size()) return false;
        quint32& g = glyph_[c.unicode()];
        if (g == kUnknown) {
            const QList<quint32> indexes = raw_.glyphIndexesForString(QString(c));
            g = indexes.size() == 1 ? indexes.front() : 0;
            advance_[c.unicode()] = metrics_.horizontalAdvance(c);
        }
        return true;
    }

    QPainter& painter_;
    const QFontMetricsF& metrics_;
    QRawFont raw_;
    bool enabled_ = false;
    std::array<quint32, 256> glyph_;
    std::array<double, 256> advance_{};
    QList<quint32> glyphs_;
    QList<QPointF> positions_;
};

}  // namespace

void ReportLayout::paintPage(QPainter& painter, int page, double dpiX, double dpiY, QPointF originMm) const {
    const double sx = dpiX / kMmPerInch;
    const double sy = dpiY / kMmPerInch;
    auto toDevice = [&](const QRectF& mm) {
        return QRectF((mm.left() - originMm.x()) * sx, (mm.top() - originMm.y()) * sy, mm.width() * sx,
                      mm.height() * sy);
    };
    painter.setFont(font());
    painter.setPen(Qt::black);
    const QFontMetricsF metrics(painter.font(), painter.device());
    GlyphBatch batch(painter, metrics);
    const double bandRight = (ReportMm::kMargin + ReportMm::kBandWidth - originMm.x()) * sx;

    QRectF previous;  // the text painted last, on the device
    for (const ReportText& t : pageTexts(page)) {
        QRectF box = toDevice(t.box);
        const double glyphWidth = batch.width(t.text);
        // a centred text is measured whole, kerning included, so that it sits exactly in the middle
        const double textWidth = t.centred || glyphWidth < 0 ? metrics.horizontalAdvance(t.text) : glyphWidth;
        // a text box fits its text, up to the band's right edge
        if (box.width() <= 0.0) box.setWidth(std::min(textWidth, bandRight - box.left()));
        const bool fits = textWidth <= box.width();
        // Texts are white-backed: one that runs into the text before it on its band covers it. The
        // bands are white, so elsewhere the background would change nothing on paper.
        if (box.top() == previous.top() && box.left() < previous.right()) {
            batch.flush();
            painter.fillRect(box, Qt::white);
        }
        previous = box;
        const QPointF baseline(box.left(), box.top() + metrics.ascent());
        if (fits && !t.centred && glyphWidth >= 0 && batch.enabled()) {
            batch.add(t.text, baseline);
            continue;
        }
        batch.flush();
        if (fits) {
            const double x = t.centred ? box.left() + (box.width() - textWidth) / 2 : box.left();
            painter.drawText(QPointF(x, baseline.y()), t.text);
        } else {
            painter.save();
            painter.setClipRect(box);
            const int align =
                (t.centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop | Qt::TextWordWrap;
            painter.drawText(box, align, t.text);
            painter.restore();
        }
    }
}

int ReportLayout::render(QPagedPaintDevice& device, int first, int last, const Progress& progress) const {
    first = std::max(first, 0);
    last = std::min(last, pageCount() - 1);
    if (first > last) return 0;

    const QMarginsF margins(ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin, ReportMm::kMargin);
    device.setPageLayout(
        QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, margins, QPageLayout::Millimeter));
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
    // as Save writes the time in the text; the format is looked up again only when the locale changes
    static thread_local std::optional<TimeOfDayFormat> format;
    static thread_local QLocale formatLocale;
    const QLocale locale;
    if (!format || locale != formatLocale) {
        format.emplace(locale);
        formatLocale = locale;
    }
    return format->text(timeMs);
}

QString recordText(const std::string& text) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    if (utf8.hasError()) s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    return s;
}

ReportPdfResult writeReportPdf(const RecordSource& rows, const QString& path,
                               const ReportLayout::Progress& progress) {
    ReportPdfResult result;
    const ReportLayout layout(rows);
    if (layout.pageCount() == 0) {
        result.error = QStringLiteral("The table holds no rows: no report was written.");
        return result;
    }
    SaveBesideFile file(path);
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
