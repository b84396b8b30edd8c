// Reading an archive: the shared SQL texts, fields by name, find-first, moving, lazy pages.
#include "tst_store.h"

#include "store/Collation.h"
#include "store/DbError.h"
#include "store/Sql.h"
#include "support/TestMain.h"

#include <QRandomGenerator>
#include <algorithm>
#include <sqlite3.h>

using store::DbError;
using store::Recordset;

using namespace testsupport;

void TestStore::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestStore::newArchive(bool sample)
{
    const QString path = m_dir.create();
    if (!sample) {
        return path;
    }
    auto archive = store::Archive::open(path);
    // Publishers: one of them is deleted below, so a book names a publisher that no longer exists.
    archive->exec(QStringLiteral("INSERT INTO editori (nome, residenza) VALUES ('Ulisse Editore', 'Roma'), "
                                 "('alba edizioni', 'Milano'), "
                                 "('Ètna libri', 'Catania'), ('Borgo', 'Aosta');"
                                 "DELETE FROM editori WHERE ID_Editore = 4;"));
    // Titles in mixed case with accents; genres null, empty and in two letter cases.
    archive->exec(QStringLiteral("INSERT INTO biblio (id, titolo, genere, id_edizione, costo_E, num_pag, anno) VALUES "
                                 "(10, 'Zeta', 'ROMANZO', 1, 20, 120, '1990'),"
                                 "(11, 'Èlite', 'Romanzo', 2, 15.5, 200, '1985'),"
                                 "(12, 'elefanti', 'SAGGIO', 3, NULL, NULL, '2001'),"
                                 "(13, 'Edera', NULL, NULL, NULL, NULL, NULL),"
                                 "(14, 'ABACO', '', 4, NULL, NULL, NULL),"
                                 "(15, 'àncora', 'poesia', 1, 12.5, 300, '1975');"));
    archive->exec(QStringLiteral("INSERT INTO autore (nome) VALUES ('Verdi Anna'), ('bianchi Luca'), "
                                 "('Èrcole Rossi'), ('Neri Carla');"));
    // Book 10 has two authors, 13 none; 12 is linked to an author that is not in the archive.
    archive->exec(QStringLiteral("INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES "
                                 "(10, 1), (10, 2), (11, 3), (12, 999), (14, 4), (15, 1);"));
    return path;
}

// ---------------------------------------------------------------- shared SQL texts

void TestStore::sharedQueries()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);

    // Titles in a reader's order: case and accents do not count at first.
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.isKeyed());
    QCOMPARE(books.recordCount(), 6);
    const QStringList titles{"ABACO", "àncora", "Edera", "elefanti", "Èlite", "Zeta"};
    QCOMPARE(columnOf(books, "titolo"), titles);
    Recordset forKey(archive, sql::AllBooksForKey);
    QCOMPARE(columnOf(forKey, "titolo"), titles);

    Recordset authors(archive, sql::AllAuthors);
    QCOMPARE(columnOf(authors, "nome"), (QStringList{"bianchi Luca", "Èrcole Rossi", "Neri Carla", "Verdi Anna"}));

    // A book with two authors gives one row per link.
    Recordset two(archive, sql::authorsOfBook(BookZeta));
    QCOMPARE(two.recordCount(), 2);
    QStringList names = columnOf(two, "nome");
    names.sort();
    QCOMPARE(names, (QStringList{"Verdi Anna", "bianchi Luca"}));
    two.moveFirst();
    QCOMPARE(two.value("ID_biblio").toLongLong(), qint64(BookZeta));
    QVERIFY(two.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(AuthorBianchi)));
    QCOMPARE(two.value("nome").toString(), QStringLiteral("bianchi Luca"));
    QCOMPARE(two.value("autbiblio.ID_autore").toLongLong(), qint64(AuthorBianchi));
    QVERIFY(!two.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(AuthorNeri)));
    QVERIFY(two.noMatch());

    // No authors, and a link to an author that is not there: both give an empty result.
    for (qint64 book : {qint64(BookEdera), qint64(BookElefanti)}) {
        Recordset none(archive, sql::authorsOfBook(book));
        QCOMPARE(none.recordCount(), 0);
        QVERIFY(none.bof());
        QVERIFY(none.eof());
        QVERIFY(!none.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(999)));
    }

    Recordset publishers(archive, sql::PublishersForBooks);
    QCOMPARE(publishers.columnCount(), 3);
    QCOMPARE(columnOf(publishers, "nome"), (QStringList{"alba edizioni", "Ètna libri", "Ulisse Editore"}));
    QCOMPARE(columnOf(publishers, "residenza"), (QStringList{"Milano", "Catania", "Roma"}));
    QCOMPARE(columnOf(publishers, "ID_Editore"), (QStringList{"2", "3", "1"}));
    Recordset allPublishers(archive, sql::AllPublishers);
    QCOMPARE(allPublishers.columnCount(), 6);
    QCOMPARE(columnOf(allPublishers, "nome"), (QStringList{"alba edizioni", "Ètna libri", "Ulisse Editore"}));

    // Null and empty genres are never listed; "ROMANZO" and "Romanzo" are one genre, as the
    // archive compares texts without regard to case.
    Recordset genres(archive, sql::DistinctGenres);
    const QStringList listed = columnOf(genres, "genere");
    QCOMPARE(listed.size(), 3);
    QCOMPARE(listed.at(0), QStringLiteral("poesia"));
    QCOMPARE(listed.at(1).toUpper(), QStringLiteral("ROMANZO"));
    QCOMPARE(listed.at(2), QStringLiteral("SAGGIO"));
    genres.moveFirst();
    QVERIFY(!genres.value("genere").isNull());
}

