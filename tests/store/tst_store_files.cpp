// Whole-file operations on archives: copies while others write, new archives from the template,
// the integrity check, repair of damaged files and compaction that fails half-way.
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "support/StoreSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

#include <atomic>
#include <thread>

using testsupport::damagePages;
using testsupport::digest;
using testsupport::errorOf;
using testsupport::pageNumbers;
using testsupport::pagesOf;
using testsupport::readFile;
using testsupport::rowCount;
using testsupport::writeFile;

namespace {

// `books` books with notes long enough to fill many pages, 200 authors, 20 publishers, and two
// authors for every book.
QString populate(int books)
{
    return QStringLiteral(
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
               "INSERT INTO biblio (id, titolo, genere, id_edizione, note) "
               "SELECT i, 'TITOLO ' || i, 'GENERE ' || (i % 7), 1 + i % 20, printf('%.*c', 600, 'n') FROM n; "
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
               "INSERT INTO autore (ID_autore, nome) SELECT i, 'AUTORE ' || i FROM n; "
               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20) "
               "INSERT INTO editori (ID_Editore, nome) SELECT i, 'EDITORE ' || i FROM n; "
               "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + id % 200 FROM biblio; "
               "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + (id + 1) % 200 FROM biblio;")
        .arg(books);
}

