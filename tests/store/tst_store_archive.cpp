// The archive file: schema, files that are not archives, the presence lock, the sqlite3 shell.
#include "tst_store.h"

#include "store/DbError.h"
#include "store/Recordset.h"
#include "store/Sql.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <sqlite3.h>

#include <filesystem>

using store::DbError;
using store::PresenceLock;
using store::Recordset;
using namespace testsupport;

namespace {

// Runs the sqlite3 shell on `file` with `sqlText`; returns its exit code, with its output.
int runShell(const QString& file, const QString& sqlText, QString* out = nullptr, QString* err = nullptr)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {file, sqlText});
    if (!shell.waitForFinished(30000)) {
        shell.kill();
        shell.waitForFinished();
        return -1;
    }
    if (out) {
        *out = QString::fromUtf8(shell.readAllStandardOutput()).trimmed();
    }
    if (err) {
        *err = QString::fromUtf8(shell.readAllStandardError()).trimmed();
    }
    return shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1;
}

bool hasShell()
{
    return !QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty();
}

QStringList queryPlan(store::Archive& archive, const QString& sqlText)
{
    QStringList steps;
    store::Statement st = archive.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + sqlText);
    while (st.step()) {
        steps << st.value(3).toString();
    }
    return steps;
}

} // namespace

void TestStore::schemaOfANewArchive()
{
    CARTEO_FILE_ONLY("about the archive file: its version, journal mode, column types and the engine's query plans");
    const QString path = newArchive(false);
    QCOMPARE(scalar(path, "PRAGMA user_version").toInt(), store::kSchemaVersion);
    QCOMPARE(store::kSchemaVersion, 3);
    QCOMPARE(scalar(path, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));
    QCOMPARE(scalar(path, "SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN "
                          "('biblio','autore','editori','autbiblio')")
                 .toInt(),
             4);
    // Keys and links are whole numbers to the engine, which the joins' speed depends on.
    const QList<QPair<QString, QString>> keys{{"biblio", "id"},           {"biblio", "id_edizione"},
                                              {"autore", "ID_autore"},    {"editori", "ID_Editore"},
                                              {"autbiblio", "ID_biblio"}, {"autbiblio", "ID_autore"}};
    for (const auto& [table, column] : keys) {
        QCOMPARE(
            scalar(path,
                   QStringLiteral("SELECT upper(type) FROM pragma_table_info('%1') WHERE name='%2'").arg(table, column))
                .toString(),
            QStringLiteral("INTEGER"));
    }

    // The shared queries walk indexes: no table scan for a book's authors, no sorting pass for
    // the ordered lists.
    auto archive = store::Archive::open(path);
    for (const QString& text : {sql::AllBooks, sql::AllAuthors, sql::AllPublishers, sql::PublishersForBooks}) {
        const QStringList plan = queryPlan(*archive, text);
        QVERIFY2(!plan.join('|').contains(QStringLiteral("TEMP B-TREE")), qPrintable(text + ": " + plan.join('|')));
    }
    const QString linksPlan = queryPlan(*archive, sql::authorsOfBook(5).text).join('|');
    QVERIFY2(!linksPlan.contains(QStringLiteral("SCAN autbiblio")), qPrintable(linksPlan));
    const QString byAuthor =
        queryPlan(*archive, QStringLiteral("Select * from autbiblio where autbiblio.id_autore=5")).join('|');
    QVERIFY2(!byAuthor.contains(QStringLiteral("SCAN")), qPrintable(byAuthor));
    archive.reset();

    // Creating over an existing file refuses and leaves it alone.
    const QByteArray before = readFile(path);
    QVERIFY(errorOf([&] { store::Archive::create(path); }) != 0);
    QCOMPARE(readFile(path), before);
}

