#include "store/ServerEngine.h"

#include "store/DbError.h"
#include "store/Server.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <libpq-fe.h>

#include <algorithm>
#include <mutex>

namespace store::server {
// Server.cpp: the password of this run for an address, and forgetting a refused one.
std::optional<QString> passwordFor(const QString& address, bool ask);
void forgetPassword(const QString& address);
} // namespace store::server

namespace store {
namespace {

constexpr Oid kBool = 16;
constexpr Oid kBytea = 17;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kText = 25;
constexpr Oid kOid = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kNumeric = 1700;

// Statements kept prepared on a connection at most: a window's queries, its lists' pages and
// finds, the edits of a few tables.
constexpr int kKeptPrepared = 200;

QString fromPg(const char* text)
{
    return text ? QString::fromUtf8(text).trimmed() : QString();
}

QString sqlState(const PGresult* result)
{
    return result ? fromPg(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QString();
}

// The program's number for a server's SQLSTATE.
int numberFor(const QString& state)
{
    static const QHash<QString, int> exact = {
        {QStringLiteral("23505"), ErrDuplicateKey},     {QStringLiteral("23514"), ErrDuplicateKey},
        {QStringLiteral("23502"), ErrDuplicateKey},     {QStringLiteral("23503"), ErrDuplicateKey},
        {QStringLiteral("55P03"), ErrLocked},           {QStringLiteral("40P01"), ErrLocked},
        {QStringLiteral("40001"), ErrLocked},           {QStringLiteral("55006"), ErrInUse},
        {QStringLiteral("42501"), ErrPermissionDenied}, {QStringLiteral("25006"), ErrReadOnly},
        {QStringLiteral("P0001"), ErrRefusedByArchive}, {QStringLiteral("53100"), ErrDiskFull},
        {QStringLiteral("3D000"), 3024},                {QStringLiteral("28P01"), ErrServerLogin},
        {QStringLiteral("28000"), ErrServerLogin},      {QStringLiteral("57014"), ErrDialogCancelled},
    };
    if (const auto it = exact.constFind(state); it != exact.constEnd()) {
        return *it;
    }
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P"))) {
        return ErrServerUnreachable;
    }
    if (state.startsWith(QLatin1String("22"))) {
        return ErrTypeMismatch;
    }
    if (state.startsWith(QLatin1String("42"))) {
        return ErrSyntax;
    }
    if (state.startsWith(QLatin1String("53")) || state.startsWith(QLatin1String("58"))) {
        return ErrDiskOrNetwork;
    }
    return ErrDiskOrNetwork;
}

// Connections kept idle per server address: enough for the books window and a desk opened again.
constexpr int kIdlePerAddress = 2;

// What the server shows of a connection kept idle: no archive is open on it, so the maintenance of
// another desk does not count it as a user.
constexpr const char* kIdleApplication = "Carteo inattivo";

struct IdleConnections {
    std::mutex mutex;
    std::vector<std::unique_ptr<ServerConnection>> kept; // the oldest first
};

// Destroyed at the program's end, which closes every connection kept: nothing is left to the server.
IdleConnections& idleConnections()
{
    static IdleConnections idle;
    return idle;
}

QString unreachableText(const QString& address)
{
    return QStringLiteral("Impossibile raggiungere il server %1 dell'archivio: controllare la rete e che il server "
                          "sia acceso, poi riprovare.")
        .arg(server::serverName(address));
}

} // namespace

// ---------------------------------------------------------------- ServerConnection

std::unique_ptr<ServerConnection> ServerConnection::connect(const QString& address)
{
    std::unique_ptr<ServerConnection> c(new ServerConnection());
    c->m_address = address;
    c->open();
    return c;
}

void ServerConnection::open()
{
    const server::Parts parts = server::partsOf(m_address);
    QList<QByteArray> keys;
    QList<QByteArray> values;
    auto add = [&](const char* key, const QString& value) {
        if (!value.isEmpty()) {
            keys << QByteArray(key);
            values << value.toUtf8();
        }
    };
    add("host", parts.host);
    add("port", QString::number(parts.port));
    add("dbname", parts.database);
    add("user", parts.user);
    add("sslmode", parts.sslmode);
    add("application_name", QStringLiteral("Carteo"));
    add("connect_timeout", QStringLiteral("5"));
    add("client_encoding", QStringLiteral("UTF8"));
    for (const QString& pair : parts.options.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0) {
            keys << QUrl::fromPercentEncoding(pair.left(eq).toUtf8()).toUtf8();
            values << QUrl::fromPercentEncoding(pair.mid(eq + 1).toUtf8()).toUtf8();
        }
    }
    std::optional<QString> password = server::passwordFor(m_address, false);
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::vector<const char*> k;
        std::vector<const char*> v;
        for (int i = 0; i < keys.size(); ++i) {
            k.push_back(keys.at(i).constData());
            v.push_back(values.at(i).constData());
        }
        const QByteArray secret = password ? password->toUtf8() : QByteArray();
        if (!secret.isEmpty()) {
            k.push_back("password");
            v.push_back(secret.constData());
        }
        k.push_back(nullptr);
        v.push_back(nullptr);
        PGconn* conn = PQconnectdbParams(k.data(), v.data(), 0);
        if (conn && PQstatus(conn) == CONNECTION_OK) {
            m_conn = conn;
            configure();
            return;
        }
        const QString message = conn ? fromPg(PQerrorMessage(conn)) : QString();
        const bool wantsPassword = conn && PQconnectionNeedsPassword(conn);
        const bool usedPassword = conn && PQconnectionUsedPassword(conn);
        PQfinish(conn);
        const QString detail = QStringLiteral("PostgreSQL: %1").arg(message);
        if (wantsPassword && attempt == 0 && secret.isEmpty()) {
            password = server::passwordFor(m_address, true);
            if (!password) {
                throw DbError(ErrDialogCancelled, DbError::describe(ErrDialogCancelled), detail);
            }
            continue;
        }
        const QString shownServer = server::serverName(m_address);
        if (wantsPassword || usedPassword || message.contains(QLatin1String("authentication failed")) ||
            message.contains(QLatin1String("role \""))) {
            server::forgetPassword(m_address);
            throw DbError(ErrServerLogin,
                          QStringLiteral("Il server %1 ha rifiutato l'accesso: nome utente o password non validi.")
                              .arg(shownServer),
                          detail);
        }
        if (message.contains(QLatin1String("database \"")) && message.contains(QLatin1String("does not exist"))) {
            throw DbError(3024,
                          QStringLiteral("Il database '%1' non esiste sul server %2.").arg(parts.database, shownServer),
                          detail);
        }
        throw DbError(ErrServerUnreachable, unreachableText(m_address), detail);
    }
    throw DbError(ErrServerUnreachable, unreachableText(m_address));
}

