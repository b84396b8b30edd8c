// The editing contract: an edit writes only the row it opened, another user's change or delete is
// refused, a busy archive is reported without freezing, nothing typed is lost on a failure; bound
// values; aliased and quoted queries; one comparison rule; transactions; one connection per window.
#include "tst_store.h"

#include "store/DbError.h"
#include "store/Sql.h"


using store::DataSource;
using store::DbError;
using store::Query;
using store::Recordset;
using namespace testsupport;

namespace {

QStringList queryPlan(store::Archive& archive, const Query& query)
{
    QStringList steps;
    store::Statement st = archive.prepare(QStringLiteral("EXPLAIN QUERY PLAN ") + query.text);
    st.bindAll(query.values);
    while (st.step()) {
        steps << st.value(3).toString();
    }
    return steps;
}

QString titleOf(const QString& path, qint64 id)
{
    return scalar(path, QStringLiteral("SELECT titolo FROM biblio WHERE id=%1").arg(id)).toString();
}

} // namespace

void TestStore::editWritesOnlyTheRowItOpened()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst("id", qint64(BookZeta)));
    books.edit();
    books.setValue("titolo", QStringLiteral("ZETA RIVISTA"));

    // Every move, find, delete or requery is refused while the edit is open; the edit survives.
    const QList<std::function<void()>> refused{
        [&] { books.moveFirst(); },
        [&] { books.moveNext(); },
        [&] { books.moveLast(); },
        [&] { books.movePrevious(); },
        [&] { books.setAbsolutePosition(0); },
        [&] { books.findFirst("id", qint64(BookAbaco)); },
        [&] { books.findFirst(QStringLiteral("id"), qint64(BookAbaco)); },
        [&] { books.setBookmark(BookAbaco); },
        [&] { books.deleteCurrent(); },
        [&] { books.requery(); },
        [&] { books.addNew(); },
        [&] { books.edit(); },
    };
    for (const auto& action : refused) {
        QCOMPARE(errorOf(action), int(store::ErrEditPending));
    }
    // Finding a row without moving stays possible (lists select entries that way).
    QCOMPARE(books.findRow("id", qint64(BookAbaco)), 0);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ZETA RIVISTA"));
    books.update();
    QCOMPARE(titleOf(path, BookZeta), QStringLiteral("ZETA RIVISTA"));
    QCOMPARE(titleOf(path, BookAbaco), QStringLiteral("ABACO"));

    // The same through a data source: a refresh during an edit is refused and keeps the edit.
    DataSource source;
    source.setArchive(archive);
    source.setRecordSource(sql::AllBooks);
    TestBinding title("titolo");
    source.bind(&title);
    source.refresh();
    QVERIFY(source.findFirst("id", qint64(BookElite)));
    source.edit();
    QVERIFY(source.isEditing());
    QCOMPARE(errorOf([&] { source.refresh(); }), int(store::ErrEditPending));
    QCOMPARE(errorOf([&] { source.findFirst("id", qint64(BookAbaco)); }), int(store::ErrEditPending));
    QCOMPARE(errorOf([&] { source.setRecordSource(sql::AllAuthors), source.refresh(); }), int(store::ErrEditPending));
    source.setRecordSource(sql::AllBooks);
    title.toWrite = QStringLiteral("ÈLITE NUOVA");
    source.updateRecord();
    QCOMPARE(titleOf(path, BookElite), QStringLiteral("ÈLITE NUOVA"));
    QCOMPARE(titleOf(path, BookAbaco), QStringLiteral("ABACO"));
    QCOMPARE(source.rs().lastModified(), Recordset::Bookmark(BookElite));
}

