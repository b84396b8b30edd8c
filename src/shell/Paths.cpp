#include "shell/Paths.h"

#include "store/DbError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace paths {
namespace {

QString& folderOverride()
{
    static QString folder;
    return folder;
}

bool isSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

} // namespace

QString programFolder()
{
    return folderOverride().isEmpty() ? QCoreApplication::applicationDirPath() : folderOverride();
}

void setProgramFolderForTests(const QString& folder) { folderOverride() = folder; }

QString join(const QString& folder, const QString& name)
{
    if (folder.isEmpty()) {
        return name;
    }
    if (isSeparator(folder.back())) {
        return folder + name;
    }
    // Keep the separator style the folder already uses.
    const QChar separator = folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/'))
                                ? QLatin1Char('\\')
                                : QLatin1Char('/');
    return folder + separator + name;
}

Split splitArchivePath(const QString& path)
{
    // The search for the last separator starts at the third character, so the two leading
    // backslashes of a network path are never taken as the split point.
    qsizetype last = -1;
    for (qsizetype i = 2; i < path.size(); ++i) {
        if (isSeparator(path.at(i))) {
            last = i;
        }
    }
    const qsizetype folderLength = last < 0 ? std::min<qsizetype>(2, path.size()) : last + 1;
    return Split{path.left(folderLength), path.mid(folderLength)};
}

QString startupFilePath() { return join(programFolder(), QStringLiteral("avvio.ini")); }

QString readStartupFile()
{
    QFile file(startupFilePath());
    if (!file.exists()) {
        throw store::DbError(store::ErrFileNotFound);
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw store::DbError(store::ErrPermissionDenied);
    }
    const QByteArray content = file.readAll();
    if (content.isEmpty()) {
        throw store::DbError(store::ErrPastEndOfFile);
    }
    QByteArray line = content;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0) {
        line.truncate(end);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromUtf8(line);
}

void writeStartupFile(const QString& archivePath)
{
    QFile file(startupFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        throw store::DbError(store::ErrPermissionDenied);
    }
    const QByteArray line = archivePath.toUtf8() + "\r\n";
    if (file.write(line) != line.size() || !file.flush()) {
        throw store::DbError(store::ErrDiskOrNetwork);
    }
}

bool ordinaryFileExists(const QString& path)
{
    // Names that no file system takes are refused as a bad file name.
    static const QString forbidden = QStringLiteral("*?<>|\"");
    for (const QChar c : path) {
        if (c.isNull() || forbidden.contains(c)) {
            throw store::DbError(store::ErrBadFileName);
        }
    }
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isHidden();
}

QString archiveFolder() { return join(programFolder(), QStringLiteral("archivio")); }

QString defaultArchivePath() { return join(archiveFolder(), QStringLiteral("archivio.mdb")); }

QString templateArchivePath() { return join(archiveFolder(), QStringLiteral("$vuoto$.md$")); }

} // namespace paths
