#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

namespace store {

// An SQL text with `?` markers and the values bound to them, in order. A value typed by the user
// reaches the engine only this way: it is never pasted into an SQL text.
//
// `writeTable` names the table that receives the writes of a recordset opened on a join. A query
// on one table writes to that table without saying so; a join that does not name its table, a
// `distinct` or a compound query is read-only.
//
// `keyColumns` lets a large join be read in pages like a query on one table: the whole-number
// values of these columns, together, tell the result's rows apart. The first must be the integer key
// of one of the query's tables, written as `table.column`; pages are read by it, joined as the query
// joins but without its conditions, so the columns must also tell apart every row that the joins
// give for those keys (the authors of a book: the book's key and the author's). Such a result is
// read-only; its rows come in the query's order.
//
// `keyText`, with its own `keyValues`, may give such a join's keys by a quicker road: an SQL text
// whose columns are the key columns, giving exactly the rows of the query in the query's order
// (through indexes that the query's own condition cannot use, for example). The pages are still
// read with the query's own condition.
struct Query {
    QString text;
    QVariantList values;
    QString writeTable;
    QStringList keyColumns;
    QString keyText;
    QVariantList keyValues;

    Query() = default;
    // The program's constant SQL texts, with no values.
    Query(const QString& sqlText) : text(sqlText) {}                 // NOLINT: implicit on purpose
    Query(const char* sqlText) : text(QString::fromUtf8(sqlText)) {} // NOLINT
    Query(QString sqlText, QVariantList boundValues, QString table = {})
        : text(std::move(sqlText)), values(std::move(boundValues)), writeTable(std::move(table))
    {
    }

    bool operator==(const Query& other) const = default;
};

} // namespace store
