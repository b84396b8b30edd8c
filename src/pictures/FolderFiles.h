#pragma once

#include <QAbstractProxyModel>
#include <QPersistentModelIndex>

class QFileSystemModel;

namespace pictures {

// The entries of one folder of a QFileSystemModel as a plain list, one row per entry, in the
// model's order. A view given the file-system model and the folder as its root index shows the
// same rows, but screen readers ask the model for its rows without the root index and hear a
// single row (the root of the file system); through this list they hear every file shown.
class FolderFiles : public QAbstractProxyModel {
    Q_OBJECT
  public:
    explicit FolderFiles(QFileSystemModel* files, QObject* parent = nullptr);

    // Lists the entries of `folder`, which the file-system model starts reading.
    void setFolder(const QString& folder);
    QString fileName(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

  private:
    bool isFolder(const QModelIndex& sourceParent) const;
    void layoutAboutToChange();
    void layoutChangedNow();

    QFileSystemModel* m_files;
    QPersistentModelIndex m_folder;
    // Across a change of the file-system model's layout (its sorting): the rows the views hold,
    // and the entries they stand for.
    QModelIndexList m_heldRows;
    QList<QPersistentModelIndex> m_heldEntries;
};

} // namespace pictures