void TestStore::joinedFieldsByTable()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    const QString titlesOfAuthor =
        QStringLiteral("Select * from autore inner join (autbiblio inner join (biblio inner join editori on "
                       "biblio.id_edizione=editori.id_editore) on autbiblio.id_biblio=biblio.id) on "
                       "autore.id_autore=autbiblio.id_autore where autbiblio.id_autore=");

    // Verdi wrote Zeta (Ulisse) and àncora (Ulisse).
    Recordset verdi(archive, titlesOfAuthor + QString::number(AuthorVerdi));
    QCOMPARE(verdi.recordCount(), 2);
    QVERIFY(!verdi.isKeyed());
    QVERIFY(verdi.columnIndex("editori.nome") != verdi.columnIndex("autore.nome"));
    QStringList seen;
    for (verdi.moveFirst(); !verdi.eof(); verdi.moveNext()) {
        QCOMPARE(verdi.value("autore.nome").toString(), QStringLiteral("Verdi Anna"));
        QCOMPARE(verdi.value("editori.nome").toString(), QStringLiteral("Ulisse Editore"));
        QCOMPARE(verdi.value("EDITORI.Residenza").toString(), QStringLiteral("Roma"));
        seen << verdi.value("biblio.titolo").toString();
    }
    seen.sort();
    QCOMPARE(seen, (QStringList{"Zeta", "àncora"}));
    QVERIFY(verdi.findFirst(QStringLiteral("id"), qint64(BookAncora)));
    QCOMPARE(verdi.value("titolo").toString(), QStringLiteral("àncora"));
    QCOMPARE(verdi.value("biblio.id").toLongLong(), qint64(BookAncora));

    Recordset ercole(archive, titlesOfAuthor + QString::number(AuthorErcole));
    QCOMPARE(ercole.recordCount(), 1);
    QCOMPARE(ercole.value("editori.nome").toString(), QStringLiteral("alba edizioni"));
    QCOMPARE(ercole.value("autore.nome").toString(), QStringLiteral("Èrcole Rossi"));
    QCOMPARE(ercole.value("editori.ID_Editore").toLongLong(), qint64(PublisherAlba));

    // Neri's only book names a deleted publisher: the inner join leaves it out.
    Recordset neri(archive, titlesOfAuthor + QString::number(AuthorNeri));
    QCOMPARE(neri.recordCount(), 0);
    QVERIFY(neri.eof());

    // Joins ordered by a text column sort as the lists do: àncora before Zeta.
    Recordset ofPublisher(
        archive, QStringLiteral("Select * from editori inner join (biblio inner join (autbiblio inner join autore on "
                                "autbiblio.id_autore=autore.id_autore) on biblio.id=autbiblio.id_biblio) on "
                                "editori.id_editore=biblio.id_edizione where editori.id_editore=%1 order by titolo")
                     .arg(PublisherUlisse));
    QCOMPARE(columnOf(ofPublisher, "biblio.titolo"), (QStringList{"àncora", "Zeta", "Zeta"}));
    QStringList zetaAuthors;
    for (ofPublisher.moveFirst(); !ofPublisher.eof(); ofPublisher.moveNext()) {
        QCOMPARE(ofPublisher.value("editori.nome").toString(), QStringLiteral("Ulisse Editore"));
        if (ofPublisher.value("titolo").toString() == QStringLiteral("Zeta")) {
            zetaAuthors << ofPublisher.value("autore.nome").toString();
        }
    }
    zetaAuthors.sort();
    QCOMPARE(zetaAuthors, (QStringList{"Verdi Anna", "bianchi Luca"}));

    // Left joins keep books without publisher or authors, once each.
    Recordset search(
        archive,
        QStringLiteral("Select distinct biblio.id, biblio.titolo, biblio.genere, autore.id_autore, autore.nome, "
                       "autbiblio.ID_Biblio, Autbiblio.ID_Autore, editori.ID_Editore, editori.nome from (biblio left "
                       "join editori "
                       "on biblio.id_edizione=editori.ID_Editore) left join (autbiblio left join autore on "
                       "autbiblio.id_autore = "
                       "autore.id_autore) on biblio.id = autbiblio.id_biblio  where biblio.id>0 order  by "
                       "biblio.titolo"));
    QCOMPARE(columnOf(search, "titolo"),
             (QStringList{"ABACO", "àncora", "Edera", "elefanti", "Èlite", "Zeta", "Zeta"}));
    QVERIFY(search.findFirst(QStringLiteral("id"), qint64(BookEdera)));
    QVERIFY(search.value("editori.nome").isNull());
    QVERIFY(search.value("autore.nome").isNull());
    QVERIFY(search.findFirst(QStringLiteral("id"), qint64(BookElefanti)));
    QCOMPARE(search.value("autbiblio.ID_autore").toInt(), 999); // the link is there, its author is not
    QVERIFY(search.value("autore.id_autore").isNull());
    QCOMPARE(search.value("editori.nome").toString(), QStringLiteral("Ètna libri"));

    QString description;
    QCOMPARE(errorOf([&] { ercole.value("editori.titolo"); }, &description), int(store::ErrItemNotFound));
    QVERIFY(description.contains("editori.titolo"));
}

