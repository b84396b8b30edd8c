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
    std::shared_ptr<Archive> archive = m_archive ? m_archive : Archive::open(m_databaseName);
    auto fresh = std::make_unique<Recordset>(archive, m_recordSource);
    m_archive = std::move(archive);
    m_recordset = std::move(fresh);
    emit requeried();
    notifyReposition();
}

bool DataSource::findFirst(const QString& field, const QVariant& value)
{
    const bool found = rs().findFirst(field, value);
    notifyReposition();
    return found;
}

bool DataSource::findFirst(const QString& criterion)
{
    const bool found = rs().findFirst(criterion);
    notifyReposition();
    return found;
}

void DataSource::moveFirst()
{
    rs().moveFirst();
    notifyReposition();
}

void DataSource::moveNext()
{
    rs().moveNext();
    notifyReposition();
}

void DataSource::setBookmark(Recordset::Bookmark bookmark)
{
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
    rs().addNew();
    showBound();
}

void DataSource::edit()
{
    rs().edit();
    showBound();
}

void DataSource::cancelUpdate()
{
    rs().cancelUpdate();
    showBound();
}

void DataSource::deleteCurrent()
{
    rs().deleteCurrent();
}

void DataSource::updateRecord()
{
    Recordset& r = rs();
    const bool opened = r.editMode() == Recordset::EditMode::None;
    if (opened) {
        r.edit();
    }
    try {
        for (FieldBinding* b : m_bindings) {
            if (r.isWritable(r.columnIndex(b->dataField()))) {
                r.setValue(b->dataField(), b->fieldValueForUpdate());
            }
        }
        r.update();
    } catch (...) {
        // An edit the caller opened stays open with what the controls hold: the user corrects it or
        // cancels. One opened here only for this save is closed again; the controls keep the text.
        if (opened && r.editMode() != Recordset::EditMode::None) {
            r.cancelUpdate();
        }
        throw;
    }
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
