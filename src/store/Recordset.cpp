#include "store/Recordset.h"

#include "store/Collation.h"
#include "store/Loans.h"
#include "store/Schema.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace store {
namespace {

constexpr int kPageSize = 64;
constexpr int kMaxPages = 24; // pages held by the recordsets of one query
// A search that lists this many rows is read again at each keystroke: from then on the
// connection keeps 16 MB of the archive at hand instead of 8, which spares most of the reads.
constexpr std::size_t kWidePageCacheRows = 1000;
constexpr int kWidePageCacheKb = 16384;
// The key standing for "no row" of a key column on the outer side of a join.
constexpr qint64 kNoRow = std::numeric_limits<qint64>::min();

QString memoKeyOf(const QString& sqlText, const QVariantList& values)
{
    QString key = sqlText;
    for (const QVariant& v : values) {
        key += QLatin1Char('\n') + QString::number(v.typeId()) + QLatin1Char(':') + v.toString();
    }
    return key;
}

bool isNumeric(const QVariant& v)
{
    const int t = v.typeId();
    return t == QMetaType::LongLong || t == QMetaType::Int || t == QMetaType::Double || t == QMetaType::UInt ||
           t == QMetaType::ULongLong;
}

// Equality as the engine compares: numbers by value, texts in the archive's collation.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull()) {
        return false;
    }
    if (isNumeric(a) && isNumeric(b)) {
        return a.toDouble() == b.toDouble();
    }
    if (isNumeric(a) || isNumeric(b)) {
        bool ok = false;
        const double x = (isNumeric(a) ? b : a).toString().toDouble(&ok);
        return ok && x == (isNumeric(a) ? a : b).toDouble();
    }
    return compareText(a.toString(), b.toString()) == 0;
}

// The same stored value: same storage class and the same bytes. A change of letter case by
// someone else is a change.
bool identical(const QVariant& a, const QVariant& b)
{
    if (a.isNull() || b.isNull()) {
        return a.isNull() == b.isNull();
    }
    const bool aText = a.typeId() == QMetaType::QString;
    const bool bText = b.typeId() == QMetaType::QString;
    if (aText || bText) {
        return aText && bText && a.toString() == b.toString();
    }
    if (a.typeId() == QMetaType::QByteArray || b.typeId() == QMetaType::QByteArray) {
        return a.typeId() == b.typeId() && a.toByteArray() == b.toByteArray();
    }
    const bool aReal = a.typeId() == QMetaType::Double;
    const bool bReal = b.typeId() == QMetaType::Double;
    if (aReal != bReal) {
        return false;
    }
    return aReal ? a.toDouble() == b.toDouble() : a.toLongLong() == b.toLongLong();
}

// What the user sees is unchanged: the number 44 and the text "44" of a text box are one value.
bool unchangedForUser(const QVariant& now, const QVariant& before)
{
    if (now.isNull() || before.isNull()) {
        // An empty text box stands for a stored empty text as well as for no value.
        const QVariant& other = now.isNull() ? before : now;
        return other.isNull() || (other.typeId() == QMetaType::QString && other.toString().isEmpty());
    }
    return identical(now, before) || now.toString() == before.toString();
}

QString marks(int count)
{
    QString text;
    for (int i = 0; i < count; ++i) {
        text += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
    }
    return text;
}

} // namespace

Recordset::Recordset(std::shared_ptr<Archive> archive, const Query& query)
    : m_archive(std::move(archive)), m_query(query)
{
    if (!m_archive) {
        throw DbError(ErrObjectNotSet);
    }
    open();
}

Recordset::~Recordset() = default;

