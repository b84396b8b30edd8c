// Archives of the earlier engine: a real Jet 4 file (tests/exchange/data/README.md says where it
// comes from) read through the helper, and damaged or foreign files refused with 3921.
#include "exchange/JetArchive.h"
#include "store/DbError.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace testsupport;

class TestLegacy : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    QString sample() const { return QFINDTESTDATA("data/users-jet4.mdb"); }

    // A copy of the sample's first `size` bytes (all of them when -1), with `patch` applied.
    QString copyOfSample(const QString& name, qsizetype size = -1, const QList<QPair<qsizetype, char>>& patch = {})
    {
        QByteArray bytes = readFile(sample());
        if (size >= 0)
            bytes.truncate(size);
        for (const auto& [at, value] : patch)
            bytes[at] = value;
        const QString path = m_dir.filePath(name);
        return writeFile(path, bytes) ? path : QString();
    }

    // Every row of a table, or the error's number and description as the only row.
    static QList<QStringList> readTable(const QString& path, const QString& table)
    {
        QList<QStringList> rows;
        QString description;
        const int number = errorOf(
            [&] {
                exchange::JetArchive archive(path);
                auto reader = archive.rows(table);
                QStringList values;
                while (reader->next(values))
                    rows.append(values);
            },
            &description);
        if (number != 0)
            return {{QString::number(number), description}};
        return rows;
    }

  private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!sample().isEmpty(), "the sample archive data/users-jet4.mdb is missing");
        QVERIFY2(!exchange::JetArchive::helperPath().isEmpty(), "carteo_jet was not built");
    }

    // What the command-line tools read from the same file (data/README.md), dates as the program
    // writes them.
    void readsTablesColumnsAndRowsOfAJet4Archive()
    {
        exchange::JetArchive archive(sample());
        QCOMPARE(archive.tables(), QStringList{"Users"});
        QCOMPARE(archive.findTable("USERS"), QString("Users"));
        QCOMPARE(archive.findTable("MSysObjects"), QString()); // the engine's own tables are not listed
        QCOMPARE(archive.columns("users"),
                 (QStringList{"UserId", "UserName", "UserSex", "UserBirthday", "UserMarried"}));

        auto rows = archive.rows("Users");
        QCOMPARE(rows->expected(), 3);
        QList<QStringList> read;
        QStringList values;
        while (rows->next(values))
            read.append(values);
        QCOMPARE(read.size(), 3);
        QCOMPARE(read[0], (QStringList{"1", "Nuintun", "Male", "25/01/1989 00:00:00", "1"}));
        QCOMPARE(read[1], (QStringList{"2", "Angela", "Female", "18/12/1988 00:00:00", "0"}));
        QCOMPARE(read[2],
                 (QStringList{"3", QString::fromUtf8("张三"), QString::fromUtf8("男"), "18/12/1986 00:00:00", "1"}));
        QCOMPARE(rows->read(), 3);
        QVERIFY(!rows->next(values)); // stays at the end

        // Two readers of one archive at once, and one dropped half way.
        auto first = archive.rows("Users");
        auto second = archive.rows("Users");
        QVERIFY(first->next(values));
        QVERIFY(second->next(values) && second->next(values));
        QCOMPARE(values.value(1), QString("Angela"));
        first.reset();
        QVERIFY(second->next(values));
        QCOMPARE(values.value(0), QString("3"));
    }

    void namesATableThatIsNotThere()
    {
        exchange::JetArchive archive(sample());
        QString description;
        QCOMPARE(errorOf([&] { archive.columns("biblio"); }, &description), int(store::ErrNotATable));
        QVERIFY2(description.contains("\"biblio\""), qPrintable(description));
        QCOMPARE(errorOf([&] { archive.rows("biblio"); }, &description), int(store::ErrNotATable));

        // The catalogue reader names the first of its tables that the archive lacks.
        QCOMPARE(errorOf([&] { exchange::legacyReader(sample()); }, &description), int(store::ErrNotATable));
        QVERIFY2(description.contains("manca la tabella \"biblio\""), qPrintable(description));
    }

    // Files that are not archives of the earlier engine, or damaged ones: 3921 naming the file,
    // never a crash or a hang of the program.
    void refusesForeignAndDamagedFiles()
    {
        ArchiveFolder archives;
        const QString ours = archives.create("nostro.mdb");
        const QString empty = m_dir.filePath("vuoto.mdb");
        QVERIFY(writeFile(empty, {}));
        const QString text = m_dir.filePath("testo.mdb");
        QVERIFY(writeFile(text, "Titolo;Autore\r\nI promessi sposi;Manzoni\r\n"));
        const qsizetype size = readFile(sample()).size();

        const QList<QPair<QString, QString>> cases{
            {empty, "è vuoto"},
            {text, "non è un archivio precedente"},
            {ours, "già un archivio di questo programma"},
            {copyOfSample("cento.mdb", 100), "è incompleto"},
            {copyOfSample("meta.mdb", size / 2 + 1), "è incompleto"},
            {copyOfSample("due-pagine.mdb", 2 * 4096), "è incompleto"},
            // Whole pages, but the catalogue's pages are gone.
            {copyOfSample("tre-pagine.mdb", 3 * 4096), "danneggiato"},
            // A version byte that no engine wrote.
            {copyOfSample("versione.mdb", -1, {{0x14, char(0x42)}}), "versione"},
        };
        for (const auto& [path, expected] : cases) {
            QString description;
            QCOMPARE(errorOf([&] { exchange::JetArchive archive(path); }, &description), int(store::ErrNotATable));
            QVERIFY2(description.contains(expected), qPrintable(path + ": " + description));
            QVERIFY2(description.contains(QFileInfo(path).fileName()), qPrintable(description));
        }
        QVERIFY(QFile::exists(ours)); // our own archive was only read
        QCOMPARE(errorOf([&] { exchange::JetArchive archive(m_dir.filePath("non-ce.mdb")); }),
                 int(store::ErrNotATable));
    }

    void damagedPagesReadOrFailCleanly()
    {
        // The table's data pages overwritten: the rows that can still be read, or 3921.
        const qsizetype size = readFile(sample()).size();
        for (int page = 1; page < size / 4096; ++page) {
            const QString path = copyOfSample(QString("pagina-%1.mdb").arg(page));
            QVERIFY(damagePages(path, {page + 1}));
            const QList<QStringList> rows = readTable(path, "Users");
            const bool refused = rows.size() == 1 && rows[0].value(0) == QString::number(store::ErrNotATable);
            QVERIFY2(refused || rows.size() <= 3, qPrintable(QString("page %1").arg(page)));
        }
    }

    void aReaderThatLoopsIsStopped()
    {
        // One byte in a page of the engine's catalogue makes the reader go round without end.
        exchange::JetArchive::setStallLimit(5000);
        const QString path = copyOfSample("giro.mdb", -1, {{126548, char(0x37)}});
        QString description;
        QCOMPARE(errorOf([&] { exchange::JetArchive archive(path); }, &description), int(store::ErrNotATable));
        QVERIFY2(description.contains("danneggiato"), qPrintable(description));
        exchange::JetArchive::setStallLimit(60000);
    }
};

CARTEO_TEST_GUILESS_MAIN(TestLegacy)
#include "tst_legacy.moc"
