#pragma once

#include <iosfwd>

#include "AppOptions.h"

// `--recover JOURNAL OUT`: writes the rows a journal of recorded readings holds to OUT, in the
// format Save picks for that name. A damaged or cut-short end of the journal is skipped with a
// note. The journal is left as it is. Returns the exit code: 0 when OUT was written, 1 when the
// journal cannot be read, holds no rows (nothing is written then) or OUT cannot be written.
int runRecover(const AppOptions& options, std::ostream& out, std::ostream& err);
