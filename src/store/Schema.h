#pragma once

#include <QSet>
#include <QStringList>

struct sqlite3;

namespace store::schema {

// The four tables of an archive, their keys, indexes and link maintenance, and the quick find's
// index, as one script.
QString ddl();

// The quick find's word index `biblio_parole` (one entry per book, keyed by its id), the view
// `biblio_testo` that makes each entry from the rows, and the triggers that keep it in step.
QString fullTextDdl();
// The triggers alone (part of fullTextDdl).
QString fullTextTriggers();
// The names of those triggers.
const QStringList& fullTextObjects();
// The borrowers' and loans' tables, their indexes and the triggers that keep a book on loan and a
// borrower with books out from being deleted (version 3).
QString loansDdl();
// Drops the word index, its view and its triggers (a salvage fills the tables without them).
void removeFullText(sqlite3* db);
// Makes the word index anew from the rows, with its view and triggers. Inside the caller's
// transaction, if any.
void installFullText(sqlite3* db);
// True when the word index, its view and its triggers are there and every entry holds what the
// rows give: one entry per book, none more.
bool wordIndexInStep(sqlite3* db);
// installFullText in a transaction of its own, the archive then at this program's version (repair
// and compaction make the index anew).
void rebuildWordIndex(sqlite3* db);
// Brings an archive of an older version to this one in one transaction (version 2 adds the word
// index, version 3 the borrowers and loans). False when there was nothing to do. Throws DbError (a
// read-only file, another writer, 3343 for a file the engine's quick check finds damaged: nothing
// is added to it).
bool upgrade(sqlite3* db);

// Table names of an archive: the four of every version, then the borrowers and the loans (an
// archive of a version before 3 lacks those two).
const QStringList& tables();

// Lower-case names of the text columns of all tables.
const QSet<QString>& textColumns();

// Checks that `db` holds an archive this program can read: known version, the four tables, and
// from version 3 on the borrowers' and loans' tables.
// Throws DbError 3343 (not an archive) or 3447 (newer version). Reads only.
void check(sqlite3* db);

} // namespace store::schema