void Recordset::open()
{
    m_shape = sql::analyse(m_archive->translate(m_query.text));
    const int markers = m_shape.selectMarkers + m_shape.fromMarkers + m_shape.tailMarkers;
    if (m_shape.select && markers != m_query.values.size()) {
        throw DbError(ErrSyntax,
                      DbError::describe(ErrSyntax) +
                          QStringLiteral(" (%1 valori per %2 segnaposto)").arg(m_query.values.size()).arg(markers));
    }
    const bool readOnlyShape = !m_shape.select || m_shape.distinct || m_shape.compound || m_shape.subquery;
    if (!m_query.writeTable.isEmpty()) {
        if (readOnlyShape) {
            throw DbError(ErrReadOnly,
                          DbError::describe(ErrReadOnly) + QStringLiteral(" (la query non può ricevere modifiche)"));
        }
        const sql::Shape::Table* table = m_shape.table(m_query.writeTable);
        if (!table) {
            const bool twice = std::count_if(m_shape.tables.begin(), m_shape.tables.end(), [&](const auto& t) {
                                   return t.name.compare(m_query.writeTable, Qt::CaseInsensitive) == 0;
                               }) > 1;
            throw DbError(ErrItemNotFound,
                          twice ? QStringLiteral("La tabella '%1' compare più volte nella query: non si può dire quale "
                                                 "riceva le modifiche.")
                                      .arg(m_query.writeTable)
                                : QStringLiteral("La tabella '%1' non fa parte della query.").arg(m_query.writeTable));
        }
        m_writeTable = table->name;
        m_writeReference = table->reference;
    } else if (!readOnlyShape && m_shape.tables.size() == 1) {
        m_writeTable = m_shape.tables.constFirst().name;
        m_writeReference = m_shape.tables.constFirst().reference;
    }
    if (!m_query.keyColumns.isEmpty()) {
        const QString first = m_query.keyColumns.constFirst();
        const QString firstTable = first.left(first.indexOf(QLatin1Char('.')));
        const auto keyTable = std::find_if(m_shape.tables.begin(), m_shape.tables.end(), [&](const auto& t) {
            return t.reference.compare(firstTable, Qt::CaseInsensitive) == 0;
        });
        if (!m_query.writeTable.isEmpty() || !m_shape.select || m_shape.compound || m_shape.subquery ||
            keyTable == m_shape.tables.end() || m_query.keyColumns.size() > 2) {
            throw DbError(ErrSyntax, DbError::describe(ErrSyntax) +
                                         QStringLiteral(" (le colonne chiave non si adattano alla query)"));
        }
        m_keyTable = keyTable->name;
        m_keyedJoin = true;
        m_keyed = true;
        m_writeTable.clear();
        m_writeReference.clear();
    } else {
        m_keyed = !readOnlyShape && m_shape.tables.size() == 1;
    }
    load();
}

void Recordset::load()
{
    m_cache = std::make_shared<PageCache>();
    m_single.reset();
    m_rowQuery.reset();
    m_findQueries.clear();
    m_rowIdColumn = -1;
    m_keyList = std::make_shared<KeyList>();
    m_rows.clear();
    m_currentDeleted = false;
    if (m_keyedJoin) {
        loadJoinKeys();
    } else if (m_keyed) {
        loadKeys();
    } else {
        loadWhole();
    }
    m_pos = keys().empty() ? -1 : 0;
}

void Recordset::readColumns(const Statement& st, int first, int count)
{
    m_columns.clear();
    for (int c = first; c < first + count; ++c) {
        Column col{st.columnName(c), st.columnTable(c), st.columnOrigin(c), false};
        col.writable = !m_writeTable.isEmpty() && !col.origin.isEmpty() &&
                       col.table.compare(m_writeTable, Qt::CaseInsensitive) == 0;
        m_columns.push_back(col);
    }
}

void Recordset::loadKeys()
{
    const QString& ref = m_writeReference;
    const int selectAndFrom = m_shape.selectMarkers + m_shape.fromMarkers;
    m_pageMarkers = selectAndFrom;
    // The page query also tells the columns of the result.
    const QString rowId = ref + QLatin1Char('.') + m_archive->rowIdOf(m_writeTable);
    const QString pageSql = QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 IN (%4)")
                                .arg(m_shape.selectList, rowId, m_shape.fromClause, marks(kPageSize));
    m_pageQuery = std::make_unique<Statement>(m_archive->prepareExact(pageSql));
    m_pageQuery->bindAll(m_query.values.mid(0, selectAndFrom));
    m_rowSql = QStringLiteral("SELECT %1, %2 FROM %3 WHERE %2 = ?").arg(m_shape.selectList, rowId, m_shape.fromClause);
    readColumns(*m_pageQuery, 0, m_pageQuery->columnCount() - 1);
    findRowIdColumn();
    m_hasRowId = true;
    const QString keySql = QStringLiteral("SELECT %1 FROM %2 %3").arg(rowId, m_shape.fromClause, m_shape.tail);
    const QVariantList keyValues = m_query.values.mid(m_shape.selectMarkers);
    // Another data source of the window may have just read the same keys (the title list and the
    // record run one query).
    const QString memoKey = memoKeyOf(keySql, keyValues);
    const QString pageSignature = memoKeyOf(pageSql, m_query.values.mid(0, selectAndFrom));
    if (auto known = std::static_pointer_cast<const KeyList>(m_archive->memo(memoKey))) {
        m_keyList = std::const_pointer_cast<KeyList>(known);
        // The same columns of the same rows: the pages are shared too.
        if (m_keyList->pageSignature == pageSignature) {
            if (auto pages = m_keyList->pages.lock()) {
                m_cache = std::move(pages);
            } else {
                m_keyList->pages = m_cache;
            }
        }
        return;
    }
    Statement keys = m_archive->prepareExact(keySql);
    keys.bindAll(keyValues);
    while (keys.step()) {
        m_keyList->keys.push_back(keys.int64(0));
    }
    m_keyList->pageSignature = pageSignature;
    m_keyList->pages = m_cache;
    m_archive->setMemo(memoKey, m_keyList);
}

