#include "store/Recordset.h"

#include "store/Collation.h"
#include "store/Sql.h"

#include <QRegularExpression>
#include <algorithm>

namespace store {
namespace {

constexpr int kPageSize = 64;
constexpr int kMaxPages = 48;

QString quoted(const QString& name)
{
    QString n = name;
    n.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

const QRegularExpression& wordPattern(const char* pattern)
{
    // Compiled once each: a recordset is built on every book shown.
    static QHash<const char*, QRegularExpression> compiled;
    auto it = compiled.find(pattern);
    if (it == compiled.end()) {
        it = compiled.insert(
            pattern, QRegularExpression(QString::fromLatin1(pattern), QRegularExpression::CaseInsensitiveOption));
    }
    return it.value();
}

bool containsWord(const QString& text, const char* pattern)
{
    return wordPattern(pattern).match(text).hasMatch();
}

// A criterion of the form field=value, with the value as a number or a quoted text.
struct Criterion {
    QString field;
    QVariant value; // null: matches nothing
    bool valid = false;
};

Criterion parseCriterion(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(R"(^\s*([A-Za-z_]\w*(?:\.[A-Za-z_]\w*)?)\s*=\s*(.*?)\s*$)"),
                                       QRegularExpression::DotMatchesEverythingOption);
    Criterion c;
    const auto m = re.match(text);
    if (!m.hasMatch()) {
        return c;
    }
    c.valid = true;
    c.field = m.captured(1);
    QString v = m.captured(2);
    if (v.isEmpty()) {
        return c;
    }
    if (v.size() >= 2 && (v.front() == QLatin1Char('\'') || v.front() == QLatin1Char('"')) && v.back() == v.front()) {
        const QString q(v.front());
        c.value = v.mid(1, v.size() - 2).replace(q + q, q);
        return c;
    }
    bool ok = false;
    const qint64 i = v.toLongLong(&ok);
    if (ok) {
        c.value = i;
        return c;
    }
    const double d = v.toDouble(&ok);
    if (ok) {
        c.value = d;
        return c;
    }
    c.valid = false;
    return c;
}

bool isNumeric(const QVariant& v)
{
    const int t = v.typeId();
    return t == QMetaType::LongLong || t == QMetaType::Int || t == QMetaType::Double || t == QMetaType::UInt ||
           t == QMetaType::ULongLong;
}

// Equality as the engine compares: numbers by value, texts without regard to case.
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

} // namespace

Recordset::Recordset(std::shared_ptr<Archive> archive, const QString& sqlText)
    : m_archive(std::move(archive)), m_sql(sqlText)
{
    if (!m_archive) {
        throw DbError(ErrObjectNotSet);
    }
    parse();
    load();
}

Recordset::~Recordset() = default;

void Recordset::parse()
{
    static const QRegularExpression re(QStringLiteral(R"(^\s*select\s+(.*?)\s+from\s+(\(\s*)*([A-Za-z_]\w*)(.*)$)"),
                                       QRegularExpression::CaseInsensitiveOption |
                                           QRegularExpression::DotMatchesEverythingOption);
    const auto m = re.match(sql::translate(m_sql));
    if (!m.hasMatch()) {
        return; // not a plain select: read whole, read-only
    }
    m_selectList = m.captured(1);
    m_table = m.captured(3);
    m_rest = m.captured(4);
    const bool distinct = containsWord(m_selectList, R"(^\s*distinct\b)");
    const bool grouped = containsWord(m_rest, R"(\b(group\s+by|union|having)\b)");
    const bool parenthesised = !m.captured(2).isEmpty();
    static const QRegularExpression simpleRest(QStringLiteral(R"(^\s*((where|order\s+by)\b.*)?;?\s*$)"),
                                               QRegularExpression::CaseInsensitiveOption |
                                                   QRegularExpression::DotMatchesEverythingOption);
    m_keyed = !distinct && !grouped && !parenthesised && simpleRest.match(m_rest).hasMatch() &&
              !containsWord(m_rest, R"(\bjoin\b)");
    m_hasRowId = !distinct && !grouped;
}

void Recordset::load()
{
    forgetCache();
    m_findQueries.clear();
    m_rowIdColumn = -1;
    m_keys.clear();
    m_rows.clear();
    m_currentDeleted = false;
    if (m_keyed) {
        loadKeys();
    } else {
        loadWhole();
    }
    m_pos = m_keys.empty() ? -1 : 0;
}

void Recordset::loadKeys()
{
    // The page query also tells the columns of the result.
    QString pageSql = QStringLiteral("SELECT %1, rowid FROM %2 WHERE rowid IN (").arg(m_selectList, m_table);
    for (int i = 0; i < kPageSize; ++i) {
        pageSql += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
    }
    pageSql += QLatin1Char(')');
    m_pageQuery = std::make_unique<Statement>(m_archive->handle(), pageSql);
    m_columns.clear();
    for (int c = 0; c + 1 < m_pageQuery->columnCount(); ++c) {
        m_columns.push_back({m_pageQuery->columnName(c), m_pageQuery->columnTable(c), m_pageQuery->columnOrigin(c)});
    }
    findRowIdColumn();
    Statement keys = m_archive->prepare(QStringLiteral("SELECT rowid FROM %1 %2").arg(m_table, m_rest));
    while (keys.step()) {
        m_keys.push_back(keys.int64(0));
    }
}

void Recordset::loadWhole()
{
    QString text = m_sql;
    if (m_hasRowId) {
        static const QRegularExpression head(QStringLiteral(R"(^\s*select\s+)"),
                                             QRegularExpression::CaseInsensitiveOption);
        text.replace(head, QStringLiteral("SELECT %1.rowid, ").arg(m_table));
    }
    Statement st = m_archive->prepare(text);
    const int first = m_hasRowId ? 1 : 0;
    m_columns.clear();
    for (int c = first; c < st.columnCount(); ++c) {
        m_columns.push_back({st.columnName(c), st.columnTable(c), st.columnOrigin(c)});
    }
    while (st.step()) {
        Row row;
        row.reserve(m_columns.size());
        for (int c = first; c < st.columnCount(); ++c) {
            row.push_back(st.value(c));
        }
        m_keys.push_back(m_hasRowId ? st.int64(0) : qint64(m_rows.size()));
        m_rows.push_back(std::move(row));
    }
}

void Recordset::findRowIdColumn()
{
    // A table's single INTEGER PRIMARY KEY is its rowid: its values are the keys already held, so
    // reading or finding them needs no query.
    m_rowIdColumn = -1;
    Statement pk = m_archive->prepare(QStringLiteral("SELECT name, type FROM pragma_table_info(?) WHERE pk > 0"));
    pk.bind(1, m_table);
    QString name;
    int count = 0;
    while (pk.step()) {
        ++count;
        if (pk.value(1).toString().compare(QStringLiteral("INTEGER"), Qt::CaseInsensitive) == 0) {
            name = pk.value(0).toString();
        }
    }
    if (count != 1 || name.isEmpty()) {
        return;
    }
    for (int c = 0; c < columnCount(); ++c) {
        if (m_columns[c].origin.compare(name, Qt::CaseInsensitive) == 0 &&
            m_columns[c].table.compare(m_table, Qt::CaseInsensitive) == 0) {
            m_rowIdColumn = c;
            return;
        }
    }
}

void Recordset::forgetCache()
{
    m_pages.clear();
    m_pageOrder.clear();
    m_positionsValid = false;
    m_positions.clear();
}

const Recordset::Page& Recordset::page(int index) const
{
    auto it = m_pages.find(index);
    if (it != m_pages.end()) {
        m_pageOrder.remove(index);
        m_pageOrder.push_front(index);
        return it.value();
    }
    Page p;
    const int begin = index * kPageSize;
    const int end = std::min(begin + kPageSize, recordCount());
    p.rows.assign(end - begin, Row(m_columns.size()));
    QHash<qint64, int> slot;
    m_pageQuery->reset();
    for (int i = 0; i < kPageSize; ++i) {
        if (begin + i < end) {
            m_pageQuery->bindInt(i + 1, m_keys[begin + i]);
            slot.insert(m_keys[begin + i], i);
        }
    }
    const int rowidColumn = int(m_columns.size());
    while (m_pageQuery->step()) {
        const auto s = slot.constFind(m_pageQuery->int64(rowidColumn));
        if (s == slot.constEnd()) {
            continue;
        }
        Row& row = p.rows[s.value()];
        for (int c = 0; c < rowidColumn; ++c) {
            row[c] = m_pageQuery->value(c);
        }
    }
    m_pageQuery->reset();
    if (m_pages.size() >= kMaxPages) {
        m_pages.remove(m_pageOrder.back());
        m_pageOrder.pop_back();
    }
    m_pageOrder.push_front(index);
    return m_pages.insert(index, std::move(p)).value();
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
    if (!m_positionsValid) {
        m_positions.clear();
        m_positions.reserve(qsizetype(m_keys.size()));
        for (int i = int(m_keys.size()) - 1; i >= 0; --i) {
            m_positions.insert(m_keys[i], i); // the first position wins for repeated keys
        }
        m_positionsValid = true;
    }
    return m_positions.value(key, -1);
}

// ---------------------------------------------------------------- position

void Recordset::setAbsolutePosition(int pos)
{
    m_pos = std::clamp(pos, -1, recordCount());
    m_currentDeleted = false;
}

void Recordset::moveFirst()
{
    m_pos = m_keys.empty() ? -1 : 0;
    m_currentDeleted = false;
}

void Recordset::moveLast()
{
    m_pos = m_keys.empty() ? -1 : recordCount() - 1;
    m_currentDeleted = false;
}

void Recordset::moveNext()
{
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
    if (bof()) {
        throw DbError(ErrNoCurrentRecord);
    }
    --m_pos;
    m_currentDeleted = false;
}

void Recordset::requery()
{
    m_editMode = EditMode::None;
    load();
}

// ---------------------------------------------------------------- fields

int Recordset::resolve(const QString& field) const
{
    const int dot = int(field.indexOf(QLatin1Char('.')));
    if (dot > 0) {
        const QString table = field.left(dot);
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
    return valueAt(m_pos, c);
}

QVariant Recordset::valueAt(int row, int column) const
{
    if (row < 0 || row >= recordCount() || column < 0 || column >= columnCount()) {
        return {};
    }
    if (column == m_rowIdColumn) {
        return QVariant(m_keys[row]);
    }
    return rowAt(row)[column];
}

void Recordset::setValue(const QString& field, const QVariant& value)
{
    const int c = resolveOrThrow(field);
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    m_buffer[c] = value;
    m_dirty[c] = true;
}

// ---------------------------------------------------------------- finding

int Recordset::findRow(const QString& field, const QVariant& value) const
{
    const int c = resolve(field);
    if (c < 0 || value.isNull() || m_keys.empty()) {
        return -1;
    }
    if (m_keyed && c == m_rowIdColumn) {
        bool ok = false;
        const qint64 key = value.toLongLong(&ok);
        return ok ? positionOf(key) : -1;
    }
    if (m_keyed) {
        // The engine finds the matching rowids through its indexes; the first in this result's
        // order is the answer.
        const Column& col = m_columns[c];
        if (col.origin.isEmpty()) {
            return -1;
        }
        std::unique_ptr<Statement>& st = m_findQueries[c];
        if (!st) {
            st = std::make_unique<Statement>(m_archive->prepare(
                QStringLiteral("SELECT rowid FROM %1 WHERE %2 = ?").arg(m_table, quoted(col.origin))));
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
        if (sameValue(m_rows[r][c], value)) {
            return r;
        }
    }
    return -1;
}

bool Recordset::findFirst(const QString& criterion)
{
    const Criterion c = parseCriterion(criterion);
    if (!c.valid) {
        throw DbError(ErrSyntax, DbError::describe(ErrSyntax) + QStringLiteral(" (%1)").arg(criterion));
    }
    resolveOrThrow(c.field);
    const int row = findRow(c.field, c.value);
    m_noMatch = row < 0;
    if (!m_noMatch) {
        m_pos = row;
        m_currentDeleted = false;
    }
    return !m_noMatch;
}

// ---------------------------------------------------------------- editing

std::vector<int> Recordset::writableColumns() const
{
    std::vector<int> result;
    for (int c = 0; c < columnCount(); ++c) {
        if (m_dirty[c] && !m_columns[c].origin.isEmpty() &&
            m_columns[c].table.compare(m_table, Qt::CaseInsensitive) == 0) {
            result.push_back(c);
        }
    }
    return result;
}

QString Recordset::quotedOrigin(int column) const
{
    return quoted(m_columns[column].origin);
}

void Recordset::addNew()
{
    if (!m_hasRowId || m_table.isEmpty()) {
        throw DbError(ErrReadOnly);
    }
    m_buffer.assign(m_columns.size(), QVariant());
    m_dirty.assign(m_columns.size(), false);
    m_editMode = EditMode::Add;
}

void Recordset::edit()
{
    if (!m_hasRowId || m_table.isEmpty()) {
        throw DbError(ErrReadOnly);
    }
    requireCurrent();
    m_buffer = rowAt(m_pos);
    m_dirty.assign(m_columns.size(), false);
    m_editMode = EditMode::Edit;
}

void Recordset::cancelUpdate()
{
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    m_editMode = EditMode::None;
    m_buffer.clear();
}

void Recordset::update()
{
    if (m_editMode == EditMode::None) {
        throw DbError(ErrUpdateWithoutEdit);
    }
    const std::vector<int> cols = writableColumns();
    if (m_editMode == EditMode::Add) {
        QString names;
        QString marks;
        for (int c : cols) {
            names += (names.isEmpty() ? QString() : QStringLiteral(", ")) + quotedOrigin(c);
            marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
        }
        const QString text = cols.empty()
                                 ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(m_table)
                                 : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(m_table, names, marks);
        Statement st(m_archive->handle(), text);
        for (int i = 0; i < int(cols.size()); ++i) {
            st.bind(i + 1, m_buffer[cols[i]]);
        }
        st.step();
        m_lastModified = m_archive->lastInsertRowId();
        // A new row joins the end of the result, as it does in a dynaset, until the next requery.
        m_keys.push_back(m_lastModified);
        if (m_keyed) {
            // The cached last page was read when it was shorter; read it again with the new row.
            const int lastPage = (recordCount() - 1) / kPageSize;
            m_pages.remove(lastPage);
            m_pageOrder.remove(lastPage);
        } else {
            m_rows.push_back(m_buffer);
        }
        m_positionsValid = false;
    } else {
        const qint64 key = m_keys[m_pos];
        if (!cols.empty()) {
            QString sets;
            for (int c : cols) {
                sets += (sets.isEmpty() ? QString() : QStringLiteral(", ")) + quotedOrigin(c) + QStringLiteral(" = ?");
            }
            Statement st(m_archive->handle(), QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?").arg(m_table, sets));
            int i = 1;
            for (int c : cols) {
                st.bind(i++, m_buffer[c]);
            }
            st.bindInt(i, key);
            st.step();
            if (m_archive->changes() == 0) {
                m_editMode = EditMode::None;
                throw DbError(ErrNoCurrentRecord); // deleted meanwhile by another user
            }
        }
        m_lastModified = key;
        if (m_rowIdColumn >= 0 && m_dirty[m_rowIdColumn] && !m_buffer[m_rowIdColumn].isNull()) {
            m_lastModified = m_buffer[m_rowIdColumn].toLongLong();
            m_keys[m_pos] = m_lastModified;
            m_positionsValid = false;
        }
        if (m_keyed) {
            m_pages.remove(m_pos / kPageSize);
            m_pageOrder.remove(m_pos / kPageSize);
        } else {
            m_rows[m_pos] = m_buffer;
        }
    }
    m_editMode = EditMode::None;
    m_buffer.clear();
}

void Recordset::deleteCurrent()
{
    if (!m_hasRowId || m_table.isEmpty()) {
        throw DbError(ErrReadOnly);
    }
    requireCurrent();
    Statement st(m_archive->handle(), QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(m_table));
    st.bindInt(1, m_keys[m_pos]);
    st.step();
    m_keys.erase(m_keys.begin() + m_pos);
    if (!m_keyed) {
        m_rows.erase(m_rows.begin() + m_pos);
    }
    forgetCache();
    m_currentDeleted = true;
}

Recordset::Bookmark Recordset::bookmark() const
{
    requireCurrent();
    return m_keys[m_pos];
}

void Recordset::setBookmark(Bookmark bookmark)
{
    const int p = positionOf(bookmark);
    if (p < 0) {
        throw DbError(ErrNoCurrentRecord);
    }
    m_pos = p;
    m_currentDeleted = false;
}

} // namespace store
