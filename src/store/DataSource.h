#pragma once

#include "store/Query.h"
#include "store/Recordset.h"

#include <QObject>
#include <memory>
#include <optional>
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
    // Whether the user changed the value since it was last shown; nothing when the control cannot
    // tell (its value is then written by every save, and never stored on its own).
    virtual std::optional<bool> fieldModified() const { return std::nullopt; }
};

// A window's data source: the window's archive, a query, and the recordset they give. A window
// opens its archive once and gives it to all its data sources, so they share one connection.
// Every operation keeps the recordset's editing contract (see Recordset): while an edit is open,
// moves and refreshes are refused with 3219, and a failed save leaves the edit open.
//
// As with any bound form, a value the user changed in a bound control while no edit was open is
// stored when the data source moves to another row or is refreshed; should that fail, the move
// does not happen and the typed value stays. Such a save is measured from the row as the controls
// showed it: a row someone else changed since then is refused (3197) as an explicit edit's save
// is, and the next try, the user having been told, replaces that version.
class DataSource : public QObject {
    Q_OBJECT
  public:
    explicit DataSource(QObject* parent = nullptr);
    ~DataSource() override;

    // The archive the queries run on.
    void setArchive(std::shared_ptr<Archive> archive);
    const std::shared_ptr<Archive>& archive() const { return m_archive; }
    // Names the archive by its path instead; it is opened by the next refresh.
    const QString& databaseName() const { return m_databaseName; }
    void setDatabaseName(const QString& path);
    const Query& recordSource() const { return m_recordSource; }
    void setRecordSource(const Query& query) { m_recordSource = query; }

    // Runs the record source again and moves to its first row. The new result is built before the
    // old one is let go: a query the store refuses leaves the data source as it was. Throws DbError.
    void refresh();
    // The recordset of the last refresh; nullptr before the first.
    Recordset* recordset() const { return m_recordset.get(); }
    // Counts the recordsets this source has had (each refresh, each change of archive gives a new
    // one). Whoever keeps reading a recordset compares this number, never the recordset's address,
    // which a later recordset may be given again.
    quint64 generation() const { return m_generation; }
    Recordset& rs() const; // throws 91 before the first refresh
    bool isEditing() const { return m_recordset && m_recordset->editMode() != Recordset::EditMode::None; }
    // Whether the user changed a bound control with no edit open: the next move or refresh stores
    // it (see above), and a window's own automatic moves leave such a record alone.
    bool hasPendingChanges() const;

    // Moves that tell the bound controls and raise `reposition`.
    bool findFirst(const QString& field, const QVariant& value);
    void moveFirst();
    void moveNext();
    void setBookmark(Recordset::Bookmark bookmark);
    // Tells bound controls and listeners that the current row changed.
    void notifyReposition();

    // Editing through the bound controls: a new row shows empty fields, an edit shows the row as
    // it is stored now, a cancel shows the row again. What was typed with no edit open is stored
    // first; a deleted row takes it with it.
    void addNew();
    void edit();
    // True when someone else changed or deleted the edited row meanwhile (see Recordset).
    bool cancelUpdate();
    void deleteCurrent();
    // Writes the bound controls' values into the row being edited or added (an edit is opened
    // when none is) and stores it. Only the fields of the table that receives writes are written.
    void updateRecord();

    void bind(FieldBinding* binding);
    void unbind(FieldBinding* binding);

  signals:
    void reposition();
    // Around a refresh: the old rows are still there when the first is raised, the new ones when
    // the second is.
    void aboutToRequery();
    void requeried();
    // One row left the result, at `position`, or joined it at its end (a new row stored).
    void rowDeleted(int position);
    void rowAppended();

  private:
    void showBound();
    // Stores what the user changed in bound controls with no edit open (see above).
    void storePendingChanges();
    // Opens an edit of the current row for a save of what the controls hold, measured from the
    // row they showed when it is still the current one.
    void editAsShown(Recordset& r);
    // Writes the bound controls into the row being edited or added: in a new row every one, in an
    // edited row those the user changed.
    void writeBound(Recordset& r, bool everything);

    QString m_databaseName;
    Query m_recordSource;
    std::shared_ptr<Archive> m_archive;
    std::unique_ptr<Recordset> m_recordset;
    quint64 m_generation = 0;
    std::vector<FieldBinding*> m_bindings;
    // The row the bound controls show, as they showed it, and its key.
    std::vector<QVariant> m_shownRow;
    std::optional<Recordset::Bookmark> m_shownKey;
};

} // namespace store
