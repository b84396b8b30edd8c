#include "store/Archive.h"

#include "store/Collation.h"
#include "store/Schema.h"
#include "store/Server.h"
#include "store/ServerEngine.h"
#include "store/Sql.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

#include <atomic>

namespace store {
namespace {

// How long a read or a save waits for another user's write lock before it gives up with 3260:
// short enough that the window never looks frozen.
constexpr int kBusyWaitMs = 2000;
constexpr int kPresenceWaitMs = 2000;

std::atomic<int> g_connections{0};

std::function<void(bool)>& waitNotifier()
{
    static std::function<void(bool)> notifier;
    return notifier;
}

thread_local bool t_waiting = false;

void beginWaiting()
{
    if (!t_waiting) {
        t_waiting = true;
        if (waitNotifier()) {
            waitNotifier()(true);
        }
    }
}

// Called whenever the engine returns: a wait for a lock, if there was one, is over.
void endWaiting()
{
    if (t_waiting) {
        t_waiting = false;
        if (waitNotifier()) {
            waitNotifier()(false);
        }
    }
}

void isNullFunction(sqlite3_context* ctx, int, sqlite3_value** argv)
{
    sqlite3_result_int(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? 1 : 0);
}

QByteArray nativePath(const QString& path)
{
    return QFileInfo(path).absoluteFilePath().toUtf8();
}

} // namespace

// ---------------------------------------------------------------- Statement

Statement::Statement(sqlite3* db, const QString& sqlText) : m_db(db)
{
    const QByteArray text = sqlText.toUtf8();
    const int rc = sqlite3_prepare_v2(db, text.constData(), int(text.size()), &m_stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
        throwSqlite(db, rc, sqlText);
    }
}

Statement::Statement(ServerConnection& server, const QString& sqlText)
    : m_server(std::make_unique<ServerStatement>(server, serverDialect(sqlText)))
{
}

Statement::~Statement()
{
    sqlite3_finalize(m_stmt);
}

Statement::Statement(Statement&& other) noexcept
    : m_db(other.m_db), m_stmt(other.m_stmt), m_server(std::move(other.m_server))
{
    other.m_stmt = nullptr;
}

Statement& Statement::operator=(Statement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = other.m_db;
        m_stmt = other.m_stmt;
        m_server = std::move(other.m_server);
        other.m_stmt = nullptr;
    }
    return *this;
}

void Statement::bind(int index, const QVariant& value)
{
    if (m_server) {
        m_server->bind(index, value);
        return;
    }
    int rc = SQLITE_OK;
    if (!value.isValid() || value.isNull()) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else {
        switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::Bool:
            rc = sqlite3_bind_int64(m_stmt, index, value.toLongLong());
            break;
        case QMetaType::Double:
        case QMetaType::Float:
            rc = sqlite3_bind_double(m_stmt, index, value.toDouble());
            break;
        case QMetaType::QByteArray: {
            const QByteArray b = value.toByteArray();
            rc = sqlite3_bind_blob(m_stmt, index, b.constData(), int(b.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            const QByteArray t = value.toString().toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, t.constData(), int(t.size()), SQLITE_TRANSIENT);
        }
        }
    }
    if (rc != SQLITE_OK) {
        throwSqlite(m_db, rc);
    }
}

void Statement::bindInt(int index, qint64 value)
{
    if (m_server) {
        m_server->bind(index, value);
        return;
    }
    const int rc = sqlite3_bind_int64(m_stmt, index, value);
    if (rc != SQLITE_OK) {
        throwSqlite(m_db, rc);
    }
}

void Statement::bindAll(const QVariantList& values, int firstIndex)
{
    for (int i = 0; i < values.size(); ++i) {
        bind(firstIndex + i, values.at(i));
    }
}

bool Statement::step()
{
    if (m_server) {
        return m_server->step();
    }
    const int rc = sqlite3_step(m_stmt);
    endWaiting();
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    sqlite3_reset(m_stmt);
    throwSqlite(m_db, rc);
}

