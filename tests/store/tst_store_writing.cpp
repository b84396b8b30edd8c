// Writing through recordsets and data sources: engine-assigned keys, edits, deletes, links,
// other connections' changes.
#include "tst_store.h"

#include "store/DbError.h"
#include "store/Sql.h"

#include <QSignalSpy>

using store::DbError;
using store::Recordset;
using namespace testsupport;

void TestStore::addingAuthorsAndPublishers()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);

    Recordset authors(archive, sql::AllAuthors);
    QCOMPARE(authors.value("nome").toString(), QStringLiteral("bianchi Luca")); // rows already read
    authors.addNew();
    QCOMPARE(authors.editMode(), Recordset::EditMode::Add);
    authors.setValue("nome", QStringLiteral("Gialli Piero"));
    authors.setValue("Luogo_nascita", QStringLiteral("Torino"));
    QCOMPARE(authors.value("NOME").toString(), QStringLiteral("Gialli Piero"));
    QVERIFY(authors.value("ID_autore").isNull());
    authors.update();
    QCOMPARE(authors.editMode(), Recordset::EditMode::None);

    // The key comes from the engine and is read back from the row just stored.
    const qint64 first = authors.lastModified();
    QCOMPARE(first, scalar(path, "SELECT max(ID_autore) FROM autore").toLongLong());
    QVERIFY(first > AuthorNeri);
    authors.setBookmark(authors.lastModified());
    QCOMPARE(authors.value("ID_autore").toLongLong(), first);
    QCOMPARE(authors.value("nome").toString(), QStringLiteral("Gialli Piero"));
    QCOMPARE(authors.value("luogo_nascita").toString(), QStringLiteral("Torino"));
    QCOMPARE(authors.recordCount(), 5);

    // A deleted author's key is never given again, so stale links cannot point at a new author.
    authors.deleteCurrent();
    authors.addNew();
    authors.setValue("nome", QStringLiteral("Rosa Maria"));
    authors.update();
    QVERIFY(authors.lastModified() > first);
    authors.setBookmark(authors.lastModified());
    QCOMPARE(authors.value("nome").toString(), QStringLiteral("Rosa Maria"));
    authors.requery();
    QCOMPARE(columnOf(authors, "nome"),
             (QStringList{"bianchi Luca", "Èrcole Rossi", "Neri Carla", "Rosa Maria", "Verdi Anna"}));

    // A cancelled new row stores nothing.
    authors.addNew();
    authors.setValue("nome", QStringLiteral("Mai Salvato"));
    authors.cancelUpdate();
    QCOMPARE(authors.editMode(), Recordset::EditMode::None);
    QCOMPARE(scalar(path, "SELECT count(*) FROM autore").toInt(), 5);
    QCOMPARE(errorOf([&] { authors.update(); }), int(store::ErrUpdateWithoutEdit));
    QCOMPARE(errorOf([&] { authors.cancelUpdate(); }), int(store::ErrUpdateWithoutEdit));

    // Publishers: the key of the deleted publisher, which a book still names, is not reused.
    Recordset publishers(archive, sql::PublishersForBooks);
    publishers.addNew();
    publishers.setValue("NOME", QStringLiteral("Nuova Stampa"));
    publishers.setValue("residenza", QStringLiteral("Bari"));
    publishers.update();
    const qint64 publisher = publishers.lastModified();
    QVERIFY(publisher != PublisherGone);
    publishers.setBookmark(publisher);
    QCOMPARE(publishers.value("ID_Editore").toLongLong(), publisher);
    QCOMPARE(publishers.value("residenza").toString(), QStringLiteral("Bari"));
    QCOMPARE(scalar(path, QStringLiteral("SELECT nome FROM editori WHERE ID_Editore=%1").arg(publisher)).toString(),
             QStringLiteral("Nuova Stampa"));
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookAbaco)));
    QVERIFY(!publishers.findFirst(QStringLiteral("ID_Editore"), books.value("id_edizione").toString()));

    // A result read whole takes new rows too.
    Recordset all(archive, sql::AllPublishers);
    all.moveLast();
    all.addNew();
    all.setValue("nome", QStringLiteral("Ultimo"));
    all.update();
    all.setBookmark(all.lastModified());
    QCOMPARE(all.value("nome").toString(), QStringLiteral("Ultimo"));
    QCOMPARE(all.value("id_editore").toLongLong(), all.lastModified());

    // Results that are not rows of one table cannot be written.
    Recordset genres(archive, sql::DistinctGenres);
    QCOMPARE(errorOf([&] { genres.addNew(); }), int(store::ErrReadOnly));
    QCOMPARE(errorOf([&] { genres.edit(); }), int(store::ErrReadOnly));
    QCOMPARE(errorOf([&] { genres.deleteCurrent(); }), int(store::ErrReadOnly));
}

