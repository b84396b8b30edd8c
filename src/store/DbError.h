#pragma once

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
    ErrLocked = 3260,
    ErrDialogCancelled = 32755,
};

// The one error type of the store and of file operations: a number and an Italian description.
class DbError : public std::runtime_error {
  public:
    DbError(int number, const QString& description);
    explicit DbError(int number);

    int number() const { return m_number; }
    const QString& description() const { return m_description; }

    // Standard Italian description for a known number.
    static QString describe(int number);

  private:
    int m_number;
    QString m_description;
};

// Maps an SQLite result code (extended codes allowed) onto the program's numbers. The one place
// where engine results become program errors.
int errorNumberFor(int sqliteResult);

// Throws a DbError for a failed SQLite call on `db`, with `context` added for diagnostics.
[[noreturn]] void throwSqlite(sqlite3* db, int sqliteResult, const QString& context = {});

} // namespace store
