// Several program instances saving the same books at once, each in a process of its own (this
// program started again with "--istanza"): every save made is stored, every save refused is
// refused with its number and keeps what was typed, links and loans stay consistent. On a file
// archive always; on a server when CARTEO_TEST_SERVER holds the address of one (a database is
// made for the test and dropped at the end).
#include "StoreLoad.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <libpq-fe.h>

#include <memory>

namespace {

constexpr int kInstances = 3;
constexpr int kSaves = 25; // per instance: the run ends when each has made them, however long it takes
constexpr int kBooks = 4;  // few books, so that the instances meet on them

const QString kBooksSql = QStringLiteral(
    "INSERT INTO biblio (id, titolo) VALUES (11, 'IL NOME DELLA ROSA'), (12, 'LA COSCIENZA DI ZENO'), "
    "(13, 'IL GATTOPARDO'), (14, 'LE CITTÀ INVISIBILI'), (15, 'IL BARONE RAMPANTE'), (16, 'SIDDHARTHA'), "
    "(17, 'LA STORIA'), (18, 'IL SENTIERO DEI NIDI DI RAGNO');"
    "INSERT INTO lettori (ID_Lettore, nome) VALUES (1, 'ROSSI MARIO'), (2, 'BIANCHI ANNA');"
    "INSERT INTO autore (ID_autore, nome) VALUES (1, 'UMBERTO ECO');"
    "INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (11, 1);");

// A server database of its own for one test, dropped at the end.
class ServerDatabase {
  public:
    explicit ServerDatabase(const QString& address) : m_admin(address)
    {
        m_name = QStringLiteral("carteo_carico_%1").arg(QCoreApplication::applicationPid());
        m_made = command(QStringLiteral("CREATE DATABASE ") + m_name);
        store::server::Parts parts = store::server::partsOf(address);
        parts.database = m_name;
        m_address = store::server::addressOf(parts);
    }
    ~ServerDatabase()
    {
        if (m_made) {
            command(QStringLiteral("DROP DATABASE IF EXISTS ") + m_name + QStringLiteral(" WITH (FORCE)"));
        }
    }
    bool made() const { return m_made; }
    const QString& error() const { return m_error; }
    const QString& address() const { return m_address; }

  private:
    bool command(const QString& sqlText)
    {
        PGconn* c = PQconnectdb(m_admin.toUtf8().constData());
        bool ok = PQstatus(c) == CONNECTION_OK;
        if (ok) {
            PGresult* r = PQexec(c, sqlText.toUtf8().constData());
            ok = PQresultStatus(r) == PGRES_COMMAND_OK;
            PQclear(r);
        }
        if (!ok) {
            m_error = QString::fromUtf8(PQerrorMessage(c));
        }
        PQfinish(c);
        return ok;
    }

    QString m_admin;
    QString m_name;
    QString m_address;
    QString m_error;
    bool m_made = false;
};

} // namespace

class TestStoreLoad : public QObject {
    Q_OBJECT

  private:
    // Three instances on `archive`, then the check; the figures the check is made of.
    void runAndCheck(const QString& archive)
    {
        load::Plan plan = load::choose(archive, kInstances, kBooks);
        plan.saves = kSaves;
        QCOMPARE(plan.books.size(), kBooks);
        QVERIFY(!plan.loanBooks.isEmpty());
        QVERIFY(!plan.words.isEmpty());
        const load::Baseline before = load::prepare(plan);
        QTemporaryDir logs;
        const QList<load::InstanceLog> done = load::runInstances(plan, QCoreApplication::applicationFilePath(),
                                                                 {QStringLiteral("--istanza")}, logs.path());
        QCOMPARE(done.size(), kInstances);
        qint64 saves = 0;
        qint64 lends = 0;
        qint64 searches = 0;
        for (const load::InstanceLog& l : done) {
            QVERIFY2(l.complete && l.exitCode == 0, qPrintable(l.problems.join(QLatin1Char('\n'))));
            QCOMPARE(l.saves, qint64(kSaves));
            saves += l.saves;
            lends += l.lends;
            searches += l.searches;
        }
        // The other work went on beside the saves.
        QVERIFY(lends > 0);
        QVERIFY(searches > 0);
        const load::Verdict v = load::check(plan, before, done);
        QVERIFY2(v.ok, qPrintable(v.problems.join(QLatin1Char('\n'))));
        QCOMPARE(v.checkedBooks, qint64(kBooks));
        // The stored counters add up to every save made.
        const auto a = store::Archive::open(archive);
        qint64 stored = 0;
        store::Statement note = a->prepare(QStringLiteral("SELECT note FROM biblio WHERE id = ?"));
        for (const qint64 book : plan.books) {
            note.bindInt(1, book);
            QVERIFY(note.step());
            for (const qint64 c : load::countersOf(note.value(0).toString(), kInstances)) {
                stored += c;
            }
            note.reset();
        }
        QCOMPARE(stored, saves);
        QCOMPARE(saves, qint64(kInstances * kSaves));
    }

