// The catalogue's own queries: the books window's search read in pages, the keys shared between
// data sources of one query, and the choice of a free book key.
#include "tst_store.h"

#include "store/Catalogue.h"
#include "store/DbError.h"
#include "store/Sql.h"

#include <sqlite3.h>

using store::Query;
using store::Recordset;
using Conditions = std::array<std::optional<QString>, sql::kSearchConditions>;
using namespace testsupport;

namespace {

Conditions conditions(std::initializer_list<std::pair<int, QString>> ticked)
{
    Conditions c;
    for (const auto& [index, value] : ticked) {
        c[index] = value;
    }
    return c;
}

enum Condition { Posizione = 0, Autore = 1, Genere = 2, Argomento = 3, Editore = 4, Stato = 5, Anno = 8 };

// A catalogue where equal titles, letter cases, accents, empty and missing values, books without
// authors or publisher, links to authors that are gone and publishers that are gone all meet.
void fillVariedCatalogue(store::Archive& archive)
{
    archive.exec(QStringLiteral(
        "INSERT INTO editori (ID_Editore, nome) VALUES (1, 'ULISSE'), (2, 'Ulisse'), (3, 'ÈTNA'), (4, 'ETNA'), "
        "(5, ''), (6, NULL), (7, 'città nuova'), (8, 'CITTÀ NUOVA');"
        "INSERT INTO autore (ID_autore, nome) VALUES (1, 'VERDI ANNA'), (2, 'verdi anna'), (3, 'ÈRCOLE ROSSI'), "
        "(4, 'ERCOLE ROSSI'), (5, ''), (6, NULL), (7, 'NERI CARLA'), (8, 'BIANCHI LUCA');"
        // 240 books: each value list is walked at its own pace, so the values meet in many ways.
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 240) "
        "INSERT INTO biblio (id, titolo, posizione, genere, argomento, id_edizione, stato, anno) SELECT "
        "1000 - 3 * i, "
        "CASE i % 7 WHEN 0 THEN 'ZETA' WHEN 1 THEN 'Zeta' WHEN 2 THEN 'ÈLITE' WHEN 3 THEN 'ELITE' WHEN 4 THEN NULL "
        "WHEN 5 THEN '' ELSE printf('LIBRO %d', i % 11) END, "
        "CASE i % 4 WHEN 0 THEN 'SC. 1' WHEN 1 THEN 'sc. 1' WHEN 2 THEN NULL ELSE '' END, "
        "CASE i % 9 WHEN 0 THEN 'ROMANZO' WHEN 1 THEN 'Romanzo' WHEN 2 THEN 'ATTUALITÀ' WHEN 3 THEN 'ATTUALITA' "
        "WHEN 4 THEN 'attualità' WHEN 5 THEN '' WHEN 6 THEN NULL ELSE 'POESIA' END, "
        "CASE i % 5 WHEN 0 THEN 'STORIA' WHEN 1 THEN 'storia' ELSE NULL END, "
        "CASE i % 10 WHEN 9 THEN NULL WHEN 8 THEN 99 ELSE 1 + i % 8 END, "
        "CASE i % 3 WHEN 0 THEN 'BUONO' WHEN 1 THEN 'NUOVO!' ELSE NULL END, "
        "CASE i % 6 WHEN 0 THEN '1990' WHEN 1 THEN '1985' ELSE '2001' END FROM n;"
        // No author for one book in five; two or three for others, and a link to an author gone.
        "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + id % 8 FROM biblio WHERE id % 5 <> 0;"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + (id + 3) % 8 FROM biblio WHERE id % 3 = 0 "
        "AND id % 5 <> 0;"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 999 FROM biblio WHERE id % 7 = 0;"));
}

// The rows of a search as the engine gives them for the list's own text, run as it is: each
// row's book and the author of its link, in order.
QList<QPair<qint64, qint64>> rowsOfText(store::Archive& archive, const Query& query)
{
    store::Statement st = archive.prepare(query.text);
    st.bindAll(query.values);
    QList<QPair<qint64, qint64>> rows;
    while (st.step()) {
        rows.append({st.int64(0), st.value(14).isNull() ? -1 : st.int64(14)});
    }
    return rows;
}

// The same, as the books window's list reads them.
QList<QPair<qint64, qint64>> rowsOfList(Recordset& list)
{
    const int book = list.columnIndex(QStringLiteral("id"));
    const int author = list.columnIndex(QStringLiteral("autbiblio.ID_autore"));
    QList<QPair<qint64, qint64>> rows;
    for (int row = 0; row < list.recordCount(); ++row) {
        const QVariant a = list.valueAt(row, author);
        rows.append({list.valueAt(row, book).toLongLong(), a.isNull() ? -1 : a.toLongLong()});
    }
    return rows;
}

} // namespace

void TestStore::searchIsReadInPages()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    archive->exec(
        QStringLiteral("UPDATE biblio SET posizione='SC. 1' WHERE id IN (%1, %2)").arg(BookEdera).arg(BookZeta));

