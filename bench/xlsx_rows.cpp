// A workbook of a million rows, as Save and --record write it: the rows are made as they are
// asked for (nothing held), so the memory measured is the writer's. Each write runs in a child
// process; prints the time and peak resident memory of each, with an idle child's peak for the
// floor, and fails when the workbook writer needs 50 MB or more above that floor.
//
// Usage: xlsx_rows [--rows N] [--dir FOLDER]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "ChildPeak.h"
#include "DataFiles.h"

namespace {

// Rows of a day at twenty readings a second, made when asked for.
class MadeRows : public RecordSource {
public:
    explicit MadeRows(int64_t rows) : rows_(rows) {}
    int64_t rowCount() const override { return rows_; }
    RecordRow row(int64_t i) const override {
        RecordRow r;
        const int counts = int(i % 4000);
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%d.%03d", counts / 1000, counts % 1000);
        r.no = int32_t(i + 1);
        r.day = 20794 + int32_t(i / 1728000);
        r.timeMs = int32_t(i % 1728000 * 50);
        r.utcOffsetMin = 60;
        r.dcAc = "DC";
        r.value.assign(text, size_t(n));
        r.unit = "V";
        r.autoText = "AUTO";
        r.nval = counts;
        return r;
    }

private:
    int64_t rows_;
};

}  // namespace

int main(int argc, char** argv) {
    int64_t rows = 1000000;
    QString dir = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::stoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--dir") == 0) dir = QString::fromLocal8Bit(argv[i + 1]);
    }
    const MadeRows made(rows);
    double seconds = 0;
    const int64_t floor = peakOfChild([&] { return made.rowCount() == rows; }, &seconds);
    int failures = 0;
    for (const char* name : {"rows.csv", "rows.xlsx"}) {
        const QString path = QDir(dir).filePath(name);
        const int64_t peak = peakOfChild([&] { return DataFiles::save(path, made).ok(); }, &seconds);
        if (peak < 0) {
            std::printf("%s: the write failed\n", name);
            ++failures;
            continue;
        }
        const double above = mib(peak - floor);
        std::printf(
            "%s: %lld rows in %.1f s, %.1f MB on disk, peak memory %.1f MiB (%.1f MiB above an idle child)\n",
            name, static_cast<long long>(rows), seconds, double(QFileInfo(path).size()) / 1e6, mib(peak),
            above);
        if (QString(name).endsWith(".xlsx") && above >= 50) {
            std::printf("the workbook writer needs 50 MB or more\n");
            ++failures;
        }
        QFile::remove(path);
    }
    return failures == 0 ? 0 : 1;
}
