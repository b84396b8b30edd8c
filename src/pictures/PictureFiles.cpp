#include "pictures/PictureFiles.h"

#include "store/DbError.h"
#include "store/Folders.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>

#include <mutex>
#include <optional>

namespace pictures {
namespace {

constexpr QFileDevice::Permissions kModeBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                               QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                                               QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

QString quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

// Says why a file could not be written into its folder: the one sure way is to try.
[[noreturn]] void throwWriteError(const QString& path)
{
    const QString start = QStringLiteral("Impossibile salvare l'immagine nel file %1").arg(quoted(path));
    const QString folder = folderOf(path);
    switch (store::folders::writeProblem(folder)) {
    case store::folders::Problem::Missing:
        throw store::DbError(store::ErrPathNotFound,
                             start + QStringLiteral(": la cartella %1 non esiste.").arg(quoted(folder)));
    case store::folders::Problem::ReadOnly:
        throw store::DbError(store::ErrPermissionDenied,
                             start + QStringLiteral(": la cartella %1 è di sola lettura.").arg(quoted(folder)));
    case store::folders::Problem::Full:
        throw store::DbError(store::ErrDiskFull, start + QStringLiteral(": il disco è pieno."));
    case store::folders::Problem::None:
    case store::folders::Problem::Unknown:
        break;
    }
    throw store::DbError(store::ErrPathFileAccess, start + QLatin1Char('.'));
}

// What a replaced file hands on to the one that takes its place.
struct Identity {
    QFileDevice::Permissions permissions;
    QDateTime modified;
    QDateTime accessed;
    QDateTime born;
};

void handOn(const Identity& old, QFileDevice& file)
{
    // Best effort: a system that cannot set a time (creation times on most Unix file systems)
    // keeps the one it gave the new file.
    file.setFileTime(old.modified, QFileDevice::FileModificationTime);
    if (old.accessed.isValid()) {
        file.setFileTime(old.accessed, QFileDevice::FileAccessTime);
    }
    if (old.born.isValid()) {
        file.setFileTime(old.born, QFileDevice::FileBirthTime);
    }
    file.setPermissions(old.permissions);
}

} // namespace

ReadProblem readWholeFile(const QString& path, QByteArray& bytes)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return ReadProblem::Missing;
    }
    if (!info.isFile()) {
        return ReadProblem::Unreadable;
    }
    if (info.size() > kMaxPictureFileBytes) {
        return ReadProblem::TooLarge;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return file.exists() ? ReadProblem::Unreadable : ReadProblem::Missing;
    }
    bytes = file.readAll();
    return file.error() == QFileDevice::NoError ? ReadProblem::None : ReadProblem::Unreadable;
}

void prepareReader(QImageReader& reader)
{
    reader.setAutoTransform(true);
    // The limit is one for the whole process, and pictures are read on several threads: it is set
    // once, before the first reader of any thread reads.
    static std::once_flag limited;
    std::call_once(limited, [] { QImageReader::setAllocationLimit(kAllocationLimitMb); });
}

QByteArray pictureFormat(QIODevice& device, const QString& path)
{
    const QByteArray found = QImageReader::imageFormat(&device);
    return found.isEmpty() ? QFileInfo(path).suffix().toLower().toLatin1() : found;
}

void replaceFile(const QString& path, const QByteArray& bytes)
{
    const QFileInfo target(path);
    if (target.isDir()) {
        throw store::DbError(store::ErrPathFileAccess,
                             QStringLiteral("Impossibile salvare l'immagine nel file %1: esiste una cartella con "
                                            "questo nome.")
                                 .arg(quoted(path)));
    }
    if (target.isSymLink()) {
        // Written through, the link would replace whatever file it points to.
        throw store::DbError(store::ErrPermissionDenied,
                             QStringLiteral("Impossibile sostituire il file %1: è un collegamento a un altro file.")
                                 .arg(quoted(path)));
    }
    std::optional<Identity> old;
    if (target.exists()) {
        const QFileDevice::Permissions permissions = target.permissions() & kModeBits;
        // A read-only file stays as it is, as it would where the old file is removed before the
        // new one is written; the new file could otherwise take its place by a rename.
        if (!(permissions & QFileDevice::WriteOwner)) {
            throw store::DbError(
                store::ErrPermissionDenied,
                QStringLiteral("Impossibile sostituire il file %1: è di sola lettura.").arg(quoted(path)));
        }
        old = Identity{permissions, target.lastModified(), target.lastRead(), target.birthTime()};
    }

    // Written beside the target and renamed over it when complete; never written in place, so a
    // folder that takes no new files fails here instead of leaving half a picture.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        throwWriteError(path);
    }
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        throwWriteError(path); // the unfinished file goes with `file`
    }
    if (old) {
        handOn(*old, file);
    }
    if (!file.commit()) {
        throwWriteError(path);
    }
}

void ensureFolder(const QString& folder)
{
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        throw store::DbError(store::ErrPathNotFound,
                             QStringLiteral("Impossibile creare la cartella %1: esiste un file con lo stesso nome.")
                                 .arg(quoted(folder)));
    }
    if (!info.exists() && !QDir().mkpath(folder)) {
        // Named after the nearest folder that exists, which is where the creation was refused.
        QString parent = info.absolutePath();
        while (!QFileInfo(parent).isDir() && !QDir(parent).isRoot() && !parent.isEmpty()) {
            parent = QFileInfo(parent).absolutePath();
        }
        if (store::folders::writeProblem(parent) == store::folders::Problem::ReadOnly) {
            throw store::DbError(store::ErrPathNotFound,
                                 QStringLiteral("Impossibile creare la cartella %1: la cartella %2 è di sola lettura.")
                                     .arg(quoted(folder), quoted(parent)));
        }
        throw store::DbError(store::ErrPathNotFound,
                             QStringLiteral("Impossibile creare la cartella %1.").arg(quoted(folder)));
    }
    switch (store::folders::writeProblem(folder)) {
    case store::folders::Problem::ReadOnly:
        throw store::DbError(
            store::ErrPermissionDenied,
            QStringLiteral("Impossibile salvare immagini nella cartella %1: è di sola lettura.").arg(quoted(folder)));
    case store::folders::Problem::Full:
        throw store::DbError(
            store::ErrDiskFull,
            QStringLiteral("Impossibile salvare immagini nella cartella %1: il disco è pieno.").arg(quoted(folder)));
    case store::folders::Problem::Missing:
        throw store::DbError(store::ErrPathNotFound, QStringLiteral("La cartella %1 non esiste.").arg(quoted(folder)));
    case store::folders::Problem::None:
    case store::folders::Problem::Unknown:
        break;
    }
}

} // namespace pictures
