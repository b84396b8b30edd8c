// The quick find's word index: what a list of words finds, an index kept in step by whoever writes
// (another connection, another process killed half-way), the upgrade of an archive of version 1,
// and the index made anew by repair and compaction.
#include "store/Archive.h"
#include "store/ArchiveFiles.h"
#include "store/DbError.h"
#include "store/Recordset.h"
#include "store/Schema.h"
#include "store/Sql.h"
#include "support/StoreSupport.h"
#include "support/TestMain.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>
#include <sqlite3.h>

using testsupport::columnOf;
using testsupport::scalar;

namespace {

QString library()
{
    return QStringLiteral(
        "INSERT INTO editori (ID_Editore, nome) VALUES (1, 'EINAUDI'), (2, 'MONDADORI');"
        "INSERT INTO autore (ID_autore, nome) VALUES (1, 'ITALO CALVINO'), (2, 'ALESSANDRO MANZONI'), "
        "(3, 'GIUSEPPE MAROTTA');"
        "INSERT INTO biblio (id, titolo, id_edizione, argomento, luogo_stampa, note) VALUES"
        " (10, 'I PROMESSI SPOSI', 2, 'ROMANZO STORICO', 'MILANO', 'PRIMA EDIZIONE'),"
        " (20, 'LA CITTÀ E LE STELLE', NULL, 'FANTASCIENZA', 'ROMA', NULL),"
        " (30, 'L''ORO DI NAPOLI', 1, 'RACCONTI', 'NAPOLI', 'DEDICA DELL''AUTORE'),"
        " (40, 'LE CITTÀ INVISIBILI', 1, 'ROMANZO', 'TORINO', 'COPERTINA RIGIDA'),"
        " (50, 'ORIENTE', NULL, NULL, NULL, NULL);"
        "INSERT INTO autbiblio VALUES (10, 2), (30, 3), (40, 1);");
}

// The words of a text as the index should hold them: upper case, accents dropped, cut at anything
// that is not a letter or a digit; sorted, so that their order does not count.
QStringList wordsOf(const QString& text)
{
    QString plain;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (!c.isMark()) {
            plain += c.toUpper();
        }
    }
    QStringList words = plain.split(QRegularExpression(QStringLiteral("[^\\p{L}\\p{N}]+")), Qt::SkipEmptyParts);
    words.sort();
    return words;
}

// What is wrong with the word index of the archive at `path`, read with a plain connection of the
// engine: the index's own check, then every book's entry against the book's rows. Empty when
// nothing is.
QStringList indexProblems(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return {QStringLiteral("cannot open")};
    }
    QStringList problems;
    char* message = nullptr;
    if (sqlite3_exec(db, "INSERT INTO biblio_parole (biblio_parole, rank) VALUES ('integrity-check', 1)", nullptr,
                     nullptr, &message) != SQLITE_OK) {
        problems << QStringLiteral("integrity-check: ") + QString::fromUtf8(message);
    }
    sqlite3_free(message);
    const auto rows = [db](const char* sqlText) {
        QMap<qint64, QString> out;
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sqlText, -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            QString& text = out[sqlite3_column_int64(st, 0)];
            text += QLatin1Char(' ') + QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        }
        sqlite3_finalize(st);
        return out;
    };
    // Each column of the rows on its own: the book's own texts, its authors', its publisher's.
    QMap<qint64, QString> expected =
        rows("SELECT id, coalesce(titolo,'') || ' ' || coalesce(argomento,'') || ' ' || coalesce(luogo_stampa,'') "
             "|| ' ' || coalesce(note,'') FROM biblio");
    const QMap<qint64, QString> authors =
        rows("SELECT l.ID_biblio, a.nome FROM autbiblio l, autore a WHERE a.ID_autore = l.ID_autore");
    const QMap<qint64, QString> publishers =
        rows("SELECT b.id, e.nome FROM biblio b, editori e WHERE e.ID_Editore = b.id_edizione");
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        it.value() += authors.value(it.key()) + publishers.value(it.key());
    }
    const QMap<qint64, QString> stored = rows("SELECT rowid, testo FROM biblio_parole");
    if (stored.keys() != expected.keys()) {
        problems << QStringLiteral("entries for %1 books, %2 books").arg(stored.size()).arg(expected.size());
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (wordsOf(stored.value(it.key())) != wordsOf(it.value())) {
            problems << QStringLiteral("book %1: '%2' for '%3'").arg(it.key()).arg(stored.value(it.key()), it.value());
        }
    }
    sqlite3_close(db);
    return problems;
}

