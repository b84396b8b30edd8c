// The tests' own access to archives on a server: databases made, read and dropped, typed values,
// refusals as the file engine's, roles, and connections cut. Runs as test_store_support (no server:
// what needs one is skipped) and as test_store_support_server.
#include "store/Server.h"
#include "support/ServerSupport.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <libpq-fe.h>

using testsupport::onServer;
using testsupport::serverAddress;
namespace pg = testsupport::pg;

namespace {

qint64 databasesNamed(const QString& pattern)
{
    return pg::scalar(serverAddress(),
                      QStringLiteral("SELECT count(*) FROM pg_database WHERE datname LIKE '%1'").arg(pattern))
        .toLongLong();
}

} // namespace

class TestStoreSupport : public QObject {
    Q_OBJECT

  private slots:
    void aServerThatIsNotThereIsARefusal()
    {
        QTemporaryDir empty;
        const QString address = QStringLiteral("postgresql://carteo@%1/nessuno")
                                    .arg(QString::fromUtf8(QUrl::toPercentEncoding(empty.path())));
        QVERIFY(testsupport::scalar(address, QStringLiteral("SELECT 1")).toString().startsWith("ERRORE: "));
        QCOMPARE(testsupport::rowCount(address, QStringLiteral("biblio")), qint64(-1));
        QVERIFY(!pg::run(address, QStringLiteral("SELECT 1")).isEmpty());
        QCOMPARE(pg::terminateOtherConnections(address), -1);
    }

    void databasesAreMadeReadAndDropped()
    {
        if (!onServer()) {
            QSKIP("no test server (CARTEO_TEST_SERVER)");
        }
        const QString name = QStringLiteral("prova_%1").arg(QCoreApplication::applicationPid());
        QString error;
        const QString address = pg::createDatabase(serverAddress(), name, &error);
        QVERIFY2(!address.isEmpty(), qPrintable(error));
        QCOMPARE(testsupport::scalar(address, QStringLiteral("SELECT current_database()")).toString(), name);

        // Unquoted names fold to lower case, as the store's schema is written.
        QCOMPARE(pg::run(address, QStringLiteral("CREATE TABLE Libri (id integer, titolo text, prezzo float8, "
                                                 "copertina bytea, letto boolean);"
                                                 "INSERT INTO LIBRI VALUES (1, 'CITTÀ', 1.5, '\\x00ff', true),"
                                                 " (2, NULL, NULL, NULL, false)")),
                 QString());
        QCOMPARE(testsupport::rowCount(address, QStringLiteral("libri")), qint64(2));
        // The fingerprint follows the rows, not the connection that reads them.
        const QByteArray before = testsupport::digest(address);
        QVERIFY(!before.isEmpty());
        QCOMPARE(testsupport::digest(address), before);
        QCOMPARE(pg::run(address, QStringLiteral("UPDATE libri SET titolo = 'CITTA' WHERE id = 1")), QString());
        QVERIFY(testsupport::digest(address) != before);
        QCOMPARE(pg::run(address, QStringLiteral("UPDATE libri SET titolo = 'CITTÀ' WHERE id = 1")), QString());
        QCOMPARE(testsupport::digest(address), before);
        QCOMPARE(testsupport::rowCount(address, QStringLiteral("assente")), qint64(-1));
        const QVariant count = testsupport::scalar(address, QStringLiteral("SELECT count(*) FROM libri"));
        QCOMPARE(count.typeId(), int(QMetaType::LongLong));
        QCOMPARE(testsupport::scalar(address, QStringLiteral("SELECT titolo FROM libri WHERE id = 1")),
                 QVariant(QStringLiteral("CITTÀ")));
        QCOMPARE(testsupport::scalar(address, QStringLiteral("SELECT prezzo FROM libri WHERE id = 1")), QVariant(1.5));
        QCOMPARE(testsupport::scalar(address, QStringLiteral("SELECT copertina FROM libri WHERE id = 1")),
                 QVariant(QByteArray("\x00\xff", 2)));
        QCOMPARE(testsupport::scalar(address, QStringLiteral("SELECT letto FROM libri WHERE id = 1")),
                 QVariant(qint64(1)));
        QVERIFY(testsupport::scalar(address, QStringLiteral("SELECT titolo FROM libri WHERE id = 2")).isNull());
        QVERIFY(testsupport::scalar(address, QStringLiteral("SELECT titolo FROM libri WHERE id = 3")).isNull());
        QVERIFY(testsupport::scalar(address, QStringLiteral("SELEC 1")).toString().startsWith("ERRORE: "));
        // The extensions the store relies on are there to be made.
        QCOMPARE(pg::run(address, QStringLiteral("CREATE EXTENSION unaccent; CREATE EXTENSION amcheck")), QString());

        // A leftover of the same name is replaced by an empty database.
        QVERIFY(!pg::createDatabase(serverAddress(), name).isEmpty());
        QCOMPARE(testsupport::rowCount(address, QStringLiteral("libri")), qint64(-1));

        QVERIFY(pg::dropDatabase(serverAddress(), name));
        QCOMPARE(databasesNamed(name), qint64(0));
        QVERIFY(testsupport::scalar(address, QStringLiteral("SELECT 1")).toString().startsWith("ERRORE: "));
    }

