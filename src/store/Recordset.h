#pragma once

#include "store/Archive.h"
#include "store/Query.h"
#include "store/Sql.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace store {

// The result of a query with a current row, in the manner of a dynaset: a query on one table keeps
// the ordered keys of its rows and fetches row values on demand, so that a query over 100,000
// books opens in milliseconds; a join, a `distinct` or a compound query is read whole (such
// results are small: the links of one book, one author, one publisher).
//
// Writes go to one table, known for certain: the single table of the query, or the table the
// query names (Query::writeTable), or the only table that feeds the result's columns. A result
// with no such table is read-only (3051); a named table that is not in the query fails at open.
//
// The editing contract:
// - edit() reads the current row afresh from the archive and pins its key; the edit writes to that
//   row only, wherever the result is positioned afterwards.
// - While an edit (or a new row) is open, moves, finds, bookmarks, deletes, requeries and a second
//   edit or addNew are refused with 3219: the caller saves or cancels first. Nothing is cancelled
//   behind the caller's back.
// - update() runs in one transaction that reads the stored row and compares it, type and bytes,
//   with the values read at edit(): a row deleted meanwhile gives 3167, a row changed meanwhile
//   gives 3197, a write lock held by someone else gives 3260 after a short wait. On every failure
//   the edit stays open with every value set in it, so nothing typed is lost.
// - After a 3197 refusal the values found then become the ones expected: a second update()
//   overwrites that version on purpose, writing only the fields changed in this edit; a further
//   change by someone else is refused again.
class Recordset {
  public:
    using Bookmark = qint64;
    enum class EditMode { None, Edit, Add };

    Recordset(std::shared_ptr<Archive> archive, const Query& query);
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    const Query& query() const { return m_query; }
    const QString& sql() const { return m_query.text; }
    const std::shared_ptr<Archive>& archive() const { return m_archive; }
    bool isKeyed() const { return m_keyed; }
    // The table that receives writes; empty for a read-only result.
    const QString& writeTable() const { return m_writeTable; }

    // Rows and position.
    int recordCount() const { return int(keys().size()); }
    bool bof() const { return keys().empty() || m_pos < 0; }
    bool eof() const { return keys().empty() || m_pos >= recordCount(); }
    bool hasCurrent() const { return !bof() && !eof() && !m_currentDeleted; }
    int absolutePosition() const { return m_pos; }
    void setAbsolutePosition(int pos);
    void moveFirst();
    void moveLast();
    void moveNext();
    void movePrevious();
    void requery();

    // Fields: names are case-insensitive; `table.field` picks the column of that table in a join.
    int columnCount() const { return int(m_columns.size()); }
    QString columnName(int column) const { return m_columns.at(column).name; }
    int columnIndex(const QString& field) const; // -1 when no such field
    // True when the column belongs to the table that receives writes.
    bool isWritable(int column) const;
    QVariant value(const QString& field) const;  // current row, or the edit buffer; throws 3021, 3265
    QVariant valueAt(int row, int column) const; // any row, for lists; null past the end
    void setValue(const QString& field, const QVariant& value);

    // Find-first: the first row, in this result's order, whose field equals the value (texts
    // compare as the archive's collation compares them: case never counts, accents do).
    bool findFirst(const QString& field, const QVariant& value);
    bool noMatch() const { return m_noMatch; }
    // The first row whose field equals the value, or -1; the current row does not change.
    int findRow(const QString& field, const QVariant& value) const;

    // Editing the current row, or a new one.
    EditMode editMode() const { return m_editMode; }
    void addNew();
    void edit();
    // The current row as this result read it (what a list or a record shows of it), by column.
    std::vector<QVariant> shownRow() const;
    // Opens an edit of the current row as edit() does, but measured from `seen`, the row as the
    // user saw it (a shownRow() taken when it was shown): update() refuses (3197) a row stored
    // otherwise than it was seen, as if the edit had been opened at that moment.
    void editSeen(const std::vector<QVariant>& seen);
    // The values update() expects to find stored; after a 3197 refusal, the ones it found.
    const std::vector<QVariant>& expectedRow() const { return m_expected; }
    void update();
    // Drops the edit or the new row. An edited row is read again, so that what someone else stored
    // meanwhile shows; true when they changed or deleted it since the edit was opened (the caller
    // then reads its lists again).
    bool cancelUpdate();
    void deleteCurrent();

