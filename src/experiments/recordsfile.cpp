#include "experiments/recordsfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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
    QString name = stateName;
    const int colon = name.indexOf(QStringLiteral(": "));
    if (colon >= 0) {
        name.insert(colon, QLatin1Char('_'));
        name.remove(colon + 1, 2);
    }
    const int arrow = name.indexOf(QLatin1Char('>'));
    if (arrow >= 0)
        name.remove(arrow, 1);
    return name + QStringLiteral(".txt");
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

bool saveFileAtomically(const QString &path, const QByteArray &data, QString *error)
{
    QSaveFile file(path);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Written in pieces, as a stream would: a write that fails keeps the
    // system's reason until the device is flushed, while one large write
    // may be left with none.
    constexpr qsizetype Piece = 4096;
    for (qsizetype at = 0; at < data.size(); at += Piece) {
        const qsizetype n = std::min(Piece, data.size() - at);
        if (file.write(data.constData() + at, n) != n) {
            file.flush();
            return fail(file.errorString());
        }
    }
    if (!file.flush())
        return fail(file.errorString());
#ifdef Q_OS_UNIX
    if (::fsync(file.handle()) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
#endif
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace cleftsim