  private slots:
    void fileArchive_noSaveLost()
    {
        testsupport::ArchiveFolder folder;
        runAndCheck(folder.create(QStringLiteral("carico.mdb"), kBooksSql));
    }

    void serverArchive_noSaveLost()
    {
        const QString address = qEnvironmentVariable("CARTEO_TEST_SERVER");
        if (address.isEmpty()) {
            QSKIP("CARTEO_TEST_SERVER names no server");
        }
        ServerDatabase db(address);
        QVERIFY2(db.made(), qPrintable(db.error()));
        store::Archive::create(db.address());
        store::Archive::open(db.address())->exec(kBooksSql);
        runAndCheck(db.address());
    }

    // The check itself: a save the logs tell of but the archive lacks, a save refused with a number
    // that is not a refusal, a refusal that lost what was typed and a loan missing are each found.
    void check_findsWhatWasLost()
    {
        testsupport::ArchiveFolder folder;
        const QString path = folder.create(QStringLiteral("controllo.mdb"), kBooksSql);
        load::Plan plan = load::choose(path, 2, 2);
        const load::Baseline before = load::prepare(plan);
        load::InstanceLog made;
        made.complete = true;
        made.exitCode = 0;
        QCOMPARE(load::check(plan, before, {made, made}).ok, true);

        load::InstanceLog lost = made;
        lost.saves = 1;
        lost.savesPerBook[plan.books.at(0)] = 1; // told of, never stored
        const load::Verdict v1 = load::check(plan, before, {lost, made});
        QVERIFY(!v1.ok);
        QVERIFY2(v1.problems.join(QLatin1Char('\n')).contains(QLatin1String("a save lost")),
                 qPrintable(v1.problems.join(QLatin1Char('\n'))));

        load::InstanceLog strange = made;
        strange.refusals[3043] = 1;
        strange.keptTyped = 1;
        QVERIFY(!load::check(plan, before, {made, strange}).ok);

        load::InstanceLog forgot = made;
        forgot.refusals[store::ErrRecordChanged] = 2;
        forgot.keptTyped = 1;
        QVERIFY(!load::check(plan, before, {forgot, made}).ok);

        load::InstanceLog lent = made;
        lent.lends = 1; // a loan told of that the archive lacks
        QVERIFY(!load::check(plan, before, {lent, made}).ok);

        // A save stored behind the logs' back (a refusal that was in fact written) is found too.
        store::Archive::open(path)->exec(QStringLiteral("UPDATE biblio SET note = 'CARICO 0 1' WHERE id = 11"));
        QVERIFY(!load::check(plan, before, {made, made}).ok);
    }
};

int main(int argc, char** argv)
{
    // One instance of the load, started by the tests above.
    if (argc >= 2 && qstrcmp(argv[1], "--istanza") == 0) {
        QCoreApplication app(argc, argv);
        return load::instanceMain(app.arguments().mid(2));
    }
    QCoreApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    return testsupport::runEachTest([] { return std::make_unique<TestStoreLoad>(); }, argc, argv);
}

#include "tst_store_load.moc"