std::unique_ptr<ServerConnection> ServerConnection::take(const QString& address)
{
    std::unique_ptr<ServerConnection> kept;
    {
        IdleConnections& idle = idleConnections();
        const std::lock_guard<std::mutex> lock(idle.mutex);
        for (auto it = idle.kept.end(); it != idle.kept.begin();) {
            --it;
            if ((*it)->m_address == address) {
                kept = std::move(*it);
                idle.kept.erase(it);
                break;
            }
        }
    }
    if (kept) {
        try {
            kept->wake();
            return kept;
        } catch (const DbError&) {
            // Lost while idle (the server restarted, the database was dropped): a new connection.
            kept.reset();
        }
    }
    return connect(address);
}

void ServerConnection::keepIdle(std::unique_ptr<ServerConnection> connection)
{
    if (!connection || !connection->m_conn || connection->m_idleReply ||
        PQstatus(connection->m_conn) != CONNECTION_OK || PQtransactionStatus(connection->m_conn) != PQTRANS_IDLE) {
        return;
    }
    // Marked idle, and the key of its last insert forgotten, as a new connection has none. Only
    // sent: the reply is read when the connection is taken again, so closing never waits.
    const QByteArray idleText = QByteArray("SELECT set_config('application_name', '") + kIdleApplication +
                                "', false), set_config('carteo.ultima_chiave', '', false)";
    if (PQsendQuery(connection->m_conn, idleText.constData()) != 1) {
        return;
    }
    connection->m_idleReply = true;
    std::unique_ptr<ServerConnection> surplus;
    {
        IdleConnections& idle = idleConnections();
        const std::lock_guard<std::mutex> lock(idle.mutex);
        const QString address = connection->m_address;
        idle.kept.push_back(std::move(connection));
        const auto same = [&address](const std::unique_ptr<ServerConnection>& c) { return c->m_address == address; };
        if (std::count_if(idle.kept.begin(), idle.kept.end(), same) > kIdlePerAddress) {
            const auto oldest = std::find_if(idle.kept.begin(), idle.kept.end(), same);
            surplus = std::move(*oldest);
            idle.kept.erase(oldest);
        }
    }
    if (surplus) {
        surplus->settle();
    }
}

void ServerConnection::settle()
{
    // A connection closed from the idle ones is shown as idle until its server process has gone:
    // its mark is waited for, as the process ends only a moment after the close.
    if (m_idleReply) {
        while (PGresult* r = PQgetResult(m_conn)) {
            PQclear(r);
        }
        m_idleReply = false;
    }
}

