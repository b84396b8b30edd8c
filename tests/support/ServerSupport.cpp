#include "support/ServerSupport.h"

#include "store/Server.h"

#include <QByteArray>
#include <QCoreApplication>
#include <libpq-fe.h>

namespace testsupport::pg {

namespace {

// Type numbers of the server's built-in types, as libpq reports them.
constexpr Oid kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kOid = 26, kFloat4 = 700, kFloat8 = 701,
              kNumeric = 1700;

QString messageOf(const char* text)
{
    return QString::fromUtf8(text).trimmed();
}

// A plain connection, closed with the object; quiet about the server's notices.
struct Connection {
    PGconn* conn = nullptr;
    explicit Connection(const QString& address)
    {
        conn = PQconnectdb(address.toUtf8().constData());
        if (conn) {
            PQsetNoticeProcessor(
                conn, [](void*, const char*) {}, nullptr);
        }
    }
    ~Connection() { PQfinish(conn); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool ok() const { return conn && PQstatus(conn) == CONNECTION_OK; }
    QString error() const { return conn ? messageOf(PQerrorMessage(conn)) : QStringLiteral("out of memory"); }
    QByteArray identifier(const QString& name) const
    {
        const QByteArray utf8 = name.toUtf8();
        char* quoted = PQescapeIdentifier(conn, utf8.constData(), size_t(utf8.size()));
        const QByteArray result(quoted ? quoted : "");
        PQfreemem(quoted);
        return result;
    }
    QByteArray literal(const QString& text) const
    {
        const QByteArray utf8 = text.toUtf8();
        char* quoted = PQescapeLiteral(conn, utf8.constData(), size_t(utf8.size()));
        const QByteArray result(quoted ? quoted : "");
        PQfreemem(quoted);
        return result;
    }
    // Runs `sql`; empty when it ran, else the message.
    QString exec(const QByteArray& sql) const
    {
        PGresult* r = PQexec(conn, sql.constData());
        const ExecStatusType status = PQresultStatus(r);
        const QString error = (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
                                  ? QString()
                                  : (r ? messageOf(PQresultErrorMessage(r)) : this->error());
        PQclear(r);
        return error;
    }
};

QVariant valueOf(PGresult* r, int row, int column)
{
    if (PQgetisnull(r, row, column)) {
        return {};
    }
    const char* text = PQgetvalue(r, row, column);
    switch (PQftype(r, column)) {
    case kInt2:
    case kInt4:
    case kInt8:
    case kOid:
        return QByteArray(text).toLongLong();
    case kBool:
        return qint64(text[0] == 't' ? 1 : 0);
    case kFloat4:
    case kFloat8:
    case kNumeric:
        return QByteArray(text).toDouble();
    case kBytea: {
        size_t length = 0;
        unsigned char* bytes = PQunescapeBytea(reinterpret_cast<const unsigned char*>(text), &length);
        const QByteArray result(reinterpret_cast<const char*>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return result;
    }
    default:
        return QString::fromUtf8(text, PQgetlength(r, row, column));
    }
}

} // namespace

QString withDatabase(const QString& address, const QString& database)
{
    store::server::Parts parts = store::server::partsOf(address);
    parts.database = database;
    return store::server::addressOf(parts);
}

QString run(const QString& address, const QString& sqlText)
{
    const Connection c(address);
    return c.ok() ? c.exec(sqlText.toUtf8()) : c.error();
}

QVariant scalar(const QString& address, const QString& sqlText)
{
    const Connection c(address);
    if (!c.ok()) {
        return QStringLiteral("ERRORE: ") + c.error();
    }
    PGresult* r = PQexec(c.conn, sqlText.toUtf8().constData());
    QVariant result;
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
        result = QStringLiteral("ERRORE: ") + (r ? messageOf(PQresultErrorMessage(r)) : c.error());
    } else if (status == PGRES_TUPLES_OK && PQntuples(r) > 0 && PQnfields(r) > 0) {
        result = valueOf(r, 0, 0);
    }
    PQclear(r);
    return result;
}

QByteArray fingerprint(const QString& address)
{
    const Connection c(address);
    if (!c.ok()) {
        return {};
    }
    // Each table's rows as text, in one order, hashed by the server; the tables in name order.
    PGresult* tables = PQexec(c.conn, "SELECT quote_ident(table_schema) || '.' || quote_ident(table_name) FROM "
                                      "information_schema.tables WHERE table_type = 'BASE TABLE' AND table_schema "
                                      "NOT IN ('pg_catalog', 'information_schema') ORDER BY 1");
    QByteArray result;
    if (PQresultStatus(tables) == PGRES_TUPLES_OK) {
        for (int i = 0; i < PQntuples(tables); ++i) {
            const QByteArray table(PQgetvalue(tables, i, 0));
            PGresult* r = PQexec(
                c.conn, "SELECT md5(coalesce(string_agg(t::text, E'\\n' ORDER BY t::text), '')) FROM " + table + " t");
            result +=
                table + ':' + (PQresultStatus(r) == PGRES_TUPLES_OK ? QByteArray(PQgetvalue(r, 0, 0)) : "?") + '\n';
            PQclear(r);
        }
    }
    PQclear(tables);
    return result;
}

QString createDatabase(const QString& address, const QString& name, QString* error)
{
    const Connection c(address);
    QString message = c.ok() ? QString() : c.error();
    if (message.isEmpty()) {
        const QByteArray db = c.identifier(name);
        message = c.exec("DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
        if (message.isEmpty()) {
            message = c.exec("CREATE DATABASE " + db + " TEMPLATE template0 ENCODING 'UTF8'");
        }
    }
    if (error) {
        *error = message;
    }
    return message.isEmpty() ? withDatabase(address, name) : QString();
}

bool dropDatabase(const QString& address, const QString& name)
{
    const Connection c(address);
    return c.ok() && c.exec("DROP DATABASE IF EXISTS " + c.identifier(name) + " WITH (FORCE)").isEmpty();
}

bool createRole(const QString& address, const QString& role, const QString& password, QString* error)
{
    const Connection c(address);
    QString message = c.ok() ? QString() : c.error();
    if (message.isEmpty()) {
        QByteArray sql = "CREATE ROLE " + c.identifier(role) + " LOGIN";
        if (!password.isEmpty()) {
            sql += " PASSWORD " + c.literal(password);
        }
        message = c.exec(sql);
    }
    if (error) {
        *error = message;
    }
    return message.isEmpty();
}

bool dropRole(const QString& address, const QString& role)
{
    const Connection c(address);
    if (!c.ok()) {
        return false;
    }
    const QByteArray r = c.identifier(role);
    // What the role owns or was granted in this database goes first; a role still named elsewhere
    // stays, and the server says so.
    c.exec("DROP OWNED BY " + r);
    return c.exec("DROP ROLE IF EXISTS " + r).isEmpty();
}

ReaderRole::ReaderRole(const QString& address) : m_address(address)
{
    static int count = 0;
    m_name = QStringLiteral("lettore_%1_%2").arg(QCoreApplication::applicationPid()).arg(++count);
    if (createRole(address, m_name, {}, &m_error)) {
        m_error = run(address, QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO %1").arg(m_name));
    }
    store::server::Parts parts = store::server::partsOf(address);
    parts.user = m_name;
    m_asReader = store::server::addressOf(parts);
}

ReaderRole::~ReaderRole()
{
    dropRole(m_address, m_name);
}

int terminateOtherConnections(const QString& address)
{
    const QVariant n =
        scalar(address, QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                                       "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
    return n.typeId() == QMetaType::LongLong ? int(n.toLongLong()) : -1;
}

} // namespace testsupport::pg