void TestStore::editingAndDeletingBooks()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset books(archive, sql::AllBooks);

    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookElefanti)));
    QCOMPARE(errorOf([&] { books.setValue("titolo", QStringLiteral("X")); }), int(store::ErrUpdateWithoutEdit));
    books.edit();
    books.setValue("TITOLO", QStringLiteral("ELEFANTI BIANCHI"));
    books.setValue("COSTO_e", 9.9);
    books.setValue("Num_pag", 44);
    books.setValue("genere", QVariant()); // back to null
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ELEFANTI BIANCHI"));
    books.update();
    QCOMPARE(books.lastModified(), Recordset::Bookmark(BookElefanti));
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ELEFANTI BIANCHI"));
    QCOMPARE(books.value("costo_E").toDouble(), 9.9);
    const QString row = QStringLiteral(" FROM biblio WHERE id=%1").arg(BookElefanti);
    QCOMPARE(scalar(path, "SELECT titolo" + row).toString(), QStringLiteral("ELEFANTI BIANCHI"));
    QCOMPARE(scalar(path, "SELECT costo_E" + row).toDouble(), 9.9);
    QCOMPARE(scalar(path, "SELECT num_pag" + row).toInt(), 44);
    QVERIFY(scalar(path, "SELECT genere" + row).isNull());
    // Fields not touched keep their values.
    QCOMPARE(scalar(path, "SELECT anno" + row).toString(), QStringLiteral("2001"));
    QCOMPARE(scalar(path, "SELECT id_edizione" + row).toInt(), int(PublisherEtna));

    // A cancelled edit changes nothing, in the archive or in the row shown.
    books.edit();
    books.setValue("titolo", QStringLiteral("ANNULLATO"));
    books.cancelUpdate();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ELEFANTI BIANCHI"));
    QCOMPARE(scalar(path, "SELECT titolo" + row).toString(), QStringLiteral("ELEFANTI BIANCHI"));

    // Deleting a row in the middle: no current row until a move, then the following row.
    books.requery();
    QCOMPARE(columnOf(books, "titolo"), (QStringList{"ABACO", "àncora", "Edera", "ELEFANTI BIANCHI", "Èlite", "Zeta"}));
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookEdera)));
    books.deleteCurrent();
    QVERIFY(!books.hasCurrent());
    QCOMPARE(errorOf([&] { books.value("titolo"); }), int(store::ErrNoCurrentRecord));
    QCOMPARE(errorOf([&] { books.edit(); }), int(store::ErrNoCurrentRecord));
    books.moveNext();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ELEFANTI BIANCHI"));
    QCOMPARE(books.recordCount(), 5);
    QCOMPARE(scalar(path, "SELECT count(*) FROM biblio").toInt(), 5);
    QVERIFY(scalar(path, QStringLiteral("SELECT count(*) FROM biblio WHERE id=%1").arg(BookEdera)).toInt() == 0);

    // Deleting the last row leaves no current row and the end of the result.
    books.moveLast();
    books.deleteCurrent();
    QVERIFY(!books.hasCurrent());
    if (!books.eof()) {
        books.moveNext();
    }
    QVERIFY(books.eof());
    QCOMPARE(books.recordCount(), 4);
    books.moveFirst();
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ABACO"));

    // A book added to a result read in pages can be edited through its bookmark.
    books.addNew();
    books.setValue("id", 777);
    books.setValue("titolo", QStringLiteral("NUOVO LIBRO"));
    books.update();
    QCOMPARE(books.lastModified(), Recordset::Bookmark(777));
    books.setBookmark(777);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("NUOVO LIBRO"));
    books.edit();
    books.setValue("genere", QStringLiteral("SAGGIO"));
    books.update();
    QCOMPARE(scalar(path, "SELECT genere FROM biblio WHERE id=777").toString(), QStringLiteral("SAGGIO"));
    // A key that is taken already is refused.
    books.addNew();
    books.setValue("id", 777);
    QString description;
    QCOMPARE(errorOf([&] { books.update(); }, &description), int(store::ErrDuplicateKey));
    QVERIFY(description.contains(QStringLiteral("duplicati")));
    books.cancelUpdate();

    // The key column answers from the keys the recordset holds; changing a key keeps them right.
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(777)));
    const int position = books.absolutePosition();
    QCOMPARE(books.valueAt(position, books.columnIndex("ID")).toLongLong(), 777);
    books.edit();
    books.setValue("id", 778);
    books.update();
    QCOMPARE(books.lastModified(), Recordset::Bookmark(778));
    QCOMPARE(books.value("id").toLongLong(), 778);
    QCOMPARE(books.findRow("id", 778), position);
    QCOMPARE(books.findRow("id", 777), -1);
    QCOMPARE(books.findRow("id", QStringLiteral("abc")), -1);
    QCOMPARE(scalar(path, "SELECT titolo FROM biblio WHERE id=778").toString(), QStringLiteral("NUOVO LIBRO"));
}

