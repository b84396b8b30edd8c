#include "app/Paths.h"

#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Folders.h"
#include "store/Server.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <optional>

#include <cerrno>
#include <sys/stat.h>

namespace paths {
namespace {

QString& folderOverride()
{
    static QString folder;
    return folder;
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

} // namespace

namespace {

// Where the program's own files live, decided for one executable folder.
struct Location {
    QString executable;
    QString data;
    bool portable = true;
};

// The cached decision; made again only when tests move the executable's folder.
std::optional<Location>& location()
{
    static std::optional<Location> decided;
    return decided;
}

const QString kTemplateName = QStringLiteral("$vuoto$.md$");

// Whether a file can really be made and removed in the folder: permissions alone do not tell a
// read-only disk or mount, and root passes every permission check.
bool canWriteIn(const QString& folder)
{
    QTemporaryFile probe(join(folder, QStringLiteral(".carteo-prova-XXXXXX")));
    probe.setAutoRemove(false);
    if (!probe.open()) {
        return false;
    }
    probe.close();
    return probe.remove();
}

// An installed program: a bin folder with share/carteo beside it holding the template, and no
// archivio/ of its own.
bool isInstalledLayout(const QString& executable)
{
    return !QFileInfo::exists(join(executable, QStringLiteral("archivio"))) &&
           QFileInfo::exists(join(join(installedShareFolder(), QStringLiteral("archivio")), kTemplateName));
}

// The user's data folder at its first use: archivio/ with the template, and the default archive
// when the user has none yet. Whatever fails here is found again at start-up, which reports a
// missing archive and offers the choice of another.
void prepareUserFolder(const QString& data, const QString& executable)
{
    const QDir root(data);
    root.mkpath(QStringLiteral("archivio"));
    root.mkpath(QStringLiteral("foto"));
    const QString target = join(root.filePath(QStringLiteral("archivio")), kTemplateName);
    if (!QFileInfo::exists(target)) {
        QString source = join(join(installedShareFolder(), QStringLiteral("archivio")), kTemplateName);
        if (!QFileInfo::exists(source)) {
            source = join(join(executable, QStringLiteral("archivio")), kTemplateName);
        }
        // The installed copy belongs to root and may be read-only: the user's own copy is writable.
        if (QFile::copy(source, target)) {
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        }
    }
    const QString archive = root.filePath(QStringLiteral("archivio/archivio.mdb"));
    if (!QFileInfo::exists(root.filePath(QStringLiteral("avvio.ini"))) && !QFileInfo::exists(archive) &&
        QFileInfo::exists(target)) {
        try {
            store::files::copyTemplate(target, archive);
        } catch (const store::DbError&) {
        }
    }
}

const Location& decide()
{
    const QString executable = executableFolder();
    if (!location() || location()->executable != executable) {
        Location decided;
        decided.executable = executable;
        decided.portable = !isInstalledLayout(executable) && canWriteIn(executable);
        if (decided.portable) {
            decided.data = executable;
        } else {
            decided.data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
            prepareUserFolder(decided.data, executable);
        }
        location() = decided;
    }
    return *location();
}

} // namespace

QString executableFolder()
{
    return folderOverride().isEmpty() ? QCoreApplication::applicationDirPath() : folderOverride();
}

QString installedShareFolder()
{
    return QDir::cleanPath(QDir(executableFolder()).filePath(QStringLiteral("../share/carteo")));
}

QString programFolder()
{
    return decide().data;
}

bool isPortable()
{
    return decide().portable;
}

QString guidePath()
{
    const QString name = QStringLiteral("guida.html");
    if (!isPortable()) {
        const QString installed = join(installedShareFolder(), name);
        if (QFileInfo::exists(installed)) {
            return installed;
        }
    }
    return join(executableFolder(), name);
}

void setProgramFolderForTests(const QString& folder)
{
    folderOverride() = folder;
    location().reset();
}

QString join(const QString& folder, const QString& name)
{
    if (folder.isEmpty()) {
        return name;
    }
    if (isSeparator(folder.back())) {
        return folder + name;
    }
    // Keep the separator style the folder already uses.
    const QChar separator =
        folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/')) ? QLatin1Char('\\') : QLatin1Char('/');
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

QString startupFilePath()
{
    return join(programFolder(), QStringLiteral("avvio.ini"));
}

QString readStartupFile()
{
    QFile file(startupFilePath());
    if (!file.exists()) {
        throw store::DbError(store::ErrFileNotFound);
    }
    if (!file.open(QIODevice::ReadOnly)) {
        throw store::DbError(store::ErrPermissionDenied);
    }
    QByteArray line = file.readLine();
    if (line.isEmpty()) {
        throw store::DbError(store::ErrPastEndOfFile);
    }
    // A file saved by a Windows editor may start with a byte order mark; it is not part of the path.
    if (line.startsWith("\xEF\xBB\xBF")) {
        line.remove(0, 3);
    }
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromUtf8(line);
}

void writeStartupFile(const QString& archivePath)
{
    // The file holds one line: a line break in the path would cut it, another control character
    // would come back as something else.
    if (store::folders::hasControlCharacters(archivePath)) {
        throw store::DbError(store::ErrControlCharacters);
    }
    // Written aside and renamed into place, so a full disk never leaves a half-written file.
    QSaveFile file(startupFilePath());
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly)) {
        throw store::DbError(file.error() == QFileDevice::PermissionsError ? store::ErrPermissionDenied
                                                                           : store::ErrPathFileAccess);
    }
    // An archive on a server is kept by its address without any password.
    const QString kept = store::server::isAddress(archivePath) ? store::server::shown(archivePath) : archivePath;
    const QByteArray line = kept.toUtf8() + "\r\n";
    if (file.write(line) != line.size() || !file.commit()) {
        throw store::DbError(store::ErrPathFileAccess);
    }
}

bool ordinaryFileExists(const QString& path)
{
    // The file system's own verdict on the name: a NUL inside it or a name too long is a bad
    // file name, not a missing file.
    if (path.contains(QChar(u'\0'))) {
        throw store::DbError(store::ErrBadFileName);
    }
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENAMETOOLONG) {
            throw store::DbError(store::ErrBadFileName);
        }
        return false;
    }
    // Only ordinary files count; a hidden one is treated as missing.
    return S_ISREG(info.st_mode) && !QFileInfo(path).isHidden();
}

QString archiveFolder()
{
    return join(programFolder(), QStringLiteral("archivio"));
}

QString defaultArchivePath()
{
    return join(archiveFolder(), QStringLiteral("archivio.mdb"));
}

QString templateArchivePath()
{
    return join(archiveFolder(), QStringLiteral("$vuoto$.md$"));
}

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Carteo"),
                                       QStringLiteral("Carteo"));
}

} // namespace paths
