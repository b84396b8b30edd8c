#pragma once

// The server engine under Archive and Statement: one libpq connection, its prepared statements,
// the server's dialect of the program's SQL, and the server's errors as program numbers. Nothing
// above the store sees these types.

#include <QHash>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace store {

// The server's lock that stands for the archive's write lock: one writer at a time, as on a file.
inline constexpr int kWriteLock = 4227;

class ServerConnection {
  public:
    // Connects to the archive at `address`; throws 3931 (unreachable), 3932 (login refused),
    // 3024 (no such database). Asks for a password through the prompt when the server wants one.
    static std::unique_ptr<ServerConnection> connect(const QString& address);
    // A connection to `address` for an archive being opened: one this process kept idle when its
    // last archive there closed (its server process warm, its statements still prepared), once it
    // answers; otherwise a new one, as connect().
    static std::unique_ptr<ServerConnection> take(const QString& address);
    // Keeps `connection` idle for the next take() of its address, at most two per address; one that
    // is lost, inside a transaction, or beyond the two, is closed. Waits for the server only when it
    // closes one kept before.
    static void keepIdle(std::unique_ptr<ServerConnection> connection);
    // Closes the idle connections this process keeps (of `address`, or all of them).
    static void closeIdle(const QString& address = {});
    // Idle connections kept now (of `address`, or all).
    static int idleCount(const QString& address = {});
    // The server's process numbers of the idle connections kept to `address`.
    static QList<int> idleProcesses(const QString& address);
    ~ServerConnection();
    ServerConnection(const ServerConnection&) = delete;
    ServerConnection& operator=(const ServerConnection&) = delete;

    const QString& address() const { return m_address; }
    pg_conn* handle() const { return m_conn; }

    // Runs one or more statements with no values; the text is sent as it is.
    void run(const QString& sqlText);
    // Runs one statement with values in the server's own dialect; the rows are returned.
    pg_result* query(const QString& sqlText, const QVariantList& values = {});

    bool inTransaction() const;
    // The key of the row this connection inserted last (0 before any).
    qint64 lastKey();
    // Rows written by the last statement, and statements that wrote since the connection opened.
    int changes() const { return m_changes; }
    qint64 writes() const { return m_writes; }
    // Called by statements after each command.
    void noteCommand(pg_result* result);

    // The name of a table by its object number, and of its column by number (cached).
    QString tableName(unsigned int oid);
    QString columnName(unsigned int oid, int number);
    // The table's single integer primary key, or empty (cached).
    QString integerKeyOf(const QString& table);
    // Whether this connection's role may write `table` (cached for the connection).
    bool mayWrite(const QString& table);

    // A name for a new prepared statement; the connection's generation changes when it is
    // made anew after being lost, and with it every prepared statement is gone.
    QByteArray nextStatementName();
    int generation() const { return m_generation; }
    // Prepared statements to drop at the next chance.
    void dropLater(const QByteArray& name, int generation);

    // A statement prepared on the server, shared by every ServerStatement of the same text: a
    // window that reads the same query at each click sends it once and then only executes it.
    struct Column {
        QString name;
        QString table;
        QString origin;
        unsigned int type = 0;
    };
    struct Prepared {
        QString text;
        QByteArray name;
        int generation = -1;
        int parameters = 0;
        std::vector<Column> columns;
        quint64 lastUse = 0;
        bool stale = false; // no longer fits its tables: prepared anew at the next run
    };
    // The prepared statement of `sqlText` (prepared now when it is not yet).
    std::shared_ptr<Prepared> prepared(const QString& sqlText);
    // Called by a statement done with `p`: dropped when it is no longer kept for reuse.
    void release(std::shared_ptr<Prepared>& p);
    // Forgets the prepared statement of `sqlText` (its plan no longer fits the tables).
    void forgetPrepared(const QString& sqlText);
    // Statements kept prepared now (for the tests).
    int preparedCount() const { return int(m_prepared.size()); }

    // Makes the connection anew when it was lost, outside a transaction; throws 3931 when the
    // server still cannot be reached.
    void ensureOpen();

    // Throws the program's error for a failed result (which it frees) or for the connection.
    [[noreturn]] void fail(pg_result* result, const QString& context);
    [[noreturn]] void failConnection(const QString& context);

  private:
    ServerConnection() = default;
    void open();
    void configure();
    void wake();
    void settle();
    void dropPending();
    void forgetAllPrepared();
    std::shared_ptr<Prepared> prepareNew(const QString& sqlText);
    void readColumnNames(unsigned int oid);

    QString m_address;
    pg_conn* m_conn = nullptr;
    int m_changes = 0;
    qint64 m_writes = 0;
    bool m_idleReply = false; // the reply to the command sent when it was kept idle is still due
    int m_generation = 0;
    quint64 m_serial = 0;
    std::vector<QByteArray> m_pendingDrops;
    QHash<QString, std::shared_ptr<Prepared>> m_prepared;
    quint64 m_uses = 0;
    QHash<unsigned int, QString> m_tables;
    QHash<quint64, QString> m_columns;
    QHash<QString, QString> m_keys;
    QHash<QString, bool> m_writable;
};

class ServerStatement {
  public:
    // Prepares `sqlText` (program SQL, in the server's dialect by now) on the connection.
    ServerStatement(ServerConnection& connection, const QString& sqlText);
    ~ServerStatement();
    ServerStatement(const ServerStatement&) = delete;
    ServerStatement& operator=(const ServerStatement&) = delete;

    void bind(int index, const QVariant& value); // 1-based
    bool step();
    void reset();
    QVariant value(int column) const;
    qint64 int64(int column) const;
    int columnCount() const { return int(m_prepared->columns.size()); }
    QString columnName(int column) const { return m_prepared->columns.at(size_t(column)).name; }
    QString columnTable(int column) const { return m_prepared->columns.at(size_t(column)).table; }
    QString columnOrigin(int column) const { return m_prepared->columns.at(size_t(column)).origin; }

  private:
    void prepare();
    void execute();
    void clearResult();

    ServerConnection& m_connection;
    QString m_text;
    std::shared_ptr<ServerConnection::Prepared> m_prepared;
    std::vector<std::optional<QByteArray>> m_values;
    std::vector<bool> m_binary;
    pg_result* m_result = nullptr;
    int m_row = -1;
    int m_rows = 0;
};

// The program's SQL (already translated for the file engine's words) in the server's dialect:
// `?` and `?N` markers become `$N`, quoted names are folded to lower case as the server stores
// them, `INSERT OR IGNORE` and `INSERT OR REPLACE` become `ON CONFLICT` clauses (the first column
// listed is the key), `like` compares ignoring case, and the word index's `match` becomes the
// server's text search.
QString serverDialect(const QString& sqlText);

namespace serverschema {
// The whole schema of a server archive, at this program's version.
QString ddl();
// Checks that the connected database holds an archive this program reads: 3343 or 3447.
void check(ServerConnection& connection);
// True when the database holds no table of its own (a transfer's or a new archive's target).
bool isEmpty(ServerConnection& connection);
} // namespace serverschema

} // namespace store
