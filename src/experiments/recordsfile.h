#pragma once

#include "runners/records.h"

#include <QString>

namespace cleftsim {

// Makes the file name proposed for the records of a stored state from the
// state's name: "3: 2>RgV2" gives "3_2RgV2.txt", "0: default" gives
// "0_default.txt" (the ": " becomes "_", the first ">" goes, ".txt" follows).
QString proposedRecordsName(const QString &stateName);

// Returns name if no file of that name exists in folder; otherwise the first
// of name(1).txt, name(2).txt, ... (the extension replaced) that is free.
QString freeRecordsName(const QString &folder, const QString &name);

// Writes the records file of count traces to path. The file is written to a
// temporary file beside it and moved over path only when every byte has been
// written and flushed to the disk, so a failure leaves an existing file of
// that name as it was and no partial file behind. Returns false with the
// system's message in *error when the file could not be written.
bool saveRecordsFile(const QString &path, const CurrentTrace *traces, int count, QString *error);

} // namespace cleftsim
