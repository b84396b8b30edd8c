#pragma once

#include <QList>
#include <QString>
#include <stdexcept>

struct sqlite3;

namespace store {

// Error numbers the windows test. They keep the numbering the program has always shown to users.
enum ErrorNumber : int {
    ErrInvalidProcedure = 5,
    ErrBadFileName = 52,
    ErrFileNotFound = 53,
    ErrPastEndOfFile = 62,
    ErrPermissionDenied = 70,
    ErrPathNotFound = 76,
    ErrPathFileAccess = 75,
    ErrObjectNotSet = 91,
    ErrNoCurrentRecord = 3021,
    ErrDiskOrNetwork = 3043,
    ErrFileNotArchive = 3343,
    ErrItemNotFound = 3265,
    ErrSyntax = 3075,
    ErrInUse = 3356,
    ErrObjectInvalid = 3420,
    ErrUpdateWithoutEdit = 3020,
    ErrDuplicateKey = 3022,
    ErrNewerArchive = 3447,
    ErrReadOnly = 3051,
    ErrLocked = 3260,        // busy: another user is writing; try again in a moment
    ErrRecordDeleted = 3167, // the row being edited was deleted meanwhile by someone else
    ErrRecordChanged = 3197, // the row being edited was changed meanwhile by someone else
    ErrEditPending = 3219,   // a move, find, delete or requery while an edit is open
    ErrTypeMismatch = 3421,  // a value that the field cannot hold (text in an amount)
    ErrDialogCancelled = 32755,
    // Causes of a failed file operation that the user can act on, each named in its message.
    ErrDiskFull = 61,                   // no room left on the disk (or over the user's quota)
    ErrArchiveFolderReadOnly = 3901,    // the folder that holds (or would hold) an archive cannot be written
    ErrProgramFolderNotWritable = 3902, // the program folder, where compaction works, cannot be written
    ErrNameTooLong = 3903,              // a file name longer than the file system takes with the program's suffixes
    ErrControlCharacters = 3904,        // a line break or another control character in a file name
    ErrSeveralNames = 3905,             // a file with more than one name (hard links): its users cannot be known
    ErrArchiveReplaced = 3906,          // the open archive's file was deleted, or another file put in its place
    // Loans (3911-3919): refusals the loans' windows and the record windows show as they are.
    ErrNoLoans = 3911,          // an archive of an older version that could not be upgraded (read-only): no loans
    ErrBookOnLoan = 3912,       // a book on loan cannot be deleted; the description names the borrower and the date
    ErrBorrowerHasLoans = 3913, // a borrower with books out cannot be deleted; the description counts them
    ErrRefusedByArchive = 3914, // a rule the archive itself keeps (its triggers) refused a change
    ErrLoanChanged = 3915,      // an undo of a loan or a return that someone changed meanwhile
    // Export and import (3921-3929).
    ErrNotATable = 3921,   // a file to import that is empty, not a table, or a workbook that cannot be read
    ErrWorkbook = 3923,    // an Excel workbook that could not be written
    ErrImportFile = 3924,  // the file to import changed or vanished between the preview and the import
    // Archives on a database server (3931-3939).
    ErrServerUnreachable = 3931, // the server cannot be reached, or the connection was lost: try again later
    ErrServerLogin = 3932,       // the server refused the user or the password
    ErrServerNotEmpty = 3933,    // a transfer's target database already holds tables
    ErrTransferCounts = 3934,    // a transfer's rows counted differently on the two sides
};

// One entry of an error's collection: what went wrong at one step, by number and description.
struct ErrorItem {
    int number = 0;
    QString description;
    // What a developer needs and the user does not: the engine's own message and code, the SQL
    // text, the raw findings of a check. Never shown in a message box.
    QString detail;
};

// The one error type of the store and of file operations: a number and an Italian description.
// An operation with several steps may report every step that failed; the first item is the main
// error, whose number and description the error carries itself.
class DbError : public std::runtime_error {
  public:
    DbError(int number, const QString& description, const QString& detail = {});
    explicit DbError(int number);
    explicit DbError(QList<ErrorItem> items); // at least one item

    int number() const { return m_number; }
    const QString& description() const { return m_description; }
    // The main error's detail (see ErrorItem), for tests and logs.
    const QString& detail() const { return m_items.constFirst().detail; }
    // Every error of the collection, in the order they happened; one item for a simple error.
    const QList<ErrorItem>& errors() const { return m_items; }

    // Standard Italian description for a known number.
    static QString describe(int number);

  private:
    int m_number;
    QString m_description;
    QList<ErrorItem> m_items;
};

// Maps an SQLite result code (extended codes allowed) onto the program's numbers. The one place
// where engine results become program errors.
int errorNumberFor(int sqliteResult);

// Throws a DbError for a failed SQLite call on `db`. Its detail keeps the engine's message and
// code and `context` (the SQL text, as a rule); its description stays the program's own.
[[noreturn]] void throwSqlite(sqlite3* db, int sqliteResult, const QString& context = {});

} // namespace store