void TestStore::anotherUsersChangeIsRefused()
{
    const QString path = newArchive();
    auto mine = store::Archive::open(path);
    auto theirs = store::Archive::open(path);
    Recordset books(mine, sql::AllBooks);
    QCOMPARE(columnOf(books, "titolo").size(), 6); // every page cached before the other user writes

    // edit() reads the row afresh, not the cached page: a change made before it is not a conflict.
    theirs->exec(QStringLiteral("UPDATE biblio SET argomento='PRIMA' WHERE id=%1").arg(BookZeta));
    QVERIFY(books.findFirst("id", qint64(BookZeta)));
    books.edit();
    QCOMPARE(books.value("argomento").toString(), QStringLiteral("PRIMA"));

    // A change of letter case alone by the other user counts; nothing is written and nothing typed
    // is lost.
    books.setValue("titolo", QStringLiteral("ZETA MIA"));
    books.setValue("anno", QStringLiteral("1991"));
    theirs->exec(QStringLiteral("UPDATE biblio SET titolo='ZETA', note='LORO' WHERE id=%1").arg(BookZeta));
    QString description;
    QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrRecordChanged));
    QVERIFY(description.contains(QStringLiteral("modificato da un altro utente")));
    QCOMPARE(books.editMode(), Recordset::EditMode::Edit);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ZETA MIA"));
    QCOMPARE(books.value("anno").toString(), QStringLiteral("1991"));
    QCOMPARE(titleOf(path, BookZeta), QStringLiteral("ZETA"));

    // A second save overwrites that version on purpose, with only what this edit changed: the
    // other user's note stays.
    books.update();
    QCOMPARE(titleOf(path, BookZeta), QStringLiteral("ZETA MIA"));
    QCOMPARE(scalar(path, QStringLiteral("SELECT anno FROM biblio WHERE id=%1").arg(BookZeta)).toString(),
             QStringLiteral("1991"));
    QCOMPARE(scalar(path, QStringLiteral("SELECT note FROM biblio WHERE id=%1").arg(BookZeta)).toString(),
             QStringLiteral("LORO"));

    // After a refusal, a further change by the other user is refused again.
    books.edit();
    books.setValue("titolo", QStringLiteral("TERZA"));
    theirs->exec(QStringLiteral("UPDATE biblio SET costo_E=21 WHERE id=%1").arg(BookZeta));
    QCOMPARE(errorOf([&] { books.update(); }), int(store::ErrRecordChanged));
    theirs->exec(QStringLiteral("UPDATE biblio SET costo_E=22 WHERE id=%1").arg(BookZeta));
    QCOMPARE(errorOf([&] { books.update(); }), int(store::ErrRecordChanged));
    books.cancelUpdate();
    QCOMPARE(books.value("costo_E").toDouble(), 22.0); // cancelling shows the stored row
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ZETA MIA"));

    // A row deleted meanwhile: its own number, the edit stays open, the row is not brought back.
    books.edit();
    books.setValue("titolo", QStringLiteral("RESTA SCRITTO"));
    theirs->exec(QStringLiteral("DELETE FROM biblio WHERE id=%1").arg(BookZeta));
    QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrRecordDeleted));
    QVERIFY(description.contains(QStringLiteral("eliminato da un altro utente")));
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("RESTA SCRITTO"));
    QCOMPARE(errorOf([&] { books.update(); }), int(store::ErrRecordDeleted));
    QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM biblio WHERE id=%1").arg(BookZeta)).toInt(), 0);
    books.cancelUpdate();
    // Opening an edit on a row that is gone says so at once.
    QCOMPARE(errorOf([&] { books.edit(); }), int(store::ErrRecordDeleted));
    QCOMPARE(books.editMode(), Recordset::EditMode::None);

    // A join's rows are checked the same way, on the table that receives the writes.
    Recordset links(mine, sql::authorsOfBook(BookElite));
    QCOMPARE(links.writeTable(), QStringLiteral("autbiblio"));
    links.edit();
    theirs->exec(QStringLiteral("UPDATE autbiblio SET ID_autore=%1 WHERE ID_biblio=%2").arg(AuthorNeri).arg(BookElite));
    links.setValue("ID_autore", qint64(AuthorVerdi));
    QCOMPARE(errorOf([&] { links.update(); }), int(store::ErrRecordChanged));
    QCOMPARE(errorOf([&] { links.setValue("nome", QStringLiteral("X")); }), int(store::ErrReadOnly));
}