void TestStore::doubleQuotedTextIsAName()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    // A double-quoted word that names no column is an error, not a text to compare with.
    QString description;
    QCOMPARE(errorOf([&] { Recordset rs(archive, QStringLiteral("Select * from biblio where genere=\"ROMANZO\"")); },
                     &description),
             int(store::ErrSyntax));
    QVERIFY2(description.contains(QStringLiteral("ROMANZO"), Qt::CaseInsensitive), qPrintable(description));
    QCOMPARE(errorOf([&] { archive->exec(QStringLiteral("UPDATE biblio SET note=\"NUOVA\" WHERE id=10")); }),
             int(store::ErrSyntax));
    QVERIFY(scalar(path, "SELECT note FROM biblio WHERE id=10").isNull());
    // The same text as a bound value compares as text.
    store::Statement st = archive->prepare(QStringLiteral("SELECT count(*) FROM biblio WHERE genere = ?"));
    st.bind(1, QStringLiteral("ROMANZO"));
    QVERIFY(st.step());
    QCOMPARE(st.int64(0), 2);
    // A find compares a text as the archive does: letter case never counts.
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst(QStringLiteral("genere"), QStringLiteral("romanzo")));
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Èlite"));
    QVERIFY(books.findFirst(QStringLiteral("titolo"), QStringLiteral("Zeta")));
    QCOMPARE(books.value("id").toLongLong(), qint64(BookZeta));
}

void TestStore::openingWhatIsNotAnArchive_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expected");
    QTest::newRow("testo") << "testo" << int(store::ErrFileNotArchive);
    QTest::newRow("troncato") << "troncato" << int(store::ErrFileNotArchive);
    QTest::newRow("troncato a metà") << "metà" << int(store::ErrFileNotArchive);
    QTest::newRow("vuoto") << "vuoto" << int(store::ErrFileNotArchive);
    QTest::newRow("altro database") << "altro" << int(store::ErrFileNotArchive);
    QTest::newRow("versione futura") << "futuro" << int(store::ErrNewerArchive);
}

void TestStore::openingWhatIsNotAnArchive()
{
    CARTEO_FILE_ONLY("about files that are not archives");
    QFETCH(QString, kind);
    QFETCH(int, expected);
    const QString path = m_dir.filePath(kind + QStringLiteral(".mdb"));
    if (kind == "testo") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        for (int i = 0; i < 200; ++i) {
            f.write("Questo non è un archivio, è un elenco della spesa.\r\n");
        }
    } else if (kind == "troncato") {
        const QByteArray whole = readFile(newArchive());
        QVERIFY(whole.size() > 4096);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(whole.left(1000));
    } else if (kind == "metà") {
        // A copy cut off half way, as an interrupted copy over the network leaves it.
        const QString whole = newArchive();
        {
            auto archive = store::Archive::open(whole);
            archive->exec(QStringLiteral("BEGIN"));
            for (int i = 100; i < 1100; ++i) {
                archive->exec(QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'TITOLO %1', '%2')")
                                  .arg(i)
                                  .arg(QString(300, QLatin1Char('n'))));
            }
            archive->exec(QStringLiteral("COMMIT"));
        }
        const QByteArray bytes = readFile(whole);
        QVERIFY(bytes.size() > 100 * 4096);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes.left(bytes.size() / 2));
    } else if (kind == "vuoto") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == "altro") {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
        QCOMPARE(sqlite3_exec(db, "CREATE TABLE spesa (cosa TEXT); INSERT INTO spesa VALUES ('pane');", nullptr,
                              nullptr, nullptr),
                 SQLITE_OK);
        sqlite3_close(db);
    } else if (kind == "futuro") {
        QVERIFY(QFile::rename(newArchive(), path));
        store::Archive::open(path)->exec(QStringLiteral("PRAGMA user_version=99"));
    }
    const QByteArray before = readFile(path);
    const QStringList filesBefore = QDir(m_dir.path()).entryList(QDir::Files);

    QString description;
    QCOMPARE(errorOf([&] { store::Archive::open(path); }, &description), expected);
    QVERIFY2(description.contains(QStringLiteral("archivio")), qPrintable(description));
    // Data sources meet the same error.
    store::DataSource source;
    source.setDatabaseName(path);
    source.setRecordSource(sql::AllBooks);
    QCOMPARE(errorOf([&] { source.refresh(); }), expected);

    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), filesBefore); // no journal, no lock file left
}