void Statement::reset()
{
    if (m_server) {
        m_server->reset();
        return;
    }
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int Statement::columnCount() const
{
    if (m_server) {
        return m_server->columnCount();
    }
    return sqlite3_column_count(m_stmt);
}

QVariant Statement::value(int column) const
{
    if (m_server) {
        return m_server->value(column);
    }
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return QVariant(qint64(sqlite3_column_int64(m_stmt, column)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(m_stmt, column));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(m_stmt, column)),
                                   sqlite3_column_bytes(m_stmt, column)));
    case SQLITE_NULL:
        return QVariant();
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QVariant(QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, column)));
    }
    }
}

qint64 Statement::int64(int column) const
{
    if (m_server) {
        return m_server->int64(column);
    }
    return sqlite3_column_int64(m_stmt, column);
}

QString Statement::columnName(int column) const
{
    if (m_server) {
        return m_server->columnName(column);
    }
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString Statement::columnTable(int column) const
{
    if (m_server) {
        return m_server->columnTable(column);
    }
    const char* t = sqlite3_column_table_name(m_stmt, column);
    return t ? QString::fromUtf8(t) : QString();
}

QString Statement::columnOrigin(int column) const
{
    if (m_server) {
        return m_server->columnOrigin(column);
    }
    const char* t = sqlite3_column_origin_name(m_stmt, column);
    return t ? QString::fromUtf8(t) : QString();
}

// ---------------------------------------------------------------- Archive

struct Archive::BusyWait {
    QElapsedTimer clock;

    static int handler(void* context, int count)
    {
        auto* wait = static_cast<BusyWait*>(context);
        if (count == 0) {
            wait->clock.start();
            beginWaiting();
        }
        if (wait->clock.elapsed() >= kBusyWaitMs) {
            return 0; // give up: the caller reports the record locked
        }
        sqlite3_sleep(count < 10 ? 5 : 25);
        return 1;
    }
};

Archive::Archive() : m_busy(std::make_unique<BusyWait>()) {}

sqlite3* Archive::openConnection(const QString& path, int flags)
{
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(nativePath(path).constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        const int number = errorNumberFor(rc);
        sqlite3_close(db);
        throw DbError(number);
    }
    ++g_connections;
    return db;
}

void Archive::configure()
{
    sqlite3* db = m_db;
    sqlite3_extended_result_codes(db, 1);
    // Double-quoted texts are names, never string literals: a value must be bound, not quoted.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_handler(db, &BusyWait::handler, m_busy.get());
    // A window walks its lists in title order, reading rows all over the file: a page cache of
    // 8 MB (the engine's default is 2 MB) keeps what is browsed at hand. A search over much of the
    // catalogue widens it (Recordset), as each keystroke reads the same rows again.
    sqlite3_exec(db, "PRAGMA cache_size = -8192", nullptr, nullptr, nullptr);
    registerCollation(db);
    sqlite3_create_function_v2(db, "carteo_isnull", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, isNullFunction,
                               nullptr, nullptr, nullptr);
}

std::shared_ptr<Archive> Archive::openServer(const QString& address)
{
    std::shared_ptr<Archive> archive(new Archive());
    archive->m_path = server::shown(address);
    archive->m_server = ServerConnection::take(address);
    ++g_connections;
    serverschema::check(*archive->m_server);
    archive->m_keepConnection = true;
    return archive;
}

std::shared_ptr<Archive> Archive::open(const QString& path, Presence presence)
{
    if (server::isAddress(path)) {
        return openServer(path);
    }
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || !info.isFile()) {
        throw DbError(3024, QStringLiteral("Impossibile trovare il file '%1'.").arg(path));
    }
    std::shared_ptr<Archive> archive(new Archive());
    archive->m_path = info.absoluteFilePath();
    archive->m_db = openConnection(path, SQLITE_OPEN_READWRITE);
    archive->configure();
    // Check before anything can be written: a file that is not an archive stays as it was.
    schema::check(archive->m_db);
    if (presence == Presence::Shared) {
        archive->m_presence = PresenceLock::acquire(archive->m_path, PresenceLock::Mode::Shared);
        if (archive->m_presence) {
            // A repair may have put a new file in the archive's place while this connection waited
            // for the lock: work on the file that is there now, never on the one it replaced.
            sqlite3_close_v2(archive->m_db);
            --g_connections;
            archive->m_db = nullptr;
            archive->m_db = openConnection(path, SQLITE_OPEN_READWRITE);
            archive->configure();
            schema::check(archive->m_db);
        }
    }
    archive->upgradeIfOlder();
    return archive;
}