void ServerConnection::closeIdle(const QString& address)
{
    std::vector<std::unique_ptr<ServerConnection>> closing;
    {
        IdleConnections& idle = idleConnections();
        const std::lock_guard<std::mutex> lock(idle.mutex);
        for (auto it = idle.kept.begin(); it != idle.kept.end();) {
            if (address.isEmpty() || (*it)->m_address == address) {
                closing.push_back(std::move(*it));
                it = idle.kept.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const std::unique_ptr<ServerConnection>& c : closing) {
        c->settle();
    }
}

int ServerConnection::idleCount(const QString& address)
{
    IdleConnections& idle = idleConnections();
    const std::lock_guard<std::mutex> lock(idle.mutex);
    return int(
        std::count_if(idle.kept.begin(), idle.kept.end(), [&address](const std::unique_ptr<ServerConnection>& c) {
            return address.isEmpty() || c->m_address == address;
        }));
}

QList<int> ServerConnection::idleProcesses(const QString& address)
{
    QList<int> pids;
    IdleConnections& idle = idleConnections();
    const std::lock_guard<std::mutex> lock(idle.mutex);
    for (const std::unique_ptr<ServerConnection>& c : idle.kept) {
        if (c->m_address == address) {
            pids << PQbackendPID(c->m_conn);
        }
    }
    return pids;
}

void ServerConnection::wake()
{
    // The reply to what was sent when it was kept; an error or none means the connection is lost.
    bool answered = false;
    bool failed = false;
    while (PGresult* r = PQgetResult(m_conn)) {
        answered = true;
        failed = failed || PQresultStatus(r) != PGRES_TUPLES_OK;
        PQclear(r);
    }
    m_idleReply = false;
    if (!answered || failed || PQstatus(m_conn) != CONNECTION_OK) {
        failConnection({});
    }
    // Also tells whether the server still answers now.
    run(QStringLiteral("SET application_name = 'Carteo'"));
    m_changes = 0;
    // Another user may have changed this role's rights meanwhile.
    m_writable.clear();
}

void ServerConnection::configure()
{
    // A read or a save waits at most 2 s for another user's lock, as on a file archive.
    run(QStringLiteral("SET lock_timeout = '2s'; SET client_min_messages = warning; SET datestyle = 'ISO, DMY'"));
}

ServerConnection::~ServerConnection()
{
    PQfinish(m_conn);
}

void ServerConnection::ensureOpen()
{
    if (PQstatus(m_conn) == CONNECTION_OK) {
        return;
    }
    PQreset(m_conn);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        failConnection({});
    }
    ++m_generation;
    m_pendingDrops.clear();
    m_prepared.clear();
    m_writable.clear();
    configure();
}

void ServerConnection::failConnection(const QString& context)
{
    QString detail = QStringLiteral("PostgreSQL: %1").arg(fromPg(PQerrorMessage(m_conn)));
    if (!context.isEmpty()) {
        detail += QStringLiteral("; SQL: ") + context;
    }
    throw DbError(ErrServerUnreachable,
                  QStringLiteral("Il collegamento con il server %1 si è interrotto: l'operazione non è stata "
                                 "completata. Controllare la rete e riprovare.")
                      .arg(server::serverName(m_address)),
                  detail);
}

void ServerConnection::fail(PGresult* result, const QString& context)
{
    const QString state = sqlState(result);
    const QString message = result ? fromPg(PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY)) : QString();
    const QString table = result ? fromPg(PQresultErrorField(result, PG_DIAG_TABLE_NAME)) : QString();
    PQclear(result);
    if (PQstatus(m_conn) != CONNECTION_OK || state.isEmpty()) {
        failConnection(context);
    }
    QString detail = QStringLiteral("PostgreSQL %1: %2").arg(state, message);
    if (!context.isEmpty()) {
        detail += QStringLiteral("; SQL: ") + context;
    }
    const int number = numberFor(state);
    if (number == ErrServerUnreachable) {
        failConnection(context);
    }
    if (state == QLatin1String("42P01") &&
        (message.contains(QLatin1String("\"lettori\"")) || message.contains(QLatin1String("\"prestiti\"")))) {
        throw DbError(ErrNoLoans, DbError::describe(ErrNoLoans), detail);
    }
    if (number == ErrRefusedByArchive && !message.isEmpty()) {
        throw DbError(number, message, detail);
    }
    if (number == ErrPermissionDenied) {
        const server::Parts parts = server::partsOf(m_address);
        throw DbError(number,
                      QStringLiteral("Permesso negato: l'utente '%1' può solo leggere l'archivio sul server %2.")
                          .arg(parts.user, server::serverName(m_address)),
                      detail);
    }
    Q_UNUSED(table);
    QString description = DbError::describe(number);
    if (number == ErrSyntax || number == ErrDuplicateKey) {
        description += QLatin1Char(' ') + message;
    }
    throw DbError(number, description, detail);
}

