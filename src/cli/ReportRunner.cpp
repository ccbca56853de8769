#include "ReportRunner.h"

#include <QString>
#include <ostream>

#include "CompactRows.h"
#include "DataFiles.h"
#include "PlainFile.h"
#include "ReportLayout.h"
#include "ShownName.h"
#include "TableLock.h"

TableLoader defaultTableLoader() {
    // the table is read as Open reads it, under the same exclusive lock: a table that another
    // program holds open is refused; the rows are held as the window holds them
    return [](const std::string& path) -> LoadedTable {
        auto rows = std::make_unique<CompactRows>();
        TableLock lock;
        const FileResult r = DataFiles::openTable(PlainFile::fromNative(path), lock,
                                                  [&rows](const RecordRow& row) { rows->append(row); });
        if (!r.ok()) return Failure{PlainFile::toNative(r.error).toStdString()};
        return std::unique_ptr<RecordSource>(std::move(rows));
    };
}

ExitCode runReport(const AppOptions& options, const TableLoader& load, std::ostream& out, std::ostream& err) {
    if (!options.reportPdf) return ExitCode::NotStarted;
    const std::string& table = options.reportTable;
    // writing the PDF over the table it reports on would lose the table
    const QString pdfPath = PlainFile::fromNative(*options.reportPdf);
    if (PlainFile::sameFile(*options.reportPdf, table)) {
        err << shownName(*options.reportPdf) << ": is the table itself; choose another name for the PDF\n";
        return ExitCode::Failed;
    }
    const LoadedTable loaded = load ? load(table) : LoadedTable(Failure{});
    if (!loaded || !loaded.value()) {
        const std::string& error = loaded.error();
        err << shownName(table) << ": " << (error.empty() ? "cannot be read" : shownName(error)) << "\n";
        return ExitCode::Failed;
    }
    const std::unique_ptr<RecordSource>& rows = loaded.value();
    if (rows->rowCount() == 0) {
        err << shownName(table) << ": the table holds no rows; no report written\n";
        return ExitCode::Failed;
    }
    const ReportPdfResult result = writeReportPdf(*rows, pdfPath);
    if (!result.written) {
        err << shownName(PlainFile::toNative(result.error).toStdString()) << "\n";
        return ExitCode::Failed;
    }
    out << shownName(*options.reportPdf) << ": " << result.pages
        << (result.pages == 1 ? " page, " : " pages, ") << rows->rowCount()
        << (rows->rowCount() == 1 ? " row\n" : " rows\n");
    return ExitCode::Success;
}
