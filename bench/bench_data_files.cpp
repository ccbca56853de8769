// Saving and opening large record tables: 10,000,000 rows as text, as CSV with dates and as a
// Paradox table, and opening a table of 1,000,000 rows. Files go to a temporary folder (DMM_BENCH_DIR
// overrides).

#include <benchmark/benchmark.h>

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <memory>

#include "CsvExport.h"
#include "ParadoxTable.h"
#include "RecordFiles.h"
#include "RecordStore.h"
#include "TextExport.h"

namespace {

// Rows made up on demand, as varied as a day of readings.
class MadeUpRows : public RecordSource {
public:
    explicit MadeUpRows(int64_t count) : count_(count) {}
    int64_t rowCount() const override { return count_; }
    RecordRow row(int64_t i) const override {
        static const char* const values[] = {"1.234", "-0.012", "399.9", "0.L", "12.34", "-1.000"};
        static const char* const units[] = {"V", "mV", "k*", "uF", "kHz", "#"};
        RecordRow r;
        r.no = int32_t(i + 1);
        r.timeMs = int32_t((i * 5749) % 86400000);
        r.dcAc = (i & 1) ? "DC" : "AC";
        r.value = values[i % 6];
        r.unit = units[(i / 7) % 6];
        r.autoText = (i % 3) ? "AUTO" : "MANU";
        r.nval = double((i % 8000) - 4000);
        r.day = int32_t(20794 + i * 5749 / 86400000);
        r.utcOffsetMin = 60;
        return r;
    }

private:
    int64_t count_;
};

QString benchDir() {
    static std::unique_ptr<QTemporaryDir> dir;
    const QByteArray chosen = qgetenv("DMM_BENCH_DIR");
    if (!chosen.isEmpty()) return QString::fromLocal8Bit(chosen);
    if (!dir) dir = std::make_unique<QTemporaryDir>();
    return dir->path();
}

// Writes the made-up rows to `name` in the bench folder as often as the benchmark asks.
template <typename Write>
void saveMadeUpRows(benchmark::State& state, const char* name, Write write) {
    const MadeUpRows rows(state.range(0));
    const QString path = QDir(benchDir()).filePath(name);
    for (auto _ : state) {
        const FileResult r = write(path, rows);
        if (!r.ok()) state.SkipWithError(qPrintable(r.error));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(path);
}

void BM_SaveText(benchmark::State& state) {
    saveMadeUpRows(state, "bench.xls", [](const QString& path, const RecordSource& rows) {
        return TextExport::write(path, rows, {}, QLocale::system());
    });
}

// The rate asked of it is at least 1,000,000 rows a second.
void BM_SaveCsv(benchmark::State& state) {
    saveMadeUpRows(state, "bench.csv", [](const QString& path, const RecordSource& rows) {
        return CsvExport::write(path, rows);
    });
}

void BM_SaveParadoxTable(benchmark::State& state) {
    saveMadeUpRows(state, "bench.db", [](const QString& path, const RecordSource& rows) {
        return ParadoxTable::write(path, rows);
    });
}

void BM_OpenParadoxTable(benchmark::State& state) {
    const QString path = QDir(benchDir()).filePath("open.db");
    if (!ParadoxTable::write(path, MadeUpRows(state.range(0))).ok()) {
        state.SkipWithError("could not write the table");
        return;
    }
    int64_t checksum = 0;
    for (auto _ : state) {
        const FileResult r =
            ParadoxTable::read(path, [&](const RecordRow& row) { checksum += row.no + row.unit.size(); });
        if (!r.ok()) state.SkipWithError(qPrintable(r.error));
    }
    benchmark::DoNotOptimize(checksum);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(path);
}

// The record table as the window holds it, filled by the store.
struct FullTable {
    RecordState state;
    RecordTable table;
    RecordStore store{state, table};
    RecordFiles files{store, table};
    explicit FullTable(int64_t rows) {
        table.openEmpty("Kr47bdb");
        store.fillForTest(rows);
    }
};

// Save as the window runs it: from the store's compact rows through RecordFiles. Arg 1: text,
// 2: CSV, 0: a Paradox table.
void BM_SaveRecordTable(benchmark::State& state) {
    FullTable t(state.range(0));
    static const char* const names[] = {"window.db", "window.xls", "window.csv"};
    const QString path = QDir(benchDir()).filePath(names[state.range(1)]);
    for (auto _ : state) {
        const FileResult r = t.files.save(path, [](int64_t, int64_t) { return true; });
        if (!r.ok()) state.SkipWithError(qPrintable(r.error));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(path);
}

// Open as the window runs it: the file read into a fresh table that then takes the place of
// the open one, under the file's lock.
void BM_OpenRecordTable(benchmark::State& state) {
    const QString path = QDir(benchDir()).filePath("window-open.db");
    if (!ParadoxTable::write(path, MadeUpRows(state.range(0))).ok()) {
        state.SkipWithError("could not write the table");
        return;
    }
    FullTable t(0);
    for (auto _ : state) {
        const FileResult r = t.files.open(path, [](int64_t, int64_t) { return true; });
        if (!r.ok()) state.SkipWithError(qPrintable(r.error));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    QFile::remove(path);
}

}  // namespace

BENCHMARK(BM_SaveRecordTable)
    ->Args({10000000, 1})
    ->Args({10000000, 2})
    ->Args({10000000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_OpenRecordTable)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_SaveText)->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SaveCsv)->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_SaveParadoxTable)->Arg(10000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_OpenParadoxTable)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

BENCHMARK_MAIN();
