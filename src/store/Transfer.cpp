#include "store/Transfer.h"

#include "store/Archive.h"
#include "store/Catalogue.h"
#include "store/DbError.h"
#include "store/Schema.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSet>

namespace store::transfer {
namespace {

QString columnList(const QString& alias)
{
    QStringList parts;
    for (const QString& column : bookColumns()) {
        parts << alias + QLatin1Char('.') + column;
    }
    return parts.join(QStringLiteral(", "));
}

// The book's row with its publisher's name; the key is the text's one marker when `where` holds it.
QString bookSelect(const QString& where, const QString& order = {})
{
    return QStringLiteral("SELECT b.id, ") + columnList(QStringLiteral("b")) +
           QStringLiteral(", e.ID_Editore, e.nome FROM biblio b LEFT JOIN editori e ON e.ID_Editore = "
                          "b.id_edizione ") +
           where + order;
}

const QString kAuthorsOf = QStringLiteral("SELECT a.nome FROM autbiblio l JOIN autore a ON a.ID_autore = l.ID_autore "
                                          "WHERE l.ID_biblio = ?1 ORDER BY l.rowid");

Book readBook(Statement& row, Statement& authors)
{
    Book book;
    book.id = row.int64(0);
    const int count = int(bookColumns().size());
    book.values.reserve(count);
    for (int i = 0; i < count; ++i) {
        book.values << row.value(1 + i);
    }
    const QVariant publisherId = row.value(1 + count);
    book.publisherId = publisherId.isNull() ? 0 : publisherId.toLongLong();
    book.publisher = row.value(2 + count).toString();
    authors.reset();
    authors.bindInt(1, book.id);
    while (authors.step()) {
        book.authors << authors.value(0).toString();
    }
    return book;
}

// Whether the archive has the table that remembers what each book was imported with. It is made
// by the first import that writes: archives that never took an import stay as every version of the
// program reads them.
bool hasMemory(Archive& archive)
{
    Statement st = archive.prepareExact(
        QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'importati'"));
    return st.step();
}

} // namespace

const QStringList& bookColumns()
{
    static const QStringList columns{
        QStringLiteral("titolo"),        QStringLiteral("posizione"),     QStringLiteral("genere"),
        QStringLiteral("argomento"),     QStringLiteral("luogo_stampa"),  QStringLiteral("anno"),
        QStringLiteral("edizione"),      QStringLiteral("data_acquisto"), QStringLiteral("costo_L"),
        QStringLiteral("costo_E"),       QStringLiteral("inserito_in"),   QStringLiteral("periodico"),
        QStringLiteral("annata_num"),    QStringLiteral("posizione_attuale"), QStringLiteral("stato"),
        QStringLiteral("note"),          QStringLiteral("cod_biblio"),    QStringLiteral("num_pag"),
        QStringLiteral("posx"),          QStringLiteral("posy")};
    return columns;
}

void forEachBook(Archive& archive, const QList<qint64>* keys, const std::function<bool(const Book&)>& each)
{
    Statement authors = archive.prepareExact(kAuthorsOf);
    if (!keys) {
        Statement rows = archive.prepareExact(
            bookSelect({}, QStringLiteral("ORDER BY b.titolo COLLATE ITALIANO, b.id")));
        while (rows.step()) {
            if (!each(readBook(rows, authors))) {
                return;
            }
        }
        return;
    }
    Statement row = archive.prepareExact(bookSelect(QStringLiteral("WHERE b.id = ?1")));
    for (const qint64 key : *keys) {
        row.reset();
        row.bindInt(1, key);
        if (row.step() && !each(readBook(row, authors))) {
            return;
        }
    }
}

qint64 bookCount(Archive& archive)
{
    Statement st = archive.prepareExact(QStringLiteral("SELECT count(*) FROM biblio"));
    return st.step() ? st.int64(0) : 0;
}

QStringList listColumns(List list)
{
    if (list == List::Authors) {
        return {QStringLiteral("nome"), QStringLiteral("data_nascita"), QStringLiteral("luogo_nascita"),
                QStringLiteral("note")};
    }
    return {QStringLiteral("nome"), QStringLiteral("residenza"), QStringLiteral("indirizzo"),
            QStringLiteral("telefono"), QStringLiteral("note")};
}

void forEachListRow(Archive& archive, List list, const std::function<bool(const QVariantList&)>& each)
{
    const QStringList columns = listColumns(list);
    const QString table = list == List::Authors ? QStringLiteral("autore") : QStringLiteral("editori");
    const QString key = list == List::Authors ? QStringLiteral("ID_autore") : QStringLiteral("ID_Editore");
    Statement rows = archive.prepareExact(QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
                                          QStringLiteral(" FROM ") + table +
                                          QStringLiteral(" ORDER BY nome COLLATE ITALIANO, ") + key);
    while (rows.step()) {
        QVariantList values;
        for (int i = 0; i < columns.size(); ++i) {
            values << rows.value(i);
        }
        if (!each(values)) {
            return;
        }
    }
}

qint64 listCount(Archive& archive, List list)
{
    Statement st = archive.prepareExact(list == List::Authors ? QStringLiteral("SELECT count(*) FROM autore")
                                                              : QStringLiteral("SELECT count(*) FROM editori"));
    return st.step() ? st.int64(0) : 0;
}

struct Importer::Private {
    explicit Private(Archive& a)
        : archive(a), byKey(a.prepareExact(bookSelect(QStringLiteral("WHERE b.id = ?1")))),
          byTitle(a.prepareExact(bookSelect(QStringLiteral("WHERE b.titolo = ?1 COLLATE ITALIANO "),
                                            QStringLiteral("ORDER BY b.id")))),
          authorsOf(a.prepareExact(kAuthorsOf)),
          author(a.prepareExact(QStringLiteral(
              "SELECT ID_autore FROM autore WHERE nome = ?1 COLLATE ITALIANO ORDER BY ID_autore LIMIT 1"))),
          publisher(a.prepareExact(QStringLiteral(
              "SELECT ID_Editore FROM editori WHERE nome = ?1 COLLATE ITALIANO ORDER BY ID_Editore LIMIT 1"))),
          memory(hasMemory(a))
    {
    }

