#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "AppOptions.h"
#include "ExitCode.h"
#include "RecordRow.h"

// Reads a saved table for the report. Returns no table, with a reason in `error`, when the file
// cannot be read.
using TableLoader = std::function<std::unique_ptr<RecordSource>(const std::string& path, std::string& error)>;

// Reads what Open reads: a Paradox table with the record layout.
TableLoader defaultTableLoader();

// `--report OUT.pdf TABLE`: lays the table out into the PDF without a window. Needs a running
// QGuiApplication (fonts). Failed when the table cannot be read, holds no rows (no file is written
// then) or the PDF cannot be written.
ExitCode runReport(const AppOptions& options, const TableLoader& load, std::ostream& out, std::ostream& err);
