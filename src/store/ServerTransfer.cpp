#include "store/Server.h"

#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Schema.h"
#include "store/ServerEngine.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <libpq-fe.h>

namespace store {
namespace {

// The tables of an archive in the order a copy fills them, each with the column that orders its
// rows (links keep the order they were made in: the authors of a book are listed so).
struct Table {
    const char* name;
    const char* order;
};
constexpr Table kTables[] = {{"editori", "ID_Editore"}, {"autore", "ID_autore"}, {"biblio", "id"},
                             {"autbiblio", "rowid"},    {"lettori", "ID_Lettore"}, {"prestiti", "ID_Prestito"},
                             {"importati", "id_libro"}};

constexpr int kReport = 500;
constexpr int kServerBatch = 250;

bool hasTable(Archive& archive, const QString& table)
{
    Statement st = archive.prepareExact(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                                       "name = ?"));
    st.bind(1, table.toLower());
    return st.step() && st.int64(0) > 0;
}

qint64 countOf(Archive& archive, const QString& table)
{
    Statement st = archive.prepareExact(QStringLiteral("SELECT count(*) FROM %1").arg(table));
    return st.step() ? st.int64(0) : 0;
}

// The columns a copy carries: the table's own, without the server's link key (a file archive's
// links have it as their rowid).
QStringList columnsOf(Archive& archive, const QString& table)
{
    Statement st = archive.prepareExact(QStringLiteral("SELECT * FROM %1 LIMIT 0").arg(table));
    QStringList names;
    for (int c = 0; c < st.columnCount(); ++c) {
        const QString name = st.columnName(c);
        if (name.compare(QLatin1String("rowid"), Qt::CaseInsensitive) != 0) {
            names << name.toLower();
        }
    }
    return names;
}

// The target of a copy while it is filled: a server database inside one transaction that also made
// its schema, or a new file. Either is left as it was found unless finish() is called.
class Target {
  public:
    Target(const QString& where) : m_where(where)
    {
        if (server::isAddress(where)) {
            m_archive = Archive::open(where, Archive::Presence::None);
        } else {
            if (QFileInfo::exists(where)) {
                throw DbError(ErrPermissionDenied,
                              QStringLiteral("Il file '%1' esiste già: la copia richiede un nome nuovo.").arg(where));
            }
            Archive::create(where);
            m_createdFile = true;
            m_archive = Archive::open(where, Archive::Presence::None);
        }
    }
    ~Target()
    {
        if (!m_done) {
            m_archive.reset();
            if (m_createdFile) {
                QFile::remove(m_where);
            }
        }
    }
    Archive& archive() { return *m_archive; }
    void finish() { m_done = true; }

  private:
    QString m_where;
    std::shared_ptr<Archive> m_archive;
    bool m_createdFile = false;
    bool m_done = false;
};

} // namespace

// Opens a server target that must be empty, making its schema inside the transaction the copy then
// runs in: a failure anywhere leaves the database empty.
static std::shared_ptr<Archive> openEmptyServer(const QString& address);

