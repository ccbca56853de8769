// The grid's work per polling tick with a day of rows stored: new rows arrive, the grid moves
// its window to them and paints. Run on the offscreen platform. At 20 polls a second, an update
// of u microseconds costs u / 500 percent of a core.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "RecordGrid.h"
#include "RecordTable.h"

namespace {

void BM_GridUpdateAtTenMillionRows(benchmark::State& state) {
    RecordTable table;
    table.openEmpty("Kr47bdb");
    RecordRow row;
    row.dcAc = "DC";
    row.unit = "k*";
    row.autoText = "AUTO";
    constexpr int64_t kRows = 10000000;
    for (int64_t i = 0; i < kRows; ++i) {
        row.no = static_cast<int32_t>(i + 1);
        row.value = std::to_string(i % 4000);
        table.append(row);
    }
    RecordGrid grid;
    grid.resize(284, 150);
    grid.setSource(&table);
    grid.show();
    QApplication::processEvents();
    for (auto _ : state) {
        // the readings of one poll at 19200 baud
        for (int k = 0; k < 9; ++k) {
            row.no++;
            table.append(row);
        }
        grid.refresh();
        // the window's event loop: layout, scroll bar and the repaint of what changed
        QApplication::processEvents();
    }
    state.counters["rows"] = static_cast<double>(table.rowCount());
}
BENCHMARK(BM_GridUpdateAtTenMillionRows)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