void ServerConnection::run(const QString& sqlText)
{
    ensureOpen();
    // A change of the tables may change what a kept statement returns: they are prepared anew.
    static const QRegularExpression ddl(QStringLiteral("\\b(CREATE|DROP|ALTER)\\b"),
                                        QRegularExpression::CaseInsensitiveOption);
    if (!m_prepared.isEmpty() && ddl.match(sqlText).hasMatch()) {
        forgetAllPrepared();
    }
    dropPending();
    PGresult* r = PQexec(m_conn, sqlText.toUtf8().constData());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY) {
        fail(r, sqlText);
    }
    noteCommand(r);
    PQclear(r);
}

PGresult* ServerConnection::query(const QString& sqlText, const QVariantList& values)
{
    ensureOpen();
    QList<QByteArray> texts;
    std::vector<const char*> pointers;
    for (const QVariant& v : values) {
        texts << v.toString().toUtf8();
    }
    for (int i = 0; i < values.size(); ++i) {
        pointers.push_back(values.at(i).isNull() ? nullptr : texts.at(i).constData());
    }
    PGresult* r = PQexecParams(m_conn, sqlText.toUtf8().constData(), int(values.size()), nullptr, pointers.data(),
                               nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        fail(r, sqlText);
    }
    return r;
}

qint64 ServerConnection::lastKey()
{
    PGresult* r = query(QStringLiteral("SELECT current_setting('carteo.ultima_chiave', true)"));
    const qint64 key = PQntuples(r) > 0 ? QByteArray(PQgetvalue(r, 0, 0)).toLongLong() : 0;
    PQclear(r);
    return key;
}

bool ServerConnection::inTransaction() const
{
    const PGTransactionStatusType s = PQtransactionStatus(m_conn);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR || s == PQTRANS_ACTIVE;
}

void ServerConnection::noteCommand(PGresult* result)
{
    const char* status = PQcmdStatus(result);
    if (!status) {
        return;
    }
    const QByteArray s(status);
    if (s.startsWith("INSERT") || s.startsWith("UPDATE") || s.startsWith("DELETE") || s.startsWith("MERGE")) {
        m_changes = QByteArray(PQcmdTuples(result)).toInt();
        if (m_changes > 0) {
            ++m_writes;
        }
    } else if (s.startsWith("CREATE") || s.startsWith("DROP") || s.startsWith("ALTER") || s.startsWith("TRUNCATE")) {
        ++m_writes;
        if (!s.startsWith("TRUNCATE")) {
            forgetAllPrepared();
        }
    }
}

QString ServerConnection::tableName(unsigned int oid)
{
    if (oid == 0) {
        return {};
    }
    if (const auto it = m_tables.constFind(oid); it != m_tables.constEnd()) {
        return *it;
    }
    PGresult* r = query(QStringLiteral("SELECT relname FROM pg_class WHERE oid = $1"), {qint64(oid)});
    const QString name = PQntuples(r) > 0 ? QString::fromUtf8(PQgetvalue(r, 0, 0)) : QString();
    PQclear(r);
    m_tables.insert(oid, name);
    return name;
}

QString ServerConnection::columnName(unsigned int oid, int number)
{
    if (oid == 0 || number <= 0) {
        return {};
    }
    const quint64 key = (quint64(oid) << 16) | quint64(number);
    if (!m_columns.contains(key)) {
        readColumnNames(oid);
        if (!m_columns.contains(key)) {
            m_columns.insert(key, QString()); // not there: not asked again
        }
    }
    return m_columns.value(key);
}

void ServerConnection::readColumnNames(unsigned int oid)
{
    // Every column of the table in one round trip: a statement over a table names most of them.
    PGresult* r = query(QStringLiteral("SELECT attnum, attname FROM pg_attribute WHERE attrelid = $1 AND attnum > 0"),
                        {qint64(oid)});
    for (int i = 0; i < PQntuples(r); ++i) {
        const quint64 number = QByteArray(PQgetvalue(r, i, 0)).toULongLong();
        m_columns.insert((quint64(oid) << 16) | number, QString::fromUtf8(PQgetvalue(r, i, 1)));
    }
    PQclear(r);
}

QString ServerConnection::integerKeyOf(const QString& table)
{
    const QString t = table.toLower();
    if (const auto it = m_keys.constFind(t); it != m_keys.constEnd()) {
        return *it;
    }
    PGresult* r = query(QStringLiteral("SELECT a.attname, a.atttypid FROM pg_index i JOIN pg_attribute a ON "
                                       "a.attrelid = i.indrelid AND a.attnum = ANY (i.indkey) WHERE i.indisprimary "
                                       "AND i.indrelid = to_regclass($1)"),
                        {t});
    QString name;
    if (PQntuples(r) == 1) {
        const Oid type = Oid(QByteArray(PQgetvalue(r, 0, 1)).toUInt());
        if (type == kInt8 || type == kInt4 || type == kInt2) {
            name = QString::fromUtf8(PQgetvalue(r, 0, 0));
        }
    }
    PQclear(r);
    m_keys.insert(t, name);
    return name;
}

