#include "experiments/recordsfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <streambuf>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cleftsim {

namespace {

// A stream buffer that passes what the records writer formats on to a Qt
// device, so that a failed write of the device fails the stream.
class DeviceStreamBuf : public std::streambuf {
public:
    explicit DeviceStreamBuf(QIODevice *device)
        : m_device(device)
    {
        setp(m_buffer, m_buffer + sizeof m_buffer);
    }

protected:
    int_type overflow(int_type c) override
    {
        if (!flushBuffer())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

    int sync() override { return flushBuffer() ? 0 : -1; }

private:
    bool flushBuffer()
    {
        const qint64 n = pptr() - pbase();
        if (n > 0 && m_device->write(pbase(), n) != n)
            return false;
        setp(m_buffer, m_buffer + sizeof m_buffer);
        return true;
    }

    QIODevice *m_device;
    char m_buffer[4096];
};

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
    QSaveFile file(path);
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        file.cancelWriting();
        return false;
    };
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    {
        DeviceStreamBuf buffer(&file);
        std::ostream out(&buffer);
        if (!writeRecordsFile(out, traces, count)) {
            // A failed write keeps its reason until the device is flushed.
            file.flush();
            return fail(file.errorString());
        }
    }
    if (!file.flush())
        return fail(file.errorString());
#ifdef Q_OS_UNIX
    // The records must be on the disk before they replace an older file.
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
    if (file.write(data) != data.size() || !file.flush())
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
