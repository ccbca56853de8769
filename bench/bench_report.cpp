// The printed report at the record limit of 100,000 rows: the PDF, the copy the preview takes, the
// first pages it lays out, and the preview window from its opening until its pages are there.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QPicture>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QTemporaryDir>
#include <vector>

#include "RecordSnapshot.h"
#include "ReportLayout.h"
#include "ReportPreview.h"

namespace {

constexpr int kRows = 100000;

class Table : public RecordSource {
public:
    explicit Table(int rows) {
        static const char* const units[] = {"k*", "mV", "#", "uF", "kHz"};
        for (int i = 0; i < rows; ++i) {
            RecordRow r;
            r.no = i + 1;
            r.timeMs = (8 * 3600 + i % 50000) * 1000;
            r.dcAc = i % 2 ? "AC" : "DC";
            r.value = std::to_string(i % 4000 / 1000) + "." + std::to_string(100 + i % 900);
            r.unit = units[i % 5];
            r.autoText = i % 7 ? "AUTO" : "MANU";
            r.nval = i % 4000;
            rows_.push_back(r);
        }
    }
    int64_t rowCount() const override { return static_cast<int64_t>(rows_.size()); }
    RecordRow row(int64_t i) const override { return rows_[static_cast<std::size_t>(i)]; }

private:
    std::vector<RecordRow> rows_;
};

const Table& table() {
    static const Table t(kRows);
    return t;
}

void BM_PdfOfLimit(benchmark::State& state) {
    QTemporaryDir dir;
    for (auto _ : state) {
        const ReportPdfResult r = writeReportPdf(table(), dir.filePath("report.pdf"));
        if (!r.written) state.SkipWithError("PDF not written");
        state.counters["pages"] = r.pages;
    }
}
BENCHMARK(BM_PdfOfLimit)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SnapshotOfLimit(benchmark::State& state) {
    for (auto _ : state) {
        RecordSnapshot snap;
        snap.take(table());
        benchmark::DoNotOptimize(snap.rowCount());
    }
}
BENCHMARK(BM_SnapshotOfLimit)->Unit(benchmark::kMillisecond);

// The first pages of the report, laid out on a PDF in memory.
void BM_FirstPages(benchmark::State& state) {
    const ReportLayout layout(table());
    for (auto _ : state) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        benchmark::DoNotOptimize(layout.render(pdf, 0, static_cast<int>(state.range(0)) - 1));
    }
}
BENCHMARK(BM_FirstPages)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The first pages as the preview records them: painted into pictures at the printer's resolution.
void BM_FirstPreviewPages(benchmark::State& state) {
    const ReportLayout layout(table());
    for (auto _ : state) {
        for (int page = 0; page < state.range(0); ++page) {
            QPicture picture;
            QPainter painter(&picture);
            layout.paintPage(painter, page, 1200, 1200, QPointF(10, 10));
            painter.end();
            benchmark::DoNotOptimize(picture.size());
        }
    }
}
BENCHMARK(BM_FirstPreviewPages)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

// The preview opened over the limit: copy, layout of every page and the preview's page scene.
void BM_PreviewOfLimit(benchmark::State& state) {
    for (auto _ : state) {
        ReportPreview preview(table());
        preview.dialog()->show();
        auto* widget = preview.dialog()->findChild<QPrintPreviewWidget*>();
        QApplication::processEvents();
        state.counters["pages"] = widget ? widget->pageCount() : -1;
        preview.dialog()->hide();
    }
}
BENCHMARK(BM_PreviewOfLimit)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    table();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
