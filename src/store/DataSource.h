#pragma once

#include "store/Recordset.h"

#include <QObject>
#include <QPointer>
#include <memory>
#include <vector>

namespace store {

// What a bound control offers its data source. Controls live above the store; the store only
// knows them through this interface.
class FieldBinding {
  public:
    virtual ~FieldBinding() = default;
    virtual QString dataField() const = 0;
    // Shows the current row's value (null when there is no current row).
    virtual void showFieldValue(const QVariant& value) = 0;
    // The value to write into the row on UpdateRecord.
    virtual QVariant fieldValueForUpdate() const = 0;
};

// A window's data source: an archive path, an SQL text, and the recordset they give. Each data
// source opens its own connection to the archive, as each window does; there is no shared one.
class DataSource : public QObject {
    Q_OBJECT
  public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;

    const QString& databaseName() const { return m_databaseName; }
    void setDatabaseName(const QString& path);
    const QString& recordSource() const { return m_recordSource; }
    void setRecordSource(const QString& sqlText) { m_recordSource = sqlText; }

    // Runs the record source again and moves to its first row. Throws DbError.
    void refresh();
    // The recordset of the last refresh; nullptr before the first.
    Recordset* recordset() const { return m_recordset.get(); }
    Recordset& rs() const; // throws 91 before the first refresh

    // Moves that tell the bound controls and raise `reposition`.
    bool findFirst(const QString& criterion);
    void moveFirst();
    void moveNext();
    void setBookmark(Recordset::Bookmark bookmark);
    // Tells bound controls and listeners that the current row changed.
    void notifyReposition();

    // Writes the bound controls' values into the current row (or the row being added) and stores it.
    void updateRecord();

    void bind(FieldBinding* binding);
    void unbind(FieldBinding* binding);

  signals:
    void reposition();
    void requeried();

  private:
    void showBound();

    QString m_databaseName;
    QString m_recordSource;
    std::shared_ptr<Archive> m_archive;
    std::unique_ptr<Recordset> m_recordset;
    std::vector<FieldBinding*> m_bindings;
};

} // namespace store
