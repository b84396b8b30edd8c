#pragma once

#include "exchange/Columns.h"
#include "exchange/Sheet.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace store {
class Archive;
}

// Export and import of the catalogue, below the windows: the same calls serve the windows (with a
// progress bar and "Interrompi") and the command line.
namespace exchange {

// Told how far a long run has gone (`done` of `total`; `total` 0 when unknown) every few rows;
// returns false to stop the run. An empty function never stops.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// ---- Export ----------------------------------------------------------------------------------

struct ExportResult {
    qint64 rows = 0;      // rows written, the header aside
    bool stopped = false; // stopped by the progress: no file was left
};

// Writes books to `path` (CSV or .xlsx by its extension), one row per book, the columns of
// bookFields(): the books with the keys `keys` in that order (a key given twice, or no longer in
// the archive, is written once or not at all), or the whole catalogue in title order when `keys`
// is nullopt (an empty list writes the header alone).
ExportResult exportBooks(store::Archive& archive, const QString& path, const std::optional<QList<qint64>>& keys,
                         const Progress& progress = {});
// The authors' and the publishers' lists in name order.
ExportResult exportAuthors(store::Archive& archive, const QString& path, const Progress& progress = {});
ExportResult exportPublishers(store::Archive& archive, const QString& path, const Progress& progress = {});

// ---- Import ----------------------------------------------------------------------------------

// A file to import and how to read it.
struct Source {
    QString path;
    FileKind kind = FileKind::Csv;
    CsvFormat csv; // for a CSV file
};
// The source as detected from the file (kind, encoding, separator). Throws 3921 for a file that
// is empty, not a table or a workbook that cannot be read (the description says which).
Source detectSource(const QString& path);
std::unique_ptr<SheetReader> openSource(const Source& source);

// Which field each column of the file goes to, by column index.
struct Mapping {
    QList<Field> columns;
    // The authors' column splits on ";" always, and on " e " too when this is set
    // ("ROSSI MARIO e BIANCHI LUCA").
    bool splitOnE = false;

    bool maps(Field field) const { return columns.contains(field); }
};
// The mapping the header suggests (guessField per heading; a field named twice goes to the first).
Mapping guessMapping(const QStringList& header);

// One field of a matched book that the file would change.
struct Change {
    Field field = Field::Ignore;
    QString before; // as the archive has it
    QString after;  // as the file has it
};

// What import makes of one row of the file.
struct Entry {
    enum class Status { New, Update, Same, Discarded, Conflict };
    Status status = Status::Same;
    int line = 0;       // the file's line
    QString title;      // as the file has it
    qint64 book = 0;    // the matched book, for Update, Same and Conflict
    QString reason;     // for Discarded: "riga senza titolo", "anno non valido: 19x8", "uguale alla riga 12"...
    QList<Change> changes;   // for Update: the fields that will be written
    QList<Change> conflicts; // fields changed in the archive since the last import, which the file
                             // would change again: never written unless the user asks
};

// The preview of an import. Entries are kept for every row but the Same ones.
struct Preview {
    qint64 rows = 0; // rows read, the header aside
    qint64 news = 0, updates = 0, same = 0, discarded = 0, conflicting = 0;
    QList<Entry> entries;
    bool stopped = false;

    // "N nuovi, M da aggiornare, K uguali, J scartati", with ", C in conflitto" when C > 0.
    QString summary() const;
};

// Reads the whole file with `mapping` and tells what import would do; writes nothing. A book
// matches an archive's book by its key when the key column is mapped, otherwise by title, first
// author and year (texts compared as the archive compares them: case never counts, accents do).
// Books with differences only in fields changed since the last import are Conflict; books with
// other differences too are Update, and list those conflicts as well.
Preview preview(store::Archive& archive, SheetReader& reader, const Mapping& mapping,
                const Progress& progress = {});

struct ImportOptions {
    bool updateMatched = true;       // false: matched books are left as they are
    bool overwriteConflicts = false; // true: fields changed since the last import are written too
    // Where to put the archive's copy made before anything is written: empty for the archive's
    // copies folder ("copie" beside it).
    QString copyFolder;
};

struct ImportResult {
    Preview preview;     // what was found while importing (it may differ from an earlier preview)
    qint64 added = 0;    // books added
    qint64 updated = 0;  // books changed
    QString copyPath;    // the copy of the archive made first; removed again when nothing was written
    bool stopped = false; // stopped by the progress: nothing was written
};

// Makes a copy of the archive, then reads the file again and writes every new and (when asked)
// every matched book in one transaction; authors and publishers are matched by name as the archive
// compares names, and added when new. A stop, a failure or a kill leaves the archive as it was.
// Throws the store's errors (3356 in use, 3260 busy, 61 disk full...).
ImportResult importRows(store::Archive& archive, SheetReader& reader, const Mapping& mapping,
                        const ImportOptions& options, const Progress& progress = {});

} // namespace exchange