QStringList integrity(const QString& path)
{
    return store::files::integrityProblems(path);
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestArchiveFiles : public QObject {
    Q_OBJECT

    testsupport::ArchiveFolder m_dir;

    QString archive(const QString& name, int books)
    {
        return m_dir.create(name, books > 0 ? populate(books) : QString());
    }

  private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void cleanup()
    {
        store::files::setStepHook({});
        store::files::setProgress({});
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    // ------------------------------------------------------------ copies

    void copyIsConsistentWhileBooksAreSaved()
    {
        const QString source = archive(QStringLiteral("vivo.mdb"), 1000);
        std::atomic<bool> stop{false};
        std::atomic<int> commits{0};
        // Another user saving books all the time, 25 in each transaction.
        std::thread writer([&] {
            sqlite3* db = nullptr;
            sqlite3_open_v2(source.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
            store::registerCollation(db);
            sqlite3_busy_timeout(db, 5000);
            int next = 100000;
            while (!stop) {
                QByteArray sql = "BEGIN;";
                // Every transaction also keeps a count in another table, on another page.
                sql += "UPDATE editori SET nome = (SELECT count(*) + 25 FROM biblio) WHERE ID_Editore = 1;";
                for (int i = 0; i < 25; ++i, ++next) {
                    sql += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'NUOVO %1', "
                                          "printf('%.*c', 900, 'x'));")
                               .arg(next)
                               .toUtf8();
                }
                sql += "COMMIT;";
                if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK) {
                    ++commits;
                } else {
                    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
                }
            }
            sqlite3_close(db);
        });
        QTRY_VERIFY(commits > 2);
        QList<qint64> seen;
        for (int i = 0; i < 4; ++i) {
            const QString copy = m_dir.filePath(QStringLiteral("copia%1.mdb").arg(i));
            const int error = errorOf([&] { store::files::copyArchive(source, copy); });
            if (error) {
                stop = true;
                writer.join();
                QFAIL(qPrintable(QStringLiteral("copy failed with %1").arg(error)));
            }
            QCOMPARE(integrity(copy), QStringList());
            const qint64 books = rowCount(copy, QStringLiteral("biblio"));
            // Whole transactions only: never a part of one.
            QCOMPARE((books - 1000) % 25, 0);
            sqlite3* db = nullptr;
            sqlite3_open_v2(copy.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_stmt* st = nullptr;
            sqlite3_prepare_v2(db, "SELECT nome FROM editori WHERE ID_Editore = 1", -1, &st, nullptr);
            const qint64 kept = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
            sqlite3_finalize(st);
            sqlite3_close(db);
            if (books > 1000) {
                QCOMPARE(kept, books);
            }
            seen << books;
        }
        stop = true;
        writer.join();
        QVERIFY2(seen.constLast() > 1000, "the copies missed every saved book");
        QVERIFY(store::Archive::open(m_dir.filePath(QStringLiteral("copia3.mdb"))));
    }

    void copyNeverOverwritesAnArchiveInUse()
    {
        const QString source = archive(QStringLiteral("fonte.mdb"), 50);
        const QString other = archive(QStringLiteral("altro.mdb"), 10);
        const QByteArray sourceBefore = digest(source);
        const QByteArray otherBefore = digest(other);

        // Onto itself: the copy's own reading keeps it in use.
        QCOMPARE(errorOf([&] { store::files::copyArchive(source, source); }), int(store::ErrInUse));
        QCOMPARE(digest(source), sourceBefore);

        {
            const auto held = store::Archive::open(other);
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, other); }), int(store::ErrInUse));
            QCOMPARE(digest(other), otherBefore);
            // Opened elsewhere, the archive cannot be held exclusively either.
            QCOMPARE(errorOf([&] { store::files::ExclusiveUse use(other); }), int(store::ErrInUse));
        }
        // Once closed, it is replaced by the copy.
        store::files::copyArchive(source, other);
        QCOMPARE(rowCount(other, QStringLiteral("biblio")), 50);
        QCOMPARE(integrity(other), QStringList());

        // A file that is not an archive is replaced whole.
        const QString text = m_dir.filePath(QStringLiteral("testo.mdb"));
        QVERIFY(writeFile(text, "una lista della spesa\n"));
        store::files::copyArchive(source, text);
        QCOMPARE(rowCount(text, QStringLiteral("biblio")), 50);
        QVERIFY(!QFileInfo::exists(text + QStringLiteral(".nuovo")));

        // Held on a name where no archive came to be, the lock leaves nothing behind.
        const QString never = m_dir.filePath(QStringLiteral("mai.mdb"));
        {
            const store::files::ExclusiveUse use(never);
            QVERIFY(QFileInfo::exists(store::PresenceLock::lockFilePath(never)));
        }
        QVERIFY(!QFileInfo::exists(store::PresenceLock::lockFilePath(never)));

        // A missing source is reported and creates nothing.
        const QString missing = m_dir.filePath(QStringLiteral("manca.mdb"));
        QVERIFY(errorOf([&] { store::files::copyArchive(missing, m_dir.filePath(QStringLiteral("x.mdb"))); }));
        QVERIFY(!QFileInfo::exists(m_dir.filePath(QStringLiteral("x.mdb"))));
    }

    void anotherNameOfTheOpenArchiveIsStillInUse()
    {
        const QString source = archive(QStringLiteral("fonte.mdb"), 5);
        const QString open = archive(QStringLiteral("aperto.mdb"), 20);
        const QString alias = m_dir.filePath(QStringLiteral("alias.mdb"));
        QVERIFY(QFile::link(open, alias));
        const QByteArray before = digest(open);
        const auto held = store::Archive::open(open);
        QVERIFY(store::files::sameFile(open, alias));
        QCOMPARE(errorOf([&] { store::files::copyArchive(source, alias); }), int(store::ErrInUse));
        QCOMPARE(errorOf([&] { store::files::copyTemplate(source, alias); }), int(store::ErrInUse));
        QCOMPARE(errorOf([&] { store::files::copyArchive(alias, open); }), int(store::ErrInUse));
        QCOMPARE(digest(open), before);
    }

    void templateMakesEmptyArchives()
    {
        const QString empty = archive(QStringLiteral("$vuoto$.md$"), 0);
        const QString full = archive(QStringLiteral("pieno.mdb"), 30);
        const QByteArray templateBefore = digest(empty);

        store::files::copyTemplate(empty, full);
        for (const char* table : {"biblio", "autore", "editori", "autbiblio"}) {
            QCOMPARE(rowCount(full, QString::fromLatin1(table)), 0);
        }
        QVERIFY(store::Archive::open(full));
        const QString fresh = m_dir.filePath(QStringLiteral("nuovo.mdb"));
        store::files::copyTemplate(empty, fresh);
        QCOMPARE(rowCount(fresh, QStringLiteral("biblio")), 0);
        QCOMPARE(digest(empty), templateBefore);

        QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, empty); }), int(store::ErrPermissionDenied));
        QCOMPARE(errorOf([&] { store::files::copyTemplate(m_dir.filePath(QStringLiteral("nessuno.md$")), fresh); }),
                 int(store::ErrFileNotFound));
        {
            const QString used = archive(QStringLiteral("usato.mdb"), 5);
            const QByteArray before = digest(used);
            const auto held = store::Archive::open(used);
            QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, used); }), int(store::ErrInUse));
            QCOMPARE(digest(used), before);
        }
    }

    // ------------------------------------------------------------ repair

    void healthyArchiveIsLeftAlone()
    {
        const QString path = archive(QStringLiteral("sano.mdb"), 200);
        const QByteArray before = digest(path);
        const QStringList filesBefore = filesIn(m_dir.path());
        store::files::RepairOutcome outcome;
        {
            const store::files::ExclusiveUse use(path);
            outcome = store::files::repair(use);
        }
        QVERIFY(!outcome.damaged);
        QVERIFY(outcome.keptAs.isEmpty());
        QCOMPARE(digest(path), before);
        QCOMPARE(filesIn(m_dir.path()), filesBefore);
    }

    void aLockedHealthyArchiveIsNotTakenForDamaged()
    {
        const QString path = archive(QStringLiteral("occupato.mdb"), 100);
        const QByteArray before = digest(path);
        // Another program (which knows nothing of the presence lock) writing for a long time.
        sqlite3* other = nullptr;
        sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READWRITE, nullptr);
        QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
        const int error = errorOf([&] {
            const store::files::ExclusiveUse use(path);
            store::files::repair(use);
        });
        sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(other);
        QCOMPARE(error, int(store::ErrInUse));
        QCOMPARE(digest(path), before);
        QCOMPARE(QDir(m_dir.path()).entryList({QStringLiteral("*danneggiato*")}, QDir::Files), QStringList());
    }

    void damagedArchiveIsRebuiltFromItsReadableRows()
    {
        const QString path = archive(QStringLiteral("rotto.mdb"), 1500);
        const QList<int> leaves = pageNumbers(pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(leaves.size() > 20);
        // One leaf of the books and one page of the title index.
        const int lostLeaf = leaves.at(leaves.size() / 2);
        const QList<int> titleIndex =
            pageNumbers(pagesOf(path, QStringLiteral("biblio_titolo"), QStringLiteral("leaf")));
        QVERIFY(!titleIndex.isEmpty());
        QVERIFY(damagePages(path, {lostLeaf, titleIndex.first()}));
        const QByteArray damaged = digest(path);
        QVERIFY(!integrity(path).isEmpty());

        store::files::RepairOutcome outcome;
        QStringList stages;
        store::files::setProgress([&stages](const QString& stage) {
            if (stages.isEmpty() || stages.constLast() != stage) {
                stages << stage;
            }
        });
        {
            const store::files::ExclusiveUse use(path);
            outcome = store::files::repair(use);
        }
        QCOMPARE(stages, (QStringList{QStringLiteral("Controllo dell'archivio..."),
                                      QStringLiteral("Recupero dei dati leggibili...")}));
        QVERIFY(outcome.damaged);
        QVERIFY(!outcome.problems.isEmpty());
        // The damaged original is kept as it was, under a dated name beside the archive.
        QVERIFY(QFileInfo(outcome.keptAs)
                    .fileName()
                    .startsWith(QStringLiteral("rotto-danneggiato-") + QDate::currentDate().toString("yyyyMMdd")));
        QCOMPARE(QFileInfo(outcome.keptAs).absolutePath(), QFileInfo(path).absolutePath());
        QCOMPARE(digest(outcome.keptAs), damaged);
        QVERIFY(!QFileInfo::exists(path + QStringLiteral(".riparato")));

        QCOMPARE(integrity(path), QStringList());
        const qint64 books = rowCount(path, QStringLiteral("biblio"));
        // A leaf holds a handful of these books; every other one comes back.
        QVERIFY2(books >= 1500 - 10 && books < 1500, qPrintable(QString::number(books)));
        QCOMPARE(rowCount(path, QStringLiteral("autore")), 200);
        QCOMPARE(rowCount(path, QStringLiteral("editori")), 20);
        QCOMPARE(rowCount(path, QStringLiteral("autbiblio")), 3000);
        QVERIFY(outcome.rowsSaved >= books + 200 + 20 + 3000);
        QVERIFY(store::Archive::open(path));

        // The repaired archive is sound: a second repair leaves it alone.
        const store::files::ExclusiveUse use(path);
        QVERIFY(!store::files::repair(use).damaged);
    }

    void unreadableFileReportsEveryFailedStep()
    {
        const QString path = m_dir.filePath(QStringLiteral("rumore.mdb"));
        const QByteArray noise = testsupport::randomBytes(64 * 1024);
        QVERIFY(writeFile(path, noise));
        try {
            const store::files::ExclusiveUse use(path);
            store::files::repair(use);
            QFAIL("a file of noise was repaired");
        } catch (const store::DbError& e) {
            // What the check found, then why nothing could be saved.
            QVERIFY2(e.errors().size() >= 2, qPrintable(e.description()));
            QCOMPARE(e.errors().constFirst().number, int(store::ErrFileNotArchive));
            QCOMPARE(e.number(), int(store::ErrFileNotArchive));
        }
        QCOMPARE(readFile(path), noise);
        QCOMPARE(filesIn(m_dir.path()),
                 QStringList({QStringLiteral("rumore.mdb"), QStringLiteral("rumore.mdb-presenza")}));
    }

    // ------------------------------------------------------------ compaction

    void compactionShrinksAndKeepsEveryRow()
    {
        const QString path = archive(QStringLiteral("grande.mdb"), 2000);
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id % 2 = 0"));
        const qint64 sizeBefore = QFileInfo(path).size();
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        QStringList stages;
        store::files::setProgress([&stages](const QString& stage) {
            if (stages.isEmpty() || stages.constLast() != stage) {
                stages << stage;
            }
        });
        {
            const store::files::ExclusiveUse use(path);
            store::files::compact(use, work);
        }
        store::files::setProgress({});
        QCOMPARE(stages, (QStringList{QStringLiteral("Compattazione dell'archivio..."),
                                      QStringLiteral("Verifica dell'archivio compattato..."),
                                      QStringLiteral("Sostituzione dell'archivio...")}));
        QVERIFY2(QFileInfo(path).size() < sizeBefore * 2 / 3,
                 qPrintable(QStringLiteral("%1 -> %2").arg(sizeBefore).arg(QFileInfo(path).size())));
        QCOMPARE(rowCount(path, QStringLiteral("biblio")), 1000);
        QCOMPARE(rowCount(path, QStringLiteral("autbiblio")), 2000);
        QCOMPARE(integrity(path), QStringList());
        QCOMPARE(filesIn(work), QStringList{QStringLiteral("compattazione-presenza")});
        QVERIFY(store::Archive::open(path));
    }

    void oneCompactionAtATimeInAWorkFolder()
    {
        // Two computers running the program from one shared folder compact two archives.
        const QString first = archive(QStringLiteral("primo.mdb"), 300);
        const QString second = archive(QStringLiteral("secondo.mdb"), 300);
        store::Archive::open(second)->exec(QStringLiteral("UPDATE biblio SET titolo = 'DEL SECONDO'"));
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        int nested = -1;
        store::files::setStepHook([&](const QString& step) {
            if (step == QLatin1String("dacomp1") && nested < 0) {
                nested = errorOf([&] {
                    const store::files::ExclusiveUse use(second);
                    store::files::compact(use, work);
                });
            }
        });
        {
            const store::files::ExclusiveUse use(first);
            store::files::compact(use, work);
        }
        QCOMPARE(nested, int(store::ErrInUse));
        const auto firstArchive = store::Archive::open(first);
        store::Statement titles =
            firstArchive->prepare(QStringLiteral("SELECT count(*) FROM biblio WHERE titolo LIKE 'TITOLO %'"));
        QVERIFY(titles.step());
        QCOMPARE(titles.int64(0), 300);
        QCOMPARE(rowCount(second, QStringLiteral("biblio")), 300);
    }

    void compactionFailingAtAnyStepKeepsTheData_data()
    {
        QTest::addColumn<QString>("failAt");
        for (const char* step : {"dacomp1", "comp1", "verifica", "sostituzione", "pulizia"}) {
            QTest::newRow(step) << QString::fromLatin1(step);
        }
    }

    void compactionFailingAtAnyStepKeepsTheData()
    {
        QFETCH(QString, failAt);
        const QString path = archive(QStringLiteral("fragile.mdb"), 3000);
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id % 3 = 0"));
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        bool reached = false;
        store::files::setStepHook([&](const QString& step) {
            if (step == failAt && !reached) {
                reached = true;
                throw store::DbError(store::ErrPathFileAccess);
            }
        });
        {
            const store::files::ExclusiveUse use(path);
            QCOMPARE(errorOf([&] { store::files::compact(use, work); }), int(store::ErrPathFileAccess));
        }
        QVERIFY(reached);
        // The archive is whole, old or new, with every row.
        QCOMPARE(integrity(path), QStringList());
        QCOMPARE(rowCount(path, QStringLiteral("biblio")), 2000);
        QCOMPARE(rowCount(path, QStringLiteral("autbiblio")), 4000);
        QVERIFY(store::Archive::open(path));
        // The copy taken first still holds the archive as it was.
        const QString before = QDir(work).filePath(store::files::kBeforeCompaction);
        QVERIFY(QFileInfo::exists(before));
        QCOMPARE(rowCount(before, QStringLiteral("biblio")), 2000);

        // The next compaction, with nothing failing, starts afresh and cleans up.
        store::files::setStepHook({});
        {
            const store::files::ExclusiveUse use(path);
            store::files::compact(use, work);
        }
        QCOMPARE(rowCount(path, QStringLiteral("biblio")), 2000);
        QCOMPARE(filesIn(work), QStringList{QStringLiteral("compattazione-presenza")});
    }
};

QTEST_GUILESS_MAIN(TestArchiveFiles)
#include "tst_store_files.moc"
