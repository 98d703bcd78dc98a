#include "widgets/savefile.h"

#include <QDir>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cleftsim {

bool saveFileAtomically(const QString &path, const QByteArray &data, QString *error)
{
    QSaveFile file(path);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = saveFailure(path, reason);
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
            *error = saveFailure(path, file.errorString());
        return false;
    }
    return true;
}

QString saveFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("%1 could not be saved: %2").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace cleftsim