void TestStore::busyArchiveIsReportedQuickly()
{
    const QString path = newArchive();
    auto mine = store::Archive::open(path);
    auto theirs = store::Archive::open(path);
    QList<bool> waits;
    struct Forget {
        ~Forget() { store::setWaitNotifier({}); }
    } forget;
    store::setWaitNotifier([&waits](bool waiting) { waits << waiting; });

    Recordset books(mine, sql::AllBooks);
    QVERIFY(books.findFirst("id", qint64(BookEdera)));
    books.edit();
    books.setValue("titolo", QStringLiteral("EDERA ROSSA"));
    theirs->exec(QStringLiteral("BEGIN IMMEDIATE; UPDATE biblio SET note='LORO' WHERE id=%1;").arg(BookAbaco));
    QString description;
    QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrLocked));
    // One wait, told to the window as it begins and ends, then the message (how long the wait
    // lasts is the busy timeout's, not something a test can time on a shared machine).
    QVERIFY(description.contains(QStringLiteral("bloccato")));
    QCOMPARE(waits, (QList<bool>{true, false}));
    QCOMPARE(books.editMode(), Recordset::EditMode::Edit);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("EDERA ROSSA"));
    QVERIFY(!mine->inTransaction()); // the failed save left nothing open

    // Once the other user has finished, the same save goes through.
    theirs->exec(QStringLiteral("COMMIT"));
    books.update();
    QCOMPARE(titleOf(path, BookEdera), QStringLiteral("EDERA ROSSA"));
    QCOMPARE(scalar(path, QStringLiteral("SELECT note FROM biblio WHERE id=%1").arg(BookAbaco)).toString(),
             QStringLiteral("LORO"));

    // A new row waits the same way and keeps its values.
    theirs->exec(QStringLiteral("BEGIN IMMEDIATE; DELETE FROM editori WHERE ID_Editore=%1;").arg(PublisherAlba));
    Recordset publishers(mine, sql::PublishersForBooks);
    publishers.addNew();
    publishers.setValue("nome", QStringLiteral("IN ATTESA"));
    QCOMPARE(errorOf([&] { publishers.update(); }), int(store::ErrLocked));
    QCOMPARE(publishers.value("nome").toString(), QStringLiteral("IN ATTESA"));
    theirs->exec(QStringLiteral("ROLLBACK"));
    publishers.update();
    QCOMPARE(scalar(path, "SELECT count(*) FROM editori WHERE nome='IN ATTESA'").toInt(), 1);
}

void TestStore::typedValuesAreBoundNeverPasted()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    const QString hostile = QStringLiteral("L'\"ISOLA\"; DELETE FROM biblio; --");
    {
        Recordset books(archive, sql::AllBooks);
        QVERIFY(books.findFirst("id", qint64(BookEdera)));
        books.edit();
        books.setValue("genere", hostile);
        books.update();
    }
    QCOMPARE(rowCount(path, "biblio"), 6);

    // Found only where it is stored, by a query with the value bound and by a typed find.
    Recordset found(archive, Query(QStringLiteral("Select * from biblio where genere = ? order by titolo"), {hostile}));
    QVERIFY(found.isKeyed());
    QCOMPARE(columnOf(found, "id"), QStringList{QString::number(BookEdera)});
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst("genere", hostile));
    QCOMPARE(books.value("id").toLongLong(), qint64(BookEdera));
    QVERIFY(!books.findFirst("genere", QStringLiteral("L'\"ISOLA\"")));
    // Letter case never counts in a find.
    QVERIFY(books.findFirst(QStringLiteral("genere"), QStringLiteral("romanzo")));
    QCOMPARE(books.value("id").toLongLong(), qint64(BookElite));

    // Values bound in the select list, the where clause and the order: key and page queries agree.
    Recordset mixed(archive, Query(QStringLiteral("Select titolo, ? AS etichetta from biblio where anno > ? and "
                                                  "titolo <> ? order by titolo"),
                                   {QStringLiteral("X"), QStringLiteral("1980"), QStringLiteral("Zeta")}));
    QVERIFY(mixed.isKeyed());
    QCOMPARE(columnOf(mixed, "titolo"), (QStringList{"elefanti", "Èlite"}));
    QCOMPARE(columnOf(mixed, "etichetta"), (QStringList{"X", "X"}));
    // Too few or too many values is an error at open, never a query with holes.
    QCOMPARE(errorOf([&] { Recordset bad(archive, Query(QStringLiteral("Select * from biblio where id=?"), {})); }),
             int(store::ErrSyntax));
}