void TestStore::linksFollowTheirBookAndAuthor()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    const auto links = [&](const QString& where) {
        return scalar(path, "SELECT count(*) FROM autbiblio WHERE " + where).toInt();
    };

    // Linking an author to a book through the authors-of-one-book result.
    Recordset ofBook(archive, sql::authorsOfBook(BookElite));
    QCOMPARE(ofBook.recordCount(), 1);
    ofBook.addNew();
    ofBook.setValue("ID_biblio", qint64(BookElite));
    ofBook.setValue("ID_Autore", qint64(AuthorBianchi));
    ofBook.update();
    QCOMPARE(links(QStringLiteral("ID_biblio=%1").arg(BookElite)), 2);

    // The same pair twice is refused with the duplicate-key number, and nothing is stored.
    ofBook.addNew();
    ofBook.setValue("ID_biblio", qint64(BookElite));
    ofBook.setValue("ID_Autore", qint64(AuthorBianchi));
    QString description;
    QCOMPARE(errorOf([&] { ofBook.update(); }, &description), int(store::ErrDuplicateKey));
    QVERIFY(!description.isEmpty());
    ofBook.cancelUpdate();
    QCOMPARE(links(QStringLiteral("ID_biblio=%1").arg(BookElite)), 2);
    QCOMPARE(errorOf([&] {
                 archive->exec(QStringLiteral("INSERT INTO Autbiblio (ID_Biblio, id_autore) VALUES (%1, %2)")
                                   .arg(BookZeta)
                                   .arg(AuthorVerdi));
             }),
             int(store::ErrDuplicateKey));

    // Unlinking removes the link only; the author stays.
    ofBook.requery();
    QCOMPARE(ofBook.recordCount(), 2);
    QVERIFY(ofBook.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(AuthorBianchi)));
    ofBook.deleteCurrent();
    ofBook.requery();
    QCOMPARE(columnOf(ofBook, "nome"), QStringList{"Èrcole Rossi"});
    QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autore WHERE ID_autore=%1").arg(AuthorBianchi)).toInt(),
             1);
    QCOMPARE(links(QStringLiteral("ID_biblio=%1 AND ID_autore=%2").arg(BookZeta).arg(AuthorBianchi)), 1);

    // Deleting a book or an author takes its links with it, and only those.
    const int before = links("1=1");
    Recordset books(archive, sql::AllBooks);
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookZeta)));
    books.deleteCurrent();
    QCOMPARE(links(QStringLiteral("ID_biblio=%1").arg(BookZeta)), 0);
    QCOMPARE(links("1=1"), before - 2);
    Recordset authors(archive, sql::AllAuthors);
    QVERIFY(authors.findFirst(QStringLiteral("ID_autore"), qint64(AuthorVerdi)));
    authors.deleteCurrent();
    QCOMPARE(links(QStringLiteral("ID_autore=%1").arg(AuthorVerdi)), 0);
    QCOMPARE(links("1=1"), before - 3);
    QCOMPARE(links(QStringLiteral("ID_biblio=%1").arg(BookAncora)), 0);
    Recordset ancora(archive, sql::authorsOfBook(BookAncora));
    QCOMPARE(ancora.recordCount(), 0);

    // Deleting a publisher leaves its books as they were.
    Recordset publishers(archive, sql::AllPublishers);
    QVERIFY(publishers.findFirst(QStringLiteral("id_Editore"), qint64(PublisherAlba)));
    publishers.deleteCurrent();
    QCOMPARE(scalar(path, QStringLiteral("SELECT id_edizione FROM biblio WHERE id=%1").arg(BookElite)).toInt(),
             int(PublisherAlba));
}

