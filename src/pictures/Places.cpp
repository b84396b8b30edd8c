#include "pictures/Places.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>

#include <algorithm>

namespace pictures {
namespace {

// File systems that hold no files of the user's: the kernel's own views, memory and containers'
// layers, and the images of packaged programs.
bool isPseudoFileSystem(const QByteArray& type)
{
    static const QList<QByteArray> pseudo{
        "autofs",   "binfmt_misc", "bpf",      "cgroup",  "cgroup2",     "configfs",        "debugfs",
        "devpts",   "devtmpfs",    "efivarfs", "fusectl", "hugetlbfs",   "mqueue",          "nsfs",
        "overlay",  "proc",        "pstore",   "ramfs",   "rpc_pipefs",  "securityfs",      "selinuxfs",
        "squashfs", "sysfs",       "tmpfs",    "tracefs", "fuse.portal", "fuse.gvfsd-fuse", "nfsd"};
    return pseudo.contains(type);
}

} // namespace

QList<Place> places()
{
    QList<Place> found;
    const auto add = [&found](const QString& name, const QString& path) {
        if (path.isEmpty()) {
            return;
        }
        const QString folder = cleanFolder(path);
        const bool listed =
            std::any_of(found.cbegin(), found.cend(), [&](const Place& place) { return place.folder == folder; });
        if (!listed && QFileInfo(folder).isDir()) {
            found << Place{name, folder};
        }
    };
    add(QStringLiteral("Cartella personale"), QDir::homePath());
    add(QStringLiteral("Immagini"), QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));

    QList<QStorageInfo> volumes;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // Only volumes that hold folders (a file mounted on its own is no drive).
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir() &&
            (volume.isRoot() || !isPseudoFileSystem(volume.fileSystemType()))) {
            volumes << volume;
        }
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const QStorageInfo& a, const QStorageInfo& b) { return a.rootPath() < b.rootPath(); });
    for (const QStorageInfo& volume : volumes) {
        const QString root = volume.rootPath();
        const QString name = volume.displayName();
        add(name.isEmpty() || name == root ? root : root + QStringLiteral("  [") + name + QLatin1Char(']'), root);
    }
    return found;
}

QString cleanFolder(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QString existingFolderAt(const QString& path)
{
    if (path.isEmpty()) {
        return {};
    }
    QString folder = cleanFolder(path);
    while (!QFileInfo(folder).isDir()) {
        const QString up = QFileInfo(folder).path();
        if (up == folder || up.isEmpty()) {
            return {};
        }
        folder = up;
    }
    return folder;
}

QString typedPath(const QString& typed)
{
    QString path = typed.trimmed();
    // Pasted from a file manager, a path may come as a file address, or quoted.
    if (path.size() > 1 && ((path.startsWith(QLatin1Char('"')) && path.endsWith(QLatin1Char('"'))) ||
                            (path.startsWith(QLatin1Char('\'')) && path.endsWith(QLatin1Char('\''))))) {
        path = path.mid(1, path.size() - 2);
    }
    if (path.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        path = QUrl(path).toLocalFile();
    }
    if (path == QStringLiteral("~") || path.startsWith(QStringLiteral("~/"))) {
        path = QDir::homePath() + path.mid(1);
    }
    return QDir::fromNativeSeparators(path);
}

} // namespace pictures