    // Whatever becomes of the archive made in it, the folder's databases go with the folder.
    void anArchiveFolderDropsItsDatabases()
    {
        if (!onServer()) {
            QSKIP("no test server (CARTEO_TEST_SERVER)");
        }
        const QString mine = QStringLiteral("t%1\\_%%").arg(QCoreApplication::applicationPid());
        const qint64 before = databasesNamed(mine);
        {
            testsupport::ArchiveFolder folder;
            QString address;
            try {
                address = folder.create();
            } catch (...) {
            }
            QCOMPARE(databasesNamed(mine), before + 1);
            if (!address.isEmpty()) {
                QVERIFY(testsupport::rowCount(address, QStringLiteral("biblio")) >= 0);
            }
        }
        QCOMPARE(databasesNamed(mine), before);
    }

    void rolesLogInAndConnectionsAreCut()
    {
        if (!onServer()) {
            QSKIP("no test server (CARTEO_TEST_SERVER)");
        }
        const QString name = QStringLiteral("ruoli_%1").arg(QCoreApplication::applicationPid());
        const QString address = pg::createDatabase(serverAddress(), name);
        QVERIFY(!address.isEmpty());
        const QString role = QStringLiteral("lettore_%1").arg(QCoreApplication::applicationPid());
        pg::dropRole(address, role);
        QString error;
        QVERIFY2(pg::createRole(serverAddress(), role, QStringLiteral("segreta'"), &error), qPrintable(error));
        QVERIFY(!pg::createRole(serverAddress(), role, {}, &error));
        QVERIFY(error.contains(role));
        QCOMPARE(
            pg::run(address, QStringLiteral("CREATE TABLE libri (id integer); GRANT SELECT ON libri TO %1").arg(role)),
            QString());
        store::server::Parts parts = store::server::partsOf(address);
        parts.user = role;
        const QString asReader = store::server::addressOf(parts);
        QCOMPARE(testsupport::scalar(asReader, QStringLiteral("SELECT current_user")).toString(), role);
        QCOMPARE(testsupport::rowCount(asReader, QStringLiteral("libri")), qint64(0));
        QVERIFY(testsupport::scalar(asReader, QStringLiteral("INSERT INTO libri VALUES (1)"))
                    .toString()
                    .startsWith("ERRORE: "));

        PGconn* held = PQconnectdb(asReader.toUtf8().constData());
        QCOMPARE(PQstatus(held), CONNECTION_OK);
        QVERIFY(pg::terminateOtherConnections(address) >= 1);
        PGresult* r = PQexec(held, "SELECT 1");
        QVERIFY(PQresultStatus(r) != PGRES_TUPLES_OK);
        PQclear(r);
        PQfinish(held);

        QVERIFY(pg::dropDatabase(serverAddress(), name));
        QVERIFY(pg::dropRole(serverAddress(), role));
        QCOMPARE(testsupport::scalar(serverAddress(),
                                     QStringLiteral("SELECT count(*) FROM pg_roles WHERE rolname = '%1'").arg(role)),
                 QVariant(qint64(0)));
    }
};

CARTEO_TEST_GUILESS_MAIN(TestStoreSupport)
#include "tst_store_support.moc"