void TestStore::fieldNamesInAnyCase()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst(QStringLiteral("ID"), qint64(BookElite)));

    QCOMPARE(books.columnIndex("COSTO_e"), books.columnIndex("costo_E"));
    QCOMPARE(books.columnIndex("Num_pag"), books.columnIndex("num_pag"));
    QCOMPARE(books.columnIndex("ID_Edizione"), books.columnIndex("id_edizione"));
    QVERIFY(books.columnIndex("costo_E") >= 0);
    QCOMPARE(books.value("COSTO_e").toDouble(), 15.5);
    QCOMPARE(books.value("Num_pag").toInt(), 200);
    QCOMPARE(books.value("ID_Edizione").toLongLong(), qint64(PublisherAlba));
    QCOMPARE(books.value("TITOLO").toString(), QStringLiteral("Èlite"));
    QCOMPARE(books.value("Anno").toString(), QStringLiteral("1985"));
    QCOMPARE(books.value("biblio.TITOLO").toString(), QStringLiteral("Èlite"));
    QCOMPARE(books.columnIndex("nonesiste"), -1);
    QCOMPARE(errorOf([&] { books.value("nonesiste"); }), int(store::ErrItemNotFound));

    // Names in the SQL text itself in another case than the schema's.
    Recordset upper(archive, QStringLiteral("SELECT ID, TITOLO, COSTO_e FROM BIBLIO WHERE ID=%1").arg(BookAncora));
    QCOMPARE(upper.recordCount(), 1);
    QCOMPARE(upper.value("titolo").toString(), QStringLiteral("àncora"));
    QCOMPARE(upper.value("costo_E").toDouble(), 12.5);
}

