#pragma once

#include <iosfwd>

#include "AppOptions.h"

// `--recover JOURNAL OUT`: writes the rows a journal of recorded readings holds to OUT, in the
// format Save picks for that name, reading the journal as it writes. Damaged entries are skipped
// with a note and the rows after them recovered. Once OUT is in place the journal has done its
// job and is removed (one with damage in it is kept aside as JOURNAL.damaged). Returns the exit
// code: 0 when OUT was written, 1 when the journal is in use, cannot be read, holds no rows
// (nothing is written then) or OUT cannot be written; the journal then stays.
int runRecover(const AppOptions& options, std::ostream& out, std::ostream& err);
