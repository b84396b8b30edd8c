#include "store/Salvage.h"

#include "store/Archive.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "store/Schema.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace store::salvage {
namespace {

constexpr qint64 kMinKey = std::numeric_limits<qint64>::min();
constexpr qint64 kMaxKey = std::numeric_limits<qint64>::max();

// What Archive::create writes; used when the file's own header is unreadable.
constexpr int kDefaultPageSize = 4096;
// The engine's own limits on one value and on the columns of a table: anything larger is garbage.
constexpr quint64 kMaxPayload = 1000000000;
constexpr int kMaxColumns = 2000;

constexpr quint8 kTableLeaf = 0x0D;
constexpr quint8 kTableInterior = 0x05;
constexpr quint8 kIndexLeaf = 0x0A;
constexpr quint8 kIndexInterior = 0x02;

enum TextEncoding { Utf8 = 1, Utf16le = 2, Utf16be = 3 };

// Who a page belongs to: the archive's tables are 0..3, in the order of schema::tables(), then
// the engine's own tables and any other table a file may hold.
constexpr qint8 kArchiveTables = 4;
enum Owner : qint8 {
    kNoOwner = -1,
    kSequence = kArchiveTables, // sqlite_sequence: the counters of the automatic keys
    kSchemaTable,
    kOtherTable,
    kOwnerCount
};

quint32 be16(const uchar* p)
{
    return (quint32(p[0]) << 8) | p[1];
}

quint32 be32(const uchar* p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}

const uchar* bytesOf(const QByteArray& data)
{
    return reinterpret_cast<const uchar*>(data.constData());
}

// Reads a varint at `pos`, never past `end`; false when it would run past.
bool readVarint(const uchar* data, qsizetype& pos, qsizetype end, quint64& value)
{
    value = 0;
    for (int i = 0; i < 8; ++i) {
        if (pos >= end) {
            return false;
        }
        const uchar byte = data[pos++];
        value = (value << 7) | (byte & 0x7f);
        if (!(byte & 0x80)) {
            return true;
        }
    }
    if (pos >= end) {
        return false;
    }
    value = (value << 8) | data[pos++];
    return true;
}

// Size of a value of this serial type, or -1 for the reserved types 10 and 11.
qint64 serialSize(quint64 type)
{
    static constexpr std::array<qint64, 10> fixed{0, 1, 2, 3, 4, 6, 8, 8, 0, 0};
    if (type < fixed.size()) {
        return fixed[type];
    }
    if (type < 12) {
        return -1;
    }
    return qint64((type - 12) / 2);
}

// key + step, held at the largest key instead of wrapping.
qint64 addClamped(qint64 key, quint64 step)
{
    const quint64 room = quint64(kMaxKey) - quint64(key);
    return step >= room ? kMaxKey : qint64(quint64(key) + step);
}

// ---------------------------------------------------------------- values

struct Value {
    enum Kind : quint8 { Null, Integer, Real, Text, Blob };
    Kind kind = Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes; // text as UTF-8, or the blob
};
using Row = std::vector<Value>;

struct Cell {
    qint64 key = 0;
    Row values;
    std::vector<int> lost; // values cut off with a broken overflow chain, left NULL
};

bool isText(const Row& row, size_t i)
{
    return i < row.size() && row[i].kind == Value::Text;
}

bool isInteger(const Row& row, size_t i)
{
    return i < row.size() && row[i].kind == Value::Integer;
}

Value decodeValue(quint64 type, const uchar* d, qint64 size, int encoding)
{
    Value v;
    if (type >= 1 && type <= 6) {
        quint64 u = 0;
        for (qint64 i = 0; i < size; ++i) {
            u = (u << 8) | d[i];
        }
        if (size < 8 && (d[0] & 0x80)) {
            u |= ~quint64(0) << (8 * size); // sign extension
        }
        v.kind = Value::Integer;
        v.integer = qint64(u);
    } else if (type == 7) {
        quint64 u = 0;
        for (int i = 0; i < 8; ++i) {
            u = (u << 8) | d[i];
        }
        v.kind = Value::Real;
        std::memcpy(&v.real, &u, sizeof u);
    } else if (type == 8 || type == 9) {
        v.kind = Value::Integer;
        v.integer = type == 9 ? 1 : 0;
    } else if (type >= 12 && type % 2 == 0) {
        v.kind = Value::Blob;
        v.bytes = QByteArray(reinterpret_cast<const char*>(d), size);
    } else if (type >= 13) {
        v.kind = Value::Text;
        if (encoding == Utf8) {
            v.bytes = QByteArray(reinterpret_cast<const char*>(d), size);
        } else {
            QString text(size / 2, Qt::Uninitialized);
            for (qint64 i = 0; i < size / 2; ++i) {
                const uchar a = d[2 * i];
                const uchar b = d[2 * i + 1];
                text[i] = QChar(encoding == Utf16le ? ushort(a | (b << 8)) : ushort((a << 8) | b));
            }
            v.bytes = text.toUtf8();
        }
    }
    return v;
}

// Decodes a record: header size, serial types, values. `payload` may be shorter than
// `fullSize` when its overflow chain is broken; values past its end become NULL.
bool decodeRecord(const QByteArray& payload, quint64 fullSize, int encoding, Cell& cell)
{
    const uchar* d = bytesOf(payload);
    const qsizetype available = payload.size();
    qsizetype pos = 0;
    quint64 headerSize = 0;
    if (!readVarint(d, pos, available, headerSize) || headerSize < quint64(pos) || headerSize > quint64(available)) {
        return false;
    }
    std::vector<quint64> types;
    quint64 bodySize = 0;
    while (pos < qsizetype(headerSize)) {
        quint64 type = 0;
        if (!readVarint(d, pos, qsizetype(headerSize), type)) {
            return false;
        }
        const qint64 size = serialSize(type);
        if (size < 0 || quint64(size) > kMaxPayload || types.size() >= size_t(kMaxColumns)) {
            return false;
        }
        types.push_back(type);
        bodySize += quint64(size);
    }
    // A record fills its payload exactly; garbage almost never does.
    if (types.empty() || headerSize + bodySize != fullSize) {
        return false;
    }
    cell.values.clear();
    cell.values.reserve(types.size());
    quint64 offset = headerSize;
    for (const quint64 type : types) {
        const qint64 size = serialSize(type);
        if (size > 0 && offset + quint64(size) > quint64(available)) {
            cell.lost.push_back(int(cell.values.size()));
            cell.values.push_back(Value{});
        } else {
            cell.values.push_back(decodeValue(type, d + qMin(offset, quint64(available)), size, encoding));
        }
        offset += quint64(size);
    }
    return true;
}

// ---------------------------------------------------------------- the fresh archive

// Writes rows into the fresh archive in one transaction, keeping their keys. A row already
// there (the same key, or the same link) is left as it is.
class Writer {
  public:
    explicit Writer(const QString& freshPath) : m_archive(Archive::open(freshPath, Archive::Presence::None))
    {
        sqlite3* db = m_archive->handle();
        for (const QString& name : schema::tables()) {
            Target target;
            target.name = name;
            QStringList columns;
            int keys = 0;
            bool firstIsIntegerKey = false;
            Statement info(db, QStringLiteral("SELECT name, pk, upper(type) FROM pragma_table_info(?1) ORDER BY cid"));
            info.bind(1, name);
            while (info.step()) {
                if (info.int64(1) > 0) {
                    ++keys;
                    firstIsIntegerKey = columns.isEmpty() && info.value(2).toString() == QLatin1String("INTEGER");
                }
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
            m_targets.push_back(std::move(target));
            m_outcome.rowsPerTable.insert(name, 0);
        }
        execute("BEGIN IMMEDIATE");
        m_inTransaction = true;
    }

    ~Writer()
    {
        if (m_inTransaction) {
            sqlite3_exec(m_archive->handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        }
    }

    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    int columns(int table) const { return m_targets[size_t(table)].columns; }
    bool keyIsRowid(int table) const { return m_targets[size_t(table)].keyIsRowid; }

    // A row the engine read: column 0 is the key, the table's columns follow.
    void copyRead(int table, sqlite3_stmt* source)
    {
        const Target& t = m_targets[size_t(table)];
        sqlite3_stmt* insert = t.insert->handle();
        const int available = sqlite3_column_count(source) - 1;
        for (int i = 0; i < t.columns; ++i) {
            int rc = SQLITE_OK;
            if (t.keyIsRowid && i == 0) {
                rc = sqlite3_bind_int64(insert, 1, sqlite3_column_int64(source, 0));
            } else if (i < available) {
                rc = sqlite3_bind_value(insert, i + 1, sqlite3_column_value(source, i + 1));
            } else {
                rc = sqlite3_bind_null(insert, i + 1);
            }
            check(rc);
        }
        store(table, false, false);
    }

    // A row decoded from a page; missing trailing values are NULL.
    void copyDecoded(int table, const Cell& cell)
    {
        Target& t = m_targets[size_t(table)];
        bindDecoded(t, *t.insert, cell);
        if (!store(table, true, !cell.lost.empty()) && !cell.lost.empty() && t.keyIsRowid) {
            forgetLostValues(t, cell);
        }
    }

    void noteCounter(const QByteArray& table, qint64 value)
    {
        const QString name = QString::fromUtf8(table).toLower();
        if (!m_counters.contains(name) || m_counters.value(name) < value) {
            m_counters.insert(name, value);
        }
    }

    sqlite3* handle() const { return m_archive->handle(); }

    Outcome commit()
    {
        restoreCounters();
        execute("COMMIT");
        m_inTransaction = false;
        return m_outcome;
    }

  private:
    struct Target {
        QString name;
        int columns = 0;
        bool keyIsRowid = false;
        std::unique_ptr<Statement> insert;
        QStringList columnNames; // quoted
    };

    static QString quoted(QString name)
    {
        return QLatin1Char('"') + name.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
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
            throwSqlite(m_archive->handle(), rc);
        }
    }

    void execute(const char* sqlText)
    {
        const int rc = sqlite3_exec(m_archive->handle(), sqlText, nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            throwSqlite(m_archive->handle(), rc);
        }
    }

    void bindDecoded(const Target& t, Statement& st, const Cell& cell)
    {
        sqlite3_stmt* h = st.handle();
        for (int i = 0; i < t.columns; ++i) {
            if (t.keyIsRowid && i == 0) {
                check(sqlite3_bind_int64(h, 1, cell.key));
            } else if (size_t(i) < cell.values.size()) {
                check(bind(h, i + 1, cell.values[size_t(i)]));
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
        Statement update(m_archive->handle(),
                         QStringLiteral("UPDATE %1 SET %2 WHERE %3 AND (%4)")
                             .arg(quoted(t.name), cleared.join(QLatin1Char(',')), same.join(QLatin1String(" AND ")),
                                  stillSet.join(QLatin1String(" OR "))));
        check(sqlite3_bind_int64(update.handle(), 1, cell.key));
        for (int n = 0; n < compared.size(); ++n) {
            check(bind(update.handle(), n + 2, cell.values[size_t(compared.at(n))]));
        }
        update.step();
        m_outcome.rowsIncomplete += sqlite3_changes(m_archive->handle()) > 0 ? 1 : 0;
    }

    // Runs the table's insert; true when the row was new.
    bool store(int table, bool fromPages, bool incomplete)
    {
        Target& t = m_targets[size_t(table)];
        t.insert->step();
        const bool saved = sqlite3_changes(m_archive->handle()) > 0;
        t.insert->reset();
        if (saved) {
            ++m_outcome.rowsSaved;
            ++m_outcome.rowsPerTable[t.name];
            m_outcome.rowsFromPages += fromPages ? 1 : 0;
            m_outcome.rowsIncomplete += incomplete ? 1 : 0;
        }
        return saved;
    }

    // The counters of automatic keys go on from where the damaged archive had them, so the key of
    // a deleted author is never given to a new one (its old links may still be there).
    void restoreCounters()
    {
        sqlite3* db = m_archive->handle();
        Statement exists(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name='sqlite_sequence'"));
        if (!exists.step() || exists.int64(0) == 0) {
            return; // no table with automatic keys
        }
        for (const Target& t : m_targets) {
            const QString key = t.name.toLower();
            if (!t.keyIsRowid || !m_counters.contains(key)) {
                continue;
            }
            Statement raise(db, QStringLiteral("UPDATE sqlite_sequence SET seq = ?2 WHERE name = ?1 AND seq < ?2"));
            raise.bind(1, t.name);
            raise.bindInt(2, m_counters.value(key));
            raise.step();
            Statement add(db, QStringLiteral("INSERT INTO sqlite_sequence (name, seq) SELECT ?1, ?2 WHERE NOT EXISTS "
                                             "(SELECT 1 FROM sqlite_sequence WHERE name = ?1)"));
            add.bind(1, t.name);
            add.bindInt(2, m_counters.value(key));
            add.step();
        }
    }

    std::shared_ptr<Archive> m_archive;
    std::vector<Target> m_targets;
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
        if (sqlite3_open_v2(uri.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr) != SQLITE_OK) {
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

    // True when anything of an archive was found.
    bool copy()
    {
        if (m_file.headerValid) {
            walkSchema();
            markFreelist();
        }
        std::vector<quint32> orphans;
        for (quint32 number = 1; number <= m_file.pageCount; ++number) {
            const qint8 owner = m_owner[number];
            if (owner == kSchemaTable || owner == kOtherTable || m_free[number]) {
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (!page.valid || page.type != kTableLeaf) {
                continue;
            }
            if (owner == kNoOwner) {
                orphans.push_back(number);
            } else {
                takeLeaf(page, owner);
            }
        }
        for (const quint32 number : orphans) {
            takeLeaf(BtreePage(m_file.page(number), number, m_file.usable), kNoOwner);
        }
        return m_found;
    }

  private:
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
        std::vector<quint32> pending{root};
        while (!pending.empty()) {
            const quint32 number = pending.back();
            pending.pop_back();
            if (number < 1 || number > m_file.pageCount || m_owner[number] != kNoOwner) {
                continue;
            }
            const BtreePage page(m_file.page(number), number, m_file.usable);
            if (!page.valid || (page.type != kTableLeaf && page.type != kTableInterior)) {
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
                if (row.size() < 5 || !isText(row, 0) || row[0].bytes != "table" || !isText(row, 1) ||
                    !isInteger(row, 3) || row[3].integer < 2 || row[3].integer > qint64(m_file.pageCount)) {
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

    // A table leaf cell: payload size, key, the payload's local part and its overflow chain.
    bool decodeCell(const BtreePage& page, qsizetype pos, Cell& cell)
    {
        const uchar* d = bytesOf(page.data);
        const qsizetype usable = page.usable;
        quint64 payloadSize = 0;
        quint64 key = 0;
        if (!readVarint(d, pos, usable, payloadSize) || !readVarint(d, pos, usable, key) || payloadSize == 0 ||
            payloadSize > kMaxPayload) {
            return false;
        }
        const qint64 total = qint64(payloadSize);
        const qint64 maxLocal = usable - 35;
        qint64 local = total;
        if (total > maxLocal) {
            const qint64 minLocal = (qint64(usable) - 12) * 32 / 255 - 23;
            const qint64 surplus = minLocal + (total - minLocal) % (usable - 4);
            local = surplus <= maxLocal ? surplus : minLocal;
        }
        if (pos + local > usable || (local < total && pos + local + 4 > usable)) {
            return false;
        }
        QByteArray payload(reinterpret_cast<const char*>(d + pos), local);
        if (local < total) {
            readOverflow(be32(d + pos + local), total - local, payload);
        }
        cell.key = qint64(key);
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
    qint8 shapeOf(const Row& row) const
    {
        for (int t = 0; t < kArchiveTables; ++t) {
            if (int(row.size()) != m_writer.columns(t)) {
                continue;
            }
            if (m_writer.keyIsRowid(t)
                    ? row[0].kind == Value::Null
                    : std::all_of(row.begin(), row.end(), [](const Value& v) { return v.kind == Value::Integer; })) {
                return qint8(t);
            }
        }
        if (row.size() == 2 && isText(row, 0) && isInteger(row, 1)) {
            return kSequence;
        }
        if (row.size() == 5 && isText(row, 0) &&
            (row[0].bytes == "table" || row[0].bytes == "index" || row[0].bytes == "trigger" ||
             row[0].bytes == "view")) {
            return kSchemaTable;
        }
        return kNoOwner;
    }

    // Whether a record read from a page of `table`'s own tree fits that table.
    bool fits(qint8 table, const Row& row) const
    {
        if (table == kSequence) {
            return shapeOf(row) == kSequence;
        }
        if (row.empty() || int(row.size()) > m_writer.columns(table)) {
            return false;
        }
        return !m_writer.keyIsRowid(table) || row[0].kind == Value::Null || row[0].kind == Value::Integer;
    }

    void takeLeaf(const BtreePage& page, qint8 owner)
    {
        const std::vector<Cell> cells = decodeLeaf(page);
        if (cells.empty()) {
            return;
        }
        std::array<int, kOwnerCount> votes{};
        for (const Cell& cell : cells) {
            const qint8 shape = shapeOf(cell.values);
            if (shape != kNoOwner) {
                ++votes[size_t(shape)];
            }
        }
        const auto best = qint8(std::max_element(votes.begin(), votes.end()) - votes.begin());
        const bool clearShape = votes[size_t(best)] > 0 && 2 * votes[size_t(best)] >= int(cells.size());
        qint8 table = owner;
        if (owner == kNoOwner) {
            if (!clearShape) {
                return; // not a page of this archive's tables
            }
            table = best;
        } else if (clearShape && votes[size_t(best)] > votes[size_t(owner)]) {
            table = best; // a damaged interior page pointed at another table's page
        }
        if (table != kSequence && table >= kArchiveTables) {
            return;
        }
        for (const Cell& cell : cells) {
            // A page found by shape proves its records one by one; a page of the table's own tree
            // may hold records written before the table had all its columns.
            const bool accepted = table != owner ? shapeOf(cell.values) == table : fits(table, cell.values);
            if (!accepted) {
                continue;
            }
            if (table == kSequence) {
                m_writer.noteCounter(cell.values[0].bytes, cell.values[1].integer);
            } else {
                m_found = true;
                m_writer.copyDecoded(table, cell);
            }
        }
    }

    PageFile& m_file;
    Writer& m_writer;
    std::vector<qint8> m_owner;
    std::vector<bool> m_free;
    bool m_found = false;
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

    bool found = false;
    {
        EngineReader engine(damagedPath, file.fileSize());
        watch(engine.handle(), progress);
        for (int table = 0; table < kArchiveTables; ++table) {
            found = engine.copyTable(table, writer) || found;
        }
        engine.copyCounters(writer);
    }
    found = PageReader(file, writer).copy() || found;
    if (!found) {
        throw DbError(ErrFileNotArchive);
    }
    return writer.commit();
}

} // namespace store::salvage
