// The printed report at the "limitless" record limit of 10,000,000 rows: the snapshot the preview
// takes, the preview from Print until its first page is painted, Last, the memory while it is open
// and after it closed, and the PDF with its peak memory. `--rows=N` runs it on another table size.
#include <benchmark/benchmark.h>

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "ProcessMemory.h"
#include "RecordTable.h"
#include "ReportLayout.h"
#include "ReportPageView.h"
#include "ReportPreview.h"

namespace {

int64_t gRows = 10000000;

// Starts a new peak: VmHWM counts from the resident memory of now.
void resetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// The rows as the window holds them, readings of a meter across its range.
const RecordTable& table() {
    static const RecordTable* t = [] {
        auto* rows = new RecordTable;
        static const char* const units[] = {"k*", "mV", "#", "uF", "kHz"};
        for (int64_t i = 0; i < gRows; ++i) {
            const int n = static_cast<int>(i);
            rows->append(RecordRow{n + 1, (8 * 3600 + n % 50000) * 1000, n % 2 ? "AC" : "DC",
                                   std::to_string(n % 4000 / 1000) + "." + std::to_string(100 + n % 900),
                                   units[n % 5], n % 7 ? "AUTO" : "MANU", double(n % 4000)});
        }
        return rows;
    }();
    return *t;
}

void BM_Snapshot(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(table().snapshot());
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMicrosecond);

// Print pressed: the snapshot, the preview window and its first page painted; then End and the
// last page painted. Memory is the process's resident memory above that before Print.
void BM_Preview(benchmark::State& state) {
    for (auto _ : state) {
        QApplication::processEvents();
        const int64_t before = memoryOf("VmRSS");
        QElapsedTimer clock;
        clock.start();
        double firstMs = 0, lastMs = 0, openMib = 0;
        {
            ReportPreview preview(table());
            preview.dialog()->show();
            ReportPageView* view = preview.view();
            benchmark::DoNotOptimize(view->viewport()->grab());  // painted as the screen would show it
            firstMs = double(clock.nsecsElapsed()) / 1e6;
            clock.restart();
            for (QAction* a : preview.dialog()->findChildren<QAction*>())
                if (a->text() == QLatin1String("Last page")) a->trigger();
            benchmark::DoNotOptimize(view->viewport()->grab());
            lastMs = double(clock.nsecsElapsed()) / 1e6;
            if (view->currentPage() != view->pageCount() - 1)
                state.SkipWithError("End did not reach the last page");
            QApplication::processEvents();
            openMib = mib(memoryOf("VmRSS") - before);
            preview.dialog()->hide();
        }
        QApplication::processEvents();
        state.counters["first_page_ms"] = firstMs;
        state.counters["last_ms"] = lastMs;
        state.counters["open_above_mib"] = openMib;
        state.counters["closed_above_mib"] = mib(memoryOf("VmRSS") - before);
    }
}
// one run, so that what the first preview of the process costs is counted
BENCHMARK(BM_Preview)->Unit(benchmark::kMillisecond)->Iterations(1);

// The PDF of every row, as Save as PDF and `--report` write it; the peak is above the rows in memory.
void BM_Pdf(benchmark::State& state) {
    QTemporaryDir dir;
    for (auto _ : state) {
        resetPeak();
        const int64_t before = memoryOf("VmRSS");
        const ReportPdfResult r = writeReportPdf(table(), dir.filePath("report.pdf"));
        if (!r.written) state.SkipWithError("PDF not written");
        state.counters["pages"] = r.pages;
        state.counters["peak_above_rows_mib"] = mib(memoryOf("VmHWM") - before);
        state.counters["rows_mib"] = mib(static_cast<int64_t>(table().bytesUsed()));
    }
}
BENCHMARK(BM_Pdf)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--rows=", 7) == 0) gRows = std::atoll(argv[i] + 7);
    }
    QApplication app(argc, argv);
    table();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
