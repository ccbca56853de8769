#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <string>

#include "Result.h"

// Data files by name: names kept as the system's bytes, and opening that never waits on a named
// pipe or a device. Every data file the program reads or writes is a regular file; anything else
// under the name (a pipe, a device, a socket, a folder) is refused before it is touched.
namespace PlainFile {

// A name as the system's bytes: the file-name codec's, except that the bytes fromNative() could
// not decode come back as they were.
QByteArray toNative(const QString& name);

// The system's bytes as a name. Bytes that are not text in the system's encoding (a Latin-1 name
// under a UTF-8 locale) are each kept as the code point U+DC80 + byte, so no two names meet and
// toNative() gives the same bytes back.
QString fromNative(const QByteArray& bytes);
inline QString fromNative(const std::string& bytes) {
    return fromNative(QByteArray::fromStdString(bytes));
}

// Why `path` cannot be used as a data file: "it is a named pipe", "it is a device", "it is a
// socket" or "it is a directory" (links followed). Empty for a regular file or a missing one.
std::string refusal(const std::string& path);
inline std::string refusal(const QString& path) {
    return refusal(toNative(path).toStdString());
}

// open(2) of a data file: refuses what is not a regular file, checked before opening and again on
// the opened descriptor (the open itself does not wait, whatever the name turned into meanwhile).
// The descriptor, or the reason (the system's, or the refusal above).
Result<int> open(const std::string& path, int flags, mode_t mode);

// Whether both names are one existing file (links followed).
bool sameFile(const std::string& a, const std::string& b);

// The system's text for an error number, "No space left on device".
std::string reason(int error);

// The name a lock or a journal of `path` is taken under: the file's own path, links and "." and
// ".." resolved (the folder's when the file does not exist yet), so that every name of one file
// meets the same lock. `path` itself when it resolves to nothing else.
std::string resolved(const std::string& path);

}  // namespace PlainFile