void TestStore::queriesWithAliasesAndQuotedNames()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);

    // An alias: read in pages and written to its table.
    Recordset aliased(archive, Query(QStringLiteral("Select b.id, b.titolo from biblio b where b.genere = ? order "
                                                    "by b.titolo"),
                                     {QStringLiteral("ROMANZO")}));
    QVERIFY(aliased.isKeyed());
    QCOMPARE(aliased.writeTable(), QStringLiteral("biblio"));
    QCOMPARE(columnOf(aliased, "titolo"), (QStringList{"Èlite", "Zeta"})); // 'Romanzo' is the same genre
    aliased.moveFirst();
    aliased.edit();
    aliased.setValue("titolo", QStringLiteral("ELITE"));
    aliased.update();
    QCOMPARE(titleOf(path, BookElite), QStringLiteral("ELITE"));

    // A quoted table name is the same table, and writable.
    Recordset quoted(archive, QStringLiteral("select * from \"biblio\" as \"B\" order by titolo"));
    QVERIFY(quoted.isKeyed());
    QCOMPARE(quoted.writeTable(), QStringLiteral("biblio"));
    quoted.moveFirst();
    quoted.edit();
    quoted.setValue("note", QStringLiteral("PRIMO"));
    quoted.update();
    QCOMPARE(scalar(path, QStringLiteral("SELECT note FROM biblio WHERE id=%1").arg(BookAbaco)).toString(),
             QStringLiteral("PRIMO"));

    // A join with aliases that names the table it writes to.
    Recordset links(archive, Query(QStringLiteral("Select l.ID_biblio, l.ID_autore, a.nome from autbiblio l inner "
                                                  "join autore a on l.id_autore=a.id_autore where l.id_biblio=?"),
                                   {qint64(BookZeta)}, QStringLiteral("Autbiblio")));
    QCOMPARE(links.writeTable(), QStringLiteral("autbiblio"));
    QCOMPARE(links.recordCount(), 2);
    QVERIFY(links.findFirst("a.nome", QStringLiteral("VERDI ANNA")));
    links.deleteCurrent();
    QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autbiblio WHERE ID_biblio=%1").arg(BookZeta)).toInt(),
             1);

    // A join whose columns come from one table writes to that table.
    Recordset names(archive, Query(QStringLiteral("Select autore.ID_autore, autore.nome from autbiblio inner join "
                                                  "autore on autbiblio.id_autore=autore.id_autore where "
                                                  "autbiblio.id_biblio=?"),
                                   {qint64(BookElite)}));
    QCOMPARE(names.writeTable(), QStringLiteral("autore"));
    names.edit();
    names.setValue("nome", QStringLiteral("ERCOLE ROSSI"));
    names.update();
    QCOMPARE(scalar(path, QStringLiteral("SELECT nome FROM autore WHERE ID_autore=%1").arg(AuthorErcole)).toString(),
             QStringLiteral("ERCOLE ROSSI"));

    // A join of several tables that names none is read-only; a named table that is not in the
    // query, or a distinct query with a table to write, fails at open with a clear error.
    Recordset joined(archive, QStringLiteral("Select * from biblio inner join editori on "
                                             "biblio.id_edizione=editori.ID_Editore"));
    QVERIFY(joined.writeTable().isEmpty());
    QCOMPARE(errorOf([&] { joined.edit(); }), int(store::ErrReadOnly));
    QCOMPARE(errorOf([&] { joined.addNew(); }), int(store::ErrReadOnly));
    QString description;
    QCOMPARE(errorOf([&] { Recordset r(archive, Query(QStringLiteral("Select * from biblio"), {}, "autore")); },
                     &description),
             int(store::ErrItemNotFound));
    QVERIFY(description.contains(QStringLiteral("autore")));
    QCOMPARE(errorOf([&] {
                 Recordset r(archive, Query(QStringLiteral("Select distinct genere from biblio"), {}, "biblio"));
             }),
             int(store::ErrReadOnly));

    // A table named twice cannot tell which of its rows an edit means: read-only, or an error
    // when it is named as the table to write.
    const QString selfJoin = QStringLiteral("Select b.titolo from biblio a inner join biblio b on a.id = b.id "
                                            "order by b.titolo");
    Recordset twice(archive, selfJoin);
    QVERIFY(twice.writeTable().isEmpty());
    QCOMPARE(errorOf([&] { twice.edit(); }), int(store::ErrReadOnly));
    QCOMPARE(errorOf([&] { Recordset r(archive, Query(selfJoin, {}, QStringLiteral("biblio"))); }, &description),
             int(store::ErrItemNotFound));
    QVERIFY(description.contains(QStringLiteral("più volte")));
    // A total is one row of its own; a comment says nothing.
    Recordset total(archive, QStringLiteral("select count(*) /* from autore */ from biblio"));
    QCOMPARE(total.recordCount(), 1);
    QCOMPARE(total.valueAt(0, 0).toLongLong(), 6);
    QVERIFY(total.writeTable().isEmpty());
}

