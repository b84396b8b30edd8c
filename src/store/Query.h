#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace store {

// An SQL text with `?` markers and the values bound to them, in order. A value typed by the user
// reaches the engine only this way: it is never pasted into an SQL text.
//
// `writeTable` names the table that receives the writes of a recordset opened on a join. A query
// on one table writes to that table without saying so; a join that does not name its table, a
// `distinct` or a compound query is read-only.
struct Query {
    QString text;
    QVariantList values;
    QString writeTable;

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
