#pragma once

#include "store/DbError.h"

#include <QString>
#include <QVariant>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

// A prepared statement owned by RAII. Binds and reads values as QVariant.
class Statement {
  public:
    Statement(sqlite3* db, const QString& sqlText);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    void bind(int index, const QVariant& value); // 1-based
    void bindInt(int index, qint64 value);
    bool step(); // true while a row is available
    void reset();
    int columnCount() const;
    QVariant value(int column) const;
    qint64 int64(int column) const;
    QString columnName(int column) const;
    QString columnTable(int column) const;  // table the column comes from, or empty
    QString columnOrigin(int column) const; // declared name of the column in that table
    sqlite3_stmt* handle() const { return m_stmt; }

  private:
    sqlite3* m_db = nullptr;
    sqlite3_stmt* m_stmt = nullptr;
};

class PresenceLock;

// One connection to one archive file. Opening checks that the file is an archive of a known
// version before anything else, and never writes to a file that is not one.
class Archive {
  public:
    enum class Presence { Shared, None };

    // Opens an existing archive; throws DbError (3024 missing, 3343 not an archive, 3447 newer, 3043 I/O).
    static std::shared_ptr<Archive> open(const QString& path, Presence presence = Presence::Shared);

    // Creates a new empty archive at `path` (which must not exist) with the current schema.
    static void create(const QString& path);

    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    sqlite3* handle() const { return m_db; }
    const QString& path() const { return m_path; }

    // Runs one or more statements with no result (program SQL, translated).
    void exec(const QString& sqlText);
    Statement prepare(const QString& sqlText);
    qint64 lastInsertRowId() const;
    int changes() const;

  private:
    Archive() = default;
    static sqlite3* openConnection(const QString& path, int flags);
    static void configure(sqlite3* db);

    sqlite3* m_db = nullptr;
    QString m_path;
    std::unique_ptr<PresenceLock> m_presence;
};

// The presence lock: a small lock file beside the archive. Every open archive holds it shared;
// operations that need the archive closed everywhere (repair, compaction, overwriting) hold it
// exclusively. Works across processes and computers sharing the folder, through the engine's own
// file locking.
class PresenceLock {
  public:
    enum class Mode { Shared, Exclusive };
    // Exclusive: throws DbError 3356 while any other holder exists. Shared: waits for a short
    // exclusive holder, then throws 3356. Returns nullptr when the lock file cannot be created
    // (read-only folder): presence is then unknown and not enforced.
    static std::unique_ptr<PresenceLock> acquire(const QString& archivePath, Mode mode);
    static QString lockFilePath(const QString& archivePath);
    // True when some connection (here or elsewhere) holds the archive open.
    static bool inUse(const QString& archivePath);
    ~PresenceLock();

  private:
    PresenceLock() = default;
    sqlite3* m_db = nullptr;
};

// The schema version this program writes and the highest it can read.
inline constexpr int kSchemaVersion = 1;

} // namespace store