    // No condition: the whole catalogue, as at the start.
    QCOMPARE(sql::searchBooks(Conditions{}, false), Query(sql::AllBooks));

    // A book with two authors is listed once for each, in title order; the value is compared
    // without regard to case, as typed (not trimmed).
    Recordset romanzo(archive, sql::searchBooks(conditions({{Genere, QStringLiteral("romanzo")}}), false));
    QVERIFY(romanzo.isKeyed());
    QCOMPARE(columnOf(romanzo, "titolo"), (QStringList{"Èlite", "Zeta", "Zeta"}));
    QStringList authors = columnOf(romanzo, "autore.nome");
    QCOMPARE(authors.first(), QStringLiteral("Èrcole Rossi"));
    authors.removeFirst();
    authors.sort();
    QCOMPARE(authors, (QStringList{"Verdi Anna", "bianchi Luca"}));
    QCOMPARE(
        Recordset(archive, sql::searchBooks(conditions({{Genere, QStringLiteral("romanzo ")}}), false)).recordCount(),
        0);

    // A book without authors is listed once; a link to an author that is gone still lists its book.
    Recordset placed(archive, sql::searchBooks(conditions({{Posizione, QStringLiteral("SC. 1")}}), false));
    QCOMPARE(columnOf(placed, "titolo"), (QStringList{"Edera", "Zeta", "Zeta"}));
    placed.moveFirst();
    QVERIFY(placed.value("autore.nome").isNull());
    Recordset saggio(archive, sql::searchBooks(conditions({{Genere, QStringLiteral("SAGGIO")}}), false));
    QCOMPARE(columnOf(saggio, "id"), QStringList{QString::number(BookElefanti)});

    // OR and AND, conditions in index order whatever the order they were ticked in.
    const Conditions two = conditions({{Genere, QStringLiteral("poesia")}, {Autore, QStringLiteral("VERDI ANNA")}});
    const Query orQuery = sql::searchBooks(two, false);
    QVERIFY(orQuery.text.contains(QStringLiteral(" autore.nome = ? COLLATE ITALIANO OR  genere = ?")));
    QCOMPARE(orQuery.values, (QVariantList{QStringLiteral("VERDI ANNA"), QStringLiteral("poesia")}));
    QCOMPARE(columnOf(*std::make_unique<Recordset>(archive, orQuery), "titolo"), (QStringList{"àncora", "Zeta"}));
    QCOMPARE(columnOf(*std::make_unique<Recordset>(archive, sql::searchBooks(two, true)), "titolo"),
             QStringList{"àncora"});
    // A single condition gives the same list with AND and with OR.
    QCOMPARE(columnOf(*std::make_unique<Recordset>(
                          archive, sql::searchBooks(conditions({{Editore, QStringLiteral("ulisse editore")}}), true)),
                      "titolo"),
             (QStringList{"àncora", "Zeta", "Zeta"}));
    // An empty value box compares with the empty text: a genre left null never matches.
    Recordset empty(archive, sql::searchBooks(conditions({{Genere, QString()}}), false));
    QCOMPARE(columnOf(empty, "titolo"), QStringList{"ABACO"});

