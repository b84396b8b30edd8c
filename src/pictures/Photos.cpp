#include "pictures/Photos.h"

#include "app/Paths.h"

#include <algorithm>
#include <cmath>

namespace pictures {

QString photoFolder()
{
    return paths::join(paths::programFolder(), QStringLiteral("foto"));
}

QString photoFile(qint64 bookId)
{
    return paths::join(photoFolder(), QString::number(bookId) + QStringLiteral(".jpg"));
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
