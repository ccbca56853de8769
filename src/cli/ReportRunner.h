#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "AppOptions.h"
#include "ExitCode.h"
#include "RecordRow.h"
#include "Result.h"

// A saved table read for the report: its rows, or the reason the file cannot be read.
using LoadedTable = Result<std::unique_ptr<RecordSource>>;
using TableLoader = std::function<LoadedTable(const std::string& path)>;

// Reads what Open reads: a Paradox table with the record layout.
TableLoader defaultTableLoader();

// `--report OUT.pdf TABLE`: lays the table out into the PDF without a window. Needs a running
// QGuiApplication (fonts). Failed when the table cannot be read, holds no rows (no file is written
// then) or the PDF cannot be written.
ExitCode runReport(const AppOptions& options, const TableLoader& load, std::ostream& out, std::ostream& err);