    Archive& archive;
    Statement byKey;
    Statement byTitle;
    Statement authorsOf;
    Statement author;
    Statement publisher;
    bool memory;
    std::optional<Statement> readMemory;
    QHash<QString, qint64> authors;    // by the name as written
    QHash<QString, qint64> publishers; // likewise
    // Writes, prepared at their first use and kept for the rest of the import.
    Statement& cached(std::optional<Statement>& statement, const QString& text)
    {
        if (!statement) {
            statement.emplace(archive.prepareExact(text));
        }
        statement->reset();
        return *statement;
    }
    std::optional<Statement> addAuthor, addPublisher, addBook, removeLinks, link, writeMemory;
    bool wordsSuspended = false;
    QSet<qint64> touched; // books added or changed while the word index's triggers are out
};

Importer::Importer(Archive& archive) : d(std::make_unique<Private>(archive)) {}

Importer::~Importer() = default;

std::optional<Book> Importer::bookByKey(qint64 key)
{
    d->byKey.reset();
    d->byKey.bindInt(1, key);
    if (!d->byKey.step()) {
        return std::nullopt;
    }
    return readBook(d->byKey, d->authorsOf);
}

QList<Book> Importer::booksTitled(const QString& title)
{
    QList<Book> books;
    d->byTitle.reset();
    d->byTitle.bind(1, title);
    while (d->byTitle.step()) {
        books << readBook(d->byTitle, d->authorsOf);
    }
    return books;
}

std::optional<qint64> Importer::authorNamed(const QString& name)
{
    if (const auto found = d->authors.constFind(name); found != d->authors.cend()) {
        return *found;
    }
    d->author.reset();
    d->author.bind(1, name);
    if (!d->author.step()) {
        return std::nullopt;
    }
    const qint64 id = d->author.int64(0);
    d->authors.insert(name, id);
    return id;
}

qint64 Importer::addAuthor(const QString& name)
{
    Statement& insert = d->cached(d->addAuthor, QStringLiteral("INSERT INTO autore (nome) VALUES (?1)"));
    insert.bind(1, name);
    insert.step();
    const qint64 id = d->archive.lastInsertRowId();
    d->authors.insert(name, id);
    return id;
}

std::optional<qint64> Importer::publisherNamed(const QString& name)
{
    if (const auto found = d->publishers.constFind(name); found != d->publishers.cend()) {
        return *found;
    }
    d->publisher.reset();
    d->publisher.bind(1, name);
    if (!d->publisher.step()) {
        return std::nullopt;
    }
    const qint64 id = d->publisher.int64(0);
    d->publishers.insert(name, id);
    return id;
}

qint64 Importer::addPublisher(const QString& name)
{
    Statement& insert = d->cached(d->addPublisher, QStringLiteral("INSERT INTO editori (nome) VALUES (?1)"));
    insert.bind(1, name);
    insert.step();
    const qint64 id = d->archive.lastInsertRowId();
    d->publishers.insert(name, id);
    return id;
}

qint64 Importer::addBook(std::optional<qint64> key, const QVariantList& values, qint64 publisherId)
{
    if (!key) {
        key = catalogue::freeBookKey(d->archive, [] {
            return qint64(QRandomGenerator::global()->bounded(quint32(catalogue::kHighestBookKey))) + 1;
        });
        if (!key) {
            throw DbError(ErrNoCurrentRecord,
                          QStringLiteral("L'archivio contiene già un libro per ognuno dei %1 codici possibili: "
                                         "non si possono aggiungere altri libri.")
                              .arg(catalogue::kHighestBookKey));
        }
    } // a key taken is refused by the table itself (3022)
    const QStringList& columns = bookColumns();
    QStringList markers;
    for (int i = 0; i < columns.size() + 2; ++i) {
        markers << QStringLiteral("?%1").arg(i + 1);
    }
    Statement& insert = d->cached(d->addBook, QStringLiteral("INSERT INTO biblio (id, ") +
                                                  columns.join(QStringLiteral(", ")) +
                                                  QStringLiteral(", id_edizione) VALUES (") +
                                                  markers.join(QStringLiteral(", ")) + QLatin1Char(')'));
    insert.bindInt(1, *key);
    for (int i = 0; i < columns.size(); ++i) {
        insert.bind(i + 2, i < values.size() ? values.at(i) : QVariant());
    }
    insert.bind(int(columns.size()) + 2, publisherId > 0 ? QVariant(publisherId) : QVariant());
    insert.step();
    d->touched.insert(*key);
    return *key;
}

void Importer::updateBook(qint64 id, const QList<std::pair<int, QVariant>>& columns)
{
    if (columns.isEmpty()) {
        return;
    }
    QStringList sets;
    for (int i = 0; i < columns.size(); ++i) {
        sets << bookColumns().at(columns.at(i).first) + QStringLiteral(" = ?%1").arg(i + 1);
    }
    Statement update = d->archive.prepareExact(QStringLiteral("UPDATE biblio SET ") + sets.join(QStringLiteral(", ")) +
                                               QStringLiteral(" WHERE id = ?%1").arg(columns.size() + 1));
    for (int i = 0; i < columns.size(); ++i) {
        update.bind(i + 1, columns.at(i).second);
    }
    update.bindInt(int(columns.size()) + 1, id);
    update.step();
    d->touched.insert(id);
}

void Importer::setPublisher(qint64 id, qint64 publisherId)
{
    Statement update = d->archive.prepareExact(QStringLiteral("UPDATE biblio SET id_edizione = ?1 WHERE id = ?2"));
    update.bind(1, publisherId > 0 ? QVariant(publisherId) : QVariant());
    update.bindInt(2, id);
    update.step();
    d->touched.insert(id);
}

void Importer::setAuthors(qint64 id, const QList<qint64>& authors)
{
    d->touched.insert(id);
    Statement& remove = d->cached(d->removeLinks, QStringLiteral("DELETE FROM autbiblio WHERE ID_biblio = ?1"));
    remove.bindInt(1, id);
    remove.step();
    Statement& link = d->cached(
        d->link, QStringLiteral("INSERT OR IGNORE INTO autbiblio (ID_biblio, ID_autore) VALUES (?1, ?2)"));
    for (const qint64 author : authors) {
        link.reset();
        link.bindInt(1, id);
        link.bindInt(2, author);
        link.step();
    }
}

void Importer::suspendWords()
{
    // A server's word index keeps in step through its own triggers during the import.
    if (d->wordsSuspended || !d->archive.hasWordIndex() || d->archive.onServer()) {
        return;
    }
    QString script;
    for (const QString& trigger : schema::fullTextObjects()) {
        script += QStringLiteral("DROP TRIGGER IF EXISTS %1; ").arg(trigger);
    }
    d->archive.exec(script);
    d->wordsSuspended = true;
    d->touched.clear();
}

void Importer::refreshWords()
{
    if (!d->wordsSuspended) {
        return;
    }
    Statement remove = d->archive.prepareExact(QStringLiteral("DELETE FROM biblio_parole WHERE rowid = ?1"));
    Statement insert = d->archive.prepareExact(
        QStringLiteral("INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = ?1"));
    for (const qint64 id : std::as_const(d->touched)) {
        remove.reset();
        remove.bindInt(1, id);
        remove.step();
        insert.reset();
        insert.bindInt(1, id);
        insert.step();
    }
    d->archive.exec(schema::fullTextTriggers());
    d->wordsSuspended = false;
    d->touched.clear();
}

QVariantMap Importer::lastImported(qint64 id)
{
    if (!d->memory) {
        return {};
    }
    if (!d->readMemory) {
        d->readMemory.emplace(d->archive.prepareExact(QStringLiteral("SELECT valori FROM importati WHERE id_libro = ?1")));
    }
    d->readMemory->reset();
    d->readMemory->bindInt(1, id);
    if (!d->readMemory->step()) {
        return {};
    }
    return QJsonDocument::fromJson(d->readMemory->value(0).toString().toUtf8()).object().toVariantMap();
}

void Importer::rememberImported(qint64 id, const QVariantMap& fields)
{
    if (!d->memory) {
        d->archive.exec(QStringLiteral(
            "CREATE TABLE IF NOT EXISTS importati (id_libro INTEGER PRIMARY KEY, valori TEXT NOT NULL); "
            "CREATE TRIGGER IF NOT EXISTS biblio_elimina_importati AFTER DELETE ON biblio BEGIN "
            "DELETE FROM importati WHERE id_libro = old.id; END;"));
        d->memory = true;
        d->readMemory.reset();
    }
    Statement& write = d->cached(
        d->writeMemory, QStringLiteral("INSERT OR REPLACE INTO importati (id_libro, valori) VALUES (?1, ?2)"));
    write.bindInt(1, id);
    write.bind(2, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(fields)).toJson(QJsonDocument::Compact)));
    write.step();
}

} // namespace store::transfer
