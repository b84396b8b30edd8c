// The daily copies of an archive: the rotation over a year, copies taken while others write,
// copies cut short, restores over the archive and into a new file, folders that refuse the copy.
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/Backups.h"
#include "store/DbError.h"
#include "support/Restrictions.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QtTest>

#include <atomic>

using testsupport::digest;
using testsupport::errorOf;
using testsupport::rowCount;

namespace {

QString populate(int books)
{
    return QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                          "INSERT INTO biblio (id, titolo, genere, note) "
                          "SELECT i, 'TITOLO ' || i, 'GENERE ' || (i % 7), printf('%.*c', 600, 'n') FROM n;")
        .arg(books);
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QList<QDate> datesOf(const QList<store::backups::Copy>& copies)
{
    QList<QDate> dates;
    for (const store::backups::Copy& c : copies) {
        dates << c.date;
    }
    return dates;
}

} // namespace

class TestBackups : public QObject {
    Q_OBJECT

  private slots:
    void cleanup() { store::backups::setStepHook({}); }

    void theRotationKeepsSevenDaysFourWeeksAndTwelveMonths()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(3));
        const QDate first(2026, 1, 1);
        const QDate last(2026, 12, 31);
        for (QDate day = first; day <= last; day = day.addDays(1)) {
            QCOMPARE(store::backups::makeCopy(path, day), store::backups::Outcome::Made);
            // Once a day: a second opening the same day makes none.
            QCOMPARE(store::backups::makeCopy(path, day), store::backups::Outcome::AlreadyThere);
            const QList<QDate> dates = datesOf(store::backups::list(path));
            QVERIFY(dates.size() <= 7 + 4 + 12);
            QCOMPARE(dates.first(), day);
            QVERIFY(day == first || dates.at(1) == day.addDays(-1));
        }
        QList<QDate> expected;
        for (int d = 25; d <= 31; ++d) {
            expected << QDate(2026, 12, d); // the last seven days
        }
        expected << QDate(2026, 12, 20) << QDate(2026, 12, 13); // the newest of weeks 51 and 50
        for (int m = 1; m <= 11; ++m) {
            expected << QDate(2026, m, 1).addMonths(1).addDays(-1); // each month's last day
        }
        std::sort(expected.begin(), expected.end(), std::greater<>());
        const QList<store::backups::Copy> copies = store::backups::list(path);
        QCOMPARE(datesOf(copies), expected);
        QCOMPARE(copies.first().books, 3);
        QCOMPARE(QFileInfo(copies.first().path).fileName(), QStringLiteral("archivio 2026-12-31.mdb"));
        // Nothing but the copies in the folder.
        QCOMPARE(filesIn(store::backups::folderOf(path)).size(), expected.size());
    }

    void aCopyTakenWhileAnotherConnectionWritesIsWhole()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        const auto writer = store::Archive::open(path);
        int written = 0;
        // Another connection saves a book after every step of the copy.
        store::backups::setStepHook([&](const QString& step) {
            if (step == QLatin1String("passo")) {
                store::Statement insert =
                    writer->prepare(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (?, 'NUOVO')"));
                insert.bindInt(1, 10000 + written++);
                insert.step();
            }
        });
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
        QVERIFY(written >= 3);
        const QString copy = store::backups::copyPath(path, QDate(2026, 12, 9));
        QCOMPARE(store::files::integrityProblems(copy), QStringList());
        const qint64 books = rowCount(copy, QStringLiteral("biblio"));
        QVERIFY2(books >= 2000 + 3 && books <= 2000 + written, qPrintable(QString::number(books)));
        QCOMPARE(rowCount(copy, QStringLiteral("biblio")),
                 testsupport::scalar(copy, QStringLiteral("SELECT count(*) FROM biblio WHERE id <= 2000 OR "
                                                          "titolo = 'NUOVO'"))
                     .toLongLong());
    }

    void aCopyCutShortIsNeverListedNorKept_data()
    {
        QTest::addColumn<QString>("step");
        QTest::newRow("a metà") << QStringLiteral("passo");
        QTest::newRow("prima della verifica") << QStringLiteral("verifica");
        QTest::newRow("prima del nome") << QStringLiteral("nome");
    }

    void aCopyCutShortIsNeverListedNorKept()
    {
        QFETCH(QString, step);
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 8)), store::backups::Outcome::Made);
        const QByteArray archiveBefore = digest(path);
        const QString earlier = store::backups::copyPath(path, QDate(2026, 12, 8));
        const QByteArray earlierBefore = digest(earlier);

        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled(
                     {QStringLiteral("copia"), path, QStringLiteral("2026-12-09"), step, QStringLiteral("uccidi")}),
                 qPrintable(killed.output()));
        QVERIFY2(filesIn(store::backups::folderOf(path)).size() > 1, "the kill left nothing behind");
        QCOMPARE(datesOf(store::backups::list(path)), QList<QDate>{QDate(2026, 12, 8)});
        QCOMPARE(digest(path), archiveBefore);
        QCOMPARE(digest(earlier), earlierBefore);

        // The next start makes it whole and clears what was left.
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
        QCOMPARE(filesIn(store::backups::folderOf(path)),
                 (QStringList{QStringLiteral("archivio 2026-12-08.mdb"), QStringLiteral("archivio 2026-12-09.mdb")}));
        QCOMPARE(rowCount(store::backups::copyPath(path, QDate(2026, 12, 9)), QStringLiteral("biblio")), 2000);
    }

    void aStoppedCopyLeavesNothing()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        std::atomic<bool> stop = false;
        int steps = 0;
        store::backups::setStepHook([&](const QString& step) {
            if (step == QLatin1String("passo") && ++steps == 2) {
                stop = true; // as the program's quitting does
            }
        });
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9), &stop), store::backups::Outcome::Stopped);
        QCOMPARE(filesIn(store::backups::folderOf(path)), QStringList());
        QVERIFY(store::backups::list(path).isEmpty());

        // Stopped while the whole copy is being checked: the check is not waited for either.
        stop = false;
        store::backups::setStepHook([&](const QString& step) {
            if (step == QLatin1String("verifica")) {
                stop = true;
            }
        });
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9), &stop), store::backups::Outcome::Stopped);
        QCOMPARE(filesIn(store::backups::folderOf(path)), QStringList());
    }

    void aDamagedCopyIsNotKept()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        const QString working = store::backups::copyPath(path, QDate(2026, 12, 9)) + QStringLiteral(".parziale");
        store::backups::setStepHook([&](const QString& step) {
            if (step == QLatin1String("verifica")) {
                const QList<int> leaves = testsupport::pageNumbers(
                    testsupport::pagesOf(working, QStringLiteral("biblio"), QStringLiteral("leaf")));
                QVERIFY(testsupport::damagePages(working, {leaves.at(leaves.size() / 2)}));
            }
        });
        QCOMPARE(errorOf([&] { store::backups::makeCopy(path, QDate(2026, 12, 9)); }), int(store::ErrFileNotArchive));
        QCOMPARE(filesIn(store::backups::folderOf(path)), QStringList());
        QCOMPARE(rowCount(path, QStringLiteral("biblio")), 2000);
    }

    void aRestoreRoundTrip()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(50));
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
        const QString copy = store::backups::list(path).first().path;
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id > 10"));
        const QByteArray changed = digest(path);

        // Into a new file: always allowed, even while the archive is open elsewhere.
        testsupport::OtherProcess window;
        QVERIFY2(window.start({QStringLiteral("tieni"), path}), qPrintable(window.output()));
        const QString fresh = dir.filePath(QStringLiteral("ripristinato.mdb"));
        store::backups::restoreAsNew(copy, fresh);
        QCOMPARE(rowCount(fresh, QStringLiteral("biblio")), 50);

        // Over the archive: refused while another instance has it open.
        QCOMPARE(errorOf([&] {
                     const store::files::ExclusiveUse use(path);
                     store::files::restoreCopy(copy, use);
                 }),
                 int(store::ErrInUse));
        QCOMPARE(digest(path), changed);
        QVERIFY(window.finish());

        QString keptAs;
        {
            const store::files::ExclusiveUse use(path);
            keptAs = store::files::restoreCopy(copy, use);
        }
        QCOMPARE(rowCount(path, QStringLiteral("biblio")), 50);
        QVERIFY2(QFileInfo(keptAs).fileName().startsWith(QStringLiteral("archivio-sostituito-")), qPrintable(keptAs));
        QCOMPARE(QFileInfo(keptAs).absolutePath(), QFileInfo(path).absolutePath());
        QCOMPARE(digest(keptAs), changed);
        QVERIFY(store::Archive::open(path));
    }

    void aDamagedCopyIsNotRestored()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
        const QString copy = store::backups::list(path).first().path;
        const QList<int> leaves =
            testsupport::pageNumbers(testsupport::pagesOf(copy, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(testsupport::damagePages(copy, {leaves.at(leaves.size() / 2)}));
        const QByteArray before = digest(path);
        QCOMPARE(errorOf([&] {
                     const store::files::ExclusiveUse use(path);
                     store::files::restoreCopy(copy, use);
                 }),
                 int(store::ErrFileNotArchive));
        QCOMPARE(errorOf([&] { store::backups::restoreAsNew(copy, dir.filePath(QStringLiteral("nuovo.mdb"))); }),
                 int(store::ErrFileNotArchive));
        QCOMPARE(digest(path), before);
        // Neither a new archive nor a kept one: only the archive and its presence lock.
        QCOMPARE(QDir(dir.path()).entryList({QStringLiteral("*.mdb")}, QDir::Files),
                 QStringList{QStringLiteral("archivio.mdb")});
    }

    void aRestoreKilledHalfWayLeavesTheArchiveWhole_data()
    {
        QTest::addColumn<QString>("step");
        QTest::newRow("conservato") << QStringLiteral("conservato");
        QTest::newRow("ripristino") << QStringLiteral("ripristino");
    }

    void aRestoreKilledHalfWayLeavesTheArchiveWhole()
    {
        QFETCH(QString, step);
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(2000));
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
        const QString copy = store::backups::list(path).first().path;
        const QByteArray copyBefore = digest(copy);
        store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id > 10"));
        const QByteArray before = digest(path);
        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled({QStringLiteral("ripristina"), copy, path, step, QStringLiteral("uccidi")}),
                 qPrintable(killed.output()));
        // Opened after the kill: either as it was or the copy, never half of each.
        const qint64 books = store::Archive::open(path) ? rowCount(path, QStringLiteral("biblio")) : -1;
        QVERIFY2(books == 10 || books == 2000, qPrintable(QString::number(books)));
        QCOMPARE(store::files::integrityProblems(path), QStringList());
        QCOMPARE(digest(copy), copyBefore);
    }

    void aFolderThatRefusesTheCopySaysSo()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(1500));
        const QString folder = store::backups::folderOf(path);
        QVERIFY(QDir().mkpath(folder));
        const QByteArray before = digest(path);
        {
            const testsupport::ReadOnlyFolder readOnly(folder, testsupport::ReadOnlyFolder::Way::Mount);
            if (!readOnly.isValid()) {
                QSKIP(qPrintable(readOnly.whyNot()));
            }
            QString description;
            QCOMPARE(errorOf([&] { store::backups::makeCopy(path, QDate(2026, 12, 9)); }, &description),
                     int(store::ErrArchiveFolderReadOnly));
            QVERIFY2(description.contains(QStringLiteral("copia")), qPrintable(description));
        }
        QCOMPARE(digest(path), before);
        QVERIFY(store::backups::list(path).isEmpty());
        // Once the folder can be written again, the copy is made.
        QCOMPARE(store::backups::makeCopy(path, QDate(2026, 12, 9)), store::backups::Outcome::Made);
    }

    void aFullDiskKeepsEarlierCopies()
    {
        testsupport::ArchiveFolder dir;
        const QString small = store::backups::folderOf(dir.filePath(QStringLiteral("archivio.mdb")));
        QVERIFY(QDir().mkpath(small));
        const QString tiny = dir.create(QStringLiteral("piccolo.mdb"));
        const QString path = dir.create(QStringLiteral("archivio.mdb"), populate(3000));
        const testsupport::SmallDisk disk(small, 1024 * 1024);
        if (!disk.isValid()) {
            QSKIP(qPrintable(disk.whyNot()));
        }
        QCOMPARE(store::backups::makeCopy(tiny, QDate(2026, 12, 8)), store::backups::Outcome::Made);
        const QString earlier = store::backups::copyPath(tiny, QDate(2026, 12, 8));
        const QByteArray earlierBefore = digest(earlier);
        const QByteArray before = digest(path);
        QString description;
        QCOMPARE(errorOf([&] { store::backups::makeCopy(path, QDate(2026, 12, 9)); }, &description),
                 int(store::ErrDiskFull));
        QVERIFY2(description.contains(QStringLiteral("pieno")), qPrintable(description));
        QCOMPARE(digest(path), before);
        QCOMPARE(digest(earlier), earlierBefore);
        QCOMPARE(filesIn(small), QStringList{QStringLiteral("piccolo 2026-12-08.mdb")});
        QVERIFY(store::backups::list(path).isEmpty());
    }

    void thePhotosAreMirroredNewAndChangedOnly()
    {
        testsupport::ArchiveFolder dir;
        const QString path = dir.create(QStringLiteral("archivio.mdb"));
        const QString photos = dir.filePath(QStringLiteral("foto"));
        QVERIFY(QDir().mkpath(photos + QStringLiteral("/sotto")));
        QVERIFY(testsupport::writeFile(photos + QStringLiteral("/1.jpg"), "uno"));
        QVERIFY(testsupport::writeFile(photos + QStringLiteral("/sotto/2.jpg"), "due"));
        QCOMPARE(store::backups::mirrorPhotos(path, photos), 2);
        QCOMPARE(store::backups::mirrorPhotos(path, photos), 0);
        QVERIFY(testsupport::writeFile(photos + QStringLiteral("/1.jpg"), "uno, cambiata"));
        QCOMPARE(store::backups::mirrorPhotos(path, photos), 1);
        const QString mirror = QDir(store::backups::folderOf(path)).filePath(QStringLiteral("foto"));
        QCOMPARE(testsupport::readFile(mirror + QStringLiteral("/1.jpg")), QByteArray("uno, cambiata"));
        QCOMPARE(testsupport::readFile(mirror + QStringLiteral("/sotto/2.jpg")), QByteArray("due"));

        // Left by a mirror cut short: gone at the next run, whether its photo is still there or not.
        QVERIFY(testsupport::writeFile(mirror + QStringLiteral("/sotto/2.jpg.parziale"), "d"));
        QVERIFY(testsupport::writeFile(mirror + QStringLiteral("/3.jpg.parziale"), "t"));
        QVERIFY(QFile::remove(mirror + QStringLiteral("/sotto/2.jpg")));
        QCOMPARE(store::backups::mirrorPhotos(path, photos), 1);
        QDirIterator left(mirror, QDir::Files, QDirIterator::Subdirectories);
        QStringList files;
        while (left.hasNext()) {
            files << QDir(mirror).relativeFilePath(left.next());
        }
        files.sort();
        QCOMPARE(files, QStringList({QStringLiteral("1.jpg"), QStringLiteral("sotto/2.jpg")}));
    }
};

CARTEO_TEST_GUILESS_MAIN(TestBackups)
#include "tst_store_backups.moc"
