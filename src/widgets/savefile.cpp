#include "widgets/savefile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
#ifdef Q_OS_UNIX
    // Written straight to the temporary file, past the toolkit's buffer: a
    // write the system takes in part goes on with the rest, and the one it
    // refuses keeps its reason (a full disk, whatever the size of the file).
    const int fd = file.handle();
    for (qsizetype at = 0; at < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + at, static_cast<std::size_t>(data.size() - at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return fail(
                n < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("nothing written"));
        at += n;
    }
    if (::fsync(fd) != 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
#else
    if (file.write(data) != data.size() || !file.flush())
        return fail(file.errorString());
#endif
    if (!file.commit()) {
        if (error)
            *error = saveFailure(path, file.errorString());
        return false;
    }
    return true;
}

QString existingFolderOrHome(const QString &path)
{
    const QFileInfo info(path);
    if (QFileInfo(info.absolutePath()).isDir())
        return path;
    return QDir::home().filePath(info.fileName());
}

QString saveFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("%1 could not be saved: %2").arg(QDir::toNativeSeparators(path), reason);
}

} // namespace cleftsim