void Archive::upgradeIfOlder()
{
    try {
        schema::upgrade(m_db);
    } catch (const DbError& e) {
        // An archive that cannot be written now (a read-only file or folder, another user's long
        // write, a full disk) opens as it is, without the quick find; the next writer upgrades it.
        // The upgrade's transaction left it whole.
        const int n = e.number();
        if (n != ErrReadOnly && n != ErrLocked && n != ErrPermissionDenied && n != ErrDiskFull &&
            n != ErrDiskOrNetwork && n != ErrInUse) {
            throw;
        }
    }
}

bool Archive::hasWordIndex()
{
    if (m_server) {
        return true;
    }
    Statement st = prepareExact(
        QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('biblio_parole', 'biblio_testo')"));
    return st.step() && st.int64(0) == 2;
}

void Archive::createOnServer(const QString& address)
{
    std::unique_ptr<ServerConnection> server = ServerConnection::connect(address);
    if (!serverschema::isEmpty(*server)) {
        throw DbError(ErrServerNotEmpty,
                      QStringLiteral("Il database del server %1 non è vuoto: un nuovo archivio richiede un database "
                                     "vuoto.")
                          .arg(server::serverName(address)));
    }
    // One transaction: a failure leaves the database empty as it was.
    server->run(QStringLiteral("BEGIN;\n") + serverschema::ddl() + QStringLiteral("\nCOMMIT;"));
}

std::shared_ptr<Archive> Archive::openForTransfer(const QString& address)
{
    std::shared_ptr<Archive> archive(new Archive());
    archive->m_path = server::shown(address);
    archive->m_server = ServerConnection::connect(address);
    ++g_connections;
    QString script = QStringLiteral("BEGIN;\n") + serverschema::ddl();
    for (const char* table : {"biblio", "autore", "editori", "autbiblio", "lettori", "prestiti"}) {
        script += QStringLiteral("ALTER TABLE %1 DISABLE TRIGGER USER;\n").arg(QLatin1String(table));
    }
    // Links come without the server's own key for them: it is handed out as they are written.
    script += QStringLiteral("ALTER TABLE autbiblio ENABLE TRIGGER autbiblio_chiave;\n");
    archive->m_server->run(script);
    return archive;
}

void Archive::create(const QString& path)
{
    if (server::isAddress(path)) {
        createOnServer(path);
        return;
    }
    const QString target = QFileInfo(path).absoluteFilePath();
    if (QFileInfo::exists(target)) {
        throw DbError(ErrPermissionDenied);
    }
    // Built under a temporary name and renamed, so a failure never leaves half an archive.
    const QString temp = target + QStringLiteral(".nuovo");
    QFile::remove(temp);
    Archive fresh;
    fresh.m_db = openConnection(temp, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    sqlite3* db = fresh.m_db;
    try {
        fresh.configure();
        const QString script = QStringLiteral("PRAGMA page_size=4096; BEGIN; ") + schema::ddl() +
                               QStringLiteral("PRAGMA user_version=%1; COMMIT;").arg(kSchemaVersion);
        char* message = nullptr;
        const QByteArray text = script.toUtf8();
        const int rc = sqlite3_exec(db, text.constData(), nullptr, nullptr, &message);
        sqlite3_free(message);
        if (rc != SQLITE_OK) {
            throwSqlite(db, rc);
        }
    } catch (...) {
        sqlite3_close(db);
        fresh.m_db = nullptr;
        --g_connections;
        QFile::remove(temp);
        throw;
    }
    sqlite3_close(db);
    fresh.m_db = nullptr;
    --g_connections;
    if (!QFile::rename(temp, target)) {
        QFile::remove(temp);
        throw DbError(ErrPermissionDenied);
    }
}

Archive::~Archive()
{
    m_presence.reset();
    if (m_server) {
        // Kept idle for the next window on the same archive: a new connection is a new server
        // process, whose caches and statements start cold.
        if (m_keepConnection) {
            ServerConnection::keepIdle(std::move(m_server));
        }
        m_server.reset();
        --g_connections;
    }
    if (m_db) {
        sqlite3_close_v2(m_db);
        --g_connections;
    }
}

void Archive::exec(const QString& sqlText)
{
    if (m_server) {
        m_server->run(serverDialect(sql::renameFunctions(sqlText)));
        return;
    }
    const QByteArray text = sql::translate(sqlText).toUtf8();
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, text.constData(), nullptr, nullptr, &message);
    endWaiting();
    sqlite3_free(message);
    if (rc != SQLITE_OK) {
        throwSqlite(m_db, rc, sqlText);
    }
}

QString Archive::translate(const QString& sqlText) const
{
    return m_server ? sql::renameFunctions(sqlText) : sql::translate(sqlText);
}

Statement Archive::prepare(const QString& sqlText)
{
    if (m_server) {
        // The server's text columns carry the archive's collation themselves: sorting and
        // `distinct` need no word added.
        return Statement(*m_server, sql::renameFunctions(sqlText));
    }
    return Statement(m_db, sql::translate(sqlText));
}

Statement Archive::prepareExact(const QString& sqlText)
{
    if (m_server) {
        return Statement(*m_server, sqlText);
    }
    return Statement(m_db, sqlText);
}

bool Archive::inTransaction() const
{
    if (m_server) {
        return m_server->inTransaction();
    }
    return sqlite3_get_autocommit(m_db) == 0;
}

QString Archive::rowIdOf(const QString& table)
{
    if (m_server) {
        const QString key = m_server->integerKeyOf(table);
        return key.isEmpty() ? QStringLiteral("rowid") : key;
    }
    return QStringLiteral("rowid");
}

void Archive::requireWritable(const QString& table)
{
    if (m_server && !table.isEmpty() && !m_server->mayWrite(table)) {
        const server::Parts parts = server::partsOf(m_server->address());
        throw DbError(ErrPermissionDenied,
                      QStringLiteral("Permesso negato: l'utente '%1' può solo leggere l'archivio sul server %2.")
                          .arg(parts.user, server::serverName(m_server->address())));
    }
}

QString Archive::integerKeyOf(const QString& table)
{
    if (m_server) {
        return m_server->integerKeyOf(table);
    }
    Statement pk = prepareExact(QStringLiteral("SELECT name, type FROM pragma_table_info(?) WHERE pk > 0"));
    pk.bind(1, table);
    QString name;
    int count = 0;
    while (pk.step()) {
        ++count;
        if (pk.value(1).toString().compare(QStringLiteral("INTEGER"), Qt::CaseInsensitive) == 0) {
            name = pk.value(0).toString();
        }
    }
    return count == 1 ? name : QString();
}

std::pair<qint64, qint64> Archive::changeStamp()
{
    if (m_server) {
        // Every commit that wrote moves the server's counter; this connection's own writes count
        // before they are committed.
        Statement stamp = prepareExact(QStringLiteral("SELECT carteo_stato()"));
        stamp.step();
        return {stamp.int64(0), m_server->writes()};
    }
    Statement version = prepareExact(QStringLiteral("PRAGMA data_version"));
    version.step();
    return {version.int64(0), sqlite3_total_changes64(m_db)};
}

std::shared_ptr<const void> Archive::memo(const QString& key)
{
    if (!m_memo || key != m_memoKey || changeStamp() != m_memoStamp) {
        return nullptr;
    }
    return m_memo;
}

void Archive::setMemo(const QString& key, std::shared_ptr<const void> value)
{
    // What is read inside a transaction may be rolled back, and a rollback leaves no stamp.
    if (inTransaction()) {
        m_memo.reset();
        return;
    }
    m_memoKey = key;
    m_memo = std::move(value);
    m_memoStamp = changeStamp();
}

// ---------------------------------------------------------------- Transaction

Transaction::Transaction(Archive& archive) : m_archive(archive)
{
    if (m_archive.inTransaction()) {
        static int serial = 0;
        m_savepoint = QStringLiteral("passo%1").arg(++serial);
        m_archive.prepareExact(QStringLiteral("SAVEPOINT ") + m_savepoint).step();
    } else if (m_archive.onServer()) {
        // One writer at a time, as on a file archive: the archive's write lock is a lock of the
        // server's, waited for at most 2 s (the connection's lock_timeout) before 3260.
        m_archive.exec(QStringLiteral("BEGIN"));
        try {
            Statement quick = m_archive.prepareExact(QStringLiteral("SELECT pg_try_advisory_xact_lock(%1)").arg(kWriteLock));
            if (!quick.step() || quick.int64(0) == 0) {
                // Another desk is saving: the user interface is told while this one waits.
                beginWaiting();
                try {
                    m_archive.prepareExact(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kWriteLock)).step();
                } catch (...) {
                    endWaiting();
                    throw;
                }
                endWaiting();
            }
        } catch (...) {
            try {
                m_archive.exec(QStringLiteral("ROLLBACK"));
            } catch (...) {
            }
            throw;
        }
    } else {
        m_archive.prepareExact(QStringLiteral("BEGIN IMMEDIATE")).step();
    }
}

