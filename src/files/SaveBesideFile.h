#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

// A data file written beside its target and renamed over it once complete, so that a save that
// fails or is cancelled leaves an earlier file of that name as it was. The target must be a
// regular file or missing: a device, a pipe, a socket or a folder under the name is refused before
// anything is written, and is never renamed over. Errors carry the system's reason ("No space
// left on device"). A link is followed: the file it names is replaced, the link stays.
class SaveBesideFile : public QIODevice {
public:
    explicit SaveBesideFile(const QString& path);
    ~SaveBesideFile() override;

    // Creates the new file beside the target; only writing is offered.
    bool open(OpenMode mode = WriteOnly) override;
    // Puts the written file in the target's place. False with errorString() when that failed.
    bool commit();
    // Removes what was written; the target stays as it was.
    void cancelWriting();

    bool seek(qint64 pos) override;

    // The file being written, for a writer that opens files only by name (a printer): what it
    // writes there is synced and renamed by commit() like the data written through this device.
    QString writtenPath() const;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool fail(int error);
    bool refuseTarget();

    QByteArray target_;  // the system's name of the file replaced
    QByteArray temp_;    // the file written beside it
    int fd_ = -1;
};
