#include "store/DataSource.h"

#include <algorithm>

namespace store {

DataSource::DataSource(QObject* parent) : QObject(parent) {}

DataSource::~DataSource() = default;

void DataSource::setArchive(std::shared_ptr<Archive> archive)
{
    if (archive == m_archive) {
        return;
    }
    if (isEditing()) {
        throw DbError(ErrEditPending);
    }
    m_recordset.reset();
    ++m_generation;
    m_archive = std::move(archive);
    m_databaseName = m_archive ? m_archive->path() : QString();
}

void DataSource::setDatabaseName(const QString& path)
{
    if (path != m_databaseName) {
        if (isEditing()) {
            throw DbError(ErrEditPending);
        }
        m_recordset.reset();
        ++m_generation;
        m_archive.reset();
        m_databaseName = path;
    }
}

Recordset& DataSource::rs() const
{
    if (!m_recordset) {
        throw DbError(ErrObjectNotSet);
    }
    return *m_recordset;
}

void DataSource::refresh()
{
    if (isEditing()) {
        throw DbError(ErrEditPending);
    }
    storePendingChanges();
    std::shared_ptr<Archive> archive = m_archive ? m_archive : Archive::open(m_databaseName);
    auto fresh = std::make_unique<Recordset>(archive, m_recordSource);
    emit aboutToRequery();
    m_archive = std::move(archive);
    m_recordset = std::move(fresh);
    ++m_generation;
    emit requeried();
    notifyReposition();
}

bool DataSource::findFirst(const QString& field, const QVariant& value)
{
    storePendingChanges();
    const bool found = rs().findFirst(field, value);
    notifyReposition();
    return found;
}

void DataSource::moveFirst()
{
    storePendingChanges();
    rs().moveFirst();
    notifyReposition();
}

void DataSource::moveNext()
{
    storePendingChanges();
    rs().moveNext();
    notifyReposition();
}

void DataSource::setBookmark(Recordset::Bookmark bookmark)
{
    storePendingChanges();
    rs().setBookmark(bookmark);
    notifyReposition();
}

void DataSource::notifyReposition()
{
    showBound();
    emit reposition();
}

void DataSource::showBound()
{
    m_shownKey.reset();
    m_shownRow.clear();
    if (m_recordset && m_recordset->editMode() == Recordset::EditMode::None && m_recordset->hasCurrent() &&
        !m_recordset->writeTable().isEmpty() && !m_bindings.empty()) {
        m_shownKey = m_recordset->bookmark();
        m_shownRow = m_recordset->shownRow();
    }
    for (FieldBinding* b : m_bindings) {
        QVariant v;
        if (m_recordset && (m_recordset->hasCurrent() || m_recordset->editMode() != Recordset::EditMode::None) &&
            m_recordset->columnIndex(b->dataField()) >= 0) {
            v = m_recordset->value(b->dataField());
        }
        b->showFieldValue(v);
    }
}

void DataSource::addNew()
{
    // What was typed for the record shown is stored first, as a move would store it.
    storePendingChanges();
    rs().addNew();
    showBound();
}

void DataSource::edit()
{
    storePendingChanges();
    rs().edit();
    showBound();
}

bool DataSource::cancelUpdate()
{
    const bool changed = rs().cancelUpdate();
    showBound();
    return changed;
}

void DataSource::deleteCurrent()
{
    Recordset& r = rs();
    const int position = r.absolutePosition();
    r.deleteCurrent();
    // What was typed for the deleted record goes with it: it is never stored in another one.
    showBound();
    emit rowDeleted(position);
}

void DataSource::editAsShown(Recordset& r)
{
    if (m_shownKey && r.hasCurrent() && r.bookmark() == *m_shownKey && int(m_shownRow.size()) == r.columnCount()) {
        r.editSeen(m_shownRow);
    } else {
        r.edit();
    }
}

void DataSource::updateRecord()
{
    Recordset& r = rs();
    const bool opened = r.editMode() == Recordset::EditMode::None;
    if (opened) {
        editAsShown(r);
    }
    const int rows = r.recordCount();
    try {
        writeBound(r, r.editMode() == Recordset::EditMode::Add);
        r.update();
        if (r.recordCount() > rows) {
            emit rowAppended();
        }
        // The controls now show what is stored, with nothing left to store.
        showBound();
    } catch (const DbError& e) {
        // An edit the caller opened stays open with what the controls hold: the user corrects it or
        // cancels. One opened here only for this save is closed again; the controls keep the text,
        // and once the user has been told of someone else's change, the next save replaces it.
        if (opened && r.editMode() != Recordset::EditMode::None) {
            if (e.number() == ErrRecordChanged && m_shownKey) {
                m_shownRow = r.expectedRow();
            }
            r.cancelUpdate();
        }
        throw;
    } catch (...) {
        if (opened && r.editMode() != Recordset::EditMode::None) {
            r.cancelUpdate();
        }
        throw;
    }
}

void DataSource::writeBound(Recordset& r, bool everything)
{
    for (FieldBinding* b : m_bindings) {
        if (r.isWritable(r.columnIndex(b->dataField())) && (everything || b->fieldModified() != false)) {
            r.setValue(b->dataField(), b->fieldValueForUpdate());
        }
    }
}

bool DataSource::hasPendingChanges() const
{
    if (!m_recordset || isEditing() || !m_recordset->hasCurrent()) {
        return false;
    }
    for (FieldBinding* b : m_bindings) {
        if (b->fieldModified() == true && m_recordset->isWritable(m_recordset->columnIndex(b->dataField()))) {
            return true;
        }
    }
    return false;
}

void DataSource::storePendingChanges()
{
    if (!hasPendingChanges()) {
        return;
    }
    // Typed for the record the controls show; should the result have moved off it without them
    // being told, nothing is written to another record.
    if (!m_shownKey || m_recordset->bookmark() != *m_shownKey) {
        return;
    }
    updateRecord();
}

void DataSource::bind(FieldBinding* binding)
{
    if (std::find(m_bindings.begin(), m_bindings.end(), binding) == m_bindings.end()) {
        m_bindings.push_back(binding);
    }
}

void DataSource::unbind(FieldBinding* binding)
{
    m_bindings.erase(std::remove(m_bindings.begin(), m_bindings.end(), binding), m_bindings.end());
}

} // namespace store