Transaction::~Transaction()
{
    if (!m_open) {
        return;
    }
    const QByteArray undo = m_savepoint.isEmpty()
                                ? QByteArray("ROLLBACK")
                                : ("ROLLBACK TO " + m_savepoint.toUtf8() + "; RELEASE " + m_savepoint.toUtf8());
    if (m_archive.onServer()) {
        try {
            m_archive.exec(QString::fromUtf8(undo));
        } catch (...) {
            // A lost connection has undone the transaction already.
        }
        return;
    }
    sqlite3_exec(m_archive.handle(), undo.constData(), nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    m_archive.prepareExact(m_savepoint.isEmpty() ? QStringLiteral("COMMIT") : QStringLiteral("RELEASE ") + m_savepoint)
        .step();
    m_open = false;
}

int openConnectionCount()
{
    return g_connections.load();
}

void setWaitNotifier(std::function<void(bool waiting)> notifier)
{
    waitNotifier() = std::move(notifier);
}

qint64 Archive::lastInsertRowId() const
{
    if (m_server) {
        return m_server->lastKey();
    }
    return sqlite3_last_insert_rowid(m_db);
}

int Archive::changes() const
{
    if (m_server) {
        return m_server->changes();
    }
    return sqlite3_changes(m_db);
}

// ---------------------------------------------------------------- PresenceLock

QString PresenceLock::lockFilePath(const QString& archivePath)
{
    // Every name of the same file (a link, another spelling) shares one lock.
    const QFileInfo info(archivePath);
    const QString canonical = info.canonicalFilePath();
    return (canonical.isEmpty() ? info.absoluteFilePath() : canonical) + QStringLiteral("-presenza");
}

std::unique_ptr<PresenceLock> PresenceLock::acquire(const QString& archivePath, Mode mode)
{
    // A server keeps its own account of who is connected: no lock file there.
    if (server::isAddress(archivePath)) {
        return nullptr;
    }
    sqlite3* db = nullptr;
    const QByteArray lockPath = lockFilePath(archivePath).toUtf8();
    if (sqlite3_open_v2(lockPath.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr; // read-only folder: presence cannot be recorded
    }
    ++g_connections;
    sqlite3_busy_timeout(db, mode == Mode::Shared ? kPresenceWaitMs : 0);
    // A deferred transaction that has read keeps a shared lock on the file until it ends; an
    // exclusive transaction cannot start while any such lock is held, here or on another computer.
    const char* script = mode == Mode::Shared ? "BEGIN; SELECT count(*) FROM sqlite_master;" : "BEGIN EXCLUSIVE;";
    const int rc = sqlite3_exec(db, script, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        --g_connections;
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            throw DbError(ErrInUse);
        }
        return nullptr;
    }
    std::unique_ptr<PresenceLock> lock(new PresenceLock());
    lock->m_db = db;
    return lock;
}

bool PresenceLock::inUse(const QString& archivePath)
{
    try {
        acquire(archivePath, Mode::Exclusive);
        return false;
    } catch (const DbError&) {
        return true;
    }
}

PresenceLock::~PresenceLock()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(m_db);
    --g_connections;
}

} // namespace store