    // Quotes and SQL in a value are only a value.
    for (const QString& hostile :
         {QStringLiteral("\""), QStringLiteral("x' OR '1'='1"), QStringLiteral("; DELETE FROM biblio; --")}) {
        Recordset r(archive, sql::searchBooks(conditions({{Genere, hostile}, {Anno, hostile}}), false));
        QCOMPARE(r.recordCount(), 0);
    }
    QCOMPARE(rowCount(path, "biblio"), 6);

    // The rows read in pages are the rows of the query read whole, over many pages with books
    // listed several times.
    archive->exec(QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 700) "
        "INSERT INTO biblio (id, titolo, genere, id_edizione) SELECT 100 + i, printf('LIBRO %04d', 701 - i), "
        "CASE WHEN i % 3 = 0 THEN 'ROMANZO' ELSE 'SAGGIO' END, 1 + i % 3 FROM n;"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + id % 4 FROM biblio WHERE id > 100;"
        "INSERT INTO autbiblio (ID_biblio, ID_autore) SELECT id, 1 + (id + 1) % 4 FROM biblio WHERE id > 100 AND "
        "id % 5 = 0;"));
    const Query broad = sql::searchBooks(
        conditions({{Genere, QStringLiteral("SAGGIO")}, {Editore, QStringLiteral("ALBA EDIZIONI")}}), false);
    Recordset paged(archive, broad);
    Query whole = broad;
    whole.keyColumns.clear();
    Recordset read(archive, whole);
    QVERIFY(paged.isKeyed());
    QVERIFY(!read.isKeyed());
    QVERIFY(paged.recordCount() > 500);
    QCOMPARE(paged.recordCount(), read.recordCount());
    for (int row = 0; row < read.recordCount(); ++row) {
        for (int c = 0; c < read.columnCount(); ++c) {
            QCOMPARE(paged.valueAt(row, c), read.valueAt(row, c));
        }
    }
    // A book is found at its first row; the list's key column answers from the held keys.
    QVERIFY(paged.findFirst("id", qint64(BookElite)));
    QCOMPARE(paged.value("titolo").toString(), QStringLiteral("Èlite"));
    QVERIFY(paged.findFirst("autore.nome", QStringLiteral("NERI CARLA")));
    QCOMPARE(paged.value("autore.nome").toString(), QStringLiteral("Neri Carla"));
    QCOMPARE(errorOf([&] { paged.edit(); }), int(store::ErrReadOnly));
}

void TestStore::sameQueryKeysAreReadOnce()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset first(archive, sql::AllBooks);
    Recordset second(archive, sql::AllBooks);
    QCOMPARE(columnOf(second, "titolo"), columnOf(first, "titolo"));

    // A row added by one result joins its own keys only.
    first.addNew();
    first.setValue("id", 50);
    first.setValue("titolo", QStringLiteral("AGGIUNTO"));
    first.update();
    QCOMPARE(first.recordCount(), 7);
    QCOMPARE(second.recordCount(), 6);
    // Whatever changed since, a new result reads the keys again: this connection's writes...
    Recordset third(archive, sql::AllBooks);
    QCOMPARE(third.recordCount(), 7);
    QCOMPARE(columnOf(third, "titolo").first(), QStringLiteral("ABACO"));
    QCOMPARE(columnOf(third, "titolo").at(1), QStringLiteral("AGGIUNTO"));
    // ...and another connection's.
    store::Archive::open(path)->exec(QStringLiteral("DELETE FROM biblio WHERE id=50"));
    Recordset fourth(archive, sql::AllBooks);
    QCOMPARE(fourth.recordCount(), 6);
    // Deleting from a result that shares its keys leaves the other's alone.
    Recordset fifth(archive, sql::AllBooks);
    fifth.moveFirst();
    fifth.deleteCurrent();
    QCOMPARE(fourth.recordCount(), 6);
    QCOMPARE(fifth.recordCount(), 5);
    QCOMPARE(fourth.findRow("id", qint64(BookAbaco)), 0);
}

