#pragma once

#include <QAbstractListModel>
#include <QPointer>

#include "store/DataSource.h"

namespace controls {

// A list model over a data source's recordset. Rows are read from the recordset only when a view
// asks for them, so a list of 100,000 titles costs what the visible rows cost. The model never
// throws: a row that cannot be read (a dropped network share, a long lock) shows empty, and the
// first such failure after each reload is reported once, outside the painting. After a failure the
// rows show empty without asking the archive for a few seconds, then the list tries again, so a
// locked archive never makes the list wait once per row.
class RecordListModel : public QAbstractListModel {
    Q_OBJECT
  public:
    static constexpr int KeyRole = Qt::UserRole + 1;

    explicit RecordListModel(QObject* parent = nullptr);

    void setSource(store::DataSource* source);
    store::DataSource* source() const { return m_source; }
    // The field each entry shows, and the field whose value is the entry's key.
    void setListField(const QString& field);
    const QString& listField() const { return m_listField; }
    void setBoundColumn(const QString& field);
    const QString& boundColumn() const { return m_boundColumn; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The row whose key equals `key` (compared as text), or -1.
    int rowOfKey(const QString& key) const;
    QString keyAt(int row) const;
    QString textAt(int row) const;

    // Re-reads the recordset (after its data source was refreshed).
    void reload();

  private slots:
    // A refresh of the data source in two steps: the views let go of the old rows while they are
    // still there, then take the new ones.
    void beginRequery();
    void endRequery();
    void removeRow(int position);
    void appendRow();

  private:
    void resolveColumns();
    void reportOnce(const QString& description) const;

    QPointer<store::DataSource> m_source;
    QString m_listField;
    QString m_boundColumn;
    int m_listColumn = -1;
    int m_keyColumn = -1;
    int m_rows = 0;
    mutable bool m_reported = false;
    bool m_requerying = false;
    mutable bool m_failing = false;
};

} // namespace controls