void transferArchive(const QString& source, const QString& target,
                     const std::function<bool(qint64 done, qint64 total)>& progress)
{
    std::shared_ptr<Archive> from = Archive::open(source, Archive::Presence::None);
    const bool toServer = server::isAddress(target);
    std::shared_ptr<Archive> serverTarget;
    std::unique_ptr<Target> fileTarget;
    if (toServer) {
        serverTarget = openEmptyServer(target);
    } else {
        fileTarget = std::make_unique<Target>(target);
    }
    Archive& to = toServer ? *serverTarget : fileTarget->archive();

    // One snapshot of the source for the whole copy.
    from->exec(from->onServer() ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                                : QStringLiteral("BEGIN"));
    struct EndRead {
        Archive& a;
        ~EndRead()
        {
            try {
                a.exec(QStringLiteral("ROLLBACK"));
            } catch (...) {
            }
        }
    } endRead{*from};

    QList<QString> tables;
    qint64 total = 0;
    for (const Table& t : kTables) {
        const QString name = QString::fromLatin1(t.name);
        if (hasTable(*from, name)) {
            tables << name;
            total += countOf(*from, name);
        }
    }
    std::optional<Transaction> write;
    if (!toServer) {
        write.emplace(to);
        // The word index is made once from the rows at the end, not row by row.
        schema::removeFullText(to.handle());
    }
    qint64 done = 0;
    if (progress && !progress(0, total)) {
        throw DbError(ErrDialogCancelled);
    }
    for (const QString& table : tables) {
        const QStringList columns = columnsOf(*from, table);
        if (!toServer && table == QLatin1String("importati") && !hasTable(to, table)) {
            to.exec(QStringLiteral("CREATE TABLE importati (id_libro INTEGER PRIMARY KEY, valori TEXT NOT NULL); "
                                   "CREATE TRIGGER biblio_elimina_importati AFTER DELETE ON biblio BEGIN "
                                   "DELETE FROM importati WHERE id_libro = old.id; END;"));
        }
        QString order;
        for (const Table& t : kTables) {
            if (table == QLatin1String(t.name)) {
                order = from->rowIdOf(table) == QLatin1String("rowid") ? QStringLiteral("rowid")
                                                                        : QString::fromLatin1(t.order);
            }
        }
        Statement read =
            from->prepareExact(QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(QStringLiteral(", ")), table, order));
        // A server takes the rows many at a time: each statement is a round trip over the network.
        const int batch = toServer ? kServerBatch : 1;
        auto insertOf = [&](int rows) {
            QStringList marks;
            for (int i = 0; i < columns.size(); ++i) {
                marks << QStringLiteral("?");
            }
            const QString one = QLatin1Char('(') + marks.join(QStringLiteral(", ")) + QLatin1Char(')');
            QStringList all;
            for (int r = 0; r < rows; ++r) {
                all << one;
            }
            return to.prepareExact(QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                       .arg(table, columns.join(QStringLiteral(", ")), all.join(QStringLiteral(", "))));
        };
        Statement insert = insertOf(batch);
        QVariantList pending;
        int pendingRows = 0;
        auto flush = [&](Statement& st) {
            st.reset();
            st.bindAll(pending);
            st.step();
            pending.clear();
            pendingRows = 0;
        };
        while (read.step()) {
            for (int c = 0; c < columns.size(); ++c) {
                pending << read.value(c);
            }
            if (++pendingRows == batch) {
                flush(insert);
            }
            if (++done % kReport == 0 && progress && !progress(done, total)) {
                throw DbError(ErrDialogCancelled);
            }
        }
        if (pendingRows > 0) {
            Statement last = insertOf(pendingRows);
            flush(last);
        }
    }
    if (toServer) {
        // Keys hand out numbers past the copied ones; the word index is made from the rows.
        to.exec(QStringLiteral(
            "SELECT setval('biblio_chiavi', greatest((SELECT max(id) FROM biblio), 1)); "
            "SELECT setval('autore_chiavi', greatest((SELECT max(id_autore) FROM autore), 1)); "
            "SELECT setval('editori_chiavi', greatest((SELECT max(id_editore) FROM editori), 1)); "
            "SELECT setval('lettori_chiavi', greatest((SELECT max(id_lettore) FROM lettori), 1)); "
            "SELECT setval('prestiti_chiavi', greatest((SELECT max(id_prestito) FROM prestiti), 1)); "
            // Statistics first: without them the server would plan the word index's reading of
            // the links as if the tables were empty, a scan of every link for each book.
            "ANALYZE biblio, autore, editori, autbiblio, lettori, prestiti; "
            "INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo; "
            "ALTER TABLE biblio ENABLE TRIGGER USER; ALTER TABLE autore ENABLE TRIGGER USER; "
            "ALTER TABLE editori ENABLE TRIGGER USER; ALTER TABLE autbiblio ENABLE TRIGGER USER; "
            "ALTER TABLE lettori ENABLE TRIGGER USER; ALTER TABLE prestiti ENABLE TRIGGER USER; "
            "SELECT nextval('carteo_modifiche')"));
    } else {
        schema::installFullText(to.handle());
    }
    // Every table counted on both sides before anything is kept.
    for (const QString& table : tables) {
        const qint64 source = countOf(*from, table);
        const qint64 copied = countOf(to, table);
        if (source != copied) {
            throw DbError(ErrTransferCounts, DbError::describe(ErrTransferCounts),
                          QStringLiteral("%1: %2 righe nell'origine, %3 copiate").arg(table).arg(source).arg(copied));
        }
    }
    if (progress) {
        progress(total, total);
    }
    if (toServer) {
        to.exec(QStringLiteral("COMMIT"));
        // The server's statistics and visibility map for the new rows: the lists read their keys
        // from the indexes alone from the first use.
        to.exec(QStringLiteral("VACUUM (ANALYZE)"));
    } else {
        write->commit();
        write.reset();
        fileTarget->finish();
    }
}