bool ServerConnection::mayWrite(const QString& table)
{
    const QString t = table.toLower();
    if (const auto it = m_writable.constFind(t); it != m_writable.constEnd()) {
        return *it;
    }
    PGresult* r = query(QStringLiteral("SELECT to_regclass($1) IS NULL OR has_table_privilege(to_regclass($1), "
                                       "'INSERT, UPDATE, DELETE')"),
                        {t});
    const bool may = PQntuples(r) > 0 && QByteArray(PQgetvalue(r, 0, 0)) == "t";
    PQclear(r);
    m_writable.insert(t, may);
    return may;
}

QByteArray ServerConnection::nextStatementName()
{
    return "carteo_" + QByteArray::number(++m_serial);
}

void ServerConnection::dropLater(const QByteArray& name, int generation)
{
    if (generation == m_generation && !name.isEmpty()) {
        m_pendingDrops.push_back(name);
    }
}

void ServerConnection::dropPending()
{
    // Dropped in one round trip, outside a failed transaction (where the server refuses everything).
    if (m_pendingDrops.empty() || PQtransactionStatus(m_conn) == PQTRANS_INERROR) {
        return;
    }
    QByteArray script;
    for (const QByteArray& name : m_pendingDrops) {
        script += "DEALLOCATE " + name + ";";
    }
    m_pendingDrops.clear();
    PQclear(PQexec(m_conn, script.constData()));
}

std::shared_ptr<ServerConnection::Prepared> ServerConnection::prepared(const QString& sqlText)
{
    ensureOpen();
    if (const auto it = m_prepared.constFind(sqlText); it != m_prepared.constEnd()) {
        if ((*it)->generation == m_generation) {
            (*it)->lastUse = ++m_uses;
            return *it;
        }
        // Made on a connection that was lost: the server forgot it with the connection.
        m_prepared.erase(it);
    }
    std::shared_ptr<Prepared> p = prepareNew(sqlText);
    p->lastUse = ++m_uses;
    m_prepared.insert(sqlText, p);
    if (m_prepared.size() > kKeptPrepared) {
        // The least used half of those no statement holds now makes room.
        std::vector<std::pair<quint64, QString>> idle;
        for (auto it = m_prepared.cbegin(); it != m_prepared.cend(); ++it) {
            if (it.value().use_count() == 1) {
                idle.emplace_back(it.value()->lastUse, it.key());
            }
        }
        std::sort(idle.begin(), idle.end());
        for (size_t i = 0; i < idle.size() / 2; ++i) {
            const std::shared_ptr<Prepared> gone = m_prepared.take(idle[i].second);
            dropLater(gone->name, gone->generation);
        }
    }
    return p;
}

std::shared_ptr<ServerConnection::Prepared> ServerConnection::prepareNew(const QString& sqlText)
{
    auto p = std::make_shared<Prepared>();
    p->text = sqlText;
    p->name = nextStatementName();
    p->generation = m_generation;
    const QByteArray text = sqlText.toUtf8();
    PGresult* r = PQprepare(m_conn, p->name.constData(), text.constData(), 0, nullptr);
    if (PQresultStatus(r) != PGRES_COMMAND_OK) {
        // A marker whose type the server cannot tell from the text (`? IS NULL`) is taken as text.
        if (sqlState(r) == QLatin1String("42P18")) {
            PQclear(r);
            static const QRegularExpression markers(QStringLiteral("\\$(\\d+)"));
            int count = 0;
            for (auto it = markers.globalMatch(sqlText); it.hasNext();) {
                count = std::max(count, it.next().captured(1).toInt());
            }
            std::vector<Oid> types(size_t(count), kText);
            r = PQprepare(m_conn, p->name.constData(), text.constData(), count, types.data());
            if (PQresultStatus(r) != PGRES_COMMAND_OK) {
                fail(r, sqlText);
            }
        } else {
            fail(r, sqlText);
        }
    }
    PQclear(r);
    PGresult* d = PQdescribePrepared(m_conn, p->name.constData());
    if (PQresultStatus(d) != PGRES_COMMAND_OK) {
        dropLater(p->name, p->generation);
        fail(d, sqlText);
    }
    p->parameters = PQnparams(d);
    const int fields = PQnfields(d);
    std::vector<std::pair<Oid, int>> origins;
    for (int i = 0; i < fields; ++i) {
        Column c;
        c.name = QString::fromUtf8(PQfname(d, i));
        c.type = PQftype(d, i);
        p->columns.push_back(c);
        origins.emplace_back(PQftable(d, i), PQftablecol(d, i));
    }
    PQclear(d);
    for (int i = 0; i < fields; ++i) {
        const Oid table = origins[size_t(i)].first;
        if (table != InvalidOid) {
            p->columns[size_t(i)].table = tableName(table);
            p->columns[size_t(i)].origin = columnName(table, origins[size_t(i)].second);
        }
    }
    return p;
}

