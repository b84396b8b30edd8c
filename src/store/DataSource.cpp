#include "store/DataSource.h"

#include <algorithm>

namespace store {

DataSource::DataSource(QObject* parent) : QObject(parent) {}

DataSource::~DataSource() = default;

void DataSource::setDatabaseName(const QString& path)
{
    if (path != m_databaseName) {
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
    if (!m_archive) {
        m_archive = Archive::open(m_databaseName);
    }
    m_recordset.reset();
    m_recordset = std::make_unique<Recordset>(m_archive, m_recordSource);
    emit requeried();
    notifyReposition();
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

void DataSource::updateRecord()
{
    Recordset& r = rs();
    if (r.editMode() == Recordset::EditMode::None) {
        r.edit();
    }
    try {
        for (FieldBinding* b : m_bindings) {
            if (r.columnIndex(b->dataField()) >= 0) {
                r.setValue(b->dataField(), b->fieldValueForUpdate());
            }
        }
        r.update();
    } catch (...) {
        if (r.editMode() != Recordset::EditMode::None) {
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