void TestStore::sameQueryRowsAreReadOnce()
{
    CARTEO_FILE_ONLY("counts the statements the file engine traces on its connection");
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    // Every statement the connection runs, as the engine traces it.
    QStringList statements;
    sqlite3_trace_v2(
        archive->handle(), SQLITE_TRACE_STMT,
        [](unsigned, void* context, void* statement, void*) {
            static_cast<QStringList*>(context)->append(
                QString::fromUtf8(sqlite3_sql(static_cast<sqlite3_stmt*>(statement))));
            return 0;
        },
        &statements);
    const auto pagesRead = [&] { return statements.filter(QStringLiteral(".rowid IN (")).size(); };

    const auto rowsRead = [&] { return statements.filter(QStringLiteral(".rowid = ?")).size(); };

    // The record of a window shows one book: it reads that row alone.
    Recordset record(archive, sql::AllBooks);
    Recordset list(archive, sql::AllBooks);
    QVERIFY(record.findFirst("id", qint64(BookElite)));
    QCOMPARE(record.value("titolo").toString(), QStringLiteral("Èlite"));
    QCOMPARE(record.value("genere").toString(), QStringLiteral("Romanzo"));
    QCOMPARE(rowsRead(), 1);
    QCOMPARE(pagesRead(), 0);
    // Its list reads a page of rows; the record then finds its rows there.
    const int title = list.columnIndex("titolo");
    const QStringList ordered{"ABACO", "àncora", "Edera", "elefanti", "Èlite", "Zeta"};
    for (int row = 0; row < ordered.size(); ++row) {
        QCOMPARE(list.valueAt(row, title).toString(), ordered.at(row));
    }
    QCOMPARE(pagesRead(), 1);
    record.moveNext();
    QCOMPARE(record.value("titolo").toString(), QStringLiteral("Zeta"));
    QCOMPARE(rowsRead(), 1);
    QCOMPARE(pagesRead(), 1);

    // A row saved through one of them is read afresh by both.
    record.movePrevious();
    record.edit();
    record.setValue("titolo", QStringLiteral("Èlite seconda"));
    record.update();
    const int before = pagesRead();
    QCOMPARE(list.valueAt(4, title).toString(), QStringLiteral("Èlite seconda"));
    QCOMPARE(record.value("titolo").toString(), QStringLiteral("Èlite seconda"));
    QCOMPARE(pagesRead(), before + 1);

    // A walk through the rows reads them a page at a time, not one by one.
    const int rowsBefore = rowsRead();
    const int pagesBefore = pagesRead();
    Recordset walk(archive, sql::AllBooks);
    QCOMPARE(columnOf(walk, "titolo").size(), 6);
    QVERIFY(rowsRead() - rowsBefore <= 1);
    QCOMPARE(pagesRead() - pagesBefore, 1);

    // Other columns of the same books are rows of their own.
    Recordset titles(archive, QStringLiteral("Select titolo, id from biblio order by titolo"));
    QCOMPARE(titles.columnCount(), 2);
    QCOMPARE(titles.valueAt(0, 0).toString(), QStringLiteral("ABACO"));
    QCOMPARE(titles.valueAt(0, 1).toLongLong(), qint64(BookAbaco));

    // A row added by one of them is not another's: each reads its own rows from then on.
    list.addNew();
    list.setValue("id", 60);
    list.setValue("titolo", QStringLiteral("AAA NUOVO"));
    list.update();
    QCOMPARE(list.recordCount(), 7);
    QCOMPARE(list.valueAt(6, list.columnIndex("titolo")).toString(), QStringLiteral("AAA NUOVO"));
    QCOMPARE(record.recordCount(), 6);
    QCOMPARE(columnOf(record, "titolo").last(), QStringLiteral("Zeta"));
    sqlite3_trace_v2(archive->handle(), 0, nullptr, nullptr);
}