void ServerConnection::release(std::shared_ptr<Prepared>& p)
{
    if (!p) {
        return;
    }
    const auto it = m_prepared.constFind(p->text);
    const bool kept = it != m_prepared.constEnd() && *it == p;
    if (!kept && p.use_count() == 1) {
        dropLater(p->name, p->generation);
    }
    p.reset();
}

void ServerConnection::forgetPrepared(const QString& sqlText)
{
    if (const std::shared_ptr<Prepared> p = m_prepared.take(sqlText); p && p.use_count() == 1) {
        dropLater(p->name, p->generation);
    }
}

void ServerConnection::forgetAllPrepared()
{
    // Those still held are dropped when their statements are done with them (release()).
    for (auto it = m_prepared.cbegin(); it != m_prepared.cend(); ++it) {
        if (it.value().use_count() == 1) {
            dropLater(it.value()->name, it.value()->generation);
        }
    }
    m_prepared.clear();
}

// ---------------------------------------------------------------- ServerStatement

ServerStatement::ServerStatement(ServerConnection& connection, const QString& sqlText)
    : m_connection(connection), m_text(sqlText)
{
    prepare();
}

ServerStatement::~ServerStatement()
{
    clearResult();
    m_connection.release(m_prepared);
}

void ServerStatement::prepare()
{
    m_connection.release(m_prepared);
    m_prepared = m_connection.prepared(m_text);
    m_values.resize(size_t(m_prepared->parameters));
    m_binary.resize(size_t(m_prepared->parameters), false);
}

void ServerStatement::bind(int index, const QVariant& value)
{
    const int parameters = m_prepared->parameters;
    if (index < 1 || index > parameters) {
        throw DbError(ErrInvalidProcedure, DbError::describe(ErrInvalidProcedure),
                      QStringLiteral("marker %1 of %2; SQL: %3").arg(index).arg(parameters).arg(m_text));
    }
    const size_t i = size_t(index - 1);
    m_binary[i] = false;
    if (!value.isValid() || value.isNull()) {
        m_values[i].reset();
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        m_values[i] = value.toBool() ? QByteArray("1") : QByteArray("0");
        break;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
        m_values[i] = QByteArray::number(value.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        m_values[i] = QByteArray::number(value.toDouble(), 'g', 17);
        break;
    case QMetaType::QByteArray:
        m_values[i] = value.toByteArray();
        m_binary[i] = true;
        break;
    case QMetaType::QDate:
        m_values[i] = value.toDate().toString(Qt::ISODate).toUtf8();
        break;
    default:
        m_values[i] = value.toString().toUtf8();
    }
}

void ServerStatement::execute()
{
    clearResult();
    if (m_prepared->stale || m_prepared->generation != m_connection.generation() ||
        PQstatus(m_connection.handle()) != CONNECTION_OK) {
        m_connection.ensureOpen();
        prepare();
    }
    const int parameters = m_prepared->parameters;
    std::vector<const char*> values(size_t(parameters), nullptr);
    std::vector<int> lengths(size_t(parameters), 0);
    std::vector<int> formats(size_t(parameters), 0);
    for (size_t i = 0; i < size_t(parameters); ++i) {
        if (m_values[i]) {
            values[i] = m_values[i]->constData();
            lengths[i] = int(m_values[i]->size());
            formats[i] = m_binary[i] ? 1 : 0;
        }
    }
    PGconn* conn = m_connection.handle();
    PGresult* r = PQexecPrepared(conn, m_prepared->name.constData(), parameters, values.data(), lengths.data(),
                                 formats.data(), 0);
    ExecStatusType status = PQresultStatus(r);
    // A statement kept prepared while another desk changed a table's columns (an upgrade, a
    // repair) no longer fits it: outside a transaction, where nothing was lost, it is prepared
    // anew and run again.
    // Inside a transaction the error stands (the transaction is lost), and the next run prepares it
    // anew.
    if (status == PGRES_FATAL_ERROR && sqlState(r) == QLatin1String("0A000")) {
        m_connection.forgetPrepared(m_text);
        m_prepared->stale = true;
        if (PQtransactionStatus(conn) == PQTRANS_IDLE) {
            PQclear(r);
            prepare();
            r = PQexecPrepared(conn, m_prepared->name.constData(), parameters, values.data(), lengths.data(),
                               formats.data(), 0);
            status = PQresultStatus(r);
        }
    }
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        m_connection.fail(r, m_text);
    }
    m_connection.noteCommand(r);
    m_result = r;
    m_rows = PQntuples(r);
    m_row = -1;
}

