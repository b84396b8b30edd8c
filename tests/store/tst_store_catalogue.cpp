// The catalogue's own queries: the books window's search read in pages, the keys shared between
// data sources of one query, and the choice of a free book key.
#include "tst_store.h"

#include "store/Catalogue.h"
#include "store/DbError.h"
#include "store/Sql.h"

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

enum Condition { Posizione = 0, Autore = 1, Genere = 2, Editore = 4, Anno = 8 };

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