// Makes an archive what a version-1 program left: the same four tables, no word index.
void makeVersionOne(const QString& path)
{
    sqlite3* db = nullptr;
    QVERIFY(sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK);
    store::schema::removeFullText(db);
    QCOMPARE(sqlite3_exec(db, "PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

} // namespace

class TestStoreWords : public QObject {
    Q_OBJECT

    testsupport::ArchiveFolder m_dir;

    static QStringList found(const std::shared_ptr<store::Archive>& archive, const QString& typed)
    {
        store::Recordset rs(archive, sql::searchBooks({}, false, typed));
        return columnOf(rs, QStringLiteral("titolo"));
    }

  private slots:
    void wordsFindBooksInAnyOrderCaseAndAccents_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        const QStringList cities{"LA CITTÀ E LE STELLE", "LE CITTÀ INVISIBILI"};
        QTest::newRow("author") << "calvino" << QStringList{"LE CITTÀ INVISIBILI"};
        QTest::newRow("title word") << "promessi" << QStringList{"I PROMESSI SPOSI"};
        QTest::newRow("accent typed without it") << "citta" << cities;
        QTest::newRow("accent typed") << "Città" << cities;
        QTest::newRow("any order") << "invisibili LE citta" << QStringList{"LE CITTÀ INVISIBILI"};
        QTest::newRow("publisher and place") << "einaudi torino" << QStringList{"LE CITTÀ INVISIBILI"};
        QTest::newRow("subject and notes") << "storico prima" << QStringList{"I PROMESSI SPOSI"};
        QTest::newRow("apostrophe in the book") << "oro" << QStringList{"L'ORO DI NAPOLI"};
        QTest::newRow("apostrophe typed") << "L'ORO" << QStringList{"L'ORO DI NAPOLI"};
        QTest::newRow("typographic apostrophe") << "l’oro" << QStringList{"L'ORO DI NAPOLI"};
        QTest::newRow("in the notes after an apostrophe") << "autore" << QStringList{"L'ORO DI NAPOLI"};
        QTest::newRow("start of a word while typing") << "promes" << QStringList{"I PROMESSI SPOSI"};
        QTest::newRow("start of every word") << "cit inv" << QStringList{"LE CITTÀ INVISIBILI"};
        QTest::newRow("start finds every word so begun") << "or" << QStringList{"L'ORO DI NAPOLI", "ORIENTE"};
        QTest::newRow("a word no book has") << "calvino napoli" << QStringList{};
        QTest::newRow("nothing but separators: every book")
            << " ' - "
            << QStringList{"I PROMESSI SPOSI", "L'ORO DI NAPOLI", "LA CITTÀ E LE STELLE", "LE CITTÀ INVISIBILI",
                           "ORIENTE"};
    }

    void wordsFindBooksInAnyOrderCaseAndAccents()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        const auto archive = store::Archive::open(m_dir.create({}, library()));
        QCOMPARE(found(archive, typed), expected);
    }

    void syntaxOfTheIndexTypedIsOnlyWords_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        const QStringList promessi{"I PROMESSI SPOSI"};
        QTest::newRow("quote") << "\"promessi" << promessi;
        QTest::newRow("quotes around") << "\"promessi sposi\"" << promessi;
        QTest::newRow("star") << "*promessi*" << promessi;
        QTest::newRow("minus") << "-promessi" << promessi;
        QTest::newRow("column filter") << "testo:promessi" << QStringList{};
        QTest::newRow("column filter on a word") << "titolo : promessi" << QStringList{};
        QTest::newRow("caret") << "^promessi" << promessi;
        QTest::newRow("parentheses") << "(promessi) (" << promessi;
        QTest::newRow("plus") << "promessi + sposi" << promessi;
        QTest::newRow("NEAR") << "NEAR(promessi sposi)" << QStringList{};
        QTest::newRow("OR between words") << "promessi OR oriente" << QStringList{};
        QTest::newRow("AND NOT") << "promessi AND NOT sposi" << QStringList{};
        QTest::newRow("braces") << "{testo} : promessi" << QStringList{};
        QTest::newRow("only syntax") << "\"*^():-{}+"
                                     << QStringList{"I PROMESSI SPOSI", "L'ORO DI NAPOLI", "LA CITTÀ E LE STELLE",
                                                    "LE CITTÀ INVISIBILI", "ORIENTE"};
    }

    // Whatever is typed is a list of words that a book must hold: an operator is a word like the
    // others (no book holds "OR"), and nothing is ever refused as a malformed query.
    void syntaxOfTheIndexTypedIsOnlyWords()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        const auto archive = store::Archive::open(m_dir.create({}, library()));
        QCOMPARE(found(archive, typed), expected);
        // The words reach the engine as a bound value, quoted one by one.
        const store::Query query = sql::searchBooks({}, false, typed);
        QVERIFY(!query.text.contains(typed));
        for (const QString& word : sql::wordQuery(typed).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            QVERIFY2(QRegularExpression(QStringLiteral("^\"[\\p{L}\\p{N}]+\"\\*$")).match(word).hasMatch(),
                     qPrintable(word));
        }
    }

    void wordsNarrowTheSearchConditions()
    {
        const auto archive = store::Archive::open(m_dir.create({}, library()));
        std::array<std::optional<QString>, sql::kSearchConditions> values;
        values[4] = QStringLiteral("EINAUDI"); // publisher
        store::Recordset rs(archive, sql::searchBooks(values, false, QStringLiteral("napoli")));
        QCOMPARE(columnOf(rs, QStringLiteral("titolo")), QStringList{"L'ORO DI NAPOLI"});
        // Two conditions on different tables joined by OR: the list's keys come another way.
        values[1] = QStringLiteral("ALESSANDRO MANZONI");
        store::Recordset either(archive, sql::searchBooks(values, false, QStringLiteral("milano")));
        QCOMPARE(columnOf(either, QStringLiteral("titolo")), QStringList{"I PROMESSI SPOSI"});
        // Without words the search's query is the one it always was.
        QCOMPARE(sql::searchBooks(values, false, QStringLiteral(" - ")), sql::searchBooks(values, false));
    }

    void changesOfAnotherConnectionAreFound()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        store::Recordset rs(archive, sql::searchBooks({}, false, QStringLiteral("pinocchio")));
        QCOMPARE(rs.recordCount(), 0);
        {
            const auto other = store::Archive::open(path);
            other->exec(QStringLiteral("UPDATE biblio SET titolo = 'LE AVVENTURE DI PINOCCHIO' WHERE id = 50"));
            other->exec(QStringLiteral("DELETE FROM biblio WHERE id = 10"));
        }
        rs.requery();
        QCOMPARE(columnOf(rs, QStringLiteral("titolo")), QStringList{"LE AVVENTURE DI PINOCCHIO"});
        QCOMPARE(found(archive, QStringLiteral("oriente")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("promessi")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("manzoni")), QStringList{});
        if (!testsupport::onServer()) { // the file's own index tables, read directly
            QCOMPARE(indexProblems(path), QStringList());
        }
    }

    void entryFollowsItsAuthorsAndPublisher()
    {
        const QString path = m_dir.create({}, library());
        const auto archive = store::Archive::open(path);
        archive->exec(QStringLiteral("UPDATE autore SET nome = 'I. CALVINO' WHERE ID_autore = 1"));
        archive->exec(QStringLiteral("UPDATE editori SET nome = 'GIULIO EINAUDI EDITORE' WHERE ID_Editore = 1"));
        QCOMPARE(found(archive, QStringLiteral("italo")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("giulio")), (QStringList{"L'ORO DI NAPOLI", "LE CITTÀ INVISIBILI"}));
        QCOMPARE(found(archive, QStringLiteral("calvino editore")), QStringList{"LE CITTÀ INVISIBILI"});
        // An author linked, another unlinked, a publisher changed or deleted, an author deleted.
        archive->exec(QStringLiteral("INSERT INTO autbiblio VALUES (20, 1)"));
        archive->exec(QStringLiteral("DELETE FROM autbiblio WHERE ID_biblio = 10"));
        archive->exec(QStringLiteral("UPDATE biblio SET id_edizione = 1 WHERE id = 20"));
        archive->exec(QStringLiteral("DELETE FROM editori WHERE ID_Editore = 2"));
        archive->exec(QStringLiteral("DELETE FROM autore WHERE ID_autore = 3"));
        QCOMPARE(found(archive, QStringLiteral("calvino")),
                 (QStringList{"LA CITTÀ E LE STELLE", "LE CITTÀ INVISIBILI"}));
        QCOMPARE(found(archive, QStringLiteral("manzoni")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("mondadori")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("marotta")), QStringList{});
        QCOMPARE(found(archive, QStringLiteral("giulio stelle")), QStringList{"LA CITTÀ E LE STELLE"});
        if (!testsupport::onServer()) { // the file's own index tables, read directly
            QCOMPARE(indexProblems(path), QStringList());
        }
    }

    void archiveOfVersionOneGetsTheIndexWhenOpened()
    {
        CARTEO_FILE_ONLY("about an archive file of version 1 and its word index tables");
        QString populate = library();
        for (int i = 0; i < 300; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', 'NOTA');"
                                       "INSERT INTO autbiblio VALUES (%1, %2);")
                            .arg(1000 + i)
                            .arg(1 + i % 3);
        }
        const QString path = m_dir.create({}, populate);
        makeVersionOne(path);
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), 1);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name LIKE 'biblio_parole%' "
                                             "OR name = 'biblio_testo'"))
                     .toInt(),
                 0);
        const auto archive = store::Archive::open(path);
        QVERIFY(archive->hasWordIndex());
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), store::kSchemaVersion);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM biblio_parole")).toInt(), 305);
        QCOMPARE(indexProblems(path), QStringList());
        QCOMPARE(found(archive, QStringLiteral("libro 1299")), QStringList{"LIBRO 1299"});
        QCOMPARE(found(archive, QStringLiteral("nota marotta")).size(), 100);
        // Kept in step from then on, and opened again as it is.
        archive->exec(QStringLiteral("UPDATE biblio SET titolo = 'ALTRO' WHERE id = 1000"));
        QCOMPARE(found(archive, QStringLiteral("altro")), QStringList{"ALTRO"});
        const QByteArray before = testsupport::digest(path);
        QVERIFY(store::Archive::open(path)->hasWordIndex());
        QCOMPARE(testsupport::digest(path), before);
    }

    // An archive made by this program is refused as newer by a program that writes version 1:
    // its check reads the version alone.
    void upgradedArchiveIsOfTheNextVersion()
    {
        CARTEO_FILE_ONLY("about the archive file's version number");
        QVERIFY(store::kSchemaVersion > 1);
        const QString path = m_dir.create({}, library());
        QCOMPARE(scalar(path, QStringLiteral("PRAGMA user_version")).toInt(), store::kSchemaVersion);
        QCOMPARE(indexProblems(path), QStringList());
    }

    // "Nuovo Archivio" copies the empty template: made by this program it carries the index; an
    // older template's copy gets it at its first opening.
    void newArchiveFromTheTemplateHasTheIndex()
    {
        CARTEO_FILE_ONLY("about archive files copied from the template");
        const QString current = m_dir.filePath(QStringLiteral("vuoto.md$"));
        store::Archive::create(current);
        const QString older = m_dir.create(QStringLiteral("vecchio.md$"));
        makeVersionOne(older);
        const QString fromCurrent = m_dir.filePath(QStringLiteral("nuovo.mdb"));
        const QString fromOlder = m_dir.filePath(QStringLiteral("nuovo-vecchio.mdb"));
        store::files::copyTemplate(current, fromCurrent);
        store::files::copyTemplate(older, fromOlder);
        QCOMPARE(scalar(fromCurrent, QStringLiteral("PRAGMA user_version")).toInt(), store::kSchemaVersion);
        QCOMPARE(scalar(fromOlder, QStringLiteral("PRAGMA user_version")).toInt(), 1);
        for (const QString& path : {fromCurrent, fromOlder}) {
            const auto archive = store::Archive::open(path);
            QVERIFY(archive->hasWordIndex());
            archive->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (1, 'PRIMO LIBRO')"));
            QCOMPARE(found(archive, QStringLiteral("primo")), QStringList{"PRIMO LIBRO"});
            QCOMPARE(indexProblems(path), QStringList());
        }
    }

    void compactionMakesTheIndexAnew()
    {
        CARTEO_FILE_ONLY("about the file's word index tables and their compaction");
        const QString path = m_dir.create({}, library());
        // An index out of step, as a writer without the triggers would leave it.
        {
            const auto archive = store::Archive::open(path);
            archive->exec(QStringLiteral("DROP TRIGGER biblio_parole_modifica"));
            archive->exec(QStringLiteral("UPDATE biblio SET titolo = 'NUOVO TITOLO' WHERE id = 50"));
            archive->exec(QStringLiteral("INSERT INTO biblio_parole (rowid, testo) VALUES (999, 'FANTASMA')"));
        }
        QVERIFY(!indexProblems(path).isEmpty());
        const QString work = m_dir.filePath(QStringLiteral("lavoro"));
        QVERIFY(QDir().mkpath(work));
        {
            const store::files::ExclusiveUse use(path);
            store::files::compact(use, work);
        }
        QCOMPARE(indexProblems(path), QStringList());
        const auto archive = store::Archive::open(path);
        QCOMPARE(found(archive, QStringLiteral("nuovo")), QStringList{"NUOVO TITOLO"});
        QCOMPARE(found(archive, QStringLiteral("fantasma")), QStringList{});
        // The triggers are back: the next change is followed.
        archive->exec(QStringLiteral("UPDATE biblio SET titolo = 'ANCORA' WHERE id = 50"));
        QCOMPARE(found(archive, QStringLiteral("ancora")), QStringList{"ANCORA"});
    }

    void repairMakesTheIndexAnew()
    {
        CARTEO_FILE_ONLY("about the file's word index tables and their repair");
        const QString path = m_dir.create({}, library());
        {
            const auto archive = store::Archive::open(path);
            archive->exec(QStringLiteral("DELETE FROM biblio_parole WHERE rowid = 40"));
        }
        QVERIFY(!indexProblems(path).isEmpty());
        store::files::RepairOutcome outcome;
        {
            const store::files::ExclusiveUse use(path);
            outcome = store::files::repair(use);
        }
        QVERIFY(!outcome.damaged);
        QVERIFY(outcome.wordIndexRebuilt);
        QCOMPARE(indexProblems(path), QStringList());
        // A sound index is left alone: the file does not change.
        const QByteArray before = testsupport::digest(path);
        {
            const store::files::ExclusiveUse use(path);
            QVERIFY(!store::files::repair(use).wordIndexRebuilt);
        }
        QCOMPARE(testsupport::digest(path), before);
    }

    void damagedArchiveIsRepairedWithItsIndex()
    {
        CARTEO_FILE_ONLY("about damaged pages of the archive file");
        QString populate = library();
        for (int i = 0; i < 1500; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo, note) VALUES (%1, 'LIBRO %1', '%2');"
                                       "INSERT INTO autbiblio VALUES (%1, %3);")
                            .arg(1000 + i)
                            .arg(QString(200, QLatin1Char('N')))
                            .arg(1 + i % 3);
        }
        const QString path = m_dir.create({}, populate);
        const QList<int> leaves =
            testsupport::pageNumbers(testsupport::pagesOf(path, QStringLiteral("biblio"), QStringLiteral("leaf")));
        QVERIFY(leaves.size() > 20);
        QVERIFY(testsupport::damagePages(path, {leaves.at(leaves.size() / 2)}));
        store::files::RepairOutcome outcome;
        {
            const store::files::ExclusiveUse use(path);
            outcome = store::files::repair(use);
        }
        QVERIFY(outcome.damaged);
        const qint64 books = testsupport::rowCount(path, QStringLiteral("biblio"));
        QVERIFY(books > 1000 && books < 1505);
        QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM biblio_parole")).toLongLong(), books);
        QCOMPARE(indexProblems(path), QStringList());
        QCOMPARE(found(store::Archive::open(path), QStringLiteral("calvino")).size(),
                 scalar(path, QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_autore = 1")).toInt());
    }

    // A save killed after some of its pages reached the file: the next opening rolls it back, the
    // word index with the rows.
    void saveKilledHalfWayLeavesTheIndexInStep()
    {
        CARTEO_FILE_ONLY("about the archive file's journal after a kill");
        QString populate = library();
        for (int i = 0; i < 400; ++i) {
            populate += QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (%1, 'LIBRO %1');").arg(1000 + i);
        }
        const QString path = m_dir.create({}, populate);
        QString note;
        for (int i = 0; i < 3000; ++i) {
            note += QStringLiteral("PAROLA%1 ").arg(i);
        }
        testsupport::OtherProcess killed;
        QVERIFY2(killed.runUntilKilled(
                     {QStringLiteral("salva"), path, QStringLiteral("50"), note, QStringLiteral("uccidi")}),
                 qPrintable(killed.output()));
        QVERIFY2(QFileInfo::exists(path + QStringLiteral("-journal")), "the save left no journal to roll back");
        {
            const auto archive = store::Archive::open(path);
            QCOMPARE(found(archive, QStringLiteral("parola2999")), QStringList{});
            QCOMPARE(found(archive, QStringLiteral("oriente")), QStringList{"ORIENTE"});
        }
        QCOMPARE(indexProblems(path), QStringList());
        // The same save carried to its end is found.
        testsupport::OtherProcess saved;
        QVERIFY(
            saved.start({QStringLiteral("salva"), path, QStringLiteral("50"), note, QStringLiteral("conferma")}, {}));
        QVERIFY2(saved.finish(), qPrintable(saved.output()));
        QCOMPARE(found(store::Archive::open(path), QStringLiteral("parola2999 oriente")), QStringList{"ORIENTE"});
        QCOMPARE(indexProblems(path), QStringList());
    }
};

CARTEO_TEST_GUILESS_MAIN(TestStoreWords)
#include "tst_store_words.moc"
