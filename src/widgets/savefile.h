#pragma once

#include <QByteArray>
#include <QString>

namespace cleftsim {

// Writes data to path without ever leaving a partial file: the bytes go to a
// temporary file beside it, are flushed to the disk and only then moved over
// path. A symbolic link is followed: its target is replaced, from a temporary
// file in the target's folder. A path that names something other than a
// regular file (a named pipe, a device, a socket, a folder), also behind a
// link, is refused before anything is written. Returns false with
// saveFailure's message in *error when the file could not be written; an
// existing file of that name stays as it was.
bool saveFileAtomically(const QString &path, const QByteArray &data, QString *error);

// Why path cannot be read or replaced as a file: "not a regular file (a named
// pipe)" and the like when it names (or a link leads to) something other
// than a regular file; empty for a regular file and for a name not taken.
QString notRegularFile(const QString &path);

// The file a save dialog proposes: path itself when its folder is there, else
// the same name in the home folder (a fresh home has no Documents folder).
QString existingFolderOrHome(const QString &path);

// The message of every failed save: the file, as the system writes paths, and
// the system's reason ("/home/a/x.csv could not be saved: Permission denied").
QString saveFailure(const QString &path, const QString &reason);

} // namespace cleftsim
