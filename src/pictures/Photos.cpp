#include "pictures/Photos.h"

#include "app/Modulo1.h"
#include "app/Paths.h"
#include "store/Server.h"

#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cmath>

namespace pictures {

namespace {

bool onServer()
{
    return store::server::isAddress(Modulo1::PercorsoArchivio);
}

} // namespace

QString serverPictureFolder()
{
    const QString folder = paths::settings()->value(QLatin1String(kServerPictureFolderKey)).toString().trimmed();
    // A share that is not mounted on this desk is the same as none: nothing to show, nowhere to write.
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return {};
    }
    return folder;
}

QString photoFolder()
{
    if (onServer()) {
        const QString shared = serverPictureFolder();
        return shared.isEmpty() ? QString() : paths::join(shared, QStringLiteral("foto"));
    }
    return paths::join(paths::programFolder(), QStringLiteral("foto"));
}

QString photoFile(qint64 bookId)
{
    const QString folder = photoFolder();
    if (folder.isEmpty()) {
        return {};
    }
    return paths::join(folder, QString::number(bookId) + QStringLiteral(".jpg"));
}

QString planOfOpenArchive()
{
    if (!onServer()) {
        return planFile(Modulo1::CartellaArchivio, Modulo1::FileArchivio);
    }
    const QString shared = serverPictureFolder();
    QString database = store::server::partsOf(Modulo1::PercorsoArchivio).database;
    if (shared.isEmpty() || database.isEmpty()) {
        return {};
    }
    // A database's name may hold what no file name can.
    for (QChar& c : database) {
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c)) {
            c = QLatin1Char('_');
        }
    }
    return paths::join(shared, QStringLiteral("pianta") + database + QStringLiteral(".jpg"));
}

QString planFile(const QString& archiveFolder, const QString& archiveFile)
{
    if (archiveFile.isEmpty()) {
        return {};
    }
    // "archivio.mdb" has "piantaarchivio.jpg". Another extension goes the same way (so two
    // archives "libri.db" and "libro.db" never share a plan); a name without one is kept whole.
    QString name = archiveFile;
    if (name.endsWith(QLatin1String(".mdb"), Qt::CaseInsensitive)) {
        name.chop(4);
    } else if (const qsizetype dot = name.lastIndexOf(QLatin1Char('.')); dot > 0) {
        name.truncate(dot);
    }
    return archiveFolder + QStringLiteral("pianta") + name + QStringLiteral(".jpg");
}

QSize fittedSize(QSize natural, QSize inner)
{
    if (natural.isEmpty() || inner.isEmpty()) {
        return {};
    }
    double width = natural.width();
    double height = natural.height();
    // First the width, then the height; each reduction keeps the proportions.
    if (width > inner.width()) {
        height = height * inner.width() / width;
        width = inner.width();
    }
    if (height > inner.height()) {
        width = width * inner.height() / height;
        height = inner.height();
    }
    return QSize(std::max(1, int(std::lround(width))), std::max(1, int(std::lround(height))));
}

} // namespace pictures