static std::shared_ptr<Archive> openEmptyServer(const QString& address)
{
    // The schema and the rows in one transaction of the target: Archive::open reads the schema
    // only after it exists, so the transaction is begun on a bare connection first.
    std::unique_ptr<ServerConnection> probe = ServerConnection::connect(address);
    if (!serverschema::isEmpty(*probe)) {
        throw DbError(ErrServerNotEmpty,
                      QStringLiteral("Il database del server %1 non è vuoto: il trasferimento richiede un database "
                                     "vuoto.")
                          .arg(server::serverName(address)));
    }
    probe.reset();
    return Archive::openForTransfer(address);
}

} // namespace store

namespace store::server {

QStringList maintain(const QString& address)
{
    std::shared_ptr<Archive> archive = Archive::open(address, Archive::Presence::None);
    {
        // This program's own connections kept idle hold no archive open: they are not other users.
        QStringList idleHere;
        for (const int pid : ServerConnection::idleProcesses(address)) {
            idleHere << QString::number(pid);
        }
        Statement others = archive->prepareExact(QStringLiteral(
            "SELECT count(*) FROM pg_stat_activity WHERE datname = current_database() AND pid <> pg_backend_pid() "
            "AND application_name = 'Carteo' AND pid <> ALL ('{%1}'::int[])")
                                                      .arg(idleHere.join(QLatin1Char(','))));
        if (others.step() && others.int64(0) > 0) {
            throw DbError(ErrInUse,
                          QStringLiteral("L'archivio sul server %1 è aperto da altri %2 utenti: la manutenzione "
                                         "richiede che nessun altro lo stia usando.")
                              .arg(serverName(address))
                              .arg(others.int64(0)));
        }
    }
    QStringList lines;
    // Links and loans that point at nothing, as a repair of a file archive drops them.
    {
        Transaction t(*archive);
        archive->exec(QStringLiteral("DELETE FROM autbiblio WHERE id_biblio NOT IN (SELECT id FROM biblio) OR "
                                     "id_autore NOT IN (SELECT id_autore FROM autore)"));
        const int links = archive->changes();
        archive->exec(QStringLiteral("DELETE FROM biblio_parole; INSERT INTO biblio_parole (rowid, testo) SELECT id, "
                                     "testo FROM biblio_testo"));
        t.commit();
        lines << (links > 0 ? QStringLiteral("Legami senza libro o senza autore eliminati: %1.").arg(links)
                            : QStringLiteral("Legami tra libri e autori: nessun errore."));
        lines << QStringLiteral("Indice della ricerca rapida ricostruito.");
    }
    // The server's own check of the indexes, where its extension is at hand.
    try {
        archive->exec(QStringLiteral("CREATE EXTENSION IF NOT EXISTS amcheck"));
        Statement check = archive->prepareExact(QStringLiteral(
            "SELECT count(*) FROM (SELECT bt_index_check(c.oid) FROM pg_index i JOIN pg_class c ON c.oid = "
            "i.indexrelid JOIN pg_am a ON a.oid = c.relam WHERE a.amname = 'btree' AND c.relnamespace = "
            "'public'::regnamespace) AS controllati"));
        if (check.step()) {
            lines << QStringLiteral("Indici verificati dal server: %1, nessun errore.").arg(check.int64(0));
        }
    } catch (const DbError& e) {
        if (e.number() == ErrPermissionDenied || e.number() == ErrSyntax) {
            lines << QStringLiteral("Verifica degli indici non disponibile per questo utente del server.");
        } else {
            throw;
        }
    }
    archive->exec(QStringLiteral("VACUUM (ANALYZE)"));
    lines << QStringLiteral("Spazio recuperato e statistiche aggiornate (VACUUM ANALYZE).");
    for (const char* table : {"biblio", "autore", "editori", "lettori", "prestiti"}) {
        Statement n = archive->prepareExact(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)));
        n.step();
        lines << QStringLiteral("%1: %2 righe.").arg(QLatin1String(table)).arg(n.int64(0));
    }
    return lines;
}

} // namespace store::server
