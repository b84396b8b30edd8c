#pragma once

#include <QSet>
#include <QStringList>

struct sqlite3;

namespace store::schema {

// The four tables of an archive, their keys, indexes and link maintenance, as one script.
QString ddl();

// Table names of an archive.
const QStringList& tables();

// Lower-case names of the text columns of all tables.
const QSet<QString>& textColumns();

// Checks that `db` holds an archive this program can read: known version and the four tables.
// Throws DbError 3343 (not an archive) or 3447 (newer version). Reads only.
void check(sqlite3* db);

} // namespace store::schema