    Bookmark bookmark() const;
    void setBookmark(Bookmark bookmark);
    Bookmark lastModified() const { return m_lastModified; }

  private:
    struct Column {
        QString name;
        QString table;
        QString origin;
        bool writable = false;
    };
    using Row = std::vector<QVariant>;
    struct Page {
        std::vector<Row> rows;
    };
    // The pages of rows read, most recently used first. Recordsets of the same query that share
    // their keys share these too: the record of a window and its list read each page once.
    struct PageCache {
        QHash<int, Page> pages;
        std::list<int> order;
        // Counts the times rows were forgotten (a save, a delete, a cancelled edit), so that a row
        // one recordset read alone is not shown by it once another one changed it.
        quint64 forgotten = 0;
    };

    // The keys of the rows in order; shared between recordsets of the same query while nothing
    // changed in the archive, and copied before one of them changes its own.
    struct KeyList {
        std::vector<qint64> keys;   // rowids of the write table or first key table, or row numbers
        std::vector<qint64> second; // values of the second key column of a keyed join
        // key -> first position, built when first needed: a table indexed by the key when the keys
        // are small whole numbers (rowids mostly are), a hash otherwise.
        mutable std::vector<int> densePositions;
        mutable QHash<qint64, int> positions;
        mutable bool positionsValid = false;
        // The rows of these keys, as the page query named by `pageSignature` reads them, while a
        // recordset holds them.
        QString pageSignature;
        std::weak_ptr<PageCache> pages;
    };
    const std::vector<qint64>& keys() const { return m_keyList->keys; }
    std::vector<qint64>& mutableKeys();

    void open();
    void load();
    void loadKeys();
    void loadJoinKeys();
    void loadWhole();
    void chooseWriteTable(Statement* probe);
    void readColumns(const Statement& st, int first, int count);
    void findRowIdColumn();
    const Row& rowAt(int row) const;
    // The current row: from its page when that is held, else read alone (showing one record
    // reads one row, not a page of them).
    const Row& currentRow() const;
    const Page& page(int index) const;
    void forgetCache();
    void forgetPageOf(int row);
    int positionOf(qint64 key) const;
    int resolve(const QString& field) const;
    int resolveOrThrow(const QString& field) const;
    void requireCurrent() const;
    void requireNoEdit() const;
    void requireWritable() const;
    std::vector<int> writableColumns() const;
    // The stored values of the writable columns of row `key`; false when the row is gone.
    bool readStored(qint64 key, Row& values);
    void updateEdited();
    void insertNew();

    std::shared_ptr<Archive> m_archive;
    Query m_query;
    sql::Shape m_shape;
    QString m_writeTable;     // as the archive names it
    QString m_writeReference; // how the query refers to it
    bool m_keyed = false;
    int m_pageMarkers = 0;    // the query's values that the page query binds before the keys
    bool m_keyedJoin = false; // a join read as the values of its key columns (Query::keyColumns)
    bool m_hasRowId = false;  // materialized rows carry the write table's rowid in column 0
    QString m_keyTable;       // the first table of a keyed join
    std::vector<Column> m_columns;
    std::shared_ptr<KeyList> m_keyList;
    std::vector<Row> m_rows; // materialized rows
    int m_pos = -1;
    bool m_currentDeleted = false;
    bool m_noMatch = false;

    std::shared_ptr<PageCache> m_cache;
    mutable std::unique_ptr<Statement> m_pageQuery;
    QString m_rowSql;                                                // the page query for one key
    mutable std::unique_ptr<Statement> m_rowQuery;                   // prepared when first needed
    mutable std::optional<std::pair<qint64, Row>> m_single;          // the last row read alone, by its key
    mutable int m_singlePosition = -1;                               // and its position
    mutable quint64 m_singleForgotten = 0;                           // and the cache's count then
    mutable std::map<int, std::unique_ptr<Statement>> m_findQueries; // find by column, prepared once
    int m_rowIdColumn = -1;                                          // the column that holds the rowid itself, or -1

    EditMode m_editMode = EditMode::None;
    qint64 m_editKey = 0; // the row an edit writes to
    Row m_buffer;
    Row m_readAtEdit; // the row as edit() read it: what this edit changed is measured from here
    Row m_expected;   // what update() must find stored to write
    std::vector<bool> m_dirty;
    Bookmark m_lastModified = 0;
};

} // namespace store
