#include "experiments/recordsfile.h"

#include "experiments/copywindows.h"
#include "widgets/savefile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <sstream>

namespace cleftsim {

namespace {

QString extensionReplaced(const QString &name, const QString &extension)
{
    // The extension starts at the last full stop of the file name proper.
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    if (dot > slash)
        return name.left(dot) + extension;
    return name + extension;
}

} // namespace

QString proposedRecordsName(const QString &stateName)
{
    return stateFileBase(stateName) + QStringLiteral(".txt");
}

QString freeRecordsName(const QString &folder, const QString &name)
{
    const QDir dir(folder);
    if (!QFileInfo::exists(dir.filePath(name)))
        return name;
    const QString stem = extensionReplaced(name, QString());
    for (int i = 1;; ++i) {
        const QString candidate = stem + QStringLiteral("(%1).txt").arg(i);
        if (!QFileInfo::exists(dir.filePath(candidate)))
            return candidate;
    }
}

bool saveRecordsFile(const QString &path, const CurrentTrace *traces, int count, QString *error)
{
    // At most 100 lines of 161 values: formatted in memory, then written as
    // any other file the program saves.
    std::ostringstream out;
    writeRecordsFile(out, traces, count);
    return saveFileAtomically(path, QByteArray::fromStdString(out.str()), error);
}

} // namespace cleftsim
