#pragma once

// Reads back what a written PDF shows, through poppler-utils: page count and the words of each page
// with their boxes in millimetres from the paper's top left corner.
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QXmlStreamReader>
#include <vector>

#include "RecordRow.h"

struct PdfWord {
    QString text;
    double left, top, right, bottom;  // mm
};

struct PdfPage {
    double width = 0, height = 0;  // mm
    std::vector<PdfWord> words;

    // The words of the line whose top lies within 0.5 mm of `top`, left to right.
    std::vector<PdfWord> lineAt(double top) const {
        std::vector<PdfWord> line;
        for (const PdfWord& w : words) {
            if (std::abs(w.top - top) < 0.5) line.push_back(w);
        }
        return line;
    }
    const PdfWord* find(const QString& text) const {
        for (const PdfWord& w : words) {
            if (w.text == text) return &w;
        }
        return nullptr;
    }
};

inline std::vector<PdfPage> readPdfWords(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    p.waitForFinished(60000);
    const QByteArray html = p.readAllStandardOutput();
    constexpr double kMmPerPt = 25.4 / 72.0;
    std::vector<PdfPage> pages;
    QXmlStreamReader xml(html);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        const auto a = xml.attributes();
        if (xml.name() == QLatin1String("page")) {
            pages.push_back(
                {a.value("width").toDouble() * kMmPerPt, a.value("height").toDouble() * kMmPerPt, {}});
        } else if (xml.name() == QLatin1String("word") && !pages.empty()) {
            PdfWord w{QString(), a.value("xMin").toDouble() * kMmPerPt, a.value("yMin").toDouble() * kMmPerPt,
                      a.value("xMax").toDouble() * kMmPerPt, a.value("yMax").toDouble() * kMmPerPt};
            w.text = xml.readElementText();
            pages.back().words.push_back(w);
        }
    }
    return pages;
}

// A table of rows held in memory.
class VectorSource : public RecordSource {
public:
    std::vector<RecordRow> rows;
    int64_t rowCount() const override { return static_cast<int64_t>(rows.size()); }
    RecordRow row(int64_t i) const override { return rows.at(static_cast<std::size_t>(i)); }
};

// Row i of a run: numbered from 1, a second apart from 10:00:00, the units of a few ranges.
inline RecordRow sampleRow(int i) {
    static const char* const units[] = {"k*", "mV", "#", "uF"};
    RecordRow r;
    r.no = i + 1;
    r.timeMs = (10 * 3600 + i) * 1000;
    r.dcAc = i % 2 ? "AC" : "DC";
    r.value = (i % 3 ? "" : "-") + std::to_string(1 + i % 9) + "." + std::to_string(100 + i % 900);
    r.unit = units[i % 4];
    r.autoText = i % 5 ? "AUTO" : "MANU";
    r.nval = 1234.0 + i;
    return r;
}

inline VectorSource sampleTable(int rows) {
    VectorSource s;
    for (int i = 0; i < rows; ++i) s.rows.push_back(sampleRow(i));
    return s;
}
