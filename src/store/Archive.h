#pragma once

#include "store/DbError.h"

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

namespace store {

class ServerConnection;
class ServerStatement;

// A prepared statement owned by RAII. Binds and reads values as QVariant.
class Statement {
  public:
    Statement(sqlite3* db, const QString& sqlText);
    // A statement of a server archive, its text in the server's dialect.
    Statement(ServerConnection& server, const QString& sqlText);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;

    void bind(int index, const QVariant& value); // 1-based
    void bindInt(int index, qint64 value);
    // Binds `values` in order from the marker `firstIndex` on.
    void bindAll(const QVariantList& values, int firstIndex = 1);
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
    std::unique_ptr<ServerStatement> m_server;
};

class PresenceLock;

// One connection to one archive: a file, or a database on a server (its address, see Server.h).
// Opening checks that it is an archive of a known version before anything else, and never writes
// to one that is not.
class Archive {
  public:
    enum class Presence { Shared, None };

    // Opens an existing archive; throws DbError (3024 missing, 3343 not an archive, 3447 newer, 3043 I/O;
    // 3931 server unreachable, 3932 login refused). An archive file of an older version is upgraded
    // first when it can be written.
    static std::shared_ptr<Archive> open(const QString& path, Presence presence = Presence::Shared);

    // Creates a new empty archive at `path` (which must not exist) with the current schema; at a
    // server address, in the existing database, which must be empty (3933).
    static void create(const QString& path);

    // A transfer's target on a server: an empty database in which one open transaction has made the
    // schema, its rules set aside until the copy has filled the tables (then "COMMIT" keeps it; the
    // connection's end without it leaves the database empty). Keys come with the rows.
    static std::shared_ptr<Archive> openForTransfer(const QString& address);

    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // The file engine's connection; null for an archive on a server.
    sqlite3* handle() const { return m_db; }
    // The file's path, or the server archive's address.
    const QString& path() const { return m_path; }
    bool onServer() const { return m_server != nullptr; }

    // Runs one or more statements with no result (program SQL, translated).
    void exec(const QString& sqlText);
    // A program SQL text, translated for the engine.
    Statement prepare(const QString& sqlText);
    // The translation prepare() makes (a server's text columns need no collation added).
    QString translate(const QString& sqlText) const;
    // An SQL text the store built itself for the engine, sent as it is.
    Statement prepareExact(const QString& sqlText);
    qint64 lastInsertRowId() const;
    int changes() const;
    // True while a transaction is open on this connection.
    bool inTransaction() const;
    // True when the archive has the quick find's word index (an archive of an older version that
    // could not be upgraded, on a read-only medium, has none).
    bool hasWordIndex();
    // The column that is the table's own integer key (its rowid), or empty.
    QString integerKeyOf(const QString& table);
    // How SQL names the integer that tells a table's rows apart: the file engine's rowid, or the
    // server table's integer key.
    QString rowIdOf(const QString& table);
    // Throws 70 when this connection may read `table` but not write it (a server role that only
    // reads); a file archive leaves that to the write itself.
    void requireWritable(const QString& table);

    // A result the store keeps for the next identical request, valid while nothing changes in the
    // archive: neither a write of this connection nor a commit of any other.
    std::shared_ptr<const void> memo(const QString& key);
    void setMemo(const QString& key, std::shared_ptr<const void> value);

    // What tells whether the archive changed: other connections' commits, this one's writes. Two
    // equal stamps mean nothing changed in between.
    std::pair<qint64, qint64> changeStamp();

  private:
    struct BusyWait;
    Archive();
    static sqlite3* openConnection(const QString& path, int flags);
    static std::shared_ptr<Archive> openServer(const QString& address);
    static void createOnServer(const QString& address);
    void configure();
    void upgradeIfOlder();

    sqlite3* m_db = nullptr;
    QString m_path;
    std::unique_ptr<BusyWait> m_busy;
    std::unique_ptr<PresenceLock> m_presence;
    std::unique_ptr<ServerConnection> m_server;
    bool m_keepConnection = false; // an archive opened for reading and writing, not a transfer's target
    QString m_memoKey;
    std::shared_ptr<const void> m_memo;
    std::pair<qint64, qint64> m_memoStamp{-1, -1};
};

// Several changes that stand or fall together: everything done on the archive while it lives is
// undone unless commit() is called. Takes the write lock at once (waiting a moment for another
// writer, then 3260), so a read-compare-write inside it sees no one else's change. Inside another
// transaction it is a savepoint of that one.
class Transaction {
  public:
    explicit Transaction(Archive& archive);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Archive& m_archive;
    QString m_savepoint; // empty for an outermost transaction
    bool m_open = true;
};

// How many engine connections the store holds open in this process (archives and presence locks).
// A server's connection kept idle after its archive closed is not counted: no archive is open on it.
int openConnectionCount();

// Tells the user interface that the engine waits for another user's lock (true), and that the
// wait is over (false). Called on the thread that waits; an empty function removes it.
void setWaitNotifier(std::function<void(bool waiting)> notifier);

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

// The schema version this program writes and the highest it can read. 2: the quick find's word
// index. 3: borrowers (`lettori`) and loans (`prestiti`). A program refuses an archive of a later
// version than its own as newer (3447).
inline constexpr int kSchemaVersion = 3;

} // namespace store