void TestStore::findFirstAndNoMatch()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookZeta)));
    QVERIFY(!books.noMatch());
    QCOMPARE(books.absolutePosition(), 5);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Zeta"));
    QVERIFY(!books.findFirst(QStringLiteral("id"), qint64(42)));
    QVERIFY(books.noMatch());
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookEdera)));
    QVERIFY(!books.noMatch());
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Edera"));
    // The first match in the result's order, not in key order.
    QVERIFY(books.findFirst(QStringLiteral("id_edizione"), qint64(PublisherUlisse)));
    QCOMPARE(books.value("id").toLongLong(), qint64(BookAncora));
    QCOMPARE(books.findRow("TITOLO", QStringLiteral("ZETA")), 5);
    QCOMPARE(books.findRow("titolo", QStringLiteral("nessuno")), -1);
    QCOMPARE(books.value("id").toLongLong(), qint64(BookAncora));

    // The publisher of a book without one, or of one whose publisher was deleted: no match, no error.
    Recordset publishers(archive, sql::PublishersForBooks);
    Recordset allPublishers(archive, sql::AllPublishers);
    for (qint64 book : {qint64(BookEdera), qint64(BookAbaco), qint64(BookZeta)}) {
        QVERIFY(books.findFirst(QStringLiteral("id"), qint64(book)));
        const QVariant publisher = books.value("id_edizione");
        const QString key = publisher.isNull() ? QString() : publisher.toString();
        const bool exists = book == BookZeta;
        QCOMPARE(publishers.findFirst(QStringLiteral("ID_Editore"), key), exists);
        QCOMPARE(publishers.noMatch(), !exists);
        QCOMPARE(allPublishers.findFirst(QStringLiteral("id_Editore"), key), exists);
        QCOMPARE(allPublishers.noMatch(), !exists);
    }
    QCOMPARE(allPublishers.value("nome").toString(), QStringLiteral("Ulisse Editore"));
    QVERIFY(!publishers.findFirst(QStringLiteral("id_Editore"), qint64(999)));
    QVERIFY(publishers.noMatch());
    QVERIFY(!publishers.findFirst(QStringLiteral("id_Editore"), QString()));
    QVERIFY(publishers.noMatch());

    Recordset authors(archive, sql::AllAuthors);
    QVERIFY(authors.findFirst(QStringLiteral("ID_autore"), qint64(AuthorErcole)));
    QCOMPARE(authors.value("nome").toString(), QStringLiteral("Èrcole Rossi"));
    QVERIFY(authors.findFirst(QStringLiteral("nome"), QStringLiteral("neri carla")));
    QCOMPARE(authors.value("ID_Autore").toLongLong(), qint64(AuthorNeri));

    // An empty result answers no match too.
    Recordset empty(archive, QStringLiteral("Select * from biblio where id=42"));
    QVERIFY(!empty.findFirst(QStringLiteral("id"), qint64(42)));
    QVERIFY(empty.noMatch());
    // A field the result does not have is an error, not a silent no match.
    QCOMPARE(errorOf([&] { books.findFirst(QStringLiteral("nonesiste"), qint64(1)); }), int(store::ErrItemNotFound));
}

void TestStore::movingThroughResults()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);

    Recordset empty(archive, QStringLiteral("Select * from biblio where genere='FANTASCIENZA' order by titolo"));
    QCOMPARE(empty.recordCount(), 0);
    QVERIFY(empty.bof());
    QVERIFY(empty.eof());
    QVERIFY(!empty.hasCurrent());
    empty.moveFirst();
    QVERIFY(empty.eof());
    QCOMPARE(errorOf([&] { empty.value("titolo"); }), int(store::ErrNoCurrentRecord));
    QCOMPARE(errorOf([&] { empty.moveNext(); }), int(store::ErrNoCurrentRecord));
    QCOMPARE(errorOf([&] { empty.edit(); }), int(store::ErrNoCurrentRecord));
    QCOMPARE(errorOf([&] { empty.bookmark(); }), int(store::ErrNoCurrentRecord));

    Recordset books(archive, QStringLiteral("Select * from biblio where genere='romanzo' order by titolo"));
    QCOMPARE(books.recordCount(), 2);
    QVERIFY(!books.bof());
    QVERIFY(!books.eof());
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Èlite"));
    books.moveNext();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Zeta"));
    QVERIFY(!books.eof());
    books.moveNext();
    QVERIFY(books.eof());
    QVERIFY(!books.bof());
    QCOMPARE(errorOf([&] { books.value("titolo"); }), int(store::ErrNoCurrentRecord));
    QCOMPARE(errorOf([&] { books.moveNext(); }), int(store::ErrNoCurrentRecord));
    books.movePrevious();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Zeta"));
    books.moveFirst();
    books.movePrevious();
    QVERIFY(books.bof());
    QCOMPARE(errorOf([&] { books.movePrevious(); }), int(store::ErrNoCurrentRecord));
    books.moveLast();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Zeta"));
    // Moving does not change the count, which is the true count from the start.
    QCOMPARE(books.recordCount(), 2);

    // A bookmark brings back its row.
    books.moveFirst();
    const Recordset::Bookmark first = books.bookmark();
    books.moveLast();
    books.setBookmark(first);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("Èlite"));
    QCOMPARE(errorOf([&] { books.setBookmark(424242); }), int(store::ErrNoCurrentRecord));

    // The same over a result that is read whole.
    Recordset links(archive, sql::authorsOfBook(BookZeta));
    QCOMPARE(links.recordCount(), 2);
    links.moveNext();
    links.moveNext();
    QVERIFY(links.eof());
    links.moveFirst();
    QVERIFY(!links.eof());
    QCOMPARE(links.value("ID_biblio").toLongLong(), qint64(BookZeta));
}

