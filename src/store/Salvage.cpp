#include "store/Salvage.h"

#include "store/Archive.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "store/SalvageRecords.h"
#include "store/Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace store::salvage {
namespace {

using namespace records;

constexpr qint64 kMinKey = std::numeric_limits<qint64>::min();
constexpr qint64 kMaxKey = std::numeric_limits<qint64>::max();

// What Archive::create writes; used when the file's own header is unreadable.
constexpr int kDefaultPageSize = 4096;

constexpr quint8 kTableLeaf = 0x0D;
constexpr quint8 kTableInterior = 0x05;
constexpr quint8 kIndexLeaf = 0x0A;
constexpr quint8 kIndexInterior = 0x02;

// Who a page belongs to: the archive's tables are 0..5, in the order of schema::tables(), then
// the engine's own tables and any other table a file may hold.
constexpr qint8 kArchiveTables = 6;
enum Owner : qint8 {
    kNoOwner = -1,
    kSequence = kArchiveTables, // sqlite_sequence: the counters of the automatic keys
    kSchemaTable,
    kOtherTable,
    kOwnerCount,
    kIndexTree = kOwnerCount // a page of an index: never a table's row, never part of a chain
};

// key + step, held at the largest key instead of wrapping.
qint64 addClamped(qint64 key, quint64 step)
{
    const quint64 room = quint64(kMaxKey) - quint64(key);
    return step >= room ? kMaxKey : qint64(quint64(key) + step);
}

// ---------------------------------------------------------------- the fresh archive

// Writes rows into the fresh archive in one transaction, keeping their keys. A row already
// there (the same key, or the same link) is left as it is. Every row is checked before it goes
// in: a row that fails is left out and counted, never kept as if it were sound.
class Writer {
  public:
    // An index of one of the archive's tables: its columns and what its intact pages hold.
    struct Index {
        QString name;
        std::vector<int> columns; // of the table, in the index's order
        std::vector<Ordering> orderings;
        std::vector<bool> descending;
        std::vector<std::pair<qint64, quint64>> entries; // row key → fingerprint of its values
        // Every page of the tree was read and intact: the index lists every row of its table, as
        // the engine keeps them in step, and a row it lacks is not one of the table's.
        bool complete = false;
    };
    struct IndexId {
        int table = -1;
        int index = -1;
    };

    // Writes into the fresh archive at `freshPath`.
    explicit Writer(const QString& freshPath)
        : m_archive(Archive::open(freshPath, Archive::Presence::None)), m_db(m_archive->handle())
    {
        setUp();
    }

    // Writes nowhere: an empty archive in memory stands for the fresh one, for a survey alone.
    Writer() : m_scratch(scratchArchive()), m_db(m_scratch.get()) { setUp(); }