void Recordset::loadJoinKeys()
{
    // Keys are the values of the key columns; a page reads every joined row of its first-column
    // keys (the books) and keeps those whose key pair it asked for.
    const QString first = m_query.keyColumns.constFirst();
    const QString keyList = m_query.keyColumns.join(QStringLiteral(", "));
    const int keyColumns = int(m_query.keyColumns.size());
    // The query's own condition holds for the page too: a row that another user changed so that
    // it no longer belongs to the result reads as empty, never as another row. Its unary plus keeps
    // the engine from reading the page through the condition's indexes instead of by its keys.
    m_pageMarkers = m_shape.selectMarkers + m_shape.fromMarkers + m_shape.conditionMarkers;
    const QString condition =
        m_shape.condition.isEmpty() ? QString()
                                    : (m_archive->onServer() ? QStringLiteral("(%1) AND ") : QStringLiteral("+(%1) AND ")).arg(m_shape.condition);
    m_pageQuery = std::make_unique<Statement>(m_archive->prepareExact(
        QStringLiteral("SELECT %1, %2 FROM %3 WHERE %4%5 IN (%6)")
            .arg(m_shape.selectList, keyList, m_shape.fromClause, condition, first, marks(kPageSize))));
    m_pageQuery->bindAll(m_query.values.mid(0, m_pageMarkers));
    // The first table's integer key answers from the held keys; nothing is writable.
    m_writeTable = m_keyTable;
    readColumns(*m_pageQuery, 0, m_pageQuery->columnCount() - keyColumns);
    findRowIdColumn();
    m_writeTable.clear();
    for (Column& c : m_columns) {
        c.writable = false;
    }
    const bool ownKeys = m_query.keyText.isEmpty();
    Statement keys = ownKeys
                         ? m_archive->prepareExact(
                               QStringLiteral("SELECT %1 FROM %2 %3").arg(keyList, m_shape.fromClause, m_shape.tail))
                         : m_archive->prepare(m_query.keyText);
    if (keys.columnCount() != keyColumns) {
        throw DbError(ErrSyntax, DbError::describe(ErrSyntax) +
                                     QStringLiteral(" (la query delle chiavi non dà le colonne chiave)"));
    }
    keys.bindAll(ownKeys ? m_query.values.mid(m_shape.selectMarkers) : m_query.keyValues);
    while (keys.step()) {
        m_keyList->keys.push_back(keys.int64(0));
        if (keyColumns == 2) {
            m_keyList->second.push_back(keys.value(1).isNull() ? kNoRow : keys.int64(1));
        }
    }
    if (m_keyList->keys.size() >= kWidePageCacheRows) {
        try {
            Statement size = m_archive->prepareExact(QStringLiteral("PRAGMA cache_size"));
            if (size.step() && size.int64(0) > -kWidePageCacheKb) {
                m_archive->prepareExact(QStringLiteral("PRAGMA cache_size = -%1").arg(kWidePageCacheKb)).step();
            }
        } catch (const DbError&) {
            // Only a matter of speed: the search is there all the same.
        }
    }
}

void Recordset::chooseWriteTable(Statement* probe)
{
    // A join that does not name its table writes to the only table that feeds its columns.
    QString found;
    for (int c = 0; c < probe->columnCount(); ++c) {
        const QString table = probe->columnTable(c);
        if (table.isEmpty()) {
            continue;
        }
        if (!found.isEmpty() && found.compare(table, Qt::CaseInsensitive) != 0) {
            return;
        }
        found = table;
    }
    if (const sql::Shape::Table* table = found.isEmpty() ? nullptr : m_shape.table(found)) {
        m_writeTable = table->name;
        m_writeReference = table->reference;
    }
}