void TestStore::sqlTranslation()
{
    // `isnull(` becomes the registered function outside quotes only.
    const QString text = QStringLiteral(
        "Select * from biblio where isnull(genere)=false and titolo<>'isnull(x)' and note<>\"isnull(y)\"");
    const QString out = sql::translate(text);
    QVERIFY(!out.contains(QStringLiteral("where isnull(")));
    QVERIFY(out.contains(QStringLiteral("'isnull(x)'")));
    QVERIFY(out.contains(QStringLiteral("\"isnull(y)\"")));
    const QString renamed = sql::renameFunctions(QStringLiteral("select isnullo(a), ISNULL (b), x_isnull(c) from t"));
    QVERIFY(renamed.contains(QStringLiteral("isnullo(a)")));
    QVERIFY(renamed.contains(QStringLiteral("x_isnull(c)")));
    QVERIFY(!renamed.contains(QStringLiteral("ISNULL (b)")));
    // `order by` inside a literal is text, not a clause.
    QVERIFY(sql::translate(QStringLiteral("select * from biblio where note='order by titolo'"))
                .contains(QStringLiteral("'order by titolo'")));

    // The translated texts run, and the quoted text still compares as written.
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    archive->exec(QStringLiteral("UPDATE biblio SET note='isnull(x)' WHERE id=%1").arg(BookEdera));
    Recordset quoted(archive, QStringLiteral("select * from biblio where note='isnull(x)' and isnull(genere)=true"));
    QCOMPARE(quoted.recordCount(), 1);
    QCOMPARE(quoted.value("id").toLongLong(), qint64(BookEdera));
    Recordset notNull(archive, QStringLiteral("select titolo from biblio where isnull(genere)=false order by titolo"));
    QCOMPARE(notNull.recordCount(), 5);
    QCOMPARE(notNull.value("titolo").toString(), QStringLiteral("ABACO")); // empty genre is not null
}

// ---------------------------------------------------------------- lazy pages