    ~Writer()
    {
        if (m_inTransaction) {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    int columns(int table) const { return m_targets[size_t(table)].columns; }
    Expect expects(int table, int column) const { return m_targets[size_t(table)].expect[size_t(column)]; }
    bool keyIsRowid(int table) const { return m_targets[size_t(table)].keyIsRowid; }

    // The rows of each table found on sound pages, once the survey is finished.
    QMap<QString, qint64> soundRows() const
    {
        QMap<QString, qint64> rows;
        for (const Target& t : m_targets) {
            rows.insert(t.name, qint64(std::count(t.known.sound.begin(), t.known.sound.end(), true)));
        }
        return rows;
    }

  private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    using Connection = std::unique_ptr<sqlite3, Closer>;

    static Connection scratchArchive()
    {
        sqlite3* db = nullptr;
        const int rc = sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        Connection connection(db);
        if (rc != SQLITE_OK) {
            throwSqlite(db, rc);
        }
        registerCollation(db);
        const QByteArray script = schema::ddl().toUtf8();
        const int made = sqlite3_exec(db, script.constData(), nullptr, nullptr, nullptr);
        if (made != SQLITE_OK) {
            throwSqlite(db, made);
        }
        return connection;
    }

    void setUp()
    {
        sqlite3* db = m_db;
        for (const QString& name : schema::tables()) {
            Target target;
            target.name = name;
            QStringList columns;
            int keys = 0;
            bool firstIsIntegerKey = false;
            Statement info(db, QStringLiteral("SELECT name, pk, upper(type), \"notnull\" FROM pragma_table_info(?1) "
                                              "ORDER BY cid"));
            info.bind(1, name);
            while (info.step()) {
                const QString type = info.value(2).toString();
                const bool key = info.int64(1) > 0;
                if (key) {
                    ++keys;
                    firstIsIntegerKey = columns.isEmpty() && type == QLatin1String("INTEGER");
                }
                // A key, and a whole number that may not be missing (a link), name a row.
                target.expect.push_back(expectFor(type, key || info.int64(3) != 0));
                target.plainNames << info.value(0).toString();
                columns << quoted(info.value(0).toString());
            }
            target.columns = int(columns.size());
            target.keyIsRowid = keys == 1 && firstIsIntegerKey;
            QStringList marks;
            for (int i = 1; i <= target.columns; ++i) {
                marks << QStringLiteral("?%1").arg(i);
            }
            target.insert = std::make_unique<Statement>(
                db, QStringLiteral("INSERT OR IGNORE INTO %1 (%2) VALUES (%3)")
                        .arg(quoted(name), columns.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
            target.columnNames = columns;
            Statement definition(db,
                                 QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND name = ?1"));
            definition.bind(1, name);
            target.automaticKeys = definition.step() && definition.value(0).toString().contains(
                                                            QLatin1String("AUTOINCREMENT"), Qt::CaseInsensitive);
            m_targets.push_back(std::move(target));
            m_outcome.rowsPerTable.insert(name, 0);
        }
        readIndexes(db);
        readReferences();
        // The links go in last, in no order of their indexes: a larger cache keeps those pages at
        // hand instead of rereading them from the file for every row.
        execute("PRAGMA cache_size = -32768");
        execute("BEGIN IMMEDIATE");
        m_inTransaction = true;
    }

  public:
    // ------------------------------------------------------------ what the pages say, first

    std::optional<IndexId> indexNamed(const QString& name) const
    {
        for (int t = 0; t < int(m_targets.size()); ++t) {
            const std::vector<Index>& indexes = m_targets[size_t(t)].indexes;
            for (int i = 0; i < int(indexes.size()); ++i) {
                if (indexes[size_t(i)].name.compare(name, Qt::CaseInsensitive) == 0) {
                    return IndexId{t, i};
                }
            }
        }
        return std::nullopt;
    }

    // Whether the entries of one index page can be trusted: each a record of the index's
    // columns and a key, texts valid, in the index's order. Garbage is almost never in order.
    bool intactIndexPage(IndexId id, const std::vector<Row>& entries) const
    {
        const Index& index = indexOf(id);
        const size_t width = index.columns.size();
        for (size_t e = 0; e < entries.size(); ++e) {
            const Row& entry = entries[e];
            if (entry.size() != width + 1 || entry.back().kind != Value::Integer) {
                return false;
            }
            for (const Value& v : entry) {
                if (v.kind == Value::Text && !validText(v.bytes.constData(), v.bytes.size())) {
                    return false;
                }
            }
            if (e > 0 && compareEntries(index, entries[e - 1], entry) >= 0) {
                return false;
            }
        }
        return true;
    }

    void addIndexEntry(IndexId id, const Row& entry)
    {
        Target& t = m_targets[size_t(id.table)];
        Index& index = t.indexes[size_t(id.index)];
        const qint64 key = entry.back().integer;
        quint64 hash = kFingerprintStart;
        for (size_t c = 0; c < index.columns.size(); ++c) {
            hash = fingerprint(refOf(entry[c]), hash);
        }
        index.entries.emplace_back(key, hash);
        // Keys seen here count for the counters of automatic keys, the key of the row and the
        // keys of the rows it links to alike.
        noteSeen(t, key);
        for (const Reference& r : t.references) {
            for (size_t c = 0; c < index.columns.size(); ++c) {
                if (index.columns[c] == r.column && entry[c].kind == Value::Integer) {
                    noteSeen(m_targets[size_t(r.target)], entry[c].integer);
                }
            }
        }
    }

    void setIndexComplete(IndexId id, bool complete)
    {
        m_targets[size_t(id.table)].indexes[size_t(id.index)].complete = complete;
    }

    // A key found on a sound page of the table: the engine's reading of it needs no voucher.
    void addSound(int table, qint64 key) { m_targets[size_t(table)].sound.push_back(key); }

    // Gathers what the pages said about each key into one entry, so that a row is looked up once.
    void finishSurvey()
    {
        for (Target& t : m_targets) {
            // An index past the 32nd is not compared (the archive's tables have four at most).
            t.indexes.resize(qMin<size_t>(t.indexes.size(), 32));
            const size_t width = t.indexes.size();
            std::vector<qint64>& known = t.known.keys;
            known = t.sound;
            for (const Index& index : t.indexes) {
                for (const auto& entry : index.entries) {
                    known.push_back(entry.first);
                }
                // A complete index lists every row of its table: it tells how many rows it held.
                if (index.complete) {
                    const auto rows = qint64(index.entries.size());
                    t.indexesAgree = t.indexesAgree && (t.heldByIndex < 0 || t.heldByIndex == rows);
                    t.heldByIndex = qMax(t.heldByIndex, rows);
                }
            }
            std::sort(known.begin(), known.end());
            known.erase(std::unique(known.begin(), known.end()), known.end());
            const auto slotOf = [&known](qint64 key) {
                return size_t(std::lower_bound(known.begin(), known.end(), key) - known.begin());
            };
            t.known.sound.assign(known.size(), false);
            t.known.listed.assign(known.size(), 0);
            t.known.fingerprints.assign(known.size() * width, 0);
            for (const qint64 key : t.sound) {
                t.known.sound[slotOf(key)] = true;
            }
            for (size_t i = 0; i < width; ++i) {
                for (const auto& [key, hash] : t.indexes[i].entries) {
                    const size_t slot = slotOf(key);
                    t.known.listed[slot] |= quint32(1) << i;
                    t.known.fingerprints[slot * width + i] = hash;
                }
                t.indexes[i].entries = {};
            }
            t.sound = {};
        }
    }

    // ------------------------------------------------------------ rows

    // A row the engine read: column 0 is the key, the table's columns follow. A row the pages
    // did not show on a sound page of the table is doubtful, and needs an index to vouch for it.
    void copyRead(int table, sqlite3_stmt* source)
    {
        Target& t = m_targets[size_t(table)];
        const qint64 key = sqlite3_column_int64(source, 0);
        const int available = sqlite3_column_count(source) - 1;
        m_values.clear();
        for (int i = 0; i < t.columns && i < available; ++i) {
            m_values.push_back(refOfColumn(source, i + 1));
        }
        if (!acceptable(t, key, m_values, std::nullopt)) {
            t.rejected.insert(key);
            return;
        }
        if (t.dropsUnlinked) {
            defer(t, key, false);
            return;
        }
        sqlite3_stmt* insert = t.insert->handle();
        for (int i = 0; i < t.columns; ++i) {
            int rc = SQLITE_OK;
            if (t.keyIsRowid && i == 0) {
                rc = sqlite3_bind_int64(insert, 1, key);
            } else if (i < available) {
                rc = sqlite3_bind_value(insert, i + 1, sqlite3_column_value(source, i + 1));
            } else {
                rc = sqlite3_bind_null(insert, i + 1);
            }
            check(rc);
        }
        store(table, key, false, false);
    }

    // A row decoded from a page; missing trailing values are NULL. `doubtful` for a row of a
    // damaged page.
    void copyDecoded(int table, const Cell& cell, bool doubtful)
    {
        Target& t = m_targets[size_t(table)];
        m_values.clear();
        for (const Value& v : cell.values) {
            m_values.push_back(refOf(v));
        }
        if (!acceptable(t, cell.key, m_values, doubtful)) {
            t.rejected.insert(cell.key);
            return;
        }
        if (t.dropsUnlinked) {
            defer(t, cell.key, true);
            return;
        }
        bindDecoded(t, *t.insert, cell.key, cell.values);
        if (!store(table, cell.key, true, !cell.lost.empty()) && !cell.lost.empty() && t.keyIsRowid) {
            forgetLostValues(t, cell);
        }
    }

    void noteCounter(const QByteArray& table, qint64 value)
    {
        if (value < 0 || value > kLargestKey) {
            return; // not a counter this program wrote
        }
        const QString name = QString::fromUtf8(table).toLower();
        if (!m_counters.contains(name) || m_counters.value(name) < value) {
            m_counters.insert(name, value);
        }
    }

    sqlite3* handle() const { return m_db; }

    // Every page of the table's own tree was read and sound: its rows are all the rows it held.
    void setTreeIntact(int table, bool intact) { m_targets[size_t(table)].treeIntact = intact; }

    Outcome commit()
    {
        storePending();
        for (const Target& t : m_targets) {
            for (const qint64 key : t.rejected) {
                m_outcome.rowsUnreadable += t.saved.contains(key) ? 0 : 1;
            }
            m_outcome.leftOut.insert(t.name, leftOut(t));
        }
        restoreCounters();
        execute("COMMIT");
        m_inTransaction = false;
        return m_outcome;
    }

  private:
    // A column whose whole number names a row of another table.
    struct Reference {
        int column = 0;
        int target = 0;
        bool required = false; // a row naming a row that is not there is left out
    };

    struct Target {
        QString name;
        int columns = 0;
        bool keyIsRowid = false;
        bool automaticKeys = false;
        std::unique_ptr<Statement> insert;
        QStringList columnNames; // quoted
        QStringList plainNames;
        std::vector<Expect> expect;
        std::vector<Index> indexes;
        std::vector<Reference> references;
        std::vector<qint64> sound; // keys on sound pages, until the survey is finished
        // What the pages said about each key seen: on a sound page, listed by which indexes, and
        // the fingerprint of the row each of them lists.
        struct {
            std::vector<qint64> keys; // sorted
            std::vector<bool> sound;
            std::vector<quint32> listed;       // bit i: index i lists the key
            std::vector<quint64> fingerprints; // key × index
        } known;
        QSet<qint64> saved;         // keys of the rows saved (for links: their key in the damaged file)
        QSet<qint64> rejected;      // keys of the rows that failed the checks
        bool dropsUnlinked = false; // a row naming a row that is not there is left out
        // Rows that name other rows wait for the end, when every row they may name is in.
        struct Pending {
            qint64 key;
            bool fromPages;
            Row values;
        };
        std::vector<Pending> pending;
        qint64 highest = 0; // the highest key of this table seen anywhere
        // How many rows the damaged table held, as its complete indexes count them (-1: none is).
        qint64 heldByIndex = -1;
        bool indexesAgree = true;
        bool treeIntact = false;
    };

    const Index& indexOf(IndexId id) const { return m_targets[size_t(id.table)].indexes[size_t(id.index)]; }

    static QString quoted(QString name)
    {
        return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
    }

    int tableNamed(const QString& name) const
    {
        for (int t = 0; t < int(m_targets.size()); ++t) {
            if (m_targets[size_t(t)].name.compare(name, Qt::CaseInsensitive) == 0) {
                return t;
            }
        }
        return -1;
    }

    // The indexes of the fresh archive, which has the same schema as the damaged one.
    void readIndexes(sqlite3* db)
    {
        Statement list(db, QStringLiteral("SELECT name, tbl_name FROM sqlite_master WHERE type = 'index'"));
        while (list.step()) {
            const int table = tableNamed(list.value(1).toString());
            if (table < 0 || isPartial(db, list.value(1).toString(), list.value(0).toString())) {
                continue;
            }
            Index index;
            index.name = list.value(0).toString();
            bool usable = true;
            Statement info(db, QStringLiteral("SELECT cid, coll, \"desc\" FROM pragma_index_xinfo(?1) WHERE key = 1 "
                                              "ORDER BY seqno"));
            info.bind(1, index.name);
            while (info.step()) {
                const qint64 column = info.int64(0);
                usable = usable && column >= 0; // an expression or the bare rowid: not compared
                index.columns.push_back(int(column));
                index.orderings.push_back(orderingNamed(info.value(1).toString()));
                index.descending.push_back(info.int64(2) != 0);
            }
            if (usable && !index.columns.empty()) {
                m_targets[size_t(table)].indexes.push_back(std::move(index));
            }
        }
    }

    // A partial index lists only some rows of its table (the open loans): it neither vouches for the
    // others nor counts them, so the checks leave it aside.
    static bool isPartial(sqlite3* db, const QString& table, const QString& index)
    {
        Statement partial(db, QStringLiteral("SELECT partial FROM pragma_index_list(?1) WHERE name = ?2"));
        partial.bind(1, table);
        partial.bind(2, index);
        return partial.step() && partial.int64(0) != 0;
    }

    // The links between the archive's tables: a link names a book and an author; a book names its
    // publisher, and keeps it when the publisher is gone, as it always has. A loan keeps its book
    // and its borrower even when either was lost: who has which book out is worth more to the
    // library than a tidy archive, and the loans window shows such a loan by its keys.
    void readReferences()
    {
        static const struct {
            const char* table;
            const char* column;
            const char* target;
            bool required;
        } references[] = {{"autbiblio", "ID_biblio", "biblio", true},
                          {"autbiblio", "ID_autore", "autore", true},
                          {"biblio", "id_edizione", "editori", false},
                          {"prestiti", "id_libro", "biblio", false},
                          {"prestiti", "ID_Lettore", "lettori", false}};
        for (const auto& r : references) {
            const int table = tableNamed(QString::fromLatin1(r.table));
            const int target = tableNamed(QString::fromLatin1(r.target));
            if (table < 0 || target < 0) {
                continue;
            }
            Target& t = m_targets[size_t(table)];
            for (int c = 0; c < t.plainNames.size(); ++c) {
                if (t.plainNames.at(c).compare(QString::fromLatin1(r.column), Qt::CaseInsensitive) == 0) {
                    t.references.push_back(Reference{c, target, r.required});
                    t.dropsUnlinked = t.dropsUnlinked || r.required;
                }
            }
        }
    }

    int compareEntries(const Index& index, const Row& a, const Row& b) const
    {
        for (size_t c = 0; c < index.columns.size(); ++c) {
            if (index.orderings[c] == Ordering::Unknown) {
                return -1; // an ordering this program cannot repeat: not checked
            }
            const int order = compareValues(a[c], b[c], index.orderings[c]);
            if (order != 0) {
                return index.descending[c] ? -order : order;
            }
        }
        return compareValues(a.back(), b.back(), Ordering::Binary);
    }

    static ValueRef refOfColumn(sqlite3_stmt* st, int column)
    {
        ValueRef r;
        switch (sqlite3_column_type(st, column)) {
        case SQLITE_INTEGER:
            r.kind = Value::Integer;
            r.integer = sqlite3_column_int64(st, column);
            break;
        case SQLITE_FLOAT:
            r.kind = Value::Real;
            r.real = sqlite3_column_double(st, column);
            break;
        case SQLITE_TEXT:
            r.kind = Value::Text;
            r.data = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
            r.size = sqlite3_column_bytes(st, column);
            break;
        case SQLITE_BLOB:
            r.kind = Value::Blob;
            r.data = static_cast<const char*>(sqlite3_column_blob(st, column));
            r.size = sqlite3_column_bytes(st, column);
            break;
        default:
            break;
        }
        return r;
    }

    static ValueRef columnOf(const Target& t, qint64 key, const std::vector<ValueRef>& values, int column)
    {
        if (t.keyIsRowid && column == 0) {
            return keyRef(key);
        }
        return size_t(column) < values.size() ? values[size_t(column)] : ValueRef{};
    }

    // A row may go in when every value is of the kind its column holds, every index that knows
    // the row's key agrees with it, no complete index lacks it, and, for a doubtful row, at least
    // one index knows it. A row of a damaged page is doubtful; a row the engine read is doubtful
    // unless the pages showed its key on a sound page (`doubtful` is then left empty).
    bool acceptable(const Target& t, qint64 key, const std::vector<ValueRef>& values,
                    std::optional<bool> doubtful) const
    {
        if (t.keyIsRowid && !fits(Expect::Key, keyRef(key))) {
            return false;
        }
        for (int c = 0; c < t.columns; ++c) {
            if (!fits(t.expect[size_t(c)], columnOf(t, key, values, c))) {
                return false;
            }
        }
        const auto found = std::lower_bound(t.known.keys.begin(), t.known.keys.end(), key);
        const bool seen = found != t.known.keys.end() && *found == key;
        const size_t slot = size_t(found - t.known.keys.begin());
        const quint32 listed = seen ? t.known.listed[slot] : 0;
        bool vouched = false;
        for (size_t i = 0; i < t.indexes.size(); ++i) {
            const Index& index = t.indexes[i];
            if (!(listed & (quint32(1) << i))) {
                if (index.complete) {
                    return false;
                }
                continue;
            }
            quint64 hash = kFingerprintStart;
            for (const int c : index.columns) {
                hash = fingerprint(columnOf(t, key, values, c), hash);
            }
            if (hash != t.known.fingerprints[slot * t.indexes.size() + i]) {
                return false;
            }
            vouched = true;
        }
        return vouched || !doubtful.value_or(!(seen && t.known.sound[slot]));
    }

    static void noteSeen(Target& t, qint64 key)
    {
        if (key >= 1 && key <= kLargestKey && key > t.highest) {
            t.highest = key;
        }
    }

    static int bind(sqlite3_stmt* st, int index, const Value& v)
    {
        switch (v.kind) {
        case Value::Integer:
            return sqlite3_bind_int64(st, index, v.integer);
        case Value::Real:
            return sqlite3_bind_double(st, index, v.real);
        case Value::Text:
            return sqlite3_bind_text(st, index, v.bytes.constData(), int(v.bytes.size()), SQLITE_TRANSIENT);
        case Value::Blob:
            return sqlite3_bind_blob(st, index, v.bytes.constData(), int(v.bytes.size()), SQLITE_TRANSIENT);
        case Value::Null:
            break;
        }
        return sqlite3_bind_null(st, index);
    }

    void check(int rc)
    {
        if (rc != SQLITE_OK) {
            throwSqlite(m_db, rc);
        }
    }

    void execute(const char* sqlText)
    {
        const int rc = sqlite3_exec(m_db, sqlText, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            throwSqlite(m_db, rc);
        }
    }

    void bindDecoded(const Target& t, Statement& st, qint64 key, const Row& values)
    {
        sqlite3_stmt* h = st.handle();
        for (int i = 0; i < t.columns; ++i) {
            if (t.keyIsRowid && i == 0) {
                check(sqlite3_bind_int64(h, 1, key));
            } else if (size_t(i) < values.size()) {
                check(bind(h, i + 1, values[size_t(i)]));
            } else {
                check(sqlite3_bind_null(h, i + 1));
            }
        }
    }

    // The engine read this row too, yet its overflow chain is broken: the engine checks neither
    // where the last page of a chain links nor whether the chain runs in circles, and may have
    // read another page's bytes as the end of a value. When the row is the same in every value
    // both passes read, the values this pass could not read become NULL.
    void forgetLostValues(const Target& t, const Cell& cell)
    {
        QStringList cleared;
        QStringList stillSet;
        QStringList same{QStringLiteral("%1 = ?1").arg(t.columnNames.first())};
        QList<int> compared;
        for (int i = 1; i < t.columns && size_t(i) < cell.values.size(); ++i) {
            if (std::find(cell.lost.begin(), cell.lost.end(), i) != cell.lost.end()) {
                cleared << QStringLiteral("%1 = NULL").arg(t.columnNames.at(i));
                stillSet << QStringLiteral("%1 IS NOT NULL").arg(t.columnNames.at(i));
            } else {
                compared << i;
                same << QStringLiteral("%1 IS ?%2").arg(t.columnNames.at(i)).arg(compared.size() + 1);
            }
        }
        if (cleared.isEmpty()) {
            return;
        }
        Statement update(m_db, QStringLiteral("UPDATE %1 SET %2 WHERE %3 AND (%4)")
                                   .arg(quoted(t.name), cleared.join(QLatin1Char(',')),
                                        same.join(QLatin1String(" AND ")), stillSet.join(QLatin1String(" OR "))));
        check(sqlite3_bind_int64(update.handle(), 1, cell.key));
        for (int n = 0; n < compared.size(); ++n) {
            check(bind(update.handle(), n + 2, cell.values[size_t(compared.at(n))]));
        }
        update.step();
        m_outcome.rowsIncomplete += sqlite3_changes(m_db) > 0 ? 1 : 0;
    }

    // Runs the table's insert; true when the row was new.
    bool store(int table, qint64 key, bool fromPages, bool incomplete)
    {
        Target& t = m_targets[size_t(table)];
        t.insert->step();
        const bool saved = sqlite3_changes(m_db) > 0;
        t.insert->reset();
        if (saved) {
            ++m_outcome.rowsSaved;
            ++m_outcome.rowsPerTable[t.name];
            m_outcome.rowsFromPages += fromPages ? 1 : 0;
            m_outcome.rowsIncomplete += incomplete ? 1 : 0;
            t.saved.insert(key);
        }
        if (t.keyIsRowid) {
            noteSeen(t, key);
        }
        for (const Reference& r : t.references) {
            const ValueRef v = columnOf(t, key, m_values, r.column);
            if (v.kind == Value::Integer) {
                noteSeen(m_targets[size_t(r.target)], v.integer);
            }
        }
        return saved;
    }

    // A row that names other rows: kept aside, with the rows it names noted as seen.
    void defer(Target& t, qint64 key, bool fromPages)
    {
        Row values;
        values.reserve(m_values.size());
        for (const ValueRef& v : m_values) {
            Value owned;
            owned.kind = v.kind;
            owned.integer = v.integer;
            owned.real = v.real;
            if (v.kind == Value::Text || v.kind == Value::Blob) {
                owned.bytes = QByteArray(v.data, v.size);
            }
            values.push_back(std::move(owned));
        }
        for (const Reference& r : t.references) {
            const ValueRef v = columnOf(t, key, m_values, r.column);
            if (v.kind == Value::Integer) {
                noteSeen(m_targets[size_t(r.target)], v.integer);
            }
        }
        t.pending.push_back(Target::Pending{key, fromPages, std::move(values)});
    }

    // A link to a book or an author that did not make it into the fresh archive would point at
    // nothing, or at whatever later takes that key: it is left out and counted. The others go in.
    void storePending()
    {
        for (size_t table = 0; table < m_targets.size(); ++table) {
            Target& t = m_targets[table];
            QSet<qint64> dropped; // the same row read by the engine and from its page counts once
            for (const Target::Pending& row : t.pending) {
                m_values.clear();
                for (const Value& v : row.values) {
                    m_values.push_back(refOf(v));
                }
                const bool linked = std::all_of(t.references.begin(), t.references.end(), [&](const Reference& r) {
                    const ValueRef v = columnOf(t, row.key, m_values, r.column);
                    return !r.required ||
                           (v.kind == Value::Integer && m_targets[size_t(r.target)].saved.contains(v.integer));
                });
                if (!linked) {
                    dropped.insert(row.key);
                    continue;
                }
                bindDecoded(t, *t.insert, row.key, row.values);
                store(int(table), row.key, row.fromPages, false);
            }
            m_outcome.linksDropped += dropped.size();
            t.pending = {};
        }
    }

    // The rows of the damaged table that did not make it, as far as the file tells: exactly when a
    // complete index counts its rows or its own tree was read whole; otherwise at least the rows
    // whose keys a sound page or an intact index page shows.
    static Loss leftOut(const Target& t)
    {
        const auto shown = qint64(std::count_if(t.known.keys.begin(), t.known.keys.end(),
                                                [&t](qint64 key) { return !t.saved.contains(key); }));
        Loss loss;
        loss.rows = shown;
        if (t.heldByIndex >= 0 && t.indexesAgree) {
            loss.rows = qMax(shown, t.heldByIndex - qint64(t.saved.size()));
            loss.exact = true;
        } else {
            loss.exact = t.treeIntact;
        }
        return loss;
    }

    // The counters of automatic keys go on from where the damaged archive had them, so the key of
    // a deleted author is never given to a new one (its old links may still be there). A counter
    // that cannot be read goes on from the highest key seen anywhere, with a margin.
    void restoreCounters()
    {
        sqlite3* db = m_db;
        for (const Target& t : m_targets) {
            if (!t.keyIsRowid || !t.automaticKeys) {
                continue;
            }
            const QString key = t.name.toLower();
            const qint64 counter = m_counters.contains(key) ? qMax(m_counters.value(key), t.highest)
                                                            : qMin(t.highest + kCounterMargin, kLargestKey);
            Statement raise(db, QStringLiteral("UPDATE sqlite_sequence SET seq = ?2 WHERE name = ?1 AND seq < ?2"));
            raise.bind(1, t.name);
            raise.bindInt(2, counter);
            raise.step();
            Statement add(db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) SELECT ?1, ?2 WHERE NOT EXISTS "
                                             "(SELECT 1 FROM sqlite_sequence WHERE name = ?1)"));
            add.bind(1, t.name);
            add.bindInt(2, counter);
            add.step();
        }
    }

    std::shared_ptr<Archive> m_archive; // the fresh archive written
    Connection m_scratch;               // or the archive in memory of a survey
    sqlite3* m_db;                      // one of the two
    std::vector<Target> m_targets;
    std::vector<ValueRef> m_values; // the row being checked
    QMap<QString, qint64> m_counters;
    bool m_inTransaction = false;
    Outcome m_outcome;
};

// ---------------------------------------------------------------- first pass: the engine

struct StatementDeleter {
    void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StatementPtr = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

// Reads the damaged file through the engine, read-only and as immutable: no lock, no journal,
// nothing written or created beside it.
class EngineReader {
  public:
    EngineReader(const QString& path, qint64 fileSize) : m_stepBudget(fileSize / 2 + 1000)
    {
        // An empty authority and the whole path percent-encoded, so that names with '?', '#' or
        // '%' and network paths (//server/share/...) reach the engine unchanged.
        const QString absolute = QFileInfo(path).absoluteFilePath();
        const QByteArray uri = QByteArray("file://") + (absolute.startsWith(QLatin1Char('/')) ? "" : "/") +
                               QUrl::toPercentEncoding(absolute, "/:") + "?immutable=1";
        // Used by this thread alone: the connection need not lock itself on every call.
        if (sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close(m_db);
            m_db = nullptr;
            return;
        }
        registerCollation(m_db);
        // Lets the engine notice more damaged cells itself instead of reading garbage.
        sqlite3_exec(m_db, "PRAGMA cell_size_check=ON", nullptr, nullptr, nullptr);
    }

    ~EngineReader() { sqlite3_close_v2(m_db); }
    sqlite3* handle() const { return m_db; }
    EngineReader(const EngineReader&) = delete;
    EngineReader& operator=(const EngineReader&) = delete;

    // Copies every readable row of `table`; false when the engine cannot find the table at all.
    bool copyTable(int table, Writer& writer)
    {
        const QString name = schema::tables().at(table);
        StatementPtr st =
            prepare(QStringLiteral("SELECT rowid, * FROM \"%1\" WHERE rowid >= ?1 ORDER BY rowid").arg(name).toUtf8());
        if (!st) {
            return false;
        }
        qint64 from = kMinKey;
        for (;;) {
            sqlite3_reset(st.get());
            sqlite3_bind_int64(st.get(), 1, from);
            int rc = SQLITE_ROW;
            while ((rc = sqlite3_step(st.get())) == SQLITE_ROW) {
                if (--m_stepBudget < 0) {
                    return true; // a tree that runs in circles: the page pass reads it
                }
                const qint64 key = sqlite3_column_int64(st.get(), 0);
                if (key < from) {
                    continue; // out of order in a damaged tree: left to the page pass
                }
                writer.copyRead(table, st.get());
                if (key == kMaxKey) {
                    return true;
                }
                from = key + 1;
            }
            sqlite3_reset(st.get());
            if (rc == SQLITE_DONE) {
                return true;
            }
            const std::optional<qint64> next = nextReadable(st.get(), from);
            if (!next) {
                return true;
            }
            from = *next;
        }
    }

    void copyCounters(Writer& writer)
    {
        StatementPtr st = prepare("SELECT name, seq FROM sqlite_sequence");
        while (st && sqlite3_step(st.get()) == SQLITE_ROW) {
            if (sqlite3_column_type(st.get(), 0) == SQLITE_TEXT && sqlite3_column_type(st.get(), 1) == SQLITE_INTEGER) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
                writer.noteCounter(QByteArray(text, sqlite3_column_bytes(st.get(), 0)),
                                   sqlite3_column_int64(st.get(), 1));
            }
        }
    }

  private:
    StatementPtr prepare(const QByteArray& sqlText)
    {
        sqlite3_stmt* st = nullptr;
        if (!m_db || sqlite3_prepare_v2(m_db, sqlText.constData(), int(sqlText.size()), &st, nullptr) != SQLITE_OK) {
            sqlite3_finalize(st);
            return nullptr;
        }
        return StatementPtr(st);
    }

    // True when reading from `key` on gets at least one row, or to the end, without an error.
    bool readsFrom(sqlite3_stmt* st, qint64 key)
    {
        --m_stepBudget;
        sqlite3_reset(st);
        sqlite3_bind_int64(st, 1, key);
        const int rc = sqlite3_step(st);
        sqlite3_reset(st);
        return rc == SQLITE_ROW || rc == SQLITE_DONE;
    }

    // After a failure reading from `from`: the first key from which the table reads again. The
    // distance doubles until a read succeeds (past a damaged page or a whole damaged subtree),
    // then halves back, so only the keys that really sit on damaged pages are passed over.
    std::optional<qint64> nextReadable(sqlite3_stmt* st, qint64 from)
    {
        qint64 failing = from;
        std::optional<qint64> readable;
        for (quint64 step = 1; step != 0 && failing != kMaxKey && m_stepBudget > 0; step <<= 1) {
            const qint64 probe = addClamped(from, step);
            if (readsFrom(st, probe)) {
                readable = probe;
                break;
            }
            failing = probe;
        }
        if (!readable) {
            return std::nullopt;
        }
        while (quint64(*readable) - quint64(failing) > 1 && m_stepBudget > 0) {
            const qint64 middle = addClamped(failing, (quint64(*readable) - quint64(failing)) / 2);
            if (readsFrom(st, middle)) {
                readable = middle;
            } else {
                failing = middle;
            }
        }
        return readable;
    }

    sqlite3* m_db = nullptr;
    qint64 m_stepBudget;
};

// ---------------------------------------------------------------- second pass: the pages

class PageFile {
  public:
    explicit PageFile(const QString& path) : m_file(path) {}

    bool open()
    {
        if (!m_file.open(QIODevice::ReadOnly)) {
            return false;
        }
        readHeader();
        return true;
    }

    qint64 fileSize() const { return m_file.size(); }

    // The whole page `number` (from 1), or an empty array when the file does not hold it.
    QByteArray page(quint32 number)
    {
        if (number < 1 || number > pageCount || !m_file.seek(qint64(number - 1) * pageSize)) {
            return {};
        }
        QByteArray data = m_file.read(pageSize);
        return data.size() == pageSize ? data : QByteArray();
    }

    bool headerValid = false;
    int pageSize = kDefaultPageSize;
    int usable = kDefaultPageSize;
    int encoding = Utf8;
    quint32 pageCount = 0;
    quint32 freelistTrunk = 0;
    quint32 freelistCount = 0;
    quint32 userVersion = 0; // the schema version the header names

  private:
    void readHeader()
    {
        const QByteArray head = m_file.read(100);
        if (head.size() == 100 && head.startsWith(QByteArray("SQLite format 3", 16))) {
            const uchar* h = bytesOf(head);
            const quint32 size = be16(h + 16) == 1 ? 65536 : be16(h + 16);
            const int reserved = h[20];
            if (size >= 512 && size <= 65536 && (size & (size - 1)) == 0 && int(size) - reserved >= 480) {
                headerValid = true;
                pageSize = int(size);
                usable = pageSize - reserved;
                const quint32 textEncoding = be32(h + 56);
                encoding = textEncoding == Utf16le || textEncoding == Utf16be ? int(textEncoding) : Utf8;
                freelistTrunk = be32(h + 32);
                freelistCount = be32(h + 36);
                userVersion = be32(h + 60);
            }
        }
        const qint64 pages = m_file.size() / pageSize;
        pageCount = quint32(qMin<qint64>(pages, std::numeric_limits<quint32>::max()));
        if (headerValid) {
            const uchar* h = bytesOf(head);
            // The page count in the header holds only while the change counter says it does.
            const quint32 declared = be32(h + 28);
            if (declared > 0 && be32(h + 92) == be32(h + 24)) {
                pageCount = qMin(pageCount, declared);
            }
        }
    }

    QFile m_file;
};

// A b-tree page with its header checked: type, cell count, cell pointers within the page.
struct BtreePage {
    QByteArray data;
    quint8 type = 0;
    int cellCount = 0;
    qsizetype header = 0;   // 100 on page 1, after the file header
    qsizetype pointers = 0; // start of the cell pointer array
    int usable = 0;
    bool valid = false;

    BtreePage(QByteArray bytes, quint32 number, int usableSize) : data(std::move(bytes)), usable(usableSize)
    {
        header = number == 1 ? 100 : 0;
        if (data.size() < usable || header + 12 > usable) {
            return;
        }
        const uchar* d = bytesOf(data);
        type = d[header];
        const bool interior = type == kTableInterior || type == kIndexInterior;
        if (!interior && type != kTableLeaf && type != kIndexLeaf) {
            return;
        }
        cellCount = int(be16(d + header + 3));
        pointers = header + (interior ? 12 : 8);
        valid = pointers + 2 * qsizetype(cellCount) <= usable;
    }

    // Offset of cell `i`, or -1 when its pointer leads outside the cell area.
    qsizetype cell(int i) const
    {
        const qsizetype offset = be16(bytesOf(data) + pointers + 2 * i);
        return offset >= pointers + 2 * qsizetype(cellCount) && offset < usable ? offset : -1;
    }

    quint32 rightChild() const { return be32(bytesOf(data) + header + 8); }
};

// Decodes the table leaf pages of the file directly: those reached from a table's root first,
// then the orphans (their parent destroyed), which are told apart by the shape of their records.
class PageReader {
  public:
    PageReader(PageFile& file, Writer& writer)
        : m_file(file), m_writer(writer), m_owner(size_t(file.pageCount) + 1, kNoOwner),
          m_free(size_t(file.pageCount) + 1, false)
    {
    }

    // Before the engine reads anything: where each table's pages are, what the intact pages of
    // the indexes hold, and which keys sit on sound pages, so that every row can be checked as
    // it is copied.
    void survey()
    {
        if (m_file.headerValid) {
            walkSchema();
            for (const auto& [root, name] : m_indexRoots) {
                if (const std::optional<Writer::IndexId> id = m_writer.indexNamed(name)) {
                    walkIndex(root, *id);
                }
            }
            markFreelist();
        }
        forEachLeaf([this](const BtreePage& page, qint8 owner) { surveyLeaf(page, owner); });
        for (int t = 0; t < kArchiveTables; ++t) {
            m_writer.setTreeIntact(t, m_treeWalked[size_t(t)] && !m_treeDamaged[size_t(t)]);
        }
        m_writer.finishSurvey();
    }

    // Copies the rows of every table leaf. True when anything of an archive was found.
    bool copy()
    {
        forEachLeaf([this](const BtreePage& page, qint8 owner) {
            const Leaf leaf = readLeaf(page, owner, true);
            for (size_t i = 0; i < leaf.accepted.size(); ++i) {
                if (!leaf.accepted[i]) {
                    continue;
                }
                const Cell& cell = leaf.cells[i];
                if (leaf.table == kSequence) {
                    m_writer.noteCounter(cell.values[0].bytes, cell.values[1].integer);
                } else {
                    m_found = true;
                    m_writer.copyDecoded(leaf.table, cell, leaf.damaged);
                }
            }
        });
        return m_found;
    }

  private:
    // A table leaf: its cells, the table they belong to (kNoOwner for none of the archive's) and
    // which of them fit it. A page whose cells cannot all be read, or whose keys are out of
    // order, is damaged: garbage may have taken the place of its records.
    struct Leaf {
        qint8 table = kNoOwner;
        std::vector<Cell> cells;
        std::vector<bool> accepted;
        bool damaged = false;
    };

    // Every table leaf outside the schema, the other tables, the indexes and the freelist: those
    // of a table's own tree first, then the orphans.
    template <typename F> void forEachLeaf(F&& take)
    {
        std::vector<quint32> orphans;
        for (quint32 number = 1; number <= m_file.pageCount; ++number) {
            const qint8 owner = m_owner[number];
            if (owner == kSchemaTable || owner == kOtherTable || owner == kIndexTree || m_free[number]) {
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (!page.valid || page.type != kTableLeaf) {
                continue;
            }
            if (owner == kNoOwner) {
                orphans.push_back(number);
            } else {
                take(page, owner);
            }
        }
        for (const quint32 number : orphans) {
            take(BtreePage(m_file.page(number), number, m_file.usable), kNoOwner);
        }
    }

    Leaf readLeaf(const BtreePage& page, qint8 owner, bool withOverflow)
    {
        Leaf leaf;
        for (int i = 0; i < page.cellCount; ++i) {
            const qsizetype offset = page.cell(i);
            Cell cell;
            if (offset < 0 || !decodeCell(page, offset, cell, withOverflow)) {
                leaf.damaged = true;
                continue;
            }
            if (!leaf.cells.empty() && cell.key <= leaf.cells.back().key) {
                leaf.damaged = true;
            }
            leaf.cells.push_back(std::move(cell));
        }
        m_shapes.clear();
        for (const Cell& cell : leaf.cells) {
            m_shapes.push_back(shapeOfRow(cell.values));
        }
        leaf.table = classify(m_shapes, owner, leaf.accepted);
        return leaf;
    }

    // The same reading as readLeaf, from the records' headers alone: which keys of which table sit
    // on a sound page.
    void surveyLeaf(const BtreePage& page, qint8 owner)
    {
        m_shapes.clear();
        m_keys.clear();
        for (int i = 0; i < page.cellCount; ++i) {
            const qsizetype offset = page.cell(i);
            qint64 key = 0;
            Shape shape;
            if (offset < 0 || !surveyCell(page, offset, key, shape) || (!m_keys.empty() && key <= m_keys.back())) {
                treeDamaged(owner); // a damaged page: none of its keys is sound
                return;
            }
            m_keys.push_back(key);
            m_shapes.push_back(shape);
        }
        std::vector<bool> accepted;
        const qint8 table = classify(m_shapes, owner, accepted);
        if (table != owner && !m_shapes.empty()) {
            // An orphan (its parent lost), or a page another tree pointed at by mistake.
            treeDamaged(owner);
            treeDamaged(table);
        }
        if (table < 0 || table >= kArchiveTables) {
            return;
        }
        for (size_t i = 0; i < m_keys.size(); ++i) {
            if (accepted[i]) {
                m_writer.addSound(table, m_keys[i]);
            } else {
                treeDamaged(table);
            }
        }
    }

    void treeDamaged(qint8 owner)
    {
        if (owner >= 0 && owner < kArchiveTables) {
            m_treeDamaged[size_t(owner)] = true;
        }
    }

    // The table the records of a leaf belong to (kNoOwner for none of the archive's), by their
    // shapes and the tree the page belongs to, and which of them fit it.
    qint8 classify(const std::vector<Shape>& shapes, qint8 owner, std::vector<bool>& accepted) const
    {
        accepted.clear();
        if (shapes.empty()) {
            return kNoOwner;
        }
        std::array<int, kOwnerCount> votes{};
        for (const Shape& shape : shapes) {
            const qint8 kind = shapeOf(shape);
            if (kind != kNoOwner) {
                ++votes[size_t(kind)];
            }
        }
        const auto best = qint8(std::max_element(votes.begin(), votes.end()) - votes.begin());
        const bool clearShape = votes[size_t(best)] > 0 && 2 * votes[size_t(best)] >= int(shapes.size());
        qint8 table = owner;
        if (owner == kNoOwner) {
            if (!clearShape) {
                return kNoOwner; // not a page of this archive's tables
            }
            table = best;
        } else if (clearShape && votes[size_t(best)] > votes[size_t(owner)]) {
            table = best; // a damaged interior page pointed at another table's page
        }
        if (table != kSequence && table >= kArchiveTables) {
            return kNoOwner;
        }
        accepted.reserve(shapes.size());
        for (const Shape& shape : shapes) {
            // A page found by shape proves its records one by one; a page of the table's own tree
            // may hold records written before the table had all its columns.
            accepted.push_back(table != owner ? shapeOf(shape) == table : fits(table, shape));
        }
        return table;
    }

    // Reads the pages of one index from its root. The entries of each intact page go to the
    // writer; a damaged page is passed over, and its children are still read.
    void walkIndex(quint32 root, Writer::IndexId id)
    {
        std::vector<quint32> pending{root};
        bool complete = true;
        while (!pending.empty()) {
            const quint32 number = pending.back();
            pending.pop_back();
            if (number < 1 || number > m_file.pageCount || m_owner[number] != kNoOwner) {
                complete = false;
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (!page.valid || (page.type != kIndexLeaf && page.type != kIndexInterior)) {
                complete = false;
                continue;
            }
            m_owner[number] = kIndexTree;
            const bool interior = page.type == kIndexInterior;
            std::vector<Row> entries;
            bool intact = true;
            for (int i = 0; i < page.cellCount; ++i) {
                qsizetype offset = page.cell(i);
                if (offset >= 0 && interior) {
                    if (offset + 4 > page.usable) {
                        offset = -1;
                    } else {
                        pending.push_back(be32(bytesOf(page.data) + offset));
                        offset += 4;
                    }
                }
                Cell cell;
                if (offset < 0 || !decodeIndexCell(page, offset, cell)) {
                    intact = false;
                    continue;
                }
                entries.push_back(std::move(cell.values));
            }
            if (interior) {
                pending.push_back(page.rightChild());
            }
            if (intact && m_writer.intactIndexPage(id, entries)) {
                for (const Row& entry : entries) {
                    m_writer.addIndexEntry(id, entry);
                }
            } else {
                complete = false;
            }
        }
        m_writer.setIndexComplete(id, complete);
    }

    // Freed pages may hold rows deleted long ago: never read them back. A page of a tree is never
    // free, so a freelist that claims one is itself damaged and is not followed further.
    void markFreelist()
    {
        quint32 trunk = m_file.freelistTrunk;
        quint64 remaining = m_file.freelistCount;
        const quint32 perTrunk = quint32(m_file.usable / 4 - 2);
        while (trunk >= 2 && trunk <= m_file.pageCount && m_owner[trunk] == kNoOwner && !m_free[trunk] &&
               remaining > 0) {
            m_free[trunk] = true;
            --remaining;
            const QByteArray data = m_file.page(trunk);
            if (data.isEmpty()) {
                return;
            }
            const uchar* d = bytesOf(data);
            const quint32 leaves = qMin(be32(d + 4), perTrunk);
            for (quint32 i = 0; i < leaves && remaining > 0; ++i, --remaining) {
                const quint32 leaf = be32(d + 8 + 4 * i);
                if (leaf >= 2 && leaf <= m_file.pageCount && m_owner[leaf] == kNoOwner) {
                    m_free[leaf] = true;
                }
            }
            trunk = be32(d);
        }
    }

    // Marks every page of the tree rooted at `root` as `owner`'s. Each page is taken once, so a
    // damaged tree that points in circles still ends.
    void walk(quint32 root, qint8 owner)
    {
        if (owner >= 0 && owner < kArchiveTables) {
            m_treeWalked[size_t(owner)] = true;
        }
        std::vector<quint32> pending{root};
        while (!pending.empty()) {
            const quint32 number = pending.back();
            pending.pop_back();
            if (number < 1 || number > m_file.pageCount || m_owner[number] != kNoOwner) {
                treeDamaged(owner); // a page past the end, or one taken twice
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (!page.valid || (page.type != kTableLeaf && page.type != kTableInterior)) {
                treeDamaged(owner);
                continue;
            }
            m_owner[number] = owner;
            if (page.type == kTableInterior) {
                for (int i = 0; i < page.cellCount; ++i) {
                    const qsizetype offset = page.cell(i);
                    if (offset >= 0 && offset + 4 <= page.usable) {
                        pending.push_back(be32(bytesOf(page.data) + offset));
                    }
                }
                pending.push_back(page.rightChild());
            }
        }
    }

    // Reads the table roots from the schema, whose tree starts on page 1, and walks every table.
    void walkSchema()
    {
        walk(1, kSchemaTable);
        QList<QPair<quint32, qint8>> roots;
        for (quint32 number = 1; number <= m_file.pageCount; ++number) {
            if (m_owner[number] != kSchemaTable) {
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (page.type != kTableLeaf) {
                continue;
            }
            for (const Cell& cell : decodeLeaf(page)) {
                const Row& row = cell.values;
                if (row.size() < 5 || !isText(row, 0) || !isText(row, 1) || !isInteger(row, 3) || row[3].integer < 2 ||
                    row[3].integer > qint64(m_file.pageCount)) {
                    continue;
                }
                if (row[0].bytes == "index") {
                    m_indexRoots.append({quint32(row[3].integer), QString::fromUtf8(row[1].bytes)});
                }
                if (row[0].bytes != "table") {
                    continue;
                }
                const qint8 owner = ownerNamed(QString::fromUtf8(row[1].bytes));
                m_found = m_found || owner < kArchiveTables;
                roots.append({quint32(row[3].integer), owner});
            }
        }
        // The archive's own tables first: a damaged page of another tree cannot claim theirs.
        std::stable_sort(roots.begin(), roots.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
        for (const auto& [root, owner] : roots) {
            walk(root, owner);
        }
    }

    static qint8 ownerNamed(const QString& name)
    {
        const QStringList& tables = schema::tables();
        for (int i = 0; i < tables.size(); ++i) {
            if (name.compare(tables.at(i), Qt::CaseInsensitive) == 0) {
                return qint8(i);
            }
        }
        return name.compare(QLatin1String("sqlite_sequence"), Qt::CaseInsensitive) == 0 ? kSequence : kOtherTable;
    }

    std::vector<Cell> decodeLeaf(const BtreePage& page)
    {
        std::vector<Cell> cells;
        if (!page.valid || page.type != kTableLeaf) {
            return cells;
        }
        for (int i = 0; i < page.cellCount; ++i) {
            const qsizetype offset = page.cell(i);
            Cell cell;
            if (offset >= 0 && decodeCell(page, offset, cell)) {
                cells.push_back(std::move(cell));
            }
        }
        return cells;
    }

    // A table leaf cell: payload size, key, the payload's local part and its overflow chain
    // (unless `withOverflow` is false: the values past the local part are then lost).
    bool decodeCell(const BtreePage& page, qsizetype pos, Cell& cell, bool withOverflow = true)
    {
        const uchar* d = bytesOf(page.data);
        quint64 payloadSize = 0;
        quint64 key = 0;
        if (!readVarint(d, pos, page.usable, payloadSize) || !readVarint(d, pos, page.usable, key)) {
            return false;
        }
        cell.key = qint64(key);
        return decodePayload(page, pos, payloadSize, page.usable - 35, withOverflow, cell);
    }

    // A table leaf cell read for its key and the shape of its record only, without a copy.
    bool surveyCell(const BtreePage& page, qsizetype pos, qint64& key, Shape& shape)
    {
        const uchar* d = bytesOf(page.data);
        const qsizetype usable = page.usable;
        quint64 payloadSize = 0;
        quint64 rowKey = 0;
        if (!readVarint(d, pos, usable, payloadSize) || !readVarint(d, pos, usable, rowKey) || payloadSize == 0 ||
            payloadSize > kMaxPayload) {
            return false;
        }
        const qint64 local = localPart(qint64(payloadSize), usable, usable - 35);
        if (pos + local > usable || (local < qint64(payloadSize) && pos + local + 4 > usable)) {
            return false;
        }
        key = qint64(rowKey);
        return recordShape(d + pos, local, payloadSize, shape);
    }

    // The record's header checked as decodeRecord checks it; values past `available` count as lost
    // (NULL), as they do there.
    bool recordShape(const uchar* d, qsizetype available, quint64 fullSize, Shape& shape)
    {
        quint64 recordSize = 0;
        const bool header = walkRecordHeader(
            d, available,
            [&](quint64 type, qint64 size, quint64 offset) {
                const bool lost = size > 0 && offset + quint64(size) > quint64(available);
                const Value::Kind kind = lost ? Value::Null : kindOf(type);
                if (shape.count == 0 && kind == Value::Text) {
                    if (m_file.encoding == Utf8) {
                        shape.firstText = QByteArrayView(d + offset, qsizetype(size));
                    } else {
                        m_firstText = decodeValue(type, d + offset, size, m_file.encoding).bytes;
                        shape.firstText = m_firstText;
                    }
                }
                if (shape.count == 0) {
                    shape.first = kind;
                } else if (shape.count == 1) {
                    shape.second = kind;
                }
                shape.allIntegers = shape.allIntegers && kind == Value::Integer;
                ++shape.count;
                return true;
            },
            recordSize);
        return header && recordSize == fullSize;
    }

    // An index cell (after the child page number of an interior page): payload size, payload.
    bool decodeIndexCell(const BtreePage& page, qsizetype pos, Cell& cell)
    {
        quint64 payloadSize = 0;
        if (!readVarint(bytesOf(page.data), pos, page.usable, payloadSize)) {
            return false;
        }
        const qint64 maxLocal = (qint64(page.usable) - 12) * 64 / 255 - 23;
        return decodePayload(page, pos, payloadSize, maxLocal, true, cell) && cell.lost.empty();
    }

    bool decodePayload(const BtreePage& page, qsizetype pos, quint64 payloadSize, qint64 maxLocal, bool withOverflow,
                       Cell& cell)
    {
        const uchar* d = bytesOf(page.data);
        const qsizetype usable = page.usable;
        if (payloadSize == 0 || payloadSize > kMaxPayload) {
            return false;
        }
        const qint64 total = qint64(payloadSize);
        const qint64 local = localPart(total, usable, maxLocal);
        if (pos + local > usable || (local < total && pos + local + 4 > usable)) {
            return false;
        }
        QByteArray payload(reinterpret_cast<const char*>(d + pos), local);
        if (local < total && withOverflow) {
            readOverflow(be32(d + pos + local), total - local, payload);
        }
        return decodeRecord(payload, payloadSize, m_file.encoding, cell);
    }

    // Appends the overflow chain starting at `next`, up to where it breaks if it does: the record
    // then tells which values were cut off.
    void readOverflow(quint32 next, qint64 remaining, QByteArray& payload)
    {
        const qint64 perPage = m_file.usable - 4;
        QSet<quint32> seen;
        // A chain never runs through a free page, a page of a tree or a page it already passed.
        auto linkable = [&](quint32 number) {
            return number >= 2 && number <= m_file.pageCount && !m_free[number] && m_owner[number] == kNoOwner &&
                   !seen.contains(number);
        };
        if (!linkable(next)) {
            return;
        }
        while (remaining > 0) {
            seen.insert(next);
            const QByteArray data = m_file.page(next);
            if (data.isEmpty()) {
                return;
            }
            const quint32 following = be32(bytesOf(data));
            const qint64 take = qMin(remaining, perPage);
            // A page whose link is wrong is not part of this chain: its bytes are not taken either.
            // The last page links nowhere.
            if (take == remaining ? following != 0 : !linkable(following)) {
                return;
            }
            payload.append(data.constData() + 4, take);
            remaining -= take;
            next = following;
        }
    }

    // The table a record belongs to, by its shape alone: the number of values, the key stored as
    // NULL in the tables whose key is the row's key, two whole numbers for a link.
    qint8 shapeOf(const Shape& shape) const
    {
        for (int t = 0; t < kArchiveTables; ++t) {
            if (shape.count != m_writer.columns(t)) {
                continue;
            }
            if (!(m_writer.keyIsRowid(t) ? shape.first == Value::Null : shape.allIntegers)) {
                continue;
            }
            // Tables of as many columns (borrowers and loans) are told apart by their second
            // column: a loan's is the book's key, a borrower's a name, never a whole number.
            if (m_writer.columns(t) > 1 &&
                (m_writer.expects(t, 1) == Expect::Key) != (shape.second == Value::Integer)) {
                continue;
            }
            return qint8(t);
        }
        if (shape.count == 2 && shape.first == Value::Text && shape.second == Value::Integer) {
            return kSequence;
        }
        if (shape.count == 5 && shape.first == Value::Text &&
            (shape.firstText == "table" || shape.firstText == "index" || shape.firstText == "trigger" ||
             shape.firstText == "view")) {
            return kSchemaTable;
        }
        return kNoOwner;
    }

    // Whether a record read from a page of `table`'s own tree fits that table.
    bool fits(qint8 table, const Shape& shape) const
    {
        if (table == kSequence) {
            return shapeOf(shape) == kSequence;
        }
        if (shape.count == 0 || shape.count > m_writer.columns(table)) {
            return false;
        }
        return !m_writer.keyIsRowid(table) || shape.first == Value::Null || shape.first == Value::Integer;
    }

    PageFile& m_file;
    Writer& m_writer;
    std::vector<qint8> m_owner;
    std::vector<bool> m_free;
    QList<QPair<quint32, QString>> m_indexRoots; // root page and name of each index in the schema
    // Which of the archive's tables had their tree walked from the schema, and found damaged.
    std::array<bool, kArchiveTables> m_treeWalked{};
    std::array<bool, kArchiveTables> m_treeDamaged{};
    bool m_found = false;
    std::vector<Shape> m_shapes; // of the leaf being read
    std::vector<qint64> m_keys;
    QByteArray m_firstText; // a schema row's type, converted from a UTF-16 file
};

} // namespace

namespace {

// Engine steps between two progress reports.
constexpr int kStepsPerReport = 200000;

int reportProgress(void* progress)
{
    (*static_cast<const std::function<void()>*>(progress))();
    return 0; // never interrupts the work
}

void watch(sqlite3* db, const std::function<void()>& progress)
{
    if (db && progress) {
        sqlite3_progress_handler(db, kStepsPerReport, reportProgress,
                                 const_cast<void*>(static_cast<const void*>(&progress)));
    }
}

} // namespace

Outcome salvage(const QString& damagedPath, const QString& freshPath, const std::function<void()>& progress)
{
    const QFileInfo damaged(damagedPath);
    if (damagedPath.isEmpty() || !damaged.isFile()) {
        throw DbError(3024, QStringLiteral("Impossibile trovare il file '%1'.").arg(damagedPath));
    }
    if (damaged.canonicalFilePath() == QFileInfo(freshPath).canonicalFilePath()) {
        throw DbError(ErrInvalidProcedure); // the damaged file is never written to
    }
    PageFile file(damagedPath);
    if (!file.open()) {
        throw DbError(ErrDiskOrNetwork);
    }
    Writer writer(freshPath);
    watch(writer.handle(), progress);
    PageReader pages(file, writer);
    pages.survey();

    bool found = false;
    {
        EngineReader engine(damagedPath, file.fileSize());
        watch(engine.handle(), progress);
        for (int table = 0; table < kArchiveTables; ++table) {
            found = engine.copyTable(table, writer) || found;
        }
        engine.copyCounters(writer);
    }
    found = pages.copy() || found;
    if (!found) {
        throw DbError(ErrFileNotArchive);
    }
    return writer.commit();
}

qint64 Survey::rows() const
{
    qint64 total = 0;
    for (const qint64 n : soundRows) {
        total += n;
    }
    return total;
}

Survey survey(const QString& damagedPath)
{
    PageFile file(damagedPath);
    if (!QFileInfo(damagedPath).isFile() || !file.open()) {
        throw DbError(ErrDiskOrNetwork);
    }
    Writer writer;
    PageReader pages(file, writer);
    pages.survey();
    Survey found;
    found.soundRows = writer.soundRows();
    found.schemaVersion = file.headerValid ? int(qMin<quint32>(file.userVersion, 0x7fffffff)) : 0;
    return found;
}

} // namespace store::salvage