void Recordset::loadWhole()
{
    const QString translated = m_archive->translate(m_query.text);
    const bool canWrite = m_shape.select && !m_shape.distinct && !m_shape.compound && !m_shape.subquery;
    std::unique_ptr<Statement> st;
    if (canWrite && m_writeTable.isEmpty()) {
        st = std::make_unique<Statement>(m_archive->prepareExact(translated));
        chooseWriteTable(st.get());
    }
    m_hasRowId = canWrite && !m_writeTable.isEmpty();
    if (m_hasRowId) {
        st = std::make_unique<Statement>(
            m_archive->prepareExact(QStringLiteral("SELECT %1.%2, %3 FROM %4 %5")
                                        .arg(m_writeReference, m_archive->rowIdOf(m_writeTable), m_shape.selectList,
                                             m_shape.fromClause, m_shape.tail)));
    } else if (!st) {
        st = std::make_unique<Statement>(m_archive->prepareExact(translated));
    }
    st->bindAll(m_query.values);
    const int first = m_hasRowId ? 1 : 0;
    readColumns(*st, first, st->columnCount() - first);
    while (st->step()) {
        Row row;
        row.reserve(m_columns.size());
        for (int c = first; c < st->columnCount(); ++c) {
            row.push_back(st->value(c));
        }
        m_keyList->keys.push_back(m_hasRowId ? st->int64(0) : qint64(m_rows.size()));
        m_rows.push_back(std::move(row));
    }
}

void Recordset::findRowIdColumn()
{
    // A table's single INTEGER PRIMARY KEY is its rowid: its values are the keys already held, so
    // reading or finding them needs no query.
    m_rowIdColumn = -1;
    const QString name = m_archive->integerKeyOf(m_writeTable);
    if (name.isEmpty()) {
        return;
    }
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns[c].origin.compare(name, Qt::CaseInsensitive) == 0 && m_columns[c].writable) {
            m_rowIdColumn = c;
            return;
        }
    }
}

std::vector<qint64>& Recordset::mutableKeys()
{
    if (m_keyList.use_count() > 1) {
        auto own = std::make_shared<KeyList>();
        own->keys = m_keyList->keys;
        own->second = m_keyList->second;
        m_keyList = std::move(own);
        // Rows may now stand at other positions than in the keys shared before.
        m_cache = std::make_shared<PageCache>();
    }
    m_keyList->positionsValid = false;
    return m_keyList->keys;
}

void Recordset::forgetCache()
{
    m_cache->pages.clear();
    m_cache->order.clear();
    ++m_cache->forgotten;
    m_single.reset();
}

void Recordset::forgetPageOf(int row)
{
    m_single.reset();
    ++m_cache->forgotten;
    if (m_keyed && row >= 0) {
        m_cache->pages.remove(row / kPageSize);
        m_cache->order.remove(row / kPageSize);
    }
}

const Recordset::Page& Recordset::page(int index) const
{
    auto it = m_cache->pages.find(index);
    if (it != m_cache->pages.end()) {
        if (m_cache->order.front() != index) {
            m_cache->order.remove(index);
            m_cache->order.push_front(index);
        }
        return it.value();
    }
    Page p;
    const int begin = index * kPageSize;
    const int end = std::min(begin + kPageSize, recordCount());
    p.rows.assign(end - begin, Row(m_columns.size()));
    // The rows of the page by their key (a pair of rowids for a keyed join); the same book may come
    // several times in a page of a join, once per author.
    const bool pairs = !m_keyList->second.empty();
    const auto keyAt = [&](int row) {
        return std::pair<qint64, qint64>(keys()[row], pairs ? m_keyList->second[row] : 0);
    };
    QMultiHash<std::pair<qint64, qint64>, int> slot;
    const int firstKey = m_pageMarkers + 1;
    m_pageQuery->reset();
    m_pageQuery->bindAll(m_query.values.mid(0, firstKey - 1));
    std::vector<qint64> asked;
    for (int i = begin; i < end; ++i) {
        if (std::find(asked.begin(), asked.end(), keys()[i]) == asked.end()) {
            asked.push_back(keys()[i]);
        }
        slot.insert(keyAt(i), i - begin);
    }
    int bound = 0;
    for (const qint64 key : asked) {
        m_pageQuery->bindInt(firstKey + bound++, key);
    }
    for (; bound < kPageSize; ++bound) {
        m_pageQuery->bind(firstKey + bound, QVariant());
    }
    const int rowidColumn = int(m_columns.size());
    while (m_pageQuery->step()) {
        const qint64 second =
            pairs ? (m_pageQuery->value(rowidColumn + 1).isNull() ? kNoRow : m_pageQuery->int64(rowidColumn + 1)) : 0;
        const auto found = slot.equal_range({m_pageQuery->int64(rowidColumn), second});
        for (auto s = found.first; s != found.second; ++s) {
            Row& row = p.rows[s.value()];
            for (int c = 0; c < rowidColumn; ++c) {
                row[c] = m_pageQuery->value(c);
            }
        }
    }
    m_pageQuery->reset();
    if (m_cache->pages.size() >= kMaxPages) {
        m_cache->pages.remove(m_cache->order.back());
        m_cache->order.pop_back();
    }
    m_cache->order.push_front(index);
    return m_cache->pages.insert(index, std::move(p)).value();
}

