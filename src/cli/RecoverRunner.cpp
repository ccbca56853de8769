#include "RecoverRunner.h"

#include <QString>
#include <ostream>

#include "DataFiles.h"
#include "PlainFile.h"
#include "RecordJournal.h"
#include "RecordSnapshot.h"

int runRecover(const AppOptions& options, std::ostream& out, std::ostream& err) {
    if (!options.recoverJournal) return 2;
    const std::string& journal = *options.recoverJournal;
    const QString target = PlainFile::fromNative(options.recoverOut);
    if (PlainFile::sameFile(options.recoverOut, journal)) {
        err << options.recoverOut << ": is the journal itself; choose another name\n";
        return 1;
    }
    const RecordJournal::Contents contents = RecordJournal::read(journal);
    if (!contents.exists) {
        err << journal << ": no such journal\n";
        return 1;
    }
    if (!contents.error.empty()) {
        err << contents.error << "\n";
        return 1;
    }
    if (contents.torn) err << journal << ": the end of the journal was cut short or damaged and is skipped\n";
    if (contents.rows.empty()) {
        err << journal << ": the journal holds no rows; nothing written\n";
        return 1;
    }
    RecordSnapshot rows;
    for (const RecordRow& r : contents.rows) rows.append(r);
    const FileResult result = DataFiles::save(target, rows);
    if (!result.ok()) {
        err << PlainFile::toNative(result.error).toStdString() << "\n";
        return 1;
    }
    out << options.recoverOut << ": " << rows.rowCount() << (rows.rowCount() == 1 ? " row\n" : " rows\n");
    return 0;
}
