#pragma once

#include <iosfwd>

#include "AppOptions.h"
#include "ExitCode.h"

// `--recover JOURNAL OUT`: writes the rows a journal of recorded readings holds to OUT, in the
// format Save picks for that name, reading the journal as it writes. Damaged entries are skipped
// with a note and the rows after them recovered. Once OUT is in place the journal has done its
// job and is removed (one with damage in it is kept aside as JOURNAL.damaged). Failed when the
// journal is in use, cannot be read, holds no rows (nothing is written then) or OUT cannot be
// written; the journal then stays.
ExitCode runRecover(const AppOptions& options, std::ostream& out, std::ostream& err);