const Recordset::Row& Recordset::rowAt(int row) const
{
    if (!m_keyed) {
        return m_rows.at(row);
    }
    return page(row / kPageSize).rows.at(row % kPageSize);
}

int Recordset::positionOf(qint64 key) const
{
    const KeyList& list = *m_keyList;
    if (!list.positionsValid) {
        list.positions.clear();
        list.densePositions.clear();
        qint64 lowest = 0;
        qint64 highest = 0;
        for (const qint64 k : list.keys) {
            lowest = std::min(lowest, k);
            highest = std::max(highest, k);
        }
        if (lowest >= 0 && highest <= std::max<qint64>(4 * qint64(list.keys.size()), 1024)) {
            list.densePositions.assign(std::size_t(highest) + 1, -1);
            for (int i = int(list.keys.size()) - 1; i >= 0; --i) {
                list.densePositions[std::size_t(list.keys[i])] = i; // the first position wins
            }
        } else {
            list.positions.reserve(qsizetype(list.keys.size()));
            for (int i = int(list.keys.size()) - 1; i >= 0; --i) {
                list.positions.insert(list.keys[i], i); // the first position wins for repeated keys
            }
        }
        list.positionsValid = true;
    }
    if (!list.densePositions.empty() || list.keys.empty()) {
        return key >= 0 && key < qint64(list.densePositions.size()) ? list.densePositions[std::size_t(key)] : -1;
    }
    return list.positions.value(key, -1);
}

// ---------------------------------------------------------------- position

void Recordset::requireNoEdit() const
{
    if (m_editMode != EditMode::None) {
        throw DbError(ErrEditPending);
    }
}

void Recordset::setAbsolutePosition(int pos)
{
    requireNoEdit();
    m_pos = std::clamp(pos, -1, recordCount());
    m_currentDeleted = false;
}

void Recordset::moveFirst()
{
    requireNoEdit();
    m_pos = keys().empty() ? -1 : 0;
    m_currentDeleted = false;
}

void Recordset::moveLast()
{
    requireNoEdit();
    m_pos = keys().empty() ? -1 : recordCount() - 1;
    m_currentDeleted = false;
}

void Recordset::moveNext()
{
    requireNoEdit();
    if (eof()) {
        throw DbError(ErrNoCurrentRecord);
    }
    // After a delete the position already holds the following row.
    if (!m_currentDeleted) {
        ++m_pos;
    }
    m_currentDeleted = false;
}

void Recordset::movePrevious()
{
    requireNoEdit();
    if (bof()) {
        throw DbError(ErrNoCurrentRecord);
    }
    --m_pos;
    m_currentDeleted = false;
}

void Recordset::requery()
{
    requireNoEdit();
    load();
}

// ---------------------------------------------------------------- fields

int Recordset::resolve(const QString& field) const
{
    const int dot = int(field.indexOf(QLatin1Char('.')));
    if (dot > 0) {
        // The table by its name or by the alias the query gives it.
        QString table = field.left(dot);
        for (const sql::Shape::Table& t : m_shape.tables) {
            if (t.reference.compare(table, Qt::CaseInsensitive) == 0) {
                table = t.name;
                break;
            }
        }
        const QString name = field.mid(dot + 1);
        for (int c = 0; c < columnCount(); ++c) {
            const Column& col = m_columns[c];
            if (col.table.compare(table, Qt::CaseInsensitive) == 0 &&
                (col.origin.compare(name, Qt::CaseInsensitive) == 0 ||
                 col.name.compare(name, Qt::CaseInsensitive) == 0)) {
                return c;
            }
        }
        for (int c = 0; c < columnCount(); ++c) {
            if (m_columns[c].name.compare(field, Qt::CaseInsensitive) == 0) {
                return c;
            }
        }
        return -1;
    }
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns[c].name.compare(field, Qt::CaseInsensitive) == 0) {
            return c;
        }
    }
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns[c].origin.compare(field, Qt::CaseInsensitive) == 0) {
            return c;
        }
    }
    return -1;
}

int Recordset::columnIndex(const QString& field) const
{
    return resolve(field);
}