void TestStore::openingAMissingFile()
{
    for (const QString& path : {m_dir.filePath(QStringLiteral("assente.mdb")),
                                m_dir.filePath(QStringLiteral("cartella/assente.mdb")), QString()}) {
        QString description;
        QVERIFY(errorOf([&] { store::Archive::open(path); }, &description) != 0);
        QVERIFY(!description.isEmpty());
        if (!path.isEmpty()) {
            QVERIFY(!QFileInfo::exists(path)); // never created by trying to open it
            QVERIFY(!QFileInfo::exists(PresenceLock::lockFilePath(path)));
        }
    }
    QVERIFY(errorOf([&] { store::Archive::open(m_dir.path()); }) != 0); // a folder
}

void TestStore::presenceLock()
{
    CARTEO_FILE_ONLY("about the presence lock file beside the archive");
    const QString path = newArchive();
    auto exclusive = [&] { PresenceLock::acquire(path, PresenceLock::Mode::Exclusive); };

    {
        auto first = store::Archive::open(path);
        QVERIFY(QFileInfo::exists(PresenceLock::lockFilePath(path)));
        QCOMPARE(errorOf(exclusive), int(store::ErrInUse));
        QVERIFY(PresenceLock::inUse(path));
        // Any number of windows may have it open together, reading as they go.
        auto second = store::Archive::open(path);
        Recordset books(second, sql::AllBooks);
        QCOMPARE(books.recordCount(), 6);
        second.reset(); // the recordset keeps its archive open
        first.reset();
        QCOMPARE(errorOf(exclusive), int(store::ErrInUse));
        QCOMPARE(books.value("titolo").toString(), QStringLiteral("ABACO"));
    }
    {
        store::DataSource source;
        source.setDatabaseName(path);
        source.setRecordSource(sql::AllAuthors);
        source.refresh();
        QCOMPARE(errorOf(exclusive), int(store::ErrInUse));
    }

    // Closed everywhere: the exclusive lock is granted, and while it is held nobody opens.
    QVERIFY(!PresenceLock::inUse(path));
    {
        auto lock = PresenceLock::acquire(path, PresenceLock::Mode::Exclusive);
        QVERIFY(lock);
        QString description;
        QCOMPARE(errorOf([&] { store::Archive::open(path); }, &description), int(store::ErrInUse));
        QVERIFY2(description.contains(QStringLiteral("archivio")), qPrintable(description));
        QCOMPARE(errorOf(exclusive), int(store::ErrInUse));
        // The holder itself may still work on the file without presence.
        auto maintenance = store::Archive::open(path, store::Archive::Presence::None);
        Recordset books(maintenance, sql::AllBooks);
        QCOMPARE(books.recordCount(), 6);
    }
    auto again = store::Archive::open(path);
    QCOMPARE(Recordset(again, sql::AllBooks).recordCount(), 6);
}

