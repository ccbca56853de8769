// Recovery of a long run from its journal: writes a journal of N rows (ten million by default, a
// long day at the line rate) in the entries a logger writes twice a second, then in a child process
// each, writes its rows out with --recover (a table and a text) and reads them back into the
// record store as the window does. Prints time and peak memory of each, and fails when --recover
// needs more than 300 MB or the store more than its rows' 20 bytes and 64 MB besides.
//
// Usage: recover_journal [--rows N] [--entry-rows N] [--dir FOLDER]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "AppOptions.h"
#include "ChildPeak.h"
#include "JournalReader.h"
#include "RecordJournal.h"
#include "RecordStore.h"
#include "RecordTable.h"
#include "RecoverRunner.h"

namespace {

void writeJournal(const std::string& path, int64_t rows, int entryRows) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<RecordRow> entry;
    char text[16];
    for (int64_t i = 0; i < rows; ++i) {
        const int counts = int(i % 4000);
        const int n = std::snprintf(text, sizeof text, "%d.%03d", counts / 1000, counts % 1000);
        entry.push_back({int32_t(i + 1), int32_t((36000000 + i * 50) % 86400000), "DC",
                         std::string(text, size_t(n)), "V", "AUTO", double(counts)});
        if (int(entry.size()) == entryRows || i + 1 == rows) {
            out << RecordJournal::encodeEntry(entry);
            entry.clear();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int64_t rows = 10000000;
    int entryRows = 1000;
    QString dir = QDir::tempPath();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rows"))
            rows = std::atoll(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--entry-rows"))
            entryRows = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = QString::fromLocal8Bit(argv[i + 1]);
    }
    const std::string base =
        QDir(dir).filePath(QStringLiteral("recover_bench_%1").arg(::getpid())).toStdString();
    const std::string journal = base + ".journal";
    writeJournal(journal, rows, entryRows);
    std::ifstream size(journal, std::ios::binary | std::ios::ate);
    std::printf("journal: %lld rows, %.1f MiB\n", static_cast<long long>(rows), mib(int64_t(size.tellg())));

    bool ok = true;
    for (const char* ext : {".db", ".txt"}) {
        // the journal is removed by a recovery that worked: each run gets a copy
        const std::string copy = base + ext + ".journal";
        std::ifstream from(journal, std::ios::binary);
        std::ofstream(copy, std::ios::binary) << from.rdbuf();
        double seconds = 0;
        const int64_t peak = peakOfChild(
            [&] {
                std::ostringstream out, err;
                const OptionsResult o = parseOptions({"--recover", copy, base + ext});
                const ExitCode code = runRecover(o.options, out, err);
                std::fputs(err.str().c_str(), stderr);
                return code == ExitCode::Success &&
                       out.str().find(std::to_string(rows) + " rows") != std::string::npos;
            },
            &seconds);
        std::printf("--recover into %-4s %6.1f s, peak memory %.1f MiB\n", ext, seconds, mib(peak));
        ok = ok && peak >= 0 && peak <= (int64_t(300) << 20);
        std::remove((base + ext).c_str());
        std::remove(copy.c_str());
    }

    double seconds = 0;
    const int64_t peak = peakOfChild(
        [&] {
            RecordState state;
            RecordTable table;
            RecordStore store(state, table);
            table.openEmpty("Kr47bdb");
            const RecordJournal::Contents left = RecordJournal::read(journal, false);
            store.recoverRows(JournalRows(journal, left.rowCount));
            return table.rowCount() == rows;
        },
        &seconds);
    std::printf("into the record store %6.1f s, peak memory %.1f MiB (%.1f bytes a row)\n", seconds,
                mib(peak), double(peak) / double(rows));
    ok = ok && peak >= 0 && peak <= rows * 20 + (int64_t(64) << 20);
    std::remove(journal.c_str());
    if (!ok) std::printf("FAIL: a recovery failed or needed more memory than its budget\n");
    return ok ? 0 : 1;
}