bool Recordset::isWritable(int column) const
{
    return column >= 0 && column < columnCount() && m_columns[column].writable;
}

int Recordset::resolveOrThrow(const QString& field) const
{
    const int c = resolve(field);
    if (c < 0) {
        throw DbError(ErrItemNotFound, DbError::describe(ErrItemNotFound) + QStringLiteral(" (%1)").arg(field));
    }
    return c;
}

void Recordset::requireCurrent() const
{
    if (!hasCurrent()) {
        throw DbError(ErrNoCurrentRecord);
    }
}

QVariant Recordset::value(const QString& field) const
{
    const int c = resolveOrThrow(field);
    if (m_editMode != EditMode::None) {
        return m_buffer[c];
    }
    requireCurrent();
    if (c == m_rowIdColumn) {
        return QVariant(keys()[m_pos]);
    }
    return currentRow()[c];
}

const Recordset::Row& Recordset::currentRow() const
{
    const qint64 key = m_keyed ? keys()[m_pos] : 0;
    if (m_single && m_single->first == key && m_singlePosition == m_pos && m_singleForgotten == m_cache->forgotten) {
        return m_single->second;
    }
    // A walk from row to row reads pages, as a list does.
    const bool walking = m_single && std::abs(m_singlePosition - m_pos) == 1;
    if (!m_keyed || m_keyedJoin || walking || m_cache->pages.contains(m_pos / kPageSize)) {
        m_single.reset();
        return rowAt(m_pos);
    }
    if (!m_rowQuery) {
        m_rowQuery = std::make_unique<Statement>(m_archive->prepareExact(m_rowSql));
    }
    m_rowQuery->reset();
    m_rowQuery->bindAll(m_query.values.mid(0, m_pageMarkers));
    m_rowQuery->bindInt(m_pageMarkers + 1, key);
    // A row deleted meanwhile reads as empty, as it does in a page.
    Row row(m_columns.size());
    if (m_rowQuery->step()) {
        for (int c = 0; c < int(row.size()); ++c) {
            row[c] = m_rowQuery->value(c);
        }
    }
    m_rowQuery->reset();
    m_single.emplace(key, std::move(row));
    m_singlePosition = m_pos;
    m_singleForgotten = m_cache->forgotten;
    return m_single->second;
}

QVariant Recordset::valueAt(int row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= columnCount()) {
        return {};
    }
    if (column == m_rowIdColumn) {
        return QVariant(keys()[row]);
    }
    return rowAt(row)[column];
}

void Recordset::setValue(const QString& field, const QVariant& value)
{
    const int c = resolveOrThrow(field);
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    if (!m_columns[c].writable) {
        throw DbError(ErrReadOnly, DbError::describe(ErrReadOnly) + QStringLiteral(" (%1)").arg(field));
    }
    m_buffer[c] = value;
    m_dirty[c] = true;
}

// ---------------------------------------------------------------- finding

int Recordset::findRow(const QString& field, const QVariant& value) const
{
    const int c = resolve(field);
    if (c < 0 || value.isNull() || keys().empty()) {
        return -1;
    }
    if (m_keyed && c == m_rowIdColumn) {
        bool ok = false;
        const qint64 key = value.toLongLong(&ok);
        return ok ? positionOf(key) : -1;
    }
    const bool ownTable = !m_keyedJoin || m_columns[c].table.compare(m_keyTable, Qt::CaseInsensitive) == 0;
    if (m_keyed && ownTable) {
        // The engine finds the matching rowids through its indexes; the first in this result's
        // order is the answer. Texts compare in the collation the indexes are built with.
        const Column& col = m_columns[c];
        if (col.origin.isEmpty()) {
            return -1;
        }
        std::unique_ptr<Statement>& st = m_findQueries[c];
        if (!st) {
            st = std::make_unique<Statement>(
                m_archive->prepareExact(QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                                            .arg(m_archive->rowIdOf(col.table.isEmpty() ? m_writeTable : col.table),
                                                 sql::quoteName(col.table.isEmpty() ? m_writeTable : col.table),
                                                 sql::equalsBound(sql::quoteName(col.origin), col.origin))));
        }
        st->reset();
        st->bind(1, value);
        int best = -1;
        while (st->step()) {
            const int p = positionOf(st->int64(0));
            if (p >= 0 && (best < 0 || p < best)) {
                best = p;
            }
        }
        st->reset();
        return best;
    }
    for (int r = 0; r < recordCount(); ++r) {
        if (sameValue(m_keyed ? valueAt(r, c) : m_rows[r][c], value)) {
            return r;
        }
    }
    return -1;
}