bool ServerStatement::step()
{
    if (!m_result) {
        execute();
    }
    if (++m_row < m_rows) {
        return true;
    }
    // Done: the next step runs the statement again, as the file engine's statements do.
    clearResult();
    return false;
}

void ServerStatement::reset()
{
    clearResult();
    for (auto& v : m_values) {
        v.reset();
    }
}

void ServerStatement::clearResult()
{
    PQclear(m_result);
    m_result = nullptr;
    m_row = -1;
    m_rows = 0;
}

QVariant ServerStatement::value(int column) const
{
    const auto& columns = m_prepared->columns;
    if (!m_result || m_row < 0 || m_row >= m_rows || column < 0 || column >= int(columns.size()) ||
        PQgetisnull(m_result, m_row, column)) {
        return {};
    }
    const char* text = PQgetvalue(m_result, m_row, column);
    const int length = PQgetlength(m_result, m_row, column);
    switch (columns[size_t(column)].type) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QVariant(QByteArray::fromRawData(text, length).toLongLong());
    case kBool:
        return QVariant(qint64(text[0] == 't' ? 1 : 0));
    case kFloat4:
    case kFloat8:
        return QVariant(QByteArray::fromRawData(text, length).toDouble());
    case kNumeric: {
        // Whole amounts read back as whole numbers, as the file archive keeps them.
        const QByteArray n(text, length);
        if (!n.contains('.') && !n.contains('e') && !n.contains('E') && !n.contains('N')) {
            bool ok = false;
            const qint64 whole = n.toLongLong(&ok);
            if (ok) {
                return QVariant(whole);
            }
        }
        if (n.contains('.') && !n.contains('e')) {
            // 9.50 is 9.5; 8.00 is 8.
            QByteArray t = n;
            while (t.endsWith('0')) {
                t.chop(1);
            }
            if (t.endsWith('.')) {
                t.chop(1);
                bool ok = false;
                const qint64 whole = t.toLongLong(&ok);
                if (ok) {
                    return QVariant(whole);
                }
            }
        }
        return QVariant(n.toDouble());
    }
    case kBytea: {
        const QByteArray hex(text, length);
        return QVariant(hex.startsWith("\\x") ? QByteArray::fromHex(hex.mid(2)) : hex);
    }
    default:
        return QVariant(QString::fromUtf8(text, length));
    }
}

qint64 ServerStatement::int64(int column) const
{
    const auto& columns = m_prepared->columns;
    if (!m_result || m_row < 0 || m_row >= m_rows || column < 0 || column >= int(columns.size()) ||
        PQgetisnull(m_result, m_row, column)) {
        return 0;
    }
    const Oid type = columns[size_t(column)].type;
    if (type == kInt2 || type == kInt4 || type == kInt8) {
        return QByteArray::fromRawData(PQgetvalue(m_result, m_row, column), PQgetlength(m_result, m_row, column))
            .toLongLong();
    }
    return value(column).toLongLong();
}

// ---------------------------------------------------------------- dialect

