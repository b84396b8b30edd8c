#include "store/Folders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#else
#include <QStorageInfo>
#endif

namespace store::folders {
namespace {

// Written by the probe: a whole block, so a disk without a free block says so at once.
constexpr int kProbeSize = 4096;
// What most file systems take when the system cannot be asked.
constexpr int kDefaultNameLimit = 255;

QString probeName(const QString& folder)
{
    return QDir(folder).absoluteFilePath(QStringLiteral(".carteo-prova-%1-%2")
                                             .arg(QCoreApplication::applicationPid())
                                             .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
}

#if defined(Q_OS_UNIX)
Problem fromErrno(int error)
{
    switch (error) {
    case 0:
        return Problem::None;
    case EACCES:
    case EPERM:
    case EROFS:
        return Problem::ReadOnly;
    case ENOSPC:
    case EDQUOT:
        return Problem::Full;
    case ENOENT:
    case ENOTDIR:
        return Problem::Missing;
    default:
        return Problem::Unknown;
    }
}
#endif

} // namespace

#if defined(Q_OS_UNIX)

Problem writeProblem(const QString& folder)
{
    const QByteArray name = QFile::encodeName(probeName(folder));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return fromErrno(errno);
    }
    const QByteArray block(kProbeSize, '\0');
    int error = 0;
    const ssize_t written = ::write(fd, block.constData(), size_t(block.size()));
    if (written < 0) {
        error = errno;
    } else if (written != block.size()) {
        error = ENOSPC; // a short write: the disk filled up under it
    }
    // A network share may report a failed write only when the file is closed.
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    ::unlink(name.constData());
    return fromErrno(error);
}

Problem fileWriteProblem(const QString& file)
{
    const QByteArray name = QFile::encodeName(QFileInfo(file).absoluteFilePath());
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return fromErrno(errno);
    }
    ::close(fd);
    return Problem::None;
}

int nameLimit(const QString& folder)
{
    const long limit = ::pathconf(QFile::encodeName(QDir(folder).absolutePath()).constData(), _PC_NAME_MAX);
    return limit > 0 ? int(limit) : kDefaultNameLimit;
}

int nameLength(const QString& name)
{
    return int(QFile::encodeName(name).size());
}

#else

Problem writeProblem(const QString& folder)
{
    if (!QFileInfo(folder).isDir()) {
        return Problem::Missing;
    }
    QFile probe(probeName(folder));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        return Problem::ReadOnly;
    }
    const bool written = probe.write(QByteArray(kProbeSize, '\0')) == kProbeSize && probe.flush();
    probe.close();
    probe.remove();
    if (written) {
        return Problem::None;
    }
    return QStorageInfo(folder).bytesAvailable() < kProbeSize ? Problem::Full : Problem::Unknown;
}

Problem fileWriteProblem(const QString& file)
{
    if (!QFileInfo::exists(file)) {
        return Problem::Missing;
    }
    QFile probe(file);
    return probe.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Append) ? Problem::None
                                                                                          : Problem::ReadOnly;
}

int nameLimit(const QString&)
{
    return kDefaultNameLimit;
}

int nameLength(const QString& name)
{
    return int(name.size()); // UTF-16 units, as the system counts them
}

#endif

bool hasControlCharacters(const QString& text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace store::folders
