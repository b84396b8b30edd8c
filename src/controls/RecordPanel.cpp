#include "controls/RecordPanel.h"

#include "app/Messages.h"
#include "controls/BoundControls.h"
#include "controls/DBList.h"
#include "store/DataSource.h"

#include <QPushButton>

namespace controls {

QString RecordPanel::newCaption(EditState state)
{
    return state == EditState::Browsing ? QStringLiteral("Nuovo") : QStringLiteral("Annulla");
}

QString RecordPanel::editCaption(EditState state)
{
    return state == EditState::Browsing ? QStringLiteral("Modifica") : QStringLiteral("Salva");
}

RecordPanel::RecordPanel(QWidget* parent) : QFrame(parent) {}

void RecordPanel::setRecords(store::DataSource* source, const QString& keyField, const QString& nameField)
{
    m_source = source;
    m_keyField = keyField;
    m_nameField = nameField;
}

void RecordPanel::setList(DBList* list)
{
    m_list = list;
    m_list->setRowSource(m_source);
    m_list->setListField(m_nameField);
    m_list->setBoundColumn(m_keyField);
}

void RecordPanel::setButtons(QPushButton* newOrCancel, QPushButton* editOrSave, QPushButton* remove)
{
    m_newOrCancel = newOrCancel;
    m_editOrSave = editOrSave;
    m_remove = remove;
    setEditState(EditState::Browsing);
}

BoundLineEdit* RecordPanel::addField(const QString& objectName, const QString& dataField, int maxLength, bool locked)
{
    auto* edit = named(new BoundLineEdit(this), objectName);
    edit->setUpperCase(true);
    edit->setLengthLimit(maxLength);
    edit->bindTo(m_source, dataField);
    if (locked) {
        m_locked.append(edit);
        edit->setEnabled(false);
    }
    return edit;
}

void RecordPanel::lockWhileBrowsing(QWidget* control)
{
    m_locked.append(control);
    control->setEnabled(m_state == EditState::Editing);
}

void RecordPanel::setEditState(EditState state)
{
    m_state = state;
    const bool editing = state == EditState::Editing;
    m_newOrCancel->setText(newCaption(state));
    m_editOrSave->setText(editCaption(state));
    m_remove->setEnabled(!editing);
    if (m_list) {
        m_list->setEnabled(!editing);
    }
    for (QWidget* field : m_locked) {
        field->setEnabled(editing);
    }
    if (editing && !m_locked.isEmpty()) {
        m_locked.constFirst()->setFocus();
    }
    emit editStateChanged(state);
}

void RecordPanel::newOrCancel()
{
    if (m_state == EditState::Browsing) {
        m_source->addNew();
        setEditState(EditState::Editing);
    } else {
        cancelEdit();
    }
}

void RecordPanel::cancelEdit()
{
    bool changed = false;
    if (m_source->isEditing()) {
        changed = m_source->cancelUpdate();
    }
    if (m_state == EditState::Editing) {
        setEditState(EditState::Browsing);
    }
    if (changed) {
        // Someone else changed or deleted the record meanwhile: the list and the record are read
        // again, so the user sees their version.
        const QString key = m_list->boundText();
        m_source->refresh();
        selectKey(key.toLongLong());
    }
}

void RecordPanel::editOrSave()
{
    if (m_state == EditState::Browsing) {
        m_source->edit();
        setEditState(EditState::Editing);
        return;
    }
    // A failure here leaves the edit open with what was typed.
    m_source->updateRecord();
    const qint64 key = m_source->rs().lastModified();
    setEditState(EditState::Browsing);
    // The list now holds the new or changed name, in its place.
    m_source->refresh();
    selectKey(key);
    emit saved(key);
}

void RecordPanel::selectKey(qint64 key)
{
    m_list->setBoundText(key == 0 ? QString() : QString::number(key));
    showSelected();
}

void RecordPanel::showSelected()
{
    const QString key = m_list->boundText();
    if (key.isEmpty()) {
        return;
    }
    try {
        m_source->findFirst(m_keyField, key.toLongLong());
    } catch (...) {
        // What was typed for the record shown could not be stored: that record stays, and the list
        // shows it chosen again.
        if (const store::Recordset* records = m_source->recordset(); records && records->hasCurrent()) {
            m_list->setBoundText(records->value(m_keyField).toString());
        }
        throw;
    }
}

bool RecordPanel::remove(const QString& prefix, const QString& suffix)
{
    store::Recordset& records = m_source->rs();
    if (!records.hasCurrent()) {
        return false;
    }
    const QString name = records.value(m_nameField).toString();
    if (msg::show(prefix + name + suffix, msg::Icon::None, msg::Buttons::YesNo) == msg::Answer::No) {
        return false;
    }
    m_source->deleteCurrent();
    // The record after the deleted one is selected; after the last one, none.
    qint64 next = 0;
    if (!records.eof()) {
        records.moveNext();
        if (records.hasCurrent()) {
            next = records.value(m_keyField).toLongLong();
        }
    }
    m_source->refresh();
    selectKey(next);
    return true;
}

} // namespace controls
