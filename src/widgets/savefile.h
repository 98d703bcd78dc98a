#pragma once

#include <QByteArray>
#include <QString>

namespace cleftsim {

// Writes data to path without ever leaving a partial file: the bytes go to a
// temporary file beside it, are flushed to the disk and only then moved over
// path. Returns false with saveFailure's message in *error when the file could
// not be written; an existing file of that name stays as it was.
bool saveFileAtomically(const QString &path, const QByteArray &data, QString *error);

// The message of every failed save: the file, as the system writes paths, and
// the system's reason ("/home/a/x.csv could not be saved: Permission denied").
QString saveFailure(const QString &path, const QString &reason);

} // namespace cleftsim