bool Recordset::findFirst(const QString& field, const QVariant& value)
{
    requireNoEdit();
    resolveOrThrow(field);
    const int row = findRow(field, value);
    m_noMatch = row < 0;
    if (!m_noMatch) {
        m_pos = row;
        m_currentDeleted = false;
    }
    return !m_noMatch;
}

// ---------------------------------------------------------------- editing

void Recordset::requireWritable() const
{
    if (m_writeTable.isEmpty() || !m_hasRowId) {
        throw DbError(ErrReadOnly);
    }
    m_archive->requireWritable(m_writeTable);
}

std::vector<int> Recordset::writableColumns() const
{
    std::vector<int> result;
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns[c].writable) {
            result.push_back(c);
        }
    }
    return result;
}

bool Recordset::readStored(qint64 key, Row& values)
{
    const std::vector<int> cols = writableColumns();
    QString names;
    for (int c : cols) {
        names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + sql::quoteName(m_columns[c].origin);
    }
    Statement st =
        m_archive->prepareExact(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                                    .arg(names.isEmpty() ? QStringLiteral("1") : names, sql::quoteName(m_writeTable),
                                         m_archive->rowIdOf(m_writeTable)));
    st.bindInt(1, key);
    if (!st.step()) {
        return false;
    }
    values.assign(m_columns.size(), QVariant());
    for (int i = 0; i < int(cols.size()); ++i) {
        values[cols[i]] = st.value(i);
    }
    return true;
}

void Recordset::addNew()
{
    requireNoEdit();
    requireWritable();
    m_buffer.assign(m_columns.size(), QVariant());
    m_dirty.assign(m_columns.size(), false);
    m_editMode = EditMode::Add;
}

std::vector<QVariant> Recordset::shownRow() const
{
    requireCurrent();
    std::vector<QVariant> row = currentRow();
    if (m_rowIdColumn >= 0) {
        row[m_rowIdColumn] = QVariant(keys()[m_pos]);
    }
    return row;
}

void Recordset::editSeen(const std::vector<QVariant>& seen)
{
    if (seen.size() != m_columns.size()) {
        throw DbError(ErrInvalidProcedure);
    }
    edit();
    for (int c : writableColumns()) {
        m_readAtEdit[c] = seen[c];
        m_expected[c] = seen[c];
    }
}

void Recordset::edit()
{
    requireNoEdit();
    requireWritable();
    requireCurrent();
    const qint64 key = keys()[m_pos];
    // Read afresh: the cached page may be older than someone else's save.
    Row stored;
    if (!readStored(key, stored)) {
        throw DbError(ErrRecordDeleted);
    }
    m_buffer = rowAt(m_pos);
    for (int c : writableColumns()) {
        m_buffer[c] = stored[c];
    }
    if (m_keyed) {
        forgetPageOf(m_pos);
    } else {
        m_rows[m_pos] = m_buffer;
    }
    m_readAtEdit = m_buffer;
    m_expected = m_buffer;
    m_dirty.assign(m_columns.size(), false);
    m_editKey = key;
    m_editMode = EditMode::Edit;
}

bool Recordset::cancelUpdate()
{
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    bool changed = false;
    if (m_editMode == EditMode::Edit) {
        Row stored;
        bool present = true;
        try {
            present = readStored(m_editKey, stored);
            changed = !present;
            for (int c : present ? writableColumns() : std::vector<int>()) {
                if (!identical(stored[c], m_readAtEdit[c])) {
                    changed = true;
                }
            }
        } catch (const DbError&) {
            // Unreadable for now (busy): the edit is dropped all the same, and the row is read
            // again when next shown.
            present = false;
        }
        // Moves were refused during the edit, so the current row is still the edited one.
        if (m_pos >= 0 && m_pos < recordCount() && keys()[m_pos] == m_editKey) {
            if (m_keyed) {
                forgetPageOf(m_pos);
            } else if (present) {
                for (int c : writableColumns()) {
                    m_rows[m_pos][c] = stored[c];
                }
            }
        }
    }
    m_editMode = EditMode::None;
    m_buffer.clear();
    m_readAtEdit.clear();
    m_expected.clear();
    return changed;
}

void Recordset::update()
{
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    if (m_editMode == EditMode::Add) {
        insertNew();
    } else {
        updateEdited();
    }
    m_editMode = EditMode::None;
    m_buffer.clear();
    m_readAtEdit.clear();
    m_expected.clear();
}

