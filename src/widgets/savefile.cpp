#include "widgets/savefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cleftsim {

QString notRegularFile(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return QString(); // a name not taken, a dangling link, a regular file
    QString kind;
    if (info.isDir()) {
        kind = QStringLiteral("a folder");
    } else {
#ifdef Q_OS_UNIX
        // What the link leads to, as the system tells it.
        struct stat st { };
        if (::stat(QFile::encodeName(path).constData(), &st) == 0) {
            if (S_ISFIFO(st.st_mode))
                kind = QStringLiteral("a named pipe");
            else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
                kind = QStringLiteral("a device");
            else if (S_ISSOCK(st.st_mode))
                kind = QStringLiteral("a socket");
        }
#endif
    }
    if (kind.isEmpty())
        return QStringLiteral("not a regular file");
    return QStringLiteral("not a regular file (%1)").arg(kind);
}

bool saveFileAtomically(const QString &path, const QByteArray &data, QString *error)
{
    // Only a regular file is replaced: a pipe would never be written, and a
    // device would become a plain file.
    if (const QString refused = notRegularFile(path); !refused.isEmpty()) {
        if (error)
            *error = saveFailure(path, refused);
        return false;
    }
    // A link to a regular file stays a link: its target is what is replaced,
    // by a temporary file beside the target.
    const QFileInfo info(path);
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : path;
    QSaveFile file(target);
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
