#include "RecoverRunner.h"

#include <sys/stat.h>

#include <QString>
#include <ostream>

#include "DataFiles.h"
#include "HeadlessRecorder.h"
#include "JournalReader.h"
#include "PlainFile.h"
#include "RecordJournal.h"
#include "ShownName.h"

namespace {

std::string entries(int64_t n) {
    return std::to_string(n) + (n == 1 ? " damaged entry" : " damaged entries");
}

}  // namespace

ExitCode runRecover(const AppOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.recoverJournal) return ExitCode::NotStarted;
    // the journal itself, or the file a --record run was writing, whose journal is found beside it
    std::string journalPath = *options.recoverJournal;
    const std::string suffix = ".journal";
    const bool namesJournal =
        journalPath.size() >= suffix.size() &&
        journalPath.compare(journalPath.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!namesJournal) {
        const std::string beside = HeadlessRecorder::journalPathFor(journalPath);
        struct stat found {};
        if (::lstat(beside.c_str(), &found) == 0) journalPath = beside;
    }
    const QString target = PlainFile::fromNative(options.recoverOut);
    if (PlainFile::sameFile(options.recoverOut, journalPath)) {
        err << shownName(options.recoverOut) << ": is the journal itself; choose another name\n";
        return ExitCode::Failed;
    }
    struct stat st {};
    if (::lstat(journalPath.c_str(), &st) != 0) {
        err << shownName(journalPath) << ": no such journal\n";
        return ExitCode::Failed;
    }
    // Held for the whole run: a logger or window still writing it refuses, and nobody takes it
    // while its rows are written and it is removed.
    RecordJournal journal;
    const Result<RecordJournal::Contents> claimed = journal.claim(journalPath);
    if (!claimed) {
        err << shownName(claimed.error()) << "\n";
        return ExitCode::Failed;
    }
    const RecordJournal::Contents& contents = claimed.value();
    if (!contents.error.empty()) {
        err << shownName(contents.error) << "\n";
        return ExitCode::Failed;
    }
    if (contents.skipped > 0)
        err << shownName(journalPath) << ": " << entries(contents.skipped)
            << " skipped; the rows after them are recovered\n";
    if (contents.torn)
        err << shownName(journalPath) << ": the end of the journal was cut short or damaged and is skipped\n";
    if (contents.rowCount == 0) {
        err << shownName(journalPath) << ": the journal holds no rows; nothing written\n";
        return ExitCode::Failed;
    }
    const JournalRows rows(journalPath, contents.rowCount);
    const FileResult result = DataFiles::save(target, rows);
    if (!result.ok()) {
        err << shownName(PlainFile::toNative(result.error).toStdString()) << "\n";
        return ExitCode::Failed;
    }
    out << shownName(options.recoverOut) << ": " << result.rows << (result.rows == 1 ? " row\n" : " rows\n");
    // The rows are on file now. Damaged bytes may still hold rows that a better reading would
    // find: those are kept aside, never thrown away.
    if (contents.skipped > 0 || contents.torn) {
        const Result<std::string> aside = journal.setAside();
        if (!aside) {
            err << shownName(aside.error()) << "\n";
            return ExitCode::Success;
        }
        err << shownName(journalPath) << ": kept as " << shownName(aside.value())
            << " for its damaged part\n";
    }
    journal.remove();
    return ExitCode::Success;
}