void TestStore::freeBookKeys()
{
    const QString path = newArchive(false);
    auto archive = store::Archive::open(path);
    // An empty catalogue takes the first key drawn.
    QCOMPARE(store::catalogue::freeBookKey(*archive, [] { return qint64(4242); }), std::optional<qint64>(4242));

    // Taken keys are tried again; a key out of range is never given.
    archive->exec(QStringLiteral("INSERT INTO biblio (id) VALUES (1), (2), (3)"));
    QList<qint64> draws{2, 0, 200001, 3, 7};
    QCOMPARE(store::catalogue::freeBookKey(*archive, [&draws] { return draws.takeFirst(); }), std::optional<qint64>(7));

    // Nearly full: the only free key is found even when every draw is taken.
    archive->exec(QStringLiteral("DELETE FROM biblio; WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                                 "WHERE i < 200000) INSERT INTO biblio (id) SELECT i FROM n WHERE i <> 123456;"));
    QCOMPARE(store::catalogue::freeBookKey(*archive, [] { return qint64(5); }), std::optional<qint64>(123456));
    archive->exec(QStringLiteral("INSERT INTO biblio (id) VALUES (123456); DELETE FROM biblio WHERE id = 1;"));
    QCOMPARE(store::catalogue::freeBookKey(*archive, [] { return qint64(5); }), std::optional<qint64>(1));

    // Full: nothing, and no endless search.
    archive->exec(QStringLiteral("INSERT INTO biblio (id) VALUES (1)"));
    QCOMPARE(store::catalogue::freeBookKey(*archive, [] { return qint64(5); }), std::nullopt);
}

void TestStore::searchWithOrFindsTheRowsOfTheWholeCondition()
{
    const QString path = newArchive(false);
    auto archive = store::Archive::open(path);
    fillVariedCatalogue(*archive);
    struct Case {
        const char* what;
        Conditions conditions;
        bool all;
        bool quicker; // the keys are found through each table's own index
    };
    const QString none = QStringLiteral("NESSUNO");
    const QList<Case> cases{
        {"OR across tables: genre, publisher", conditions({{Genere, "romanzo"}, {Editore, "ulisse"}}), false, true},
        {"OR across tables: author, genre", conditions({{Autore, "Verdi Anna"}, {Genere, "POESIA"}}), false, true},
        {"OR across tables: author, publisher", conditions({{Autore, "ÈRCOLE ROSSI"}, {Editore, "ètna"}}), false, true},
        {"OR across tables: three tables, two books' columns",
         conditions({{Posizione, "SC. 1"}, {Autore, "NERI CARLA"}, {Argomento, "Storia"}, {Editore, "CITTÀ NUOVA"}}),
         false, true},
        {"OR across tables: accents count, case does not",
         conditions({{Genere, "attualità"}, {Editore, "citta nuova"}}), false, true},
        {"OR across tables: empty values", conditions({{Autore, ""}, {Genere, ""}, {Editore, ""}}), false, true},
        {"OR across tables: one value that matches nothing", conditions({{Genere, none}, {Autore, "verdi anna"}}),
         false, true},
        {"OR across tables: nothing matches", conditions({{Genere, none}, {Editore, none}}), false, true},
        {"OR across tables: every condition",
         conditions({{0, "sc. 1"},
                     {1, "BIANCHI LUCA"},
                     {2, "ROMANZO"},
                     {3, "STORIA"},
                     {4, "ETNA"},
                     {5, "BUONO"},
                     {6, ""},
                     {7, ""},
                     {8, "1985"},
                     {9, ""}}),
         false, true},
        {"OR within the books' table", conditions({{Genere, "ROMANZO"}, {Anno, "1990"}}), false, false},
        {"OR within the books' table, empty value", conditions({{Posizione, ""}, {Stato, "nuovo!"}}), false, false},
        {"AND across tables", conditions({{Autore, "VERDI ANNA"}, {Genere, "romanzo"}, {Editore, "Ulisse"}}), true,
         false},
        {"AND within the books' table", conditions({{Genere, "ATTUALITÀ"}, {Anno, "2001"}}), true, false},
        {"one condition on the author", conditions({{Autore, "ercole rossi"}}), false, false},
        {"one condition on the publisher", conditions({{Editore, "ÈTNA"}}), false, false},
    };
    int listed = 0;
    for (const Case& c : cases) {
        const Query query = sql::searchBooks(c.conditions, c.all);
        QVERIFY2(query.keyText.isEmpty() != c.quicker, c.what);
        // The list keeps the text it has always shown; only the way to its keys differs.
        QVERIFY2(!query.text.contains(QStringLiteral(" IN (")), c.what);
        Recordset list(archive, query);
        auto expected = rowsOfText(*archive, query);
        auto listedRows = rowsOfList(list);
        if (testsupport::onServer()) {
            // The server orders rows of equal titles as its plan finds them, in the list and in
            // the text alike: the same rows, each run in its own order.
            std::sort(expected.begin(), expected.end());
            std::sort(listedRows.begin(), listedRows.end());
        }
        if (listedRows != expected) {
            qWarning("%s", c.what);
        }
        QCOMPARE(listedRows, expected);
        listed += int(expected.size());
        // Each row is the row of the text: the same book, author and publisher names.
        if (!expected.isEmpty() && !testsupport::onServer()) {
            store::Statement st = archive->prepare(query.text);
            st.bindAll(query.values);
            for (int row = 0; st.step(); ++row) {
                for (const char* field : {"titolo", "autore.nome", "editori.nome", "genere"}) {
                    const int column = list.columnIndex(QString::fromLatin1(field));
                    QCOMPARE(list.valueAt(row, column), st.value(column));
                }
            }
        }
    }
    // The cases found rows, with books listed once per author and equal titles side by side.
    QVERIFY(listed > 1000);

    // Switching OR to AND narrows the same conditions, and OR lists every row AND lists.
    const Conditions two = conditions({{Autore, "VERDI ANNA"}, {Editore, "ULISSE"}});
    Recordset either(archive, sql::searchBooks(two, false));
    Recordset both(archive, sql::searchBooks(two, true));
    const auto eitherRows = rowsOfList(either);
    const auto bothRows = rowsOfList(both);
    QVERIFY(bothRows.size() < eitherRows.size());
    for (const auto& row : bothRows) {
        QVERIFY(eitherRows.contains(row));
    }

    // Another user's change after the keys were read: a row that no longer matches reads empty,
    // never as another book.
    Recordset before(archive, sql::searchBooks(conditions({{Genere, "POESIA"}, {Editore, "CITTÀ NUOVA"}}), false));
    QVERIFY(before.recordCount() > 2);
    const qint64 first = before.valueAt(0, before.columnIndex("id")).toLongLong();
    store::Archive::open(path)->exec(
        QStringLiteral("UPDATE biblio SET genere = 'ALTRO', id_edizione = NULL WHERE id = %1").arg(first));
    QVERIFY(before.valueAt(0, before.columnIndex("titolo")).isNull());
}

void TestStore::searchKeysMustMatchTheirQuery()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    // A key text that does not give the key columns is refused at open, never read as keys.
    Query query = sql::searchBooks(conditions({{Genere, "ROMANZO"}, {Editore, "ULISSE EDITORE"}}), false);
    QVERIFY(!query.keyText.isEmpty());
    query.keyText = QStringLiteral("SELECT id FROM biblio");
    query.keyValues.clear();
    QCOMPARE(errorOf([&] { Recordset keys(archive, query); }), int(store::ErrSyntax));
}

