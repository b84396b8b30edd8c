#include "exchange/WorkingFile.h"

#include "store/DbError.h"
#include "store/Folders.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>
#include <system_error>

namespace exchange::detail {

using store::DbError;

namespace {

QString nativeFolder(const QString& file)
{
    return QDir::toNativeSeparators(QFileInfo(file).absolutePath());
}

} // namespace

DbError writeError(const QString& file)
{
    const QString folder = QFileInfo(file).absolutePath();
    switch (store::folders::writeProblem(folder)) {
    case store::folders::Problem::ReadOnly:
        return DbError(store::ErrPermissionDenied,
                       QStringLiteral("Impossibile scrivere nella cartella '%1': è di sola lettura o mancano i "
                                      "permessi.")
                           .arg(nativeFolder(file)));
    case store::folders::Problem::Full:
        return DbError(store::ErrDiskFull,
                       QStringLiteral("Il disco della cartella '%1' è pieno: non c'è più spazio per scrivere.")
                           .arg(nativeFolder(file)));
    case store::folders::Problem::Missing:
        return DbError(store::ErrPathNotFound,
                       QStringLiteral("Impossibile trovare la cartella '%1'.").arg(nativeFolder(file)));
    case store::folders::Problem::None:
    case store::folders::Problem::Unknown:
        break;
    }
    return DbError(store::ErrPathFileAccess,
                   QStringLiteral("Impossibile scrivere il file '%1'.").arg(QDir::toNativeSeparators(file)));
}

WorkingFile::WorkingFile(const QString& target)
    : m_target(QFileInfo(target).absoluteFilePath())
{
    const QFileInfo info(m_target);
    for (int attempt = 0; attempt < 100 && m_path.isEmpty(); ++attempt) {
        const QString name = info.dir().filePath(
            QStringLiteral(".%1.%2.tmp")
                .arg(info.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        QFile file(name);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_path = name;
        } else if (!file.exists()) {
            throw writeError(m_target);
        }
    }
    if (m_path.isEmpty()) {
        throw writeError(m_target);
    }
}

WorkingFile::~WorkingFile()
{
    if (!m_done) {
        QFile::remove(m_path);
    }
}

void WorkingFile::commit()
{
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(m_path.toStdU16String()),
                            std::filesystem::path(m_target.toStdU16String()), error);
    if (error) {
        throw failure();
    }
    m_done = true;
}

DbError WorkingFile::failure()
{
    DbError error = writeError(m_target);
    QFile::remove(m_path);
    m_done = true;
    return error;
}

} // namespace exchange::detail