void TestStore::requeryShowsOtherConnectionsChanges()
{
    const QString path = newArchive();
    auto archive = store::Archive::open(path);
    Recordset books(archive, sql::AllBooks);
    Recordset links(archive, sql::authorsOfBook(BookZeta));
    QCOMPARE(columnOf(books, "titolo").size(), 6); // every row read once

    // Another connection (another window or computer) writes while these results are open.
    {
        auto other = store::Archive::open(path);
        other->exec(QStringLiteral("UPDATE biblio SET titolo='Abete', costo_E=99 WHERE id=%1").arg(BookZeta));
        other->exec(QStringLiteral("DELETE FROM biblio WHERE id=%1").arg(BookEdera));
        other->exec(QStringLiteral("INSERT INTO biblio (id, titolo) VALUES (16, 'Zattera')"));
        other->exec(QStringLiteral("INSERT INTO autbiblio (ID_biblio, ID_autore) VALUES (%1, %2)")
                        .arg(BookZeta)
                        .arg(AuthorNeri));
    }
    QCOMPARE(books.recordCount(), 6); // a result keeps its rows until it is run again

    books.requery();
    QCOMPARE(books.recordCount(), 6);
    QCOMPARE(columnOf(books, "titolo"), (QStringList{"ABACO", "Abete", "àncora", "elefanti", "Èlite", "Zattera"}));
    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookZeta)));
    QCOMPARE(books.absolutePosition(), 1);
    QCOMPARE(books.value("costo_E").toDouble(), 99.0);
    QVERIFY(!books.findFirst(QStringLiteral("id"), qint64(BookEdera)));

    links.requery();
    QCOMPARE(links.recordCount(), 3);
    QVERIFY(links.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(AuthorNeri)));
    QCOMPARE(links.value("nome").toString(), QStringLiteral("Neri Carla"));

    // Reading goes on while another connection is in the middle of writing.
    auto other = store::Archive::open(path);
    other->exec(QStringLiteral("BEGIN IMMEDIATE; UPDATE biblio SET note='altrove' WHERE id=16;"));
    books.requery();
    QCOMPARE(books.recordCount(), 6);
    QCOMPARE(books.value("titolo").toString(), QStringLiteral("ABACO"));
    other->exec(QStringLiteral("COMMIT"));
    QVERIFY(links.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(AuthorNeri)));
    QCOMPARE(links.value("nome").toString(), QStringLiteral("Neri Carla"));
}

