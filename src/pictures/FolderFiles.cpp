#include "pictures/FolderFiles.h"

#include <QFileSystemModel>

namespace pictures {

FolderFiles::FolderFiles(QFileSystemModel* files, QObject* parent) : QAbstractProxyModel(parent), m_files(files)
{
    QAbstractProxyModel::setSourceModel(files);
    // The rows of the folder listed are this list's rows; whatever happens elsewhere in the file
    // system model is none of its business, except the folder itself going away.
    const auto isListed = [this](const QModelIndex& parent, int first, int last) {
        for (QModelIndex folder = m_folder; folder.isValid(); folder = folder.parent()) {
            if (folder.parent() == parent && folder.row() >= first && folder.row() <= last) {
                return true; // the folder, or a folder it is in
            }
        }
        return false;
    };
    connect(files, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex& parent, int first, int last) {
        if (isFolder(parent)) {
            beginInsertRows({}, first, last);
        }
    });
    connect(files, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex& parent) {
        if (isFolder(parent)) {
            endInsertRows();
        }
    });
    connect(files, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this, isListed](const QModelIndex& parent, int first, int last) {
                if (isFolder(parent)) {
                    beginRemoveRows({}, first, last);
                } else if (isListed(parent, first, last)) {
                    beginResetModel();
                    m_folder = QPersistentModelIndex();
                    endResetModel();
                }
            });
    connect(files, &QAbstractItemModel::rowsRemoved, this, [this](const QModelIndex& parent) {
        if (isFolder(parent)) {
            endRemoveRows();
        }
    });
    // The file system model tells renames and sorting as layout changes, never as moves.
    connect(files, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] { layoutAboutToChange(); });
    connect(files, &QAbstractItemModel::layoutChanged, this, [this] { layoutChangedNow(); });
    connect(files, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
                if (isFolder(topLeft.parent()) && topLeft.column() == 0) {
                    emit dataChanged(index(topLeft.row(), 0), index(bottomRight.row(), 0), roles);
                }
            });
    connect(files, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(files, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
}

void FolderFiles::setFolder(const QString& folder)
{
    // The file system model may change as it starts on the folder: that is told for the old one.
    const QModelIndex listed = m_files->setRootPath(folder);
    beginResetModel();
    m_folder = listed;
    endResetModel();
}

QString FolderFiles::fileName(const QModelIndex& index) const
{
    return m_files->fileName(mapToSource(index));
}

bool FolderFiles::isFolder(const QModelIndex& sourceParent) const
{
    return m_folder.isValid() && sourceParent == m_folder;
}

QModelIndex FolderFiles::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || column != 0 || row < 0 || row >= rowCount()) {
        return {};
    }
    return createIndex(row, column);
}

QModelIndex FolderFiles::parent(const QModelIndex&) const
{
    return {};
}

int FolderFiles::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !m_folder.isValid() ? 0 : m_files->rowCount(m_folder);
}

int FolderFiles::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

bool FolderFiles::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() && rowCount() > 0;
}

bool FolderFiles::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_folder.isValid() && m_files->canFetchMore(m_folder);
}

void FolderFiles::fetchMore(const QModelIndex& parent)
{
    if (!parent.isValid() && m_folder.isValid()) {
        m_files->fetchMore(m_folder);
    }
}

QModelIndex FolderFiles::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || !m_folder.isValid()) {
        return {};
    }
    return m_files->index(proxyIndex.row(), proxyIndex.column(), m_folder);
}

QModelIndex FolderFiles::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.column() != 0 || !isFolder(sourceIndex.parent())) {
        return {};
    }
    return createIndex(sourceIndex.row(), 0);
}

void FolderFiles::layoutAboutToChange()
{
    emit layoutAboutToBeChanged();
    m_heldRows = persistentIndexList();
    m_heldEntries.clear();
    for (const QModelIndex& row : std::as_const(m_heldRows)) {
        m_heldEntries << QPersistentModelIndex(mapToSource(row));
    }
}

void FolderFiles::layoutChangedNow()
{
    QModelIndexList now;
    for (const QPersistentModelIndex& entry : std::as_const(m_heldEntries)) {
        now << mapFromSource(entry);
    }
    changePersistentIndexList(m_heldRows, now);
    m_heldRows.clear();
    m_heldEntries.clear();
    emit layoutChanged();
}

} // namespace pictures
