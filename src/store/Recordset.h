#pragma once

#include "store/Archive.h"

#include <QHash>
#include <QString>
#include <QVariant>
#include <list>
#include <map>
#include <memory>
#include <vector>

namespace store {

// The result of an SQL text with a current row, in the manner of a dynaset: it keeps the ordered
// keys of its rows and fetches row values on demand, so that a query over 100,000 books opens in
// milliseconds. A query on one table is kept this way; a join or a `distinct` query is read
// whole (such results are small: the links of one book, one author, one publisher).
// Updates go to the query's first table; its rowid identifies the row.
class Recordset {
  public:
    using Bookmark = qint64;
    enum class EditMode { None, Edit, Add };

    Recordset(std::shared_ptr<Archive> archive, const QString& sqlText);
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    const QString& sql() const { return m_sql; }
    const std::shared_ptr<Archive>& archive() const { return m_archive; }
    bool isKeyed() const { return m_keyed; }

    // Rows and position.
    int recordCount() const { return int(m_keys.size()); }
    bool bof() const { return m_keys.empty() || m_pos < 0; }
    bool eof() const { return m_keys.empty() || m_pos >= recordCount(); }
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
    QVariant value(const QString& field) const;  // current row, or the edit buffer; throws 3021, 3265
    QVariant valueAt(int row, int column) const; // any row, for lists; null past the end
    void setValue(const QString& field, const QVariant& value);

    // Find-first by a criterion such as "id=42" or "autbiblio.id_autore=7".
    bool findFirst(const QString& criterion);
    bool noMatch() const { return m_noMatch; }
    // The first row whose field equals the value, or -1; the current row does not change.
    int findRow(const QString& field, const QVariant& value) const;

    // Editing the current row, or a new one.
    EditMode editMode() const { return m_editMode; }
    void addNew();
    void edit();
    void update();
    void cancelUpdate();
    void deleteCurrent();

    Bookmark bookmark() const;
    void setBookmark(Bookmark bookmark);
    Bookmark lastModified() const { return m_lastModified; }

  private:
    struct Column {
        QString name;
        QString table;
        QString origin;
    };
    using Row = std::vector<QVariant>;
    struct Page {
        std::vector<Row> rows;
    };

    void parse();
    void load();
    void loadKeys();
    void loadWhole();
    void findRowIdColumn();
    const Row& rowAt(int row) const;
    const Page& page(int index) const;
    void forgetCache();
    int positionOf(qint64 key) const;
    int resolve(const QString& field) const;
    int resolveOrThrow(const QString& field) const;
    void requireCurrent() const;
    std::vector<int> writableColumns() const;
    QString quotedOrigin(int column) const;

    std::shared_ptr<Archive> m_archive;
    QString m_sql;
    QString m_selectList; // text between SELECT and FROM
    QString m_table;      // first table of the FROM clause
    QString m_rest;       // text after the first table (where, order by)
    bool m_keyed = false;
    bool m_hasRowId = false; // materialized rows carry the first table's rowid in column 0
    std::vector<Column> m_columns;
    std::vector<qint64> m_keys; // rowids (keyed) or row numbers
    std::vector<Row> m_rows;    // materialized rows
    int m_pos = -1;
    bool m_currentDeleted = false;
    bool m_noMatch = false;

    mutable QHash<qint64, int> m_positions; // key -> position, built when first needed
    mutable bool m_positionsValid = false;
    mutable QHash<int, Page> m_pages;
    mutable std::list<int> m_pageOrder; // most recently used first
    mutable std::unique_ptr<Statement> m_pageQuery;
    mutable std::map<int, std::unique_ptr<Statement>> m_findQueries; // find by column, prepared once
    int m_rowIdColumn = -1;                                          // the column that holds the rowid itself, or -1

    EditMode m_editMode = EditMode::None;
    Row m_buffer;
    std::vector<bool> m_dirty;
    Bookmark m_lastModified = 0;
};

} // namespace store
