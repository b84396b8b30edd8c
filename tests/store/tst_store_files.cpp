// Whole-file operations on archives: copies while others write, new archives from the template,
// the integrity check, repair of damaged files and compaction that fails half-way.
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Collation.h"
#include "store/DbError.h"
#include "support/Restrictions.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
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

QString nativeFolder(const QString& folder)
{
    return QDir::toNativeSeparators(QDir(folder).absolutePath());
}

// The numbers of every error an action collects, or none.
QList<int> errorsOf(const std::function<void()>& action)
{
    QList<int> numbers;
    try {
        action();
    } catch (const store::DbError& e) {
        for (const store::ErrorItem& item : e.errors()) {
            numbers << item.number;
        }
    }
    return numbers;
}

// The files an operation killed half-way may leave: beside the archive and in the work folder.
QStringList leftoversOf(const QString& archive, const QString& work)
{
    QStringList candidates = archive.isEmpty() ? QStringList() : store::files::companionFiles(archive);
    for (const QString& name : {store::files::kBeforeCompaction, store::files::kCompacted}) {
        candidates << QDir(work).filePath(name) << QDir(work).filePath(name + QStringLiteral("-journal"));
    }
    QStringList found;
    for (const QString& file : candidates) {
        if (QFileInfo::exists(file)) {
            found << QFileInfo(file).fileName();
        }
    }
    return found;
}