namespace {

QString withMarkersAndNames(const QString& text)
{
    QString out;
    out.reserve(text.size() + 16);
    int marker = 0;
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'')) {
            int j = i + 1;
            while (j < n) {
                if (text.at(j) == QLatin1Char('\'')) {
                    if (j + 1 < n && text.at(j + 1) == QLatin1Char('\'')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out += text.mid(i, j - i + 1);
            i = j;
        } else if (c == QLatin1Char('"')) {
            int j = i + 1;
            while (j < n) {
                if (text.at(j) == QLatin1Char('"')) {
                    if (j + 1 < n && text.at(j + 1) == QLatin1Char('"')) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            // Names are case-insensitive to the program; the server keeps them in lower case.
            out += text.mid(i, j - i + 1).toLower();
            i = j;
        } else if (c == QLatin1Char('-') && i + 1 < n && text.at(i + 1) == QLatin1Char('-')) {
            const int end = text.indexOf(QLatin1Char('\n'), i);
            const int stop = end < 0 ? n : end;
            out += text.mid(i, stop - i);
            i = stop - 1;
        } else if (c == QLatin1Char('?')) {
            int j = i + 1;
            while (j < n && text.at(j).isDigit()) {
                ++j;
            }
            if (j > i + 1) {
                const int number = text.mid(i + 1, j - i - 1).toInt();
                marker = std::max(marker, number);
                out += QLatin1Char('$') + QString::number(number);
            } else {
                out += QLatin1Char('$') + QString::number(++marker);
            }
            i = j - 1;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString serverDialect(const QString& sqlText)
{
    QString text = withMarkersAndNames(sqlText);
    // A transaction that takes the archive's write lock at once takes the server's lock of it.
    static const QRegularExpression begin(QStringLiteral("^\\s*BEGIN\\s+(IMMEDIATE|EXCLUSIVE)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    text.replace(begin, QStringLiteral("BEGIN; SELECT pg_advisory_xact_lock(%1)").arg(kWriteLock));
    static const QRegularExpression deferred(QStringLiteral("^\\s*BEGIN\\s+DEFERRED\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    text.replace(deferred, QStringLiteral("BEGIN"));
    static const QRegularExpression ignore(QStringLiteral("^\\s*INSERT\\s+OR\\s+IGNORE\\s+INTO\\b"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (ignore.match(text).hasMatch()) {
        text.replace(ignore, QStringLiteral("INSERT INTO"));
        while (text.endsWith(QLatin1Char(';')) || text.endsWith(QLatin1Char(' '))) {
            text.chop(1);
        }
        text += QStringLiteral(" ON CONFLICT DO NOTHING");
    }
    static const QRegularExpression replace(
        QStringLiteral("^\\s*INSERT\\s+OR\\s+REPLACE\\s+INTO\\s+(\\w+)\\s*\\(([^)]*)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const auto m = replace.match(text); m.hasMatch()) {
        const QStringList columns = m.captured(2).split(QLatin1Char(','));
        QStringList sets;
        for (int i = 1; i < columns.size(); ++i) {
            const QString c = columns.at(i).trimmed();
            sets << c + QStringLiteral(" = excluded.") + c;
        }
        text = QStringLiteral("INSERT INTO %1 (%2)").arg(m.captured(1), m.captured(2)) + text.mid(m.capturedEnd());
        while (text.endsWith(QLatin1Char(';')) || text.endsWith(QLatin1Char(' '))) {
            text.chop(1);
        }
        text += QStringLiteral(" ON CONFLICT (%1) DO ").arg(columns.constFirst().trimmed()) +
                (sets.isEmpty() ? QStringLiteral("NOTHING") : QStringLiteral("UPDATE SET ") + sets.join(QStringLiteral(", ")));
    }
    // The genres of the books window's list: a few dozen values over every book. Read as they are
    // written, the server compares all the genre index's entries in the archive's collation; here
    // the index is asked for the first genre, then for the first one after it, and so on: one probe
    // per genre. Each probe gives the first entry in the index of its value, as the whole read does,
    // so values equal in the collation come as one, spelt as before, in the same order.
    static const QRegularExpression genres(
        QStringLiteral("^\\s*select\\s+distinct\\s+genere\\s+from\\s+biblio\\s+where\\s+carteo_isnull\\(genere\\)"
                       "\\s*=\\s*false\\s+and\\s+genere\\s*<>\\s*''\\s+order\\s+by\\s+genere\\s*;?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    if (genres.match(text).hasMatch()) {
        return QStringLiteral(
            "WITH RECURSIVE carteo_generi (genere) AS ((SELECT genere FROM biblio WHERE genere > '' AND genere <> '' "
            "ORDER BY genere LIMIT 1) UNION ALL SELECT (SELECT b.genere FROM biblio b WHERE b.genere > g.genere AND "
            "b.genere <> '' ORDER BY b.genere LIMIT 1) FROM carteo_generi g WHERE g.genere IS NOT NULL) SELECT genere "
            "FROM carteo_generi WHERE genere IS NOT NULL ORDER BY genere");
    }
    // Books in the word index: the index's keys are read first and the books then looked up by
    // key. As a join the planner, not knowing how few books hold a word, reads the whole table.
    static const QRegularExpression inIndex(
        QStringLiteral("([\\w.]+)\\s+in\\s*\\(\\s*select\\s+rowid\\s+from\\s+(\\w+)\\s+where\\s+\\2\\s+match\\s+(\\$\\d+)\\s*\\)"),
        QRegularExpression::CaseInsensitiveOption);
    text.replace(inIndex,
                 QStringLiteral("\\1 = ANY (ARRAY(SELECT rowid FROM \\2 WHERE carteo_vettore(\\2.testo) @@ carteo_domanda(\\3)))"));
    // The word index: `biblio_parole match ?` asks the server's text search.
    static const QRegularExpression match(QStringLiteral("\\b(\\w+)\\s+match\\s+(\\$\\d+)"),
                                          QRegularExpression::CaseInsensitiveOption);
    text.replace(match, QStringLiteral("carteo_vettore(\\1.testo) @@ carteo_domanda(\\2)"));
    // `like` ignores case as the file archive's does; the columns' own collation knows no patterns.
    static const QRegularExpression like(QStringLiteral("([\\w.\"]+)\\s+like\\s+"),
                                         QRegularExpression::CaseInsensitiveOption);
    text.replace(like, QStringLiteral("\\1 COLLATE \"default\" ILIKE "));
    return text;
}

} // namespace store