void TestStore::presenceLockAcrossProcesses()
{
    CARTEO_FILE_ONLY("about the presence lock file beside the archive");
    if (!hasShell()) {
        QSKIP("sqlite3 shell not installed");
    }
    const QString path = newArchive();
    const QString lockFile = PresenceLock::lockFilePath(path);

    // Another process cannot take the lock while this one has the archive open.
    {
        auto archive = store::Archive::open(path);
        QString err;
        QVERIFY(runShell(lockFile, "BEGIN EXCLUSIVE; COMMIT;", nullptr, &err) != 0);
        QVERIFY2(err.contains(QStringLiteral("locked")), qPrintable(err));
    }
    QCOMPARE(runShell(lockFile, "BEGIN EXCLUSIVE; COMMIT;"), 0);

    // While another process holds it exclusively, opening is refused.
    QProcess holder;
    holder.start(QStringLiteral("sqlite3"), {lockFile});
    QVERIFY(holder.waitForStarted());
    holder.write("BEGIN EXCLUSIVE;\n");
    QDeadlineTimer deadline(20000);
    while (!PresenceLock::inUse(path) && !deadline.hasExpired()) {
        QTest::qWait(20);
    }
    QVERIFY(PresenceLock::inUse(path));
    QCOMPARE(errorOf([&] { store::Archive::open(path); }), int(store::ErrInUse));
    holder.write("COMMIT;\n.quit\n");
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(20000));
    auto archive = store::Archive::open(path);
    QCOMPARE(Recordset(archive, sql::AllAuthors).recordCount(), 4);
}

void TestStore::readableByTheSqliteShell()
{
    CARTEO_FILE_ONLY("about the archive file read and written by the sqlite3 shell");
    if (!hasShell()) {
        QSKIP("sqlite3 shell not installed");
    }
    const QString path = newArchive();
    auto archive = store::Archive::open(path); // open in the program at the same time
    QString out;
    QString err;
    QCOMPARE(runShell(path, "select count(*) from biblio", &out, &err), 0);
    QCOMPARE(out, QStringLiteral("6"));
    for (const char* table : {"autore", "editori", "autbiblio", "lettori", "prestiti"}) {
        QCOMPARE(runShell(path, QStringLiteral("select count(*) from %1").arg(table), &out, &err), 0);
        QCOMPARE(out, scalar(path, QStringLiteral("select count(*) from %1").arg(table)).toString());
    }
    QCOMPARE(runShell(path, "select titolo from biblio where id=11", &out, &err), 0);
    QCOMPARE(out, QStringLiteral("Èlite"));
    QCOMPARE(runShell(path, "select nome from autore order by nome", &out, &err), 0);
    QCOMPARE(out.split('\n').size(), 4);
    QCOMPARE(runShell(path, "select count(*) from autbiblio a join autore b on a.ID_autore=b.ID_autore", &out, &err),
             0);
    QCOMPARE(out, QStringLiteral("5"));
    QCOMPARE(runShell(path, "PRAGMA user_version", &out, &err), 0);
    QCOMPARE(out, QString::number(store::kSchemaVersion));
    // A shell keeps the rule of one open loan per book too.
    const QString loan = QStringLiteral("INSERT INTO prestiti (id_libro, ID_Lettore, data_prestito, data_scadenza) "
                                        "VALUES (10, %1, '2026-12-01', '2026-12-31')");
    QCOMPARE(runShell(path, loan.arg(1), &out, &err), 0);
    QVERIFY(runShell(path, loan.arg(2), &out, &err) != 0);
    QVERIFY2(err.contains(QStringLiteral("UNIQUE")), qPrintable(err));
    QCOMPARE(scalar(path, "SELECT count(*) FROM prestiti").toInt(), 1);
    // A shell's write keeps the quick find's word index in step: the archive's triggers do it.
    QCOMPARE(runShell(path, "UPDATE biblio SET note = 'SCRITTA DALLA SHELL' WHERE id = 11", &out, &err), 0);
    QCOMPARE(runShell(path, "SELECT rowid FROM biblio_parole WHERE biblio_parole MATCH 'shell'", &out, &err), 0);
    QCOMPARE(out, QStringLiteral("11"));
    Q_UNUSED(err);
}

void TestStore::aSaveAfterTheArchiveFileWentNamesTheCause_data()
{
    QTest::addColumn<bool>("replaced");
    QTest::newRow("eliminato") << false;
    QTest::newRow("sostituito") << true;
}

