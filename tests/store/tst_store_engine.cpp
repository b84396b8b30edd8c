// What only an archive on a server has: roles that may only read, a connection lost and found
// again, the transfer between a file and a server, the server's maintenance, and addresses that
// never show a password. Skipped when no test server is named.

#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Recordset.h"
#include "store/Server.h"
#include "store/ServerEngine.h"
#include "store/Sql.h"
#include "support/ServerSupport.h"
#include "support/StoreSupport.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

#include <libpq-fe.h>

using store::Recordset;
using testsupport::errorOf;

namespace {

const QString kSample = QStringLiteral(
    "INSERT INTO editori (ID_Editore, nome, residenza) VALUES (1, 'Città Nuova', 'Roma'), (2, 'ÈTNA', NULL);"
    "INSERT INTO autore (ID_autore, nome) VALUES (1, 'Verdi Anna'), (2, 'Èrcole Rossi');"
    "INSERT INTO biblio (id, titolo, genere, id_edizione, anno, costo_E, note) VALUES "
    "(10, 'Zeta', 'ROMANZO', 1, '1990', 9.5, 'riga uno\r\nriga due'), "
    "(11, 'àncora', 'poesia', 2, 'S.D.', 8, NULL), (12, 'L''isola', NULL, NULL, NULL, NULL, '=SOMMA(A1)');"
    "INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (10, 2), (10, 1), (11, 1);");

// The notices the server sends a client that asks for them while `sqlText` runs; -1 when the
// database cannot be reached.
int noticesOf(const QString& address, const char* sqlText)
{
    PGconn* conn = PQconnectdb(address.toUtf8().constData());
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        PQfinish(conn);
        return -1;
    }
    int notices = 0;
    PQsetNoticeReceiver(
        conn, [](void* count, const PGresult*) { ++*static_cast<int*>(count); }, &notices);
    PQclear(PQexec(conn, "SET client_min_messages = notice"));
    PGresult* r = PQexec(conn, sqlText);
    const bool ran = PQresultStatus(r) == PGRES_TUPLES_OK;
    PQclear(r);
    PQfinish(conn);
    return ran ? notices : -1;
}

QString uniqueName(const char* stem)
{
    static int count = 0;
    return QStringLiteral("%1_%2_%3").arg(QLatin1String(stem)).arg(QCoreApplication::applicationPid()).arg(++count);
}

} // namespace