bool makeLink(const QString& target, const QString& link, bool hard)
{
    std::error_code error;
    if (hard) {
        std::filesystem::create_hard_link(target.toStdString(), link.toStdString(), error);
    } else {
        std::filesystem::create_symlink(target.toStdString(), link.toStdString(), error);
    }
    return !error;
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
                // Saves come one after another, never back to back: a writer that commits again
                // the instant it has committed shuts every reader out for as long as it likes,
                // and on a busy machine the copy's reading gave up after its five seconds.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
        // The links of the lost books went with them, counted; every other one is there.
        QCOMPARE(rowCount(path, QStringLiteral("autbiblio")), 2 * books);
        QCOMPARE(outcome.linksDropped, 2 * (1500 - books));
        QCOMPARE(outcome.rowsUnreadable, qint64(0));
        QCOMPARE(outcome.rowsSaved, books + 200 + 20 + 2 * books);
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

    void onlyADamagedArchiveWithRowsIsSalvageable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("salvageable");
        QTest::newRow("first page destroyed") << "first page" << true;
        QTest::newRow("cut in half") << "half" << true;
        QTest::newRow("sound archive") << "sound" << false;
        QTest::newRow("text") << "text" << false;
        QTest::newRow("noise") << "noise" << false;
        QTest::newRow("empty file") << "empty" << false;
        QTest::newRow("empty archive, first page destroyed") << "empty damaged" << false;
        QTest::newRow("newer archive, cut in half") << "newer" << false;
        QTest::newRow("another program's database") << "foreign" << false;
    }

    void onlyADamagedArchiveWithRowsIsSalvageable()
    {
        QFETCH(QString, kind);
        QFETCH(bool, salvageable);
        const QString path = archive(QStringLiteral("prova.mdb"), kind == QLatin1String("empty damaged") ? 0 : 300);
        QFile file(path);
        if (kind == QLatin1String("first page") || kind == QLatin1String("empty damaged")) {
            QVERIFY(damagePages(path, {1}));
        } else if (kind == QLatin1String("half") || kind == QLatin1String("newer")) {
            if (kind == QLatin1String("newer")) {
                store::Archive::open(path)->exec(QStringLiteral("PRAGMA user_version=99"));
            }
            QVERIFY(file.resize(file.size() / 2));
        } else if (kind == QLatin1String("text")) {
            QVERIFY(writeFile(path, QByteArray("Elenco dei libri\r\n").repeated(2000)));
        } else if (kind == QLatin1String("noise")) {
            QVERIFY(writeFile(path, testsupport::randomBytes(256 * 1024)));
        } else if (kind == QLatin1String("empty")) {
            QVERIFY(writeFile(path, QByteArray()));
        } else if (kind == QLatin1String("foreign")) {
            QVERIFY(QFile::remove(path));
            sqlite3* db = nullptr;
            sqlite3_open(path.toUtf8().constData(), &db);
            sqlite3_exec(db,
                         "CREATE TABLE misure (a INTEGER, b INTEGER); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                         "SELECT i+1 FROM n WHERE i < 2000) INSERT INTO misure SELECT i, i * 2 FROM n;",
                         nullptr, nullptr, nullptr);
            sqlite3_close(db);
        }
        const QByteArray before = digest(path);
        const QStringList filesBefore =
            QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(store::files::salvageable(path), salvageable);
        // Read only, and nothing made beside it.
        QCOMPARE(digest(path), before);
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), filesBefore);
    }

    // ------------------------------------------------------------ two program instances

    void aFileInUseUnderAnotherNameIsNeverOverwritten_data()
    {
        QTest::addColumn<bool>("hardLink");
        QTest::newRow("collegamento fisico") << true;
        QTest::newRow("collegamento simbolico") << false;
    }

    void aFileInUseUnderAnotherNameIsNeverOverwritten()
    {
        QFETCH(bool, hardLink);
        const QString shared = archive(QStringLiteral("condiviso.mdb"), 300);
        const QString alias = m_dir.filePath(QStringLiteral("altro-nome.mdb"));
        QVERIFY(makeLink(shared, alias, hardLink));
        const QString source = archive(QStringLiteral("fonte.mdb"), 5);
        const QString empty = archive(QStringLiteral("$vuoto$.md$"), 0);
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        // A hard link is a second name the presence lock cannot follow: such a file is refused as
        // long as it has one. A symbolic link leads to the file's own lock.
        const int refused = hardLink ? store::ErrSeveralNames : store::ErrInUse;
        const QByteArray before = digest(shared);
        for (const auto& [held, target] : {std::pair{shared, alias}, std::pair{alias, shared}}) {
            testsupport::OtherProcess window;
            QVERIFY2(window.start({QStringLiteral("tieni"), held}), qPrintable(window.output()));
            QString description;
            QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, target); }, &description), refused);
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, target); }), refused);
            QCOMPARE(errorOf([&] {
                         const store::files::ExclusiveUse use(target);
                         store::files::repair(use);
                         store::files::compact(use, work);
                     }),
                     refused);
            if (hardLink) {
                QVERIFY2(description.contains(QFileInfo(target).fileName()) &&
                             description.contains(QStringLiteral("2")),
                         qPrintable(description));
            }
            QCOMPARE(digest(shared), before);
            QVERIFY2(window.finish(), qPrintable(window.output()));
        }
        QCOMPARE(filesIn(work), QStringList());

        if (hardLink) {
            // Nobody has it open now, yet its users cannot be known: still refused, until the
            // second name goes.
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, shared); }), int(store::ErrSeveralNames));
            QCOMPARE(digest(shared), before);
            QVERIFY(QFile::remove(alias));
        }
        store::files::copyArchive(source, hardLink ? shared : alias);
        QCOMPARE(rowCount(shared, QStringLiteral("biblio")), 5);
        QCOMPARE(QFileInfo(alias).isSymLink(), !hardLink);
    }

    // ------------------------------------------------------------ names, folders, disks

    void namesTheProgramCannotKeepAreRefused()
    {
        const QString source = archive(QStringLiteral("fonte.mdb"), 300);
        const QString empty = archive(QStringLiteral("$vuoto$.md$"), 0);
        const QStringList before = filesIn(m_dir.path());
        // avvio.ini holds one line: no name with a line break or another control character.
        for (const QString& name :
             {QStringLiteral("riga\nnuova.mdb"), QStringLiteral("tab\tulata.mdb"), QStringLiteral("ritorno\r.mdb")}) {
            const QString target = m_dir.filePath(name);
            QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, target); }), int(store::ErrControlCharacters));
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, target); }), int(store::ErrControlCharacters));
        }
        // 255 characters is a legal name, but the working files named after it would not be.
        QString description;
        const QString tooLong = m_dir.filePath(QString(251, QLatin1Char('n')) + QStringLiteral(".mdb"));
        QCOMPARE(errorOf([&] { store::files::copyArchive(source, tooLong); }, &description),
                 int(store::ErrNameTooLong));
        QVERIFY2(description.contains(QStringLiteral("232")), qPrintable(description));
        QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, tooLong); }), int(store::ErrNameTooLong));
        QCOMPARE(filesIn(m_dir.path()), before);

        // The longest name taken works for every command, the repair of a damaged archive included.
        const QString longest = m_dir.filePath(QString(228, QLatin1Char('n')) + QStringLiteral(".mdb"));
        store::files::copyArchive(source, longest);
        const QList<int> leaves = pageNumbers(pagesOf(longest, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(damagePages(longest, {leaves.at(leaves.size() / 2)}));
        store::files::RepairOutcome outcome;
        {
            const store::files::ExclusiveUse use(longest);
            outcome = store::files::repair(use);
            store::files::compact(use, m_dir.path());
        }
        QVERIFY(outcome.damaged);
        QVERIFY(QFileInfo::exists(outcome.keptAs));
        QVERIFY(QFileInfo(outcome.keptAs).fileName().size() <= 232);
        QCOMPARE(integrity(longest), QStringList());
        QVERIFY(rowCount(longest, QStringLiteral("biblio")) > 280);
        QCOMPARE(leftoversOf(longest, m_dir.path()), QStringList());
    }

    void readOnlyFoldersAreNamed_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("permessi") << int(testsupport::ReadOnlyFolder::Way::Permissions);
        QTest::newRow("montata in sola lettura") << int(testsupport::ReadOnlyFolder::Way::Mount);
    }

    void readOnlyFoldersAreNamed()
    {
        QFETCH(int, way);
        const QString source = archive(QStringLiteral("fonte.mdb"), 50);
        const QString empty = archive(QStringLiteral("$vuoto$.md$"), 0);
        const QString folder = m_dir.filePath(QStringLiteral("sola-lettura"));
        const QString existing = archive(QStringLiteral("sola-lettura/esistente.mdb"), 10);
        const QString damaged = archive(QStringLiteral("sola-lettura/rotto.mdb"), 300);
        const QList<int> leaves = pageNumbers(pagesOf(damaged, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(damagePages(damaged, {leaves.at(leaves.size() / 2)}));
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        const QByteArray existingBefore = digest(existing);
        const QByteArray damagedBefore = digest(damaged);
        const QStringList filesBefore = filesIn(folder);
        {
            const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way(way));
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
            }
            QString description;
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, folder + QStringLiteral("/nuovo.mdb")); },
                             &description),
                     int(store::ErrArchiveFolderReadOnly));
            QVERIFY2(description.contains(nativeFolder(folder)), qPrintable(description));
            QCOMPARE(errorOf([&] { store::files::copyArchive(source, existing); }),
                     int(store::ErrArchiveFolderReadOnly));
            QCOMPARE(errorOf([&] { store::files::copyTemplate(empty, existing); }),
                     int(store::ErrArchiveFolderReadOnly));
            QCOMPARE(errorOf([&] {
                         const store::files::ExclusiveUse use(existing);
                         store::files::compact(use, work);
                     }),
                     int(store::ErrArchiveFolderReadOnly));
            // Why nothing could be rebuilt: the folder, alone.
            QCOMPARE(errorsOf([&] {
                         const store::files::ExclusiveUse use(damaged);
                         store::files::repair(use);
                     }),
                     QList<int>{store::ErrArchiveFolderReadOnly});
        }
        QCOMPARE(digest(existing), existingBefore);
        QCOMPARE(digest(damaged), damagedBefore);
        QCOMPARE(filesIn(folder), filesBefore);
        QCOMPARE(leftoversOf(existing, work), QStringList());

        // The program folder, where compaction works: named as such.
        {
            const testsupport::ReadOnlyFolder readOnly(work, testsupport::ReadOnlyFolder::Way(way));
            QVERIFY2(readOnly.isValid(), qPrintable(readOnly.whyNot()));
            QString description;
            QCOMPARE(errorOf(
                         [&] {
                             const store::files::ExclusiveUse use(source);
                             store::files::compact(use, work);
                         },
                         &description),
                     int(store::ErrProgramFolderNotWritable));
            QVERIFY2(description.contains(nativeFolder(work)), qPrintable(description));
        }
        QCOMPARE(rowCount(source, QStringLiteral("biblio")), 50);
    }

    void aFullDiskIsNamed()
    {
        const QString source = archive(QStringLiteral("grande.mdb"), 1500);
        const QString small = m_dir.filePath(QStringLiteral("piccolo"));
        // Room for a small archive with a hundred books and their word index, not for this one.
        const testsupport::SmallDisk disk(small, 1024 * 1024);
        if (!disk.isValid()) {
            QSKIP(qPrintable(QStringLiteral("a small disk cannot be mounted here: ") + disk.whyNot()));
        }
        QString description;
        QCOMPARE(
            errorOf([&] { store::files::copyArchive(source, small + QStringLiteral("/copia.mdb")); }, &description),
            int(store::ErrDiskFull));
        QVERIFY2(description.contains(nativeFolder(small)), qPrintable(description));
        QCOMPARE(filesIn(small), QStringList());

        // Over an archive on the full disk: it stays as it was.
        const QString resident = small + QStringLiteral("/residente.mdb");
        store::Archive::create(resident);
        const QByteArray residentBefore = digest(resident);
        QCOMPARE(errorOf([&] { store::files::copyArchive(source, resident); }), int(store::ErrDiskFull));
        QCOMPARE(digest(resident), residentBefore);
        QVERIFY(!QFileInfo::exists(resident + QStringLiteral("-journal")));

        // Compaction through the full disk: the archive is whole, and its leftovers go.
        QCOMPARE(errorOf([&] {
                     const store::files::ExclusiveUse use(source);
                     store::files::compact(use, small);
                 }),
                 int(store::ErrDiskFull));
        QCOMPARE(integrity(source), QStringList());
        QCOMPARE(rowCount(source, QStringLiteral("biblio")), 1500);
        QCOMPARE(store::files::removeLeftovers(source, small), QStringList());
        QCOMPARE(leftoversOf(source, small), QStringList());

        // A damaged archive whose disk has no room for the rebuilt one.
        store::Archive::open(resident)->exec(populate(120));
        const QList<int> leaves = pageNumbers(pagesOf(resident, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(damagePages(resident, {leaves.at(leaves.size() / 2)}));
        const QByteArray damaged = digest(resident);
        const QString filler = small + QStringLiteral("/riempitivo");
        QVERIFY(writeFile(filler, QByteArray(int(1024 * 1024 - QFileInfo(resident).size() - 64 * 1024), 'x')));
        QCOMPARE(errorsOf([&] {
                     const store::files::ExclusiveUse use(resident);
                     store::files::repair(use);
                 }),
                 QList<int>{store::ErrDiskFull}); // the cause alone, not the integrity check's findings
        QCOMPARE(digest(resident), damaged);
        QCOMPARE(leftoversOf(resident, small), QStringList());
    }

    // ------------------------------------------------------------ leftovers

    void leftoversOfAKilledOperationGo_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("step");
        for (const char* step : {"dacomp1", "comp1", "verifica", "sostituzione"}) {
            QTest::addRow("compatta %s", step) << QStringLiteral("compatta") << QString::fromLatin1(step);
        }
        for (const char* step : {"riparato", "conservato", "ripristino"}) {
            QTest::addRow("ripara %s", step) << QStringLiteral("ripara") << QString::fromLatin1(step);
        }
    }

    void leftoversOfAKilledOperationGo()
    {
        QFETCH(QString, command);
        QFETCH(QString, step);
        const QString path = archive(QStringLiteral("interrotto.mdb"), 3000);
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        QStringList arguments{command, path};
        if (command == QLatin1String("compatta")) {
            store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id % 3 = 0"));
            arguments << work;
        } else {
            const QList<int> leaves = pageNumbers(pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
            QVERIFY(damagePages(path, {leaves.at(leaves.size() / 2)}));
        }
        const QByteArray before = digest(path);
        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled(arguments << step << QStringLiteral("uccidi")), qPrintable(killed.output()));
        QVERIFY2(!leftoversOf(path, work).isEmpty(), "the kill left nothing behind");

        QCOMPARE(store::files::removeLeftovers(path, work), QStringList());
        QCOMPARE(leftoversOf(path, work), QStringList());
        // The archive is exactly as it was: a change cut short is rolled back when it is opened.
        QVERIFY(store::Archive::open(path));
        QCOMPARE(digest(path), before);
        // A damaged original already kept is no leftover: it stays, whole.
        const QStringList kept = QDir(m_dir.path()).entryList({QStringLiteral("interrotto-danneggiato-*")});
        QCOMPARE(kept.size(), step == QLatin1String("ripristino") || step == QLatin1String("conservato") ? 1 : 0);
        if (!kept.isEmpty()) {
            QCOMPARE(digest(m_dir.filePath(kept.first())), before);
        }
    }

    void leftoversInUseStay()
    {
        const QString path = archive(QStringLiteral("compattato.mdb"), 1000);
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        // A compaction under way in another instance: its files are not leftovers.
        {
            testsupport::OtherProcess compaction;
            QVERIFY2(compaction.start(
                         {QStringLiteral("compatta"), path, work, QStringLiteral("comp1"), QStringLiteral("aspetta")},
                         "fermo"),
                     qPrintable(compaction.output()));
            QCOMPARE(store::files::removeLeftovers(QString(), work), QStringList());
            QCOMPARE(leftoversOf(QString(), work),
                     (QStringList{store::files::kBeforeCompaction, store::files::kCompacted}));
            QVERIFY2(compaction.finish(), qPrintable(compaction.output()));
        }
        QCOMPARE(leftoversOf(path, work), QStringList());

        // A repair under way keeps its rebuilt archive.
        const QList<int> leaves = pageNumbers(pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(damagePages(path, {leaves.at(leaves.size() / 2)}));
        testsupport::OtherProcess repair;
        QVERIFY2(repair.start({QStringLiteral("ripara"), path, QStringLiteral("riparato"), QStringLiteral("aspetta")},
                              "fermo"),
                 qPrintable(repair.output()));
        QCOMPARE(store::files::removeLeftovers(path, QString()), QStringList());
        QCOMPARE(leftoversOf(path, work), QStringList{QStringLiteral("compattato.mdb.riparato")});
        QVERIFY2(repair.finish(), qPrintable(repair.output()));
        QCOMPARE(leftoversOf(path, work), QStringList());
        QCOMPARE(integrity(path), QStringList());
    }

    void leftoversThatStayAreReported()
    {
        const QString path = archive(QStringLiteral("archivio.mdb"), 10);
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        const QString before = QDir(work).filePath(store::files::kBeforeCompaction);
        QVERIFY(QFile::copy(path, before));
        QVERIFY(writeFile(path + QStringLiteral(".riparato"), "mezzo archivio"));
        {
            const testsupport::ReadOnlyFolder readOnly(work, testsupport::ReadOnlyFolder::Way::Permissions);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(QStringLiteral("a read-only folder cannot be made here: ") + readOnly.whyNot()));
            }
            // The one beside the archive goes; the one in the read-only folder is reported.
            QCOMPARE(store::files::removeLeftovers(path, work), QStringList{before});
        }
        QCOMPARE(leftoversOf(path, work), QStringList{store::files::kBeforeCompaction});
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

    void aCompactionThatLeavesTheArchiveInDoubtKeepsTheCopy()
    {
        const QString path = archive(QStringLiteral("dubbio.mdb"), 3000);
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id % 3 = 0"));
        const QString work = m_dir.filePath(QStringLiteral("programma"));
        QVERIFY(QDir().mkpath(work));
        // The last page of the books' table in the file (the last page of the file may hold the
        // words' index, which the engine's check does not read through).
        const QList<int> leaves = pageNumbers(pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
        const int lastPage = *std::max_element(leaves.begin(), leaves.end());
        QVERIFY(lastPage > 256);
        // Half-way through the replacement a page the engine has not yet written is spoilt, as a
        // failing disk would: the archive can no longer be known whole.
        bool spoilt = false;
        store::files::setStepHook([&](const QString& step) {
            if (step == QLatin1String("sostituzione") && !spoilt) {
                spoilt = true;
                damagePages(path, {lastPage});
                throw store::DbError(store::ErrDiskOrNetwork);
            }
        });
        QString description;
        {
            const store::files::ExclusiveUse use(path);
            QCOMPARE(errorOf([&] { store::files::compact(use, work); }, &description), int(store::ErrDiskOrNetwork));
        }
        QVERIFY(!integrity(path).isEmpty());
        // The copy taken first holds every row, and the message says where it is.
        const QString before = QDir(work).filePath(store::files::kBeforeCompaction);
        QCOMPARE(filesIn(work),
                 (QStringList{QStringLiteral("compattazione-presenza"), store::files::kBeforeCompaction}));
        QCOMPARE(rowCount(before, QStringLiteral("biblio")), 2000);
        QCOMPARE(integrity(before), QStringList());
        QVERIFY2(description.endsWith(QStringLiteral("\rL'archivio com'era prima della compattazione è conservato in "
                                                     "'%1'.")
                                          .arg(QDir::toNativeSeparators(before))),
                 qPrintable(description));
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
        // The archive being whole, no copy of it stays behind.
        QCOMPARE(filesIn(work), QStringList{QStringLiteral("compattazione-presenza")});

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

CARTEO_TEST_GUILESS_MAIN(TestArchiveFiles)
#include "tst_store_files.moc"