void TestStore::aSaveAfterTheArchiveFileWentNamesTheCause()
{
    CARTEO_FILE_ONLY("about the archive file deleted or replaced while open");
    QFETCH(bool, replaced);
    const QString path = newArchive();
    auto archive = store::Archive::open(path, store::Archive::Presence::None);
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst("id", qint64(BookZeta)));
    books.edit();
    books.setValue("titolo", QStringLiteral("ZETA RIVISTA"));
    // Deleted, or another archive renamed over it, while the edit is open.
    if (replaced) {
        const QString other = newArchive(false);
        std::error_code error;
        std::filesystem::rename(other.toStdString(), path.toStdString(), error);
        QVERIFY(!error);
    } else {
        QVERIFY(QFile::remove(path));
    }
    QString description;
    QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrArchiveReplaced));
    QCOMPARE(description, QStringLiteral("Il file dell'archivio '%1' è stato eliminato, o sostituito da un altro file, "
                                         "mentre era aperto: le modifiche non possono essere salvate. Chiudere le "
                                         "finestre e riaprire l'archivio.")
                              .arg(QDir::toNativeSeparators(path)));
    // The edit stays open with what was typed.
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ZETA RIVISTA"));
}

void TestStore::anArchiveEmptiedWhileOpenIsNamed()
{
    CARTEO_FILE_ONLY("about the archive file truncated while open");
    const QString path = newArchive();
    auto archive = store::Archive::open(path, store::Archive::Presence::None);
    QVERIFY(QFile(path).resize(0));
    try {
        store::Statement links = archive->prepare(
            QStringLiteral("Select autbiblio.ID_biblio, autbiblio.ID_autore from autbiblio where ID_biblio = ?"));
        links.bindInt(1, BookZeta);
        links.step();
        QFAIL("an empty file was read as an archive");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), int(store::ErrFileNotArchive));
        QCOMPARE(e.description(), QStringLiteral("Il file dell'archivio '%1' è vuoto: è stato troncato o sostituito "
                                                 "da un file vuoto, e non contiene più il catalogo. Occorre riaprire "
                                                 "una copia dell'archivio.")
                                      .arg(QDir::toNativeSeparators(path)));
        // What the engine said stays with the error, for whoever looks into it.
        QVERIFY2(e.detail().contains(QStringLiteral("no such table: autbiblio")), qPrintable(e.detail()));
    }
    QCOMPARE(QFileInfo(path).size(), qint64(0));
}

void TestStore::engineErrorsKeepTheirDetail()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path, store::Archive::Presence::None);
    // A marker that is not there: refused, not ignored.
    store::Statement one = archive->prepare(QStringLiteral("SELECT ?1"));
    QCOMPARE(errorOf([&] { one.bindInt(2, 7); }), int(store::ErrInvalidProcedure));
    one.bindInt(1, 7);
    QVERIFY(one.step());
    QCOMPARE(one.int64(0), qint64(7));

    // The user reads the program's description; the SQL and the engine's words are in the detail.
    const QString bad = QStringLiteral("Select titolo from biblio where colonna_che_non_esiste = 1");
    try {
        archive->prepare(bad);
        QFAIL("a wrong SQL text was prepared");
    } catch (const DbError& e) {
        QCOMPARE(e.number(), int(store::ErrSyntax));
        QVERIFY2(e.detail().contains(QStringLiteral("SQL: ") + bad), qPrintable(e.detail()));
        // The engine's own words differ from one engine to the other.
        if (!testsupport::onServer()) {
            QCOMPARE(e.description(),
                     DbError::describe(store::ErrSyntax) + QStringLiteral(" no such column: colonna_che_non_esiste"));
            QVERIFY2(e.detail().startsWith(QStringLiteral("SQLite 1: no such column")), qPrintable(e.detail()));
        } else {
            QVERIFY2(e.description().startsWith(DbError::describe(store::ErrSyntax)), qPrintable(e.description()));
            QVERIFY2(e.detail().contains(QStringLiteral("colonna_che_non_esiste")), qPrintable(e.detail()));
        }
        QCOMPARE(e.errors().size(), 1);
        QCOMPARE(e.errors().first().detail, e.detail());
    }
}
