#include "controls/RecordListModel.h"

#include "app/Messages.h"
#include "store/DataSource.h"

#include <QPointer>
#include <QTimer>

namespace controls {
namespace {

// How long the rows show empty after a failed read before the list asks the archive again.
constexpr int kRetryMs = 5000;

} // namespace

RecordListModel::RecordListModel(QObject* parent) : QAbstractListModel(parent) {}

void RecordListModel::setSource(store::DataSource* source)
{
    if (m_source) {
        disconnect(m_source, nullptr, this, nullptr);
    }
    m_source = source;
    if (m_source) {
        connect(m_source, &store::DataSource::aboutToRequery, this, &RecordListModel::beginRequery);
        connect(m_source, &store::DataSource::requeried, this, &RecordListModel::endRequery);
        connect(m_source, &store::DataSource::rowDeleted, this, &RecordListModel::removeRow);
        connect(m_source, &store::DataSource::rowAppended, this, &RecordListModel::appendRow);
    }
    reload();
}

void RecordListModel::setListField(const QString& field)
{
    m_listField = field;
    resolveColumns();
    if (m_rows > 0) {
        emit dataChanged(index(0), index(m_rows - 1), {Qt::DisplayRole, Qt::ToolTipRole});
    }
}

void RecordListModel::setBoundColumn(const QString& field)
{
    m_boundColumn = field;
    resolveColumns();
}

void RecordListModel::resolveColumns()
{
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    m_listColumn = rs ? rs->columnIndex(m_listField) : -1;
    m_keyColumn = rs ? rs->columnIndex(m_boundColumn) : -1;
}

void RecordListModel::beginRequery()
{
    if (!m_requerying) {
        m_requerying = true;
        beginResetModel();
    }
}

void RecordListModel::endRequery()
{
    if (!m_requerying) {
        reload();
        return;
    }
    m_requerying = false;
    m_reported = false;
    m_failing = false;
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    m_rows = rs ? rs->recordCount() : 0;
    resolveColumns();
    endResetModel();
}

void RecordListModel::removeRow(int position)
{
    if (position < 0 || position >= m_rows) {
        return;
    }
    beginRemoveRows(QModelIndex(), position, position);
    --m_rows;
    endRemoveRows();
}

void RecordListModel::appendRow()
{
    beginInsertRows(QModelIndex(), m_rows, m_rows);
    ++m_rows;
    endInsertRows();
}

void RecordListModel::reload()
{
    m_reported = false;
    m_failing = false;
    beginResetModel();
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    m_rows = rs ? rs->recordCount() : 0;
    resolveColumns();
    endResetModel();
}

int RecordListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

QVariant RecordListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || m_failing) {
        return {};
    }
    try {
        switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole: // what an editable combo puts in its text box when an entry is chosen
        case Qt::ToolTipRole:
            return textAt(index.row());
        case KeyRole:
            return keyAt(index.row());
        default:
            return {};
        }
    } catch (const store::DbError& e) {
        reportOnce(e.description());
    } catch (const std::exception& e) {
        reportOnce(QStringLiteral("Errore imprevisto: ") + QString::fromLocal8Bit(e.what()));
    }
    return {};
}

void RecordListModel::reportOnce(const QString& description) const
{
    auto* self = const_cast<RecordListModel*>(this);
    if (!m_failing) {
        m_failing = true;
        QTimer::singleShot(kRetryMs, self, [self] {
            self->m_failing = false;
            if (self->m_rows > 0) {
                emit self->dataChanged(self->index(0), self->index(self->m_rows - 1));
            }
        });
    }
    if (m_reported) {
        return;
    }
    m_reported = true;
    // Never from inside a paint: the message waits for the event loop.
    QTimer::singleShot(0, self, [description] {
        try {
            msg::show(description);
        } catch (...) {
        }
    });
}

QString RecordListModel::textAt(int row) const
{
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    return rs ? rs->valueAt(row, m_listColumn).toString() : QString();
}

QString RecordListModel::keyAt(int row) const
{
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    return rs ? rs->valueAt(row, m_keyColumn).toString() : QString();
}

int RecordListModel::rowOfKey(const QString& key) const
{
    const store::Recordset* rs = m_source ? m_source->recordset() : nullptr;
    if (!rs || key.isEmpty() || m_keyColumn < 0) {
        return -1;
    }
    bool numeric = false;
    const qint64 n = key.toLongLong(&numeric);
    const int row = rs->findRow(m_boundColumn, numeric ? QVariant(n) : QVariant(key));
    return row < m_rows ? row : -1;
}

} // namespace controls
