#pragma once

#include <QMap>
#include <QString>

#include <functional>

namespace store::salvage {

struct Outcome {
    qint64 rowsSaved = 0;               // rows written into the fresh archive, all tables
    QMap<QString, qint64> rowsPerTable; // "biblio", "autore", "editori", "autbiblio"
    qint64 rowsFromPages = 0;           // of those, rows the engine could not reach, read from the raw pages
    qint64 rowsIncomplete = 0;          // rows saved with a value lost in a broken overflow chain (left NULL)
    qint64 rowsUnreadable = 0;          // rows found that failed the checks below: left out
    qint64 linksDropped = 0;            // links to a book or an author that was not saved: left out
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
// again.
// `progress`, when given, is called now and then while the work goes on; it must not throw.
Outcome salvage(const QString& damagedPath, const QString& freshPath, const std::function<void()>& progress = {});

} // namespace store::salvage