void Recordset::insertNew()
{
    QString names;
    QString values;
    std::vector<int> cols;
    for (int c : writableColumns()) {
        if (m_dirty[c]) {
            cols.push_back(c);
            names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + sql::quoteName(m_columns[c].origin);
            values += values.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
        }
    }
    const QString table = sql::quoteName(m_writeTable);
    // On a server a new row also waits for the archive's write lock, as a file's writes do.
    std::optional<Transaction> writing;
    if (m_archive->onServer()) {
        writing.emplace(*m_archive);
    }
    Statement st = m_archive->prepareExact(
        cols.empty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                     : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, names, values));
    for (int i = 0; i < int(cols.size()); ++i) {
        st.bind(i + 1, m_buffer[cols[i]]);
    }
    st.step();
    m_lastModified = m_archive->lastInsertRowId();
    if (writing) {
        writing->commit();
    }
    // A new row joins the end of the result, as it does in a dynaset, until the next requery.
    mutableKeys().push_back(m_lastModified);
    if (m_keyed) {
        // The cached last page was read when it was shorter; read it again with the new row.
        forgetPageOf(recordCount() - 1);
    } else {
        m_rows.push_back(m_buffer);
    }
}

void Recordset::updateEdited()
{
    // Only what this edit changed is written, so a field someone else changed meanwhile and this
    // edit did not touch keeps their value.
    std::vector<int> cols;
    for (int c : writableColumns()) {
        if (m_dirty[c] && !unchangedForUser(m_buffer[c], m_readAtEdit[c])) {
            cols.push_back(c);
        }
    }
    Transaction transaction(*m_archive);
    Row stored;
    if (!readStored(m_editKey, stored)) {
        throw DbError(ErrRecordDeleted);
    }
    for (int c : writableColumns()) {
        if (!identical(stored[c], m_expected[c])) {
            // Whoever presses "Salva" again has seen this version and chooses to replace it.
            for (int k : writableColumns()) {
                m_expected[k] = stored[k];
            }
            throw DbError(ErrRecordChanged);
        }
    }
    if (!cols.empty()) {
        QString sets;
        for (int c : cols) {
            sets += (sets.isEmpty() ? QString() : QStringLiteral(", ")) + sql::quoteName(m_columns[c].origin) +
                    QStringLiteral(" = ?");
        }
        Statement st = m_archive->prepareExact(
            QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                .arg(sql::quoteName(m_writeTable), sets, m_archive->rowIdOf(m_writeTable)));
        int i = 1;
        for (int c : cols) {
            st.bind(i++, m_buffer[c]);
        }
        st.bindInt(i, m_editKey);
        st.step();
    }
    transaction.commit();

    qint64 key = m_editKey;
    if (m_rowIdColumn >= 0 && m_dirty[m_rowIdColumn] && !m_buffer[m_rowIdColumn].isNull()) {
        key = m_buffer[m_rowIdColumn].toLongLong();
    }
    m_lastModified = key;
    // Moves were refused during the edit, so the current row is still the edited one.
    if (m_pos >= 0 && m_pos < recordCount() && keys()[m_pos] == m_editKey) {
        if (key != m_editKey) {
            mutableKeys()[m_pos] = key;
        }
        if (m_keyed) {
            forgetPageOf(m_pos);
        } else {
            m_rows[m_pos] = m_buffer;
        }
    }
}

void Recordset::deleteCurrent()
{
    requireNoEdit();
    requireWritable();
    requireCurrent();
    // A book on loan and a borrower with books out stay: checked in the transaction of the delete,
    // so that a loan made a moment ago at another desk is seen. The archive's triggers refuse such
    // a delete too, but could not name the loan.
    Transaction transaction(*m_archive);
    loans::refuseDeletion(*m_archive, m_writeTable, keys()[m_pos]);
    Statement st =
        m_archive->prepareExact(QStringLiteral("DELETE FROM %1 WHERE %2 = ?")
                                    .arg(sql::quoteName(m_writeTable), m_archive->rowIdOf(m_writeTable)));
    st.bindInt(1, keys()[m_pos]);
    st.step();
    transaction.commit();
    mutableKeys().erase(mutableKeys().begin() + m_pos);
    if (!m_keyed) {
        m_rows.erase(m_rows.begin() + m_pos);
    }
    forgetCache();
    m_currentDeleted = true;
}

Recordset::Bookmark Recordset::bookmark() const
{
    requireCurrent();
    return keys()[m_pos];
}

void Recordset::setBookmark(Bookmark bookmark)
{
    requireNoEdit();
    const int p = positionOf(bookmark);
    if (p < 0) {
        throw DbError(ErrNoCurrentRecord);
    }
    m_pos = p;
    m_currentDeleted = false;
}

} // namespace store
