#pragma once

#include <QMap>
#include <QString>

#include <functional>

namespace store::salvage {

// The rows of one table of the damaged archive that are not in the fresh one.
struct Loss {
    qint64 rows = 0;    // at least this many: those the file still shows
    bool exact = false; // the file tells how many rows the table held, so `rows` is the whole loss
};

struct Outcome {
    qint64 rowsSaved = 0;               // rows written into the fresh archive, all tables
    QMap<QString, qint64> rowsPerTable; // "biblio", "autore", "editori", "autbiblio"
    qint64 rowsFromPages = 0;           // of those, rows the engine could not reach, read from the raw pages
    qint64 rowsIncomplete = 0;          // rows saved with a value lost in a broken overflow chain (left NULL)
    qint64 rowsUnreadable = 0;          // rows found that failed the checks: left out
    qint64 linksDropped = 0;            // links to a book or an author that was not saved: left out
    QMap<QString, Loss> leftOut;        // every table: its rows not saved, for whatever reason
};

// Copies every row of the archive file at `damagedPath` that can still be read into the fresh,
// empty archive at `freshPath` (made beforehand with store::Archive::create). Never writes to
// `damagedPath` or creates files beside it. Throws store::DbError when `freshPath` cannot be
// written, or 3343 when nothing at all of an archive can be found in the file.
//
// Two passes: the engine reads each table by key, skipping past damaged pages; then every table
// leaf page of the file is decoded directly, so rows under a destroyed interior page or behind a
// destroyed first page are found too. Keys are kept (the engine's reading wins for the same key),
// and so are the counters of the tables with automatic keys, so deleted keys are never handed out
// again; a counter that cannot be read goes on from the highest key seen anywhere (rows, links,
// index pages) plus 1,000.
//
// Before either pass, the file's index pages and the shape of its table pages are read, so that
// every row is checked before it is saved: text is valid UTF-8, each value is of the kind its
// column holds (a key a whole number from 1 to 2^31-1), every intact index that lists the row
// agrees with it, a complete index lists it, and a row of a damaged page is vouched for by an
// index. A row that fails is left out and counted (rowsUnreadable); it stays in the damaged file.
// Links to a book or an author that was not saved are left out and counted too (linksDropped).
// What each table lost in all (leftOut) is counted against what the file says it held: a complete
// index counts a table's rows, and so does its own tree when every page of it is sound; where
// neither is left, the loss is at least the rows whose keys sound pages and intact index pages
// still show.
// `progress`, when given, is called now and then while the work goes on; it must not throw.
Outcome salvage(const QString& damagedPath, const QString& freshPath, const std::function<void()>& progress = {});

// What a file holds of an archive, found as salvage() finds it but without writing anything
// anywhere: the rows of each table that sit on sound pages (those a repair saves, unless the
// checks of a sound row refuse one), and the schema version its header names (0 when the header
// cannot be read).
struct Survey {
    QMap<QString, qint64> soundRows; // "biblio", "autore", "editori", "autbiblio"
    int schemaVersion = 0;
    qint64 rows() const;
};

// Throws store::DbError 3043 when the file cannot be read.
Survey survey(const QString& damagedPath);

} // namespace store::salvage