void TestStore::oneComparisonRuleForTexts()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    archive->exec(QStringLiteral("INSERT INTO biblio (id, titolo, genere, luogo_stampa) VALUES "
                                 "(20, 'A', 'Attualità', 'città'), (21, 'B', 'ATTUALITÀ', 'CITTA'),"
                                 "(22, 'C', 'attualita', 'CITTÀ');"
                                 "INSERT INTO autore (nome) VALUES ('Città Nuova');"));

    // Case never counts, on every letter; accents do. The same rule in the engine's finds, in the
    // finds over a result read whole, and in a query's equality.
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst("genere", QStringLiteral("attualità")));
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("A"));
    QVERIFY(books.findFirst("luogo_stampa", QStringLiteral("CITTA")));
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("B"));
    Recordset whole(archive, QStringLiteral("Select biblio.titolo, biblio.genere from biblio left join editori on "
                                            "biblio.id_edizione=editori.ID_Editore order by titolo"));
    QVERIFY(!whole.isKeyed());
    QVERIFY(whole.findFirst("genere", QStringLiteral("ATTUALITÀ")));
    QCOMPARE(whole.value("titolo").toString(), QStringLiteral("A"));
    QVERIFY(whole.findFirst("genere", QStringLiteral("ATTUALITA")));
    QCOMPARE(whole.value("titolo").toString(), QStringLiteral("C"));
    Recordset equal(archive,
                    Query(QStringLiteral("Select titolo from biblio where ") +
                              sql::equalsBound(QStringLiteral("luogo_stampa"), QStringLiteral("luogo_stampa")) +
                              QStringLiteral(" order by titolo"),
                          {QStringLiteral("CITTÀ")}));
    QCOMPARE(columnOf(equal, "titolo"), (QStringList{"A", "C"}));

    // The genre list names each genre once, whatever the case it was typed in.
    Recordset genres(archive, sql::DistinctGenres);
    QCOMPARE(columnOf(genres, "genere").size(), 5);
    QStringList folded;
    for (const QString& g : columnOf(genres, "genere")) {
        folded << g.toUpper();
    }
    QCOMPARE(folded, (QStringList{"ATTUALITA", "ATTUALITÀ", "POESIA", "ROMANZO", "SAGGIO"}));

    // The indexes serve an equality on title, genre, author and publisher name (as the file
    // engine's query plans tell).
    if (testsupport::onServer()) {
        return;
    }
    const QList<QPair<QString, QString>> indexed{
        {"biblio", "titolo"}, {"biblio", "genere"}, {"autore", "nome"}, {"editori", "nome"}};
    for (const auto& [table, column] : indexed) {
        const QString plan = queryPlan(*archive, Query(QStringLiteral("SELECT rowid FROM %1 WHERE ").arg(table) +
                                                           sql::equalsBound(column, column),
                                                       {QStringLiteral("x")}))
                                 .join('|');
        QVERIFY2(plan.contains(QStringLiteral("USING INDEX")) || plan.contains(QStringLiteral("USING COVERING INDEX")),
                 qPrintable(table + "." + column + ": " + plan));
    }
}

