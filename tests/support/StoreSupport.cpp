#include "support/StoreSupport.h"
#include "support/ServerSupport.h"

#include "store/Archive.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "store/Recordset.h"
#include "store/Server.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <sqlite3.h>

#include <stdexcept>

namespace testsupport {

QString serverAddress()
{
    return qEnvironmentVariable("CARTEO_TEST_SERVER");
}

bool onServer()
{
    return !serverAddress().isEmpty();
}

ArchiveFolder::ArchiveFolder() = default;

ArchiveFolder::~ArchiveFolder()
{
    for (const QString& name : std::as_const(m_databases)) {
        pg::dropDatabase(serverAddress(), name);
    }
}

QString ArchiveFolder::create(const QString& name, const QString& populateSql)
{
    if (onServer()) {
        // Test programs run side by side on one server, and each test function's folder on its own:
        // the process and a counter for the whole process keep the names apart.
        static int databases = 0;
        const QString database = QStringLiteral("t%1_%2").arg(QCoreApplication::applicationPid()).arg(++databases);
        QString error;
        const QString address = pg::createDatabase(serverAddress(), database, &error);
        if (address.isEmpty()) {
            throw std::runtime_error("the test server cannot make a database: " + error.toStdString());
        }
        m_databases << database;
        store::Archive::create(address);
        if (!populateSql.isEmpty()) {
            store::Archive::open(address)->exec(populateSql);
        }
        return address;
    }
    const QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("archivio%1.mdb").arg(++m_count) : name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    store::Archive::create(path);
    if (!populateSql.isEmpty()) {
        store::Archive::open(path)->exec(populateSql);
    }
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray digest(const QString& path)
{
    if (store::server::isAddress(path)) {
        return QCryptographicHash::hash(pg::fingerprint(path), QCryptographicHash::Sha256);
    }
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (char& c : bytes) {
        c = char(QRandomGenerator::global()->generate() & 0xff);
    }
    return bytes;
}

bool damagePages(const QString& path, const QList<int>& pages)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        return false;
    }
    for (int page : pages) {
        const QByteArray garbage = randomBytes(4096);
        if (!file.seek(qint64(page - 1) * 4096) || file.write(garbage) != garbage.size()) {
            return false;
        }
    }
    return true;
}

namespace {

// A plain read-only connection, closed with the object.
struct RawDb {
    sqlite3* db = nullptr;
    explicit RawDb(const QString& path)
    {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            store::registerCollation(db);
        }
    }
    ~RawDb() { sqlite3_close(db); }
};

} // namespace

QVariant scalar(const QString& path, const QString& sqlText)
{
    if (store::server::isAddress(path)) {
        return pg::scalar(path, sqlText);
    }
    RawDb raw(path);
    QVariant result;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(raw.db, sqlText.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK || !st) {
        result = QStringLiteral("ERRORE: ") + QString::fromUtf8(sqlite3_errmsg(raw.db));
    } else if (sqlite3_step(st) == SQLITE_ROW) {
        switch (sqlite3_column_type(st, 0)) {
        case SQLITE_INTEGER:
            result = qint64(sqlite3_column_int64(st, 0));
            break;
        case SQLITE_FLOAT:
            result = sqlite3_column_double(st, 0);
            break;
        case SQLITE_NULL:
            break;
        case SQLITE_BLOB:
            result = QByteArray(static_cast<const char*>(sqlite3_column_blob(st, 0)), sqlite3_column_bytes(st, 0));
            break;
        default:
            result = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)),
                                       sqlite3_column_bytes(st, 0));
        }
    }
    sqlite3_finalize(st);
    return result;
}

qint64 rowCount(const QString& path, const QString& table)
{
    const QVariant n = scalar(path, QStringLiteral("SELECT count(*) FROM ") + table);
    return n.typeId() == QMetaType::LongLong ? n.toLongLong() : -1;
}

QList<Page> pagesOf(const QString& path, const QString& table, const QString& type)
{
    QList<Page> pages;
    RawDb raw(path);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(raw.db, "SELECT pageno, ncell FROM dbstat WHERE name = ?1 AND pagetype = ?2 ORDER BY path", -1,
                       &st, nullptr);
    const QByteArray t = table.toUtf8();
    const QByteArray k = type.toUtf8();
    sqlite3_bind_text(st, 1, t.constData(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, k.constData(), -1, SQLITE_TRANSIENT);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
        pages.append({sqlite3_column_int(st, 0), sqlite3_column_int(st, 1)});
    }
    sqlite3_finalize(st);
    return pages;
}

QList<int> pageNumbers(const QList<Page>& pages)
{
    QList<int> numbers;
    for (const Page& p : pages) {
        numbers << p.number;
    }
    return numbers;
}

int errorOf(const std::function<void()>& action, QString* description)
{
    try {
        action();
    } catch (const store::DbError& e) {
        if (description) {
            *description = e.description();
        }
        return e.number();
    }
    return 0;
}

namespace {
constexpr int kPatienceMs = 60000;
}

OtherProcess::~OtherProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kPatienceMs);
    }
}

bool OtherProcess::start(const QStringList& arguments, const QByteArray& word)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral(CARTEO_TEST_HELPER), arguments);
    if (!m_process.waitForStarted(kPatienceMs)) {
        return false;
    }
    QDeadlineTimer deadline(kPatienceMs);
    while (!m_output.contains(word)) {
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired()) {
            m_output += m_process.readAll();
            return m_output.contains(word);
        }
        m_process.waitForReadyRead(100);
        m_output += m_process.readAll();
    }
    return true;
}

bool OtherProcess::finish()
{
    m_process.closeWriteChannel();
    const bool ended = m_process.waitForFinished(kPatienceMs);
    m_output += m_process.readAll();
    return ended && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool OtherProcess::runUntilKilled(const QStringList& arguments)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(QStringLiteral(CARTEO_TEST_HELPER), arguments);
    const bool ended = m_process.waitForStarted(kPatienceMs) && m_process.waitForFinished(kPatienceMs);
    m_output += m_process.readAll();
    return ended && m_process.exitStatus() == QProcess::CrashExit;
}

QStringList columnOf(store::Recordset& rs, const QString& field)
{
    QStringList values;
    if (rs.recordCount() == 0) {
        return values;
    }
    for (rs.moveFirst(); !rs.eof(); rs.moveNext()) {
        values << rs.value(field).toString();
    }
    return values;
}

} // namespace testsupport