void TestStore::lazyPagesOverManyBooks()
{
    const int count = 5000;
    const QString path = m_dir.create(QStringLiteral("grande.mdb"));
    auto archive = store::Archive::open(path);
    {
        // Keys in random order against titles, titles in mixed case and accents, all distinct.
        const QStringList heads{"àrco", "Arco", "ÈRBA", "erba", "Zucca", "zùcca", "Oca", "òca", "Lago", "LAGO"};
        QRandomGenerator random(20240601);
        std::vector<qint64> keys;
        QSet<qint64> used;
        while (int(keys.size()) < count) {
            const qint64 k = random.bounded(1, 200001);
            if (!used.contains(k)) {
                used.insert(k);
                keys.push_back(k);
            }
        }
        archive->exec(QStringLiteral("BEGIN"));
        store::Statement insert =
            archive->prepare(QStringLiteral("INSERT INTO biblio (id, titolo, num_pag, genere) VALUES (?, ?, ?, ?)"));
        for (int i = 0; i < count; ++i) {
            insert.reset();
            insert.bindInt(1, keys[i]);
            insert.bind(
                2, QStringLiteral("%1 %2").arg(heads[random.bounded(heads.size())]).arg(i, 4, 10, QLatin1Char('0')));
            insert.bindInt(3, keys[i] * 3 + 1);
            insert.bind(4, i % 7 == 0 ? QVariant() : QVariant(QStringLiteral("G%1").arg(i % 5)));
            insert.step();
        }
        archive->exec(QStringLiteral("COMMIT"));
    }

    // The expected order from a plain connection of the engine with the same collation; on a
    // server, the program's own comparison of texts.
    std::vector<qint64> expectedIds;
    QStringList expectedTitles;
    if (testsupport::onServer()) {
        std::vector<std::pair<QString, qint64>> rows;
        store::Statement all = archive->prepare(QStringLiteral("SELECT titolo, id FROM biblio"));
        while (all.step()) {
            rows.emplace_back(all.value(0).toString(), all.value(1).toLongLong());
        }
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return store::compareText(a.first, b.first) < 0; });
        for (const auto& [title, id] : rows) {
            expectedIds.push_back(id);
            expectedTitles << title;
        }
    } else {
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        store::registerCollation(db);
        sqlite3_stmt* st = nullptr;
        QCOMPARE(
            sqlite3_prepare_v2(db, "SELECT id, titolo FROM biblio ORDER BY titolo COLLATE ITALIANO", -1, &st, nullptr),
            SQLITE_OK);
        while (sqlite3_step(st) == SQLITE_ROW) {
            expectedIds.push_back(sqlite3_column_int64(st, 0));
            expectedTitles << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(st, 1)));
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
    }
    QCOMPARE(int(expectedIds.size()), count);
    for (int i = 1; i < count; ++i) {
        QVERIFY2(store::compareText(expectedTitles[i - 1], expectedTitles[i]) < 0,
                 qPrintable(expectedTitles[i - 1] + " / " + expectedTitles[i]));
    }

    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.isKeyed());
    QCOMPARE(books.recordCount(), count);
    const int idColumn = books.columnIndex("id");
    const int titleColumn = books.columnIndex("titolo");
    const int pagesColumn = books.columnIndex("num_pag");

    // Every row in order, walking past many page boundaries (and out of the page cache).
    int row = 0;
    for (books.moveFirst(); !books.eof(); books.moveNext(), ++row) {
        QCOMPARE(books.absolutePosition(), row);
        QCOMPARE(books.value("id").toLongLong(), expectedIds[row]);
        QCOMPARE(books.value("titolo").toString(), expectedTitles[row]);
        QCOMPARE(books.value("num_pag").toLongLong(), expectedIds[row] * 3 + 1);
    }
    QCOMPARE(row, count);

    // Jumps back and forth across boundaries, as a list scrolled by its thumb reads them.
    QRandomGenerator random(7);
    std::vector<int> probes{0, 63, 64, 65, 127, 128, count - 65, count - 64, count - 1, 1, 4000, 63};
    for (int i = 0; i < 300; ++i) {
        probes.push_back(random.bounded(count));
    }
    for (int p : probes) {
        QCOMPARE(books.valueAt(p, idColumn).toLongLong(), expectedIds[p]);
        QCOMPARE(books.valueAt(p, titleColumn).toString(), expectedTitles[p]);
        QCOMPARE(books.valueAt(p, pagesColumn).toLongLong(), expectedIds[p] * 3 + 1);
    }
    QVERIFY(books.valueAt(count, idColumn).isNull());
    QVERIFY(books.valueAt(-1, idColumn).isNull());

    // Find-first and bookmarks land on the row's place in the order.
    for (int p : {0, 64, 2500, count - 1}) {
        QVERIFY(books.findFirst(QStringLiteral("id"), qint64(expectedIds[p])));
        QCOMPARE(books.absolutePosition(), p);
        QCOMPARE(books.bookmark(), Recordset::Bookmark(expectedIds[p]));
    }
    books.setBookmark(expectedIds[1234]);
    QCOMPARE(books.absolutePosition(), 1234);
    QCOMPARE(books.value("titolo").toString(), expectedTitles[1234]);

    // An edit in the middle of a page is seen at once, its neighbours unchanged.
    books.setAbsolutePosition(130);
    books.edit();
    books.setValue("titolo", QStringLiteral("CAMBIATO"));
    books.update();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("CAMBIATO"));
    QCOMPARE(books.valueAt(129, titleColumn).toString(), expectedTitles[129]);
    QCOMPARE(books.valueAt(131, titleColumn).toString(), expectedTitles[131]);
    QCOMPARE(scalar(path, QStringLiteral("SELECT titolo FROM biblio WHERE id=%1").arg(expectedIds[130])).toString(),
             QStringLiteral("CAMBIATO"));

    // A filtered single-table result pages the same way.
    Recordset some(archive, QStringLiteral("Select id, titolo from biblio where genere='g3' order by titolo"));
    QVERIFY(some.isKeyed());
    const int expectedSome = scalar(path, QStringLiteral("SELECT count(*) FROM biblio WHERE genere='G3'")).toInt();
    QCOMPARE(some.recordCount(), expectedSome);
    QVERIFY(expectedSome > 200);
    QStringList someTitles = columnOf(some, "titolo");
    for (int i = 1; i < someTitles.size(); ++i) {
        QVERIFY(store::compareText(someTitles[i - 1], someTitles[i]) < 0);
    }
}

CARTEO_TEST_GUILESS_MAIN(TestStore)
