#pragma once

#include <cstdint>
#include <map>
#include <string>

// Notes on rows of a table, by row index: where a segment of a recording starts, how many
// readings were skipped before a row. A file that carries notes gets a "Note" column.
using RowNotes = std::map<int64_t, std::string>;
