#pragma once

#include <QFrame>
#include <QString>

class QPushButton;

namespace store {
class DataSource;
}

namespace controls {

class BoundLineEdit;
class DBList;

// A record panel: a list of records, the fields bound to the current one, and the three edit
// buttons Nuovo/Annulla, Modifica/Salva and Elimina. The edit state is held here; the buttons'
// captions, the list and the fields follow it. The author and publisher panels of the books window
// and the authors and publishers windows are record panels.
//
// The record operations run on the panel's data source with its editing contract: a save that
// fails (someone else changed or deleted the record, a busy or unwritable archive) throws and
// leaves the edit open with what was typed; the caller's guard shows the message.
class RecordPanel : public QFrame {
    Q_OBJECT
  public:
    enum class EditState { Browsing, Editing };
    static QString newCaption(EditState state);  // "Nuovo" / "Annulla"
    static QString editCaption(EditState state); // "Modifica" / "Salva"

    EditState editState() const { return m_state; }
    bool isEditing() const { return m_state == EditState::Editing; }
    store::DataSource* source() const { return m_source; }
    DBList* list() const { return m_list; }

    // "Nuovo": a new record, typed into the empty fields. "Annulla": the edit is dropped.
    void newOrCancel();
    // "Modifica": the current record, read afresh, is opened for edit. "Salva": the fields are
    // stored, the list re-read and the saved record selected and shown.
    void editOrSave();
    // Drops an open edit, if any.
    void cancelEdit();
    // Shows the record selected in the list. A window that shows more of a record (its linked
    // lists) does so here.
    virtual void showSelected();
    // "Elimina": asks `prefix` + the record's name + `suffix` (Yes/No); on Yes deletes the record
    // and selects the one after it (none after the last). Returns false when nothing was deleted.
    bool remove(const QString& prefix, const QString& suffix);

  signals:
    void editStateChanged(controls::RecordPanel::EditState state);
    void saved(qint64 key);

  protected:
    explicit RecordPanel(QWidget* parent);
    // The data source of the records, the field that is each record's key and the one that names it.
    void setRecords(store::DataSource* source, const QString& keyField, const QString& nameField);
    void setList(DBList* list);
    void setButtons(QPushButton* newOrCancel, QPushButton* editOrSave, QPushButton* remove);
    // A text box bound to a field of the records; `locked` ones are usable only while editing.
    BoundLineEdit* addField(const QString& objectName, const QString& dataField, int maxLength, bool locked);
    // A control usable only while editing.
    void lockWhileBrowsing(QWidget* control);

  private:
    void setEditState(EditState state);
    void selectKey(qint64 key);

    store::DataSource* m_source = nullptr;
    QString m_keyField;
    QString m_nameField;
    DBList* m_list = nullptr;
    QPushButton* m_newOrCancel = nullptr;
    QPushButton* m_editOrSave = nullptr;
    QPushButton* m_remove = nullptr;
    QList<QWidget*> m_locked;
    EditState m_state = EditState::Browsing;
};

} // namespace controls