void TestStore::largeSearchesKeepMoreOfTheArchiveAtHand()
{
    CARTEO_FILE_ONLY("about the file engine's page cache");
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    const auto cacheSize = [&] {
        store::Statement st = archive->prepareExact(QStringLiteral("PRAGMA cache_size"));
        st.step();
        return st.int64(0);
    };
    // Browsing keeps 8 MB of the archive at hand; a search of a few rows changes nothing.
    QCOMPARE(cacheSize(), -8192);
    Recordset few(archive, sql::searchBooks(conditions({{Genere, "ROMANZO"}, {Editore, "ULISSE EDITORE"}}), false));
    QCOMPARE(few.recordCount(), 4);
    QCOMPARE(cacheSize(), -8192);
    // A search that lists a thousand rows or more is read again at each keystroke: 16 MB.
    archive->exec(
        QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                       "INSERT INTO biblio (id, titolo, genere) SELECT 1000 + i, 'LIBRO', 'ROMANZO' FROM n;"));
    Recordset many(archive, sql::searchBooks(conditions({{Genere, "ROMANZO"}}), false));
    QVERIFY(many.recordCount() >= 1000);
    QCOMPARE(cacheSize(), -16384);
    // Another window's connection starts again from 8 MB.
    auto other = store::Archive::open(path);
    store::Statement st = other->prepareExact(QStringLiteral("PRAGMA cache_size"));
    QVERIFY(st.step());
    QCOMPARE(st.int64(0), -8192);
}