void TestStore::transactionsAndOneConnectionPerWindow()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);

    // Everything in a transaction that is not committed is undone; a savepoint inside it too.
    {
        store::Transaction outer(*archive);
        archive->exec(QStringLiteral("DELETE FROM biblio WHERE id=%1").arg(BookZeta));
        {
            store::Transaction inner(*archive);
            archive->exec(QStringLiteral("DELETE FROM biblio WHERE id=%1").arg(BookElite));
        }
        QCOMPARE(rowCount(path, "biblio"), 6); // nothing visible outside yet
        {
            store::Transaction inner(*archive);
            archive->exec(QStringLiteral("DELETE FROM biblio WHERE id=%1").arg(BookEdera));
            inner.commit();
        }
        outer.commit();
    }
    QCOMPARE(rowCount(path, "biblio"), 4);
    QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM biblio WHERE id=%1").arg(BookElite)).toInt(), 1);
    {
        store::Transaction dropped(*archive);
        archive->exec(QStringLiteral("DELETE FROM biblio"));
    }
    QCOMPARE(rowCount(path, "biblio"), 4);
    QVERIFY(!archive->inTransaction());

    // Six data sources on one archive hold one connection (and its presence lock) between them.
    archive.reset();
    const int before = store::openConnectionCount();
    {
        auto shared = store::Archive::open(path);
        std::vector<std::unique_ptr<DataSource>> sources;
        for (const QString& text : {sql::AllBooks, sql::AllBooks, sql::AllAuthors, sql::DistinctGenres,
                                    sql::PublishersForBooks, sql::AllPublishers}) {
            sources.push_back(std::make_unique<DataSource>());
            sources.back()->setArchive(shared);
            sources.back()->setRecordSource(text);
            sources.back()->refresh();
        }
        // A server keeps its own account of who is connected: no presence lock there.
        QCOMPARE(store::openConnectionCount(), before + (testsupport::onServer() ? 1 : 2));

        // A query the store refuses leaves the data source as it was.
        DataSource& books = *sources.front();
        QVERIFY(books.findFirst("id", qint64(BookElefanti)));
        books.setRecordSource(QStringLiteral("Select * from nessuna order by x"));
        QVERIFY(errorOf([&] { books.refresh(); }) != 0);
        QCOMPARE(books.rs().recordCount(), 4);
        QCOMPARE(books.rs().value("id").toLongLong(), qint64(BookElefanti));
    }
    QCOMPARE(store::openConnectionCount(), before);
}