class TestStoreEngine : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir m_dir;
    QStringList m_databases;

    // An empty database on the test server, dropped at the end.
    QString emptyDatabase()
    {
        const QString name = uniqueName("vuoto");
        QString error;
        const QString address = testsupport::pg::createDatabase(testsupport::serverAddress(), name, &error);
        if (!address.isEmpty()) {
            m_databases << name;
        }
        return address;
    }
    // A file archive holding the sample.
    QString sampleFile()
    {
        const QString path = m_dir.filePath(uniqueName("archivio") + QStringLiteral(".mdb"));
        store::Archive::create(path);
        store::Archive::open(path)->exec(kSample);
        return path;
    }

  private slots:
    void init()
    {
        if (!testsupport::onServer()) {
            QSKIP("nessun server di prova: CARTEO_TEST_SERVER non è impostato");
        }
    }
    void cleanupTestCase()
    {
        for (const QString& name : std::as_const(m_databases)) {
            testsupport::pg::dropDatabase(testsupport::serverAddress(), name);
        }
    }

    void aRoleThatOnlyReadsBrowsesButCannotEdit()
    {
        const QString address = emptyDatabase();
        QVERIFY(!address.isEmpty());
        store::Archive::create(address);
        store::Archive::open(address)->exec(kSample);
        const testsupport::pg::ReaderRole reader(address);
        QVERIFY2(reader.error().isEmpty(), qPrintable(reader.error()));
        const QString role = reader.name();
        const QString asReader = reader.address();
        auto archive = store::Archive::open(asReader);
        Recordset books(archive, sql::AllBooks);
        QCOMPARE(books.recordCount(), 3);
        QVERIFY(books.findFirst(QStringLiteral("titolo"), QStringLiteral("ZETA")));
        Recordset search(archive, sql::searchBooks({}, true, QStringLiteral("verdi")));
        QCOMPARE(search.recordCount(), 2);

        // Editing is refused at once, by the number a read-only file gives at its save.
        QString description;
        QCOMPARE(errorOf([&] { books.edit(); }, &description), int(store::ErrPermissionDenied));
        QVERIFY2(description.startsWith(QStringLiteral("Permesso negato")), qPrintable(description));
        QVERIFY(description.contains(role));
        QCOMPARE(books.editMode(), Recordset::EditMode::None);
        QCOMPARE(errorOf([&] { books.addNew(); }), int(store::ErrPermissionDenied));
        QCOMPARE(errorOf([&] { archive->exec(QStringLiteral("UPDATE biblio SET note = 'x' WHERE id = 10")); }),
                 int(store::ErrPermissionDenied));
        // Reading goes on as before.
        books.moveFirst();
        QCOMPARE(books.value(QStringLiteral("titolo")).toString(), QStringLiteral("àncora"));
    }

    void aLostConnectionIsNamedAndTheEditKept()
    {
        const QString address = emptyDatabase();
        store::Archive::create(address);
        store::Archive::open(address)->exec(kSample);
        auto archive = store::Archive::open(address);
        Recordset books(archive, sql::AllBooks);
        QVERIFY(books.findFirst(QStringLiteral("id"), qint64(10)));
        books.edit();
        books.setValue(QStringLiteral("titolo"), QStringLiteral("ZETA NUOVA"));
        // The server restarts, or the network drops, while the user types.
        QVERIFY(testsupport::pg::terminateOtherConnections(address) >= 1);
        QString description;
        QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrServerUnreachable));
        QVERIFY2(description.contains(store::server::serverName(address)), qPrintable(description));
        QCOMPARE(books.editMode(), Recordset::EditMode::Edit);
        QCOMPARE(books.value(QStringLiteral("titolo")).toString(), QStringLiteral("ZETA NUOVA"));
        // Once the server answers again, the same save goes through on a new connection.
        books.update();
        QCOMPARE(testsupport::pg::scalar(address, QStringLiteral("SELECT titolo FROM biblio WHERE id = 10")).toString(),
                 QStringLiteral("ZETA NUOVA"));
        books.requery();
        QCOMPARE(books.recordCount(), 3);
    }

    void anArchiveTravelsToTheServerAndBackWhole()
    {
        const QString file = sampleFile();
        const QString address = emptyDatabase();
        QList<qint64> told;
        store::transferArchive(file, address, [&](qint64 done, qint64 total) {
            told << done << total;
            return true;
        });
        QVERIFY(!told.isEmpty());
        QCOMPARE(told.constLast(), qint64(10)); // 3 books, 2 authors, 2 publishers, 3 links
        auto server = store::Archive::open(address);
        Recordset books(server, sql::AllBooks);
        QCOMPARE(testsupport::columnOf(books, QStringLiteral("titolo")),
                 (QStringList{QStringLiteral("àncora"), QStringLiteral("L'isola"), QStringLiteral("Zeta")}));
        QVERIFY(books.findFirst(QStringLiteral("id"), qint64(10)));
        QCOMPARE(books.value(QStringLiteral("costo_E")), QVariant(9.5));
        QCOMPARE(books.value(QStringLiteral("note")).toString(), QStringLiteral("riga uno\r\nriga due"));
        // The authors keep the order they were linked in, and the quick find knows the words.
        Recordset authors(server, sql::authorsOfBook(10));
        QCOMPARE(testsupport::columnOf(authors, QStringLiteral("nome")),
                 (QStringList{QStringLiteral("Èrcole Rossi"), QStringLiteral("Verdi Anna")}));
        // The quick find folds accents, as on a file.
        QCOMPARE(Recordset(server, sql::searchBooks({}, true, QStringLiteral("ercole"))).recordCount(), 1);
        QCOMPARE(Recordset(server, sql::searchBooks({}, true, QStringLiteral("VERD"))).recordCount(), 2);
        QCOMPARE(Recordset(server, sql::searchBooks({}, true, QStringLiteral("verdi città"))).recordCount(), 1);
        // New rows get keys past the copied ones.
        server->exec(QStringLiteral("INSERT INTO biblio (titolo) VALUES ('NUOVO')"));
        QCOMPARE(server->lastInsertRowId(), qint64(13));

        // And home again: every row as it was in the file, types included.
        const QString home = m_dir.filePath(uniqueName("ritorno") + QStringLiteral(".mdb"));
        server->exec(QStringLiteral("DELETE FROM biblio WHERE id = 13"));
        store::transferArchive(address, home);
        for (const QString& q : {QStringLiteral("SELECT group_concat(id || typeof(costo_E) || coalesce(costo_E, '') || "
                                                "coalesce(note, '') || coalesce(anno, ''), '|') FROM (SELECT * FROM "
                                                "biblio ORDER BY id)"),
                                 QStringLiteral("SELECT group_concat(ID_biblio || '-' || ID_autore, ' ') FROM "
                                                "(SELECT * FROM autbiblio ORDER BY rowid)"),
                                 QStringLiteral("SELECT group_concat(nome || coalesce(residenza, ''), ' ') FROM "
                                                "editori")}) {
            QCOMPARE(testsupport::scalar(home, q), testsupport::scalar(file, q));
        }
    }

    void aTransferNeedsAnEmptyDatabaseAndLeavesItAsItWas()
    {
        const QString file = sampleFile();
        const QString address = emptyDatabase();
        store::transferArchive(file, address);
        const QByteArray before = testsupport::pg::fingerprint(address);
        QCOMPARE(errorOf([&] { store::transferArchive(file, address); }), int(store::ErrServerNotEmpty));
        QCOMPARE(errorOf([&] { store::Archive::create(address); }), int(store::ErrServerNotEmpty));
        QCOMPARE(testsupport::pg::fingerprint(address), before);

        // Stopped after the schema was made, the target database is empty again and takes the
        // next transfer.
        const QString other = emptyDatabase();
        QCOMPARE(errorOf([&] { store::transferArchive(file, other, [&](qint64, qint64) { return false; }); }),
                 int(store::ErrDialogCancelled));
        QCOMPARE(testsupport::pg::scalar(
                     other, QStringLiteral("SELECT count(*) FROM pg_class WHERE relnamespace = 'public'::regnamespace "
                                           "AND relkind = 'r'"))
                     .toLongLong(),
                 qint64(0));
        store::transferArchive(file, other);
        QCOMPARE(testsupport::pg::scalar(other, QStringLiteral("SELECT count(*) FROM biblio")).toLongLong(), qint64(3));
        // A copy home never overwrites a file.
        QCOMPARE(errorOf([&] { store::transferArchive(other, file); }), int(store::ErrPermissionDenied));
    }

    void theServersMaintenanceWaitsForTheOthers()
    {
        const QString address = emptyDatabase();
        store::transferArchive(sampleFile(), address);
        testsupport::pg::run(address, QStringLiteral("INSERT INTO autbiblio (id_biblio, id_autore) VALUES (99, 1)"));
        {
            auto open = store::Archive::open(address);
            QCOMPARE(errorOf([&] { store::server::maintain(address); }), int(store::ErrInUse));
        }
        const QStringList lines = store::server::maintain(address);
        QVERIFY2(lines.join(QLatin1Char('\n')).contains(QStringLiteral("eliminati: 1")), qPrintable(lines.join('\n')));
        QCOMPARE(testsupport::pg::scalar(address, QStringLiteral("SELECT count(*) FROM autbiblio")).toLongLong(),
                 qint64(3));
    }

    void aStatementIsPreparedOnceAndFollowsChangedTables()
    {
        const QString address = emptyDatabase();
        store::Archive::create(address);
        store::Archive::open(address)->exec(kSample);
        auto archive = store::Archive::open(address);
        const QString publishers = QStringLiteral("SELECT * FROM editori ORDER BY id_editore");
        // A window reads the same query at each click: it is prepared on the server once and then
        // only run.
        for (int i = 0; i < 6; ++i) {
            store::Statement st = archive->prepare(publishers);
            QVERIFY(st.step());
            QCOMPARE(st.columnCount(), 6);
        }
        {
            store::Statement prepared = archive->prepareExact(
                QStringLiteral("SELECT count(*), sum(generic_plans + custom_plans) FROM pg_prepared_statements "
                               "WHERE statement = 'SELECT * FROM editori ORDER BY id_editore'"));
            QVERIFY(prepared.step());
            QCOMPARE(prepared.int64(0), qint64(1));
            QCOMPARE(prepared.int64(1), qint64(6));
        }

        // Another desk changes the table's columns (an upgrade): the kept statement is prepared
        // anew, with the new columns.
        QCOMPARE(testsupport::pg::run(address, QStringLiteral("ALTER TABLE editori ADD COLUMN sito text")), QString());
        {
            store::Statement st = archive->prepare(publishers);
            bool row = false;
            QString description;
            QCOMPARE(errorOf([&] { row = st.step(); }, &description), 0);
            QVERIFY2(row, qPrintable(description));
            QCOMPARE(st.columnCount(), 7);
            QCOMPARE(st.columnName(6), QStringLiteral("sito"));
        }
        // This connection's own change, inside a transaction, and the same after its rollback.
        {
            store::Transaction t(*archive);
            archive->exec(QStringLiteral("ALTER TABLE editori ADD COLUMN email text"));
            store::Statement st = archive->prepare(publishers);
            bool row = false;
            QCOMPARE(errorOf([&] { row = st.step(); }), 0);
            QVERIFY(row);
            QCOMPARE(st.columnCount(), 8);
        }
        {
            store::Statement st = archive->prepare(publishers);
            bool row = false;
            QCOMPARE(errorOf([&] { row = st.step(); }), 0);
            QVERIFY(row);
            QCOMPARE(st.columnCount(), 7);
        }
        // Changed by another desk while this one is inside a transaction: that run fails and
        // undoes the transaction, the next one works.
        QCOMPARE(testsupport::pg::run(address, QStringLiteral("ALTER TABLE editori DROP COLUMN sito")), QString());
        {
            store::Transaction t(*archive);
            store::Statement st = archive->prepare(publishers);
            QVERIFY(errorOf([&] { st.step(); }) != 0);
        }
        store::Statement st = archive->prepare(publishers);
        bool row = false;
        QCOMPARE(errorOf([&] { row = st.step(); }), 0);
        QVERIFY(row);
        QCOMPARE(st.columnCount(), 6);
        QCOMPARE(st.value(1).toString(), QStringLiteral("Città Nuova"));
    }

    void aClosedArchivesConnectionServesTheNextOpen()
    {
        const QString address = emptyDatabase();
        store::Archive::create(address);
        const auto pidOf = [](store::Archive& a) {
            store::Statement st = a.prepareExact(QStringLiteral("SELECT pg_backend_pid()"));
            return st.step() ? st.int64(0) : qint64(-1);
        };
        const int before = store::openConnectionCount();
        qint64 first = 0;
        {
            auto archive = store::Archive::open(address);
            archive->exec(kSample);
            archive->exec(QStringLiteral("INSERT INTO biblio (titolo) VALUES ('Nuovo')"));
            QVERIFY(archive->lastInsertRowId() > 12);
            first = pidOf(*archive);
        }
        // Kept idle: no archive is open on it, and the server shows it as idle.
        QCOMPARE(store::openConnectionCount(), before);
        QCOMPARE(store::ServerConnection::idleCount(address), 1);
        QTRY_COMPARE(testsupport::pg::scalar(address, QStringLiteral("SELECT application_name FROM pg_stat_activity "
                                                                     "WHERE pid = %1")
                                                          .arg(first))
                         .toString(),
                     QStringLiteral("Carteo inattivo"));
        {
            auto again = store::Archive::open(address);
            QCOMPARE(pidOf(*again), first);
            QCOMPARE(store::openConnectionCount(), before + 1);
            QCOMPARE(store::ServerConnection::idleCount(address), 0);
            // As a new connection: no key of an earlier insert, the program's name back.
            QCOMPARE(again->lastInsertRowId(), qint64(0));
            store::Statement name = again->prepareExact(QStringLiteral("SELECT current_setting('application_name')"));
            QVERIFY(name.step());
            QCOMPARE(name.value(0).toString(), QStringLiteral("Carteo"));
            // Two archives open at once never share a connection.
            auto other = store::Archive::open(address);
            QVERIFY(pidOf(*other) != first);
            auto third = store::Archive::open(address);
            QCOMPARE(store::openConnectionCount(), before + 3);
        }
        // At most two are kept.
        QCOMPARE(store::openConnectionCount(), before);
        QCOMPARE(store::ServerConnection::idleCount(address), 2);

        // The maintenance does not count this program's idle connections as other users.
        QCOMPARE(errorOf([&] { store::server::maintain(address); }), 0);

        // One lost while idle (the server restarted) gives way to a new one.
        QVERIFY(testsupport::pg::terminateOtherConnections(address) >= 2);
        {
            std::shared_ptr<store::Archive> archive;
            QCOMPARE(errorOf([&] { archive = store::Archive::open(address); }), 0);
            Recordset books(archive, sql::AllBooks);
            QCOMPARE(books.recordCount(), 4);
            QCOMPARE(store::ServerConnection::idleCount(address), 1);
        }
        {
            auto a = store::Archive::open(address);
            std::shared_ptr<store::Archive> b;
            QCOMPARE(errorOf([&] { b = store::Archive::open(address); }), 0);
            QCOMPARE(Recordset(b, sql::AllBooks).recordCount(), 4);
            QCOMPARE(store::ServerConnection::idleCount(address), 0);
        }
        store::ServerConnection::closeIdle(address);
        QCOMPARE(store::ServerConnection::idleCount(address), 0);
    }

    void anIdleConnectionLetsItsDatabaseBeDroppedAndMadeAgain()
    {
        const QString name = uniqueName("di_nuovo");
        QString error;
        QString address = testsupport::pg::createDatabase(testsupport::serverAddress(), name, &error);
        QVERIFY2(!address.isEmpty(), qPrintable(error));
        store::Archive::create(address);
        store::Archive::open(address)->exec(kSample);
        QCOMPARE(store::ServerConnection::idleCount(address), 1);
        QVERIFY(testsupport::pg::dropDatabase(testsupport::serverAddress(), name));
        address = testsupport::pg::createDatabase(testsupport::serverAddress(), name, &error);
        QVERIFY2(!address.isEmpty(), qPrintable(error));
        m_databases << name;
        QCOMPARE(errorOf([&] { store::Archive::open(address); }), int(store::ErrFileNotArchive));
        std::shared_ptr<store::Archive> archive;
        QCOMPARE(errorOf([&] { store::Archive::create(address); }), 0);
        QCOMPARE(errorOf([&] { archive = store::Archive::open(address); }), 0);
        QCOMPARE(Recordset(archive, sql::AllBooks).recordCount(), 0);
    }

    void theGenresAreReadByJumpsThroughTheIndex()
    {
        const QString address = emptyDatabase();
        store::Archive::create(address);
        auto archive = store::Archive::open(address);
        // Equal genres in the collation, in several spellings and in an order that is not the
        // index's; empty and missing genres.
        const QStringList spelt{QStringLiteral("romanzo"),   QStringLiteral("Saggio"),
                                QStringLiteral("ROMANZO"),   QString(),
                                QStringLiteral("Attualità"), QStringLiteral("ATTUALITÀ"),
                                QStringLiteral(""),          QStringLiteral("attualita"),
                                QStringLiteral("Romanzo"),   QStringLiteral("SAGGIO"),
                                QStringLiteral("poesia"),    QStringLiteral("Àncora")};
        for (int round = 0; round < 3; ++round) {
            for (const QString& g : spelt) {
                store::Statement insert =
                    archive->prepare(QStringLiteral("INSERT INTO biblio (titolo, genere) VALUES ('t', ?)"));
                insert.bind(1, g.isNull() ? QVariant() : QVariant(g));
                insert.step();
            }
        }
        archive->exec(QStringLiteral("DELETE FROM biblio WHERE genere = 'romanzo' AND id < 5"));
        QVERIFY(store::serverDialect(sql::renameFunctions(sql::DistinctGenres)).contains(QStringLiteral("RECURSIVE")));
        // The same rows, spelt and ordered as the whole read through the index gives them (its plan
        // on a catalogue of any size; this small one would be sorted, in no set order among equals).
        QStringList whole;
        store::Transaction t(*archive);
        archive->exec(QStringLiteral("SET LOCAL enable_seqscan = off; SET LOCAL enable_bitmapscan = off"));
        store::Statement st = archive->prepareExact(
            QStringLiteral("SELECT DISTINCT genere FROM biblio WHERE (carteo_isnull(genere) = false) AND genere <> '' "
                           "ORDER BY genere"));
        while (st.step()) {
            whole << st.value(0).toString();
        }
        QCOMPARE(whole.size(), 6); // accents tell genres apart, case does not
        Recordset genres(archive, sql::DistinctGenres);
        QCOMPARE(testsupport::columnOf(genres, QStringLiteral("genere")), whole);
    }

    void theQuickFindTellsNoNotices()
    {
        const char* words = "SELECT carteo_domanda(''), carteo_domanda('\"verdi\"*')";
        // A new archive, by creation or by transfer.
        const QString created = emptyDatabase();
        store::Archive::create(created);
        QCOMPARE(noticesOf(created, words), 0);
        const QString transferred = emptyDatabase();
        store::transferArchive(sampleFile(), transferred);
        QCOMPARE(noticesOf(transferred, words), 0);
        QCOMPARE(Recordset(store::Archive::open(transferred), sql::searchBooks({}, true, QStringLiteral("verdi")))
                     .recordCount(),
                 2);

        // An archive made before: the first desk that opens it as its owner silences it; one that
        // may only read opens it as it is.
        QCOMPARE(testsupport::pg::run(transferred,
                                      QStringLiteral("ALTER FUNCTION carteo_domanda(text) RESET client_min_messages")),
                 QString());
        QVERIFY(noticesOf(transferred, words) > 0);
        const QString role = uniqueName("lettore");
        QString error;
        QVERIFY2(testsupport::pg::createRole(transferred, role, {}, &error), qPrintable(error));
        struct Drop {
            QString address, role;
            ~Drop() { testsupport::pg::dropRole(address, role); }
        } drop{transferred, role};
        QCOMPARE(testsupport::pg::run(transferred,
                                      QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO %1").arg(role)),
                 QString());
        store::server::Parts parts = store::server::partsOf(transferred);
        parts.user = role;
        {
            auto reader = store::Archive::open(store::server::addressOf(parts));
            QCOMPARE(Recordset(reader, sql::searchBooks({}, true, QStringLiteral("verdi"))).recordCount(), 2);
        }
        QVERIFY(noticesOf(transferred, words) > 0);
        {
            auto owner = store::Archive::open(transferred);
            QCOMPARE(Recordset(owner, sql::searchBooks({}, true, QStringLiteral("ercole"))).recordCount(), 1);
        }
        QCOMPARE(noticesOf(transferred, words), 0);
    }

    void aPasswordIsNeverShown()
    {
        const QString address = emptyDatabase();
        store::server::Parts parts = store::server::partsOf(address);
        QString withPassword = store::server::addressOf(parts);
        withPassword.replace(QStringLiteral("postgresql://") + parts.user + QLatin1Char('@'),
                             QStringLiteral("postgresql://") + parts.user + QStringLiteral(":segreta%40x@"));
        QVERIFY(withPassword.contains(QStringLiteral("segreta")));
        QVERIFY(!store::server::shown(withPassword).contains(QStringLiteral("segreta")));
        QVERIFY(!store::server::shown(withPassword + QStringLiteral("?password=segreta"))
                     .contains(QStringLiteral("segreta")));
        QVERIFY(!store::server::serverName(withPassword).contains(QStringLiteral("segreta")));
        // An empty database is no archive; the error says so without the password.
        try {
            store::Archive::open(withPassword);
            QFAIL("an empty database opened as an archive");
        } catch (const store::DbError& e) {
            QCOMPARE(e.number(), int(store::ErrFileNotArchive));
            QVERIFY(!e.description().contains(QStringLiteral("segreta")));
            QVERIFY(!e.detail().contains(QStringLiteral("segreta")));
        }
        // A database that does not exist, and a server that does not answer, are named plainly.
        parts.database = QStringLiteral("non_esiste_%1").arg(QCoreApplication::applicationPid());
        QCOMPARE(errorOf([&] { store::Archive::open(store::server::addressOf(parts)); }), 3024);
        store::server::Parts nowhere = parts;
        nowhere.host = m_dir.filePath(QStringLiteral("nessun-server"));
        QString description;
        QCOMPARE(errorOf([&] { store::Archive::open(store::server::addressOf(nowhere)); }, &description),
                 int(store::ErrServerUnreachable));
        QVERIFY(description.contains(QStringLiteral("nessun-server")));
    }
};

QTEST_GUILESS_MAIN(TestStoreEngine)
#include "tst_store_engine.moc"