void TestStore::dataSourceWithBoundFields()
{
    const QString path = newArchive();
    using store::DataSource;

    // Books: bound fields show the current row; updateRecord stores what they hold.
    DataSource books;
    QCOMPARE(errorOf([&] { books.rs(); }), int(store::ErrObjectNotSet));
    books.setDatabaseName(path);
    books.setRecordSource(sql::AllBooks);
    QCOMPARE(books.databaseName(), path);
    TestBinding title("TITOLO");
    TestBinding cost("COSTO_e");
    TestBinding unknown("nonesiste");
    books.bind(&title);
    books.bind(&cost);
    books.bind(&unknown);
    QSignalSpy moved(&books, &DataSource::reposition);
    books.refresh();
    QCOMPARE(moved.count(), 1);
    QCOMPARE(title.shown.toString(), QStringLiteral("ABACO"));
    QVERIFY(cost.shown.isNull());
    QVERIFY(unknown.shown.isNull());
    QCOMPARE(unknown.shows, 1);

    QVERIFY(books.findFirst(QStringLiteral("id"), qint64(BookElite)));
    QCOMPARE(moved.count(), 2);
    QCOMPARE(title.shown.toString(), QStringLiteral("Èlite"));
    QCOMPARE(cost.shown.toDouble(), 15.5);
    QVERIFY(!books.findFirst(QStringLiteral("id"), qint64(42)));
    QVERIFY(books.rs().noMatch());

    books.findFirst(QStringLiteral("id"), qint64(BookElite));
    title.toWrite = QStringLiteral("ÈLITE RIVISTA");
    cost.toWrite = 16.25;
    unknown.toWrite = QStringLiteral("ignorato");
    books.updateRecord();
    QCOMPARE(books.rs().editMode(), store::Recordset::EditMode::None);
    QCOMPARE(books.rs().lastModified(), store::Recordset::Bookmark(BookElite));
    const QString row = QStringLiteral(" FROM biblio WHERE id=%1").arg(BookElite);
    QCOMPARE(scalar(path, "SELECT titolo" + row).toString(), QStringLiteral("ÈLITE RIVISTA"));
    QCOMPARE(scalar(path, "SELECT costo_E" + row).toDouble(), 16.25);

    books.refresh();
    QCOMPARE(title.shown.toString(), QStringLiteral("ABACO"));
    books.setBookmark(BookElite);
    QCOMPARE(title.shown.toString(), QStringLiteral("ÈLITE RIVISTA"));
    books.moveNext();
    QCOMPARE(title.shown.toString(), QStringLiteral("Zeta"));
    books.moveNext();
    QVERIFY(title.shown.isNull()); // past the last row nothing is shown
    books.unbind(&title);
    books.moveFirst();
    QVERIFY(title.shown.isNull());
    QCOMPARE(cost.shown.isNull(), true);

    // Authors: add, store, make the stored row current and read its key, as the windows save.
    DataSource authors;
    authors.setDatabaseName(path);
    authors.setRecordSource(sql::AllAuthors);
    TestBinding name("nome");
    TestBinding place("Luogo_nascita");
    authors.bind(&name);
    authors.bind(&place);
    authors.refresh();
    QCOMPARE(name.shown.toString(), QStringLiteral("bianchi Luca"));
    authors.rs().addNew();
    name.toWrite = QStringLiteral("GIALLI PIERO");
    place.toWrite = QStringLiteral("TORINO");
    authors.updateRecord();
    authors.setBookmark(authors.rs().lastModified());
    QCOMPARE(name.shown.toString(), QStringLiteral("GIALLI PIERO"));
    const qint64 key = authors.rs().value("ID_autore").toLongLong();
    QCOMPARE(key, scalar(path, "SELECT ID_autore FROM autore WHERE nome='GIALLI PIERO'").toLongLong());
    authors.refresh();
    QVERIFY(authors.findFirst(QStringLiteral("ID_autore"), qint64(key)));
    QCOMPARE(place.shown.toString(), QStringLiteral("TORINO"));
    QCOMPARE(authors.rs().absolutePosition(), 2); // bianchi, Èrcole, GIALLI, Neri, Verdi

    // A link refused as a duplicate: the error reaches the caller and the new row stays open with
    // its values, to be corrected and stored, or cancelled.
    DataSource ofBook;
    ofBook.setDatabaseName(path);
    ofBook.setRecordSource(sql::authorsOfBook(BookZeta));
    TestBinding bookKey("ID_biblio");
    TestBinding authorKey("ID_Autore");
    TestBinding authorName("nome"); // a column of the joined table: shown, never written
    ofBook.bind(&bookKey);
    ofBook.bind(&authorKey);
    ofBook.bind(&authorName);
    ofBook.refresh();
    ofBook.addNew();
    bookKey.toWrite = qint64(BookZeta);
    authorKey.toWrite = qint64(AuthorVerdi);
    authorName.toWrite = QStringLiteral("NON SCRITTO");
    QCOMPARE(errorOf([&] { ofBook.updateRecord(); }), int(store::ErrDuplicateKey));
    QCOMPARE(ofBook.rs().editMode(), store::Recordset::EditMode::Add);
    QCOMPARE(ofBook.rs().value("ID_Autore").toLongLong(), qint64(AuthorVerdi));
    authorKey.toWrite = key;
    ofBook.updateRecord();
    QCOMPARE(scalar(path, QStringLiteral("SELECT count(*) FROM autore WHERE nome='NON SCRITTO'")).toInt(), 0);
    ofBook.refresh();
    QCOMPARE(ofBook.rs().recordCount(), 3);
    QVERIFY(ofBook.findFirst(QStringLiteral("autbiblio.id_autore"), qint64(key)));
    QCOMPARE(ofBook.rs().value("nome").toString(), QStringLiteral("GIALLI PIERO"));

    // A data source on a file that is not there.
    DataSource missing;
    missing.setDatabaseName(m_dir.filePath(QStringLiteral("assente.mdb")));
    missing.setRecordSource(sql::AllBooks);
    QVERIFY(errorOf([&] { missing.refresh(); }) != 0);
    QVERIFY(missing.recordset() == nullptr);
}
