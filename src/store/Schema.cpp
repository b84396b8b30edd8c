#include "store/Schema.h"

#include "store/Archive.h"
#include "store/DbError.h"

#include <sqlite3.h>

namespace store::schema {
namespace {
// The tables every archive has had since the first version.
constexpr int kFirstTables = 4;
} // namespace

QString ddl()
{
    // Every key and link column is INTEGER: the joins over 100,000 books depend on it. Text
    // columns compare without regard to case. The ordered lists walk indexes built with the
    // reader's collation (the program adds it to `order by` on text columns); a plain SQLite shell
    // can still read and sort every table, and cannot write rows that would upset those indexes.
    return QStringLiteral(R"SQL(
CREATE TABLE biblio (
    id INTEGER PRIMARY KEY,
    titolo TEXT COLLATE NOCASE,
    posizione TEXT COLLATE NOCASE,
    genere TEXT COLLATE NOCASE,
    argomento TEXT COLLATE NOCASE,
    id_edizione INTEGER,
    luogo_stampa TEXT COLLATE NOCASE,
    anno TEXT COLLATE NOCASE,
    edizione TEXT COLLATE NOCASE,
    data_acquisto TEXT COLLATE NOCASE,
    costo_L NUMERIC,
    costo_E NUMERIC,
    inserito_in TEXT COLLATE NOCASE,
    periodico TEXT COLLATE NOCASE,
    annata_num TEXT COLLATE NOCASE,
    posizione_attuale TEXT COLLATE NOCASE,
    stato TEXT COLLATE NOCASE,
    note TEXT COLLATE NOCASE,
    cod_biblio TEXT COLLATE NOCASE,
    num_pag INTEGER,
    posx INTEGER,
    posy INTEGER
);
CREATE TABLE autore (
    ID_autore INTEGER PRIMARY KEY AUTOINCREMENT,
    nome TEXT COLLATE NOCASE,
    data_nascita TEXT COLLATE NOCASE,
    luogo_nascita TEXT COLLATE NOCASE,
    note TEXT COLLATE NOCASE
);
CREATE TABLE editori (
    ID_Editore INTEGER PRIMARY KEY AUTOINCREMENT,
    nome TEXT COLLATE NOCASE,
    residenza TEXT COLLATE NOCASE,
    indirizzo TEXT COLLATE NOCASE,
    telefono TEXT COLLATE NOCASE,
    note TEXT COLLATE NOCASE
);
CREATE TABLE autbiblio (
    ID_biblio INTEGER NOT NULL,
    ID_autore INTEGER NOT NULL,
    UNIQUE (ID_biblio, ID_autore)
);
CREATE INDEX biblio_titolo ON biblio (titolo COLLATE ITALIANO);
CREATE INDEX biblio_genere ON biblio (genere COLLATE ITALIANO);
CREATE INDEX biblio_anno ON biblio (anno COLLATE ITALIANO);
CREATE INDEX biblio_id_edizione ON biblio (id_edizione);
CREATE INDEX autore_nome ON autore (nome COLLATE ITALIANO);
CREATE INDEX editori_nome ON editori (nome COLLATE ITALIANO);
CREATE INDEX autbiblio_autore ON autbiblio (ID_autore);
-- Plain integer indexes, so a shell without the reader's collation counts these tables through them
-- instead of through the collated name indexes it cannot use.
CREATE INDEX autore_chiave ON autore (ID_autore);
CREATE INDEX editori_chiave ON editori (ID_Editore);
CREATE TRIGGER biblio_elimina_legami AFTER DELETE ON biblio
BEGIN
    DELETE FROM autbiblio WHERE ID_biblio = old.id;
END;
CREATE TRIGGER autore_elimina_legami AFTER DELETE ON autore
BEGIN
    DELETE FROM autbiblio WHERE ID_autore = old.ID_autore;
END;
)SQL") + fullTextDdl() +
           loansDdl();
}

QString loansDdl()
{
    // Dates are ISO texts (yyyy-mm-dd), so they sort and compare as dates; the engine refuses any
    // other text, and a day that does not exist (2026-02-30: the engine's date() takes any day up to 31,
    // its day number does not). Keys are never handed out again
    // (AUTOINCREMENT): an undo names a loan by its key, and a later loan must not be taken for it.
    // A book has at most one open loan, whoever writes: the partial unique index refuses a second.
    // A book on loan and a borrower with books out cannot be deleted; their returned loans go with
    // them, as a book's links to its authors do.
    return QStringLiteral(R"SQL(
CREATE TABLE lettori (
    ID_Lettore INTEGER PRIMARY KEY AUTOINCREMENT,
    nome TEXT COLLATE NOCASE,
    indirizzo TEXT COLLATE NOCASE,
    telefono TEXT COLLATE NOCASE,
    email TEXT COLLATE NOCASE,
    gruppo TEXT COLLATE NOCASE,
    note TEXT COLLATE NOCASE
);
CREATE TABLE prestiti (
    ID_Prestito INTEGER PRIMARY KEY AUTOINCREMENT,
    id_libro INTEGER NOT NULL,
    ID_Lettore INTEGER NOT NULL,
    data_prestito TEXT NOT NULL CHECK (date(julianday(data_prestito)) IS data_prestito),
    data_scadenza TEXT NOT NULL CHECK (date(julianday(data_scadenza)) IS data_scadenza),
    data_restituzione TEXT CHECK (data_restituzione IS NULL OR date(julianday(data_restituzione)) IS data_restituzione),
    note TEXT COLLATE NOCASE
);
CREATE INDEX lettori_nome ON lettori (nome COLLATE ITALIANO);
CREATE INDEX lettori_chiave ON lettori (ID_Lettore);
CREATE UNIQUE INDEX prestiti_aperto ON prestiti (id_libro) WHERE data_restituzione IS NULL;
CREATE INDEX prestiti_libro ON prestiti (id_libro);
CREATE INDEX prestiti_lettore ON prestiti (ID_Lettore, data_restituzione);
CREATE INDEX prestiti_scadenza ON prestiti (data_scadenza) WHERE data_restituzione IS NULL;
CREATE TRIGGER biblio_in_prestito BEFORE DELETE ON biblio
WHEN EXISTS (SELECT 1 FROM prestiti WHERE id_libro = old.id AND data_restituzione IS NULL)
BEGIN
    SELECT RAISE(ABORT, 'Il libro è in prestito: non può essere eliminato.');
END;
CREATE TRIGGER biblio_elimina_prestiti AFTER DELETE ON biblio
BEGIN
    DELETE FROM prestiti WHERE id_libro = old.id;
END;
CREATE TRIGGER lettori_con_prestiti BEFORE DELETE ON lettori
WHEN EXISTS (SELECT 1 FROM prestiti WHERE ID_Lettore = old.ID_Lettore AND data_restituzione IS NULL)
BEGIN
    SELECT RAISE(ABORT, 'Il lettore ha libri in prestito: non può essere eliminato.');
END;
CREATE TRIGGER lettori_elimina_prestiti AFTER DELETE ON lettori
BEGIN
    DELETE FROM prestiti WHERE ID_Lettore = old.ID_Lettore;
END;
)SQL");
}

QString fullTextDdl()
{
    // The words of each book (title, authors, publisher, subject, place, notes) in one entry keyed
    // by the book's id, folded as the reader's collation folds (case and accents). The entry is
    // written by triggers, so that whoever writes the archive (an older build of the program, a
    // plain SQLite shell) keeps it true. `detail=none` keeps the index small: the quick find asks
    // for words and word starts only, never for phrases.
    return QStringLiteral(R"SQL(
CREATE VIRTUAL TABLE biblio_parole USING fts5(testo, tokenize = 'unicode61 remove_diacritics 2', detail = none);
CREATE VIEW biblio_testo (id, testo) AS
    SELECT b.id,
           coalesce(b.titolo, '') || ' ' ||
           coalesce((SELECT group_concat(a.nome, ' ') FROM autbiblio l JOIN autore a ON a.ID_autore = l.ID_autore
                     WHERE l.ID_biblio = b.id), '') || ' ' ||
           coalesce((SELECT e.nome FROM editori e WHERE e.ID_Editore = b.id_edizione), '') || ' ' ||
           coalesce(b.argomento, '') || ' ' || coalesce(b.luogo_stampa, '') || ' ' || coalesce(b.note, '')
    FROM biblio b;
)SQL") + fullTextTriggers();
}

QString fullTextTriggers()
{
    return QStringLiteral(R"SQL(
CREATE TRIGGER biblio_parole_nuovo AFTER INSERT ON biblio
BEGIN
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = new.id;
END;
CREATE TRIGGER biblio_parole_modifica AFTER UPDATE OF id, titolo, argomento, luogo_stampa, note, id_edizione ON biblio
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (old.id, new.id);
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = new.id;
END;
CREATE TRIGGER biblio_parole_elimina AFTER DELETE ON biblio
BEGIN
    DELETE FROM biblio_parole WHERE rowid = old.id;
END;
CREATE TRIGGER autbiblio_parole_nuovo AFTER INSERT ON autbiblio
BEGIN
    DELETE FROM biblio_parole WHERE rowid = new.ID_biblio;
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = new.ID_biblio;
END;
CREATE TRIGGER autbiblio_parole_modifica AFTER UPDATE ON autbiblio
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (old.ID_biblio, new.ID_biblio);
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id IN (old.ID_biblio, new.ID_biblio);
END;
CREATE TRIGGER autbiblio_parole_elimina AFTER DELETE ON autbiblio
BEGIN
    DELETE FROM biblio_parole WHERE rowid = old.ID_biblio;
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = old.ID_biblio;
END;
CREATE TRIGGER autore_parole_nuovo AFTER INSERT ON autore
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (SELECT ID_biblio FROM autbiblio WHERE ID_autore = new.ID_autore);
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo
        WHERE id IN (SELECT ID_biblio FROM autbiblio WHERE ID_autore = new.ID_autore);
END;
CREATE TRIGGER autore_parole_modifica AFTER UPDATE OF ID_autore, nome ON autore
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (SELECT ID_biblio FROM autbiblio WHERE ID_autore IN (old.ID_autore, new.ID_autore));
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo
        WHERE id IN (SELECT ID_biblio FROM autbiblio WHERE ID_autore IN (old.ID_autore, new.ID_autore));
END;
CREATE TRIGGER editori_parole_nuovo AFTER INSERT ON editori
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (SELECT id FROM biblio WHERE id_edizione = new.ID_Editore);
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo
        WHERE id IN (SELECT id FROM biblio WHERE id_edizione = new.ID_Editore);
END;
CREATE TRIGGER editori_parole_modifica AFTER UPDATE OF ID_Editore, nome ON editori
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (SELECT id FROM biblio WHERE id_edizione IN (old.ID_Editore, new.ID_Editore));
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo
        WHERE id IN (SELECT id FROM biblio WHERE id_edizione IN (old.ID_Editore, new.ID_Editore));
END;
CREATE TRIGGER editori_parole_elimina AFTER DELETE ON editori
BEGIN
    DELETE FROM biblio_parole WHERE rowid IN (SELECT id FROM biblio WHERE id_edizione = old.ID_Editore);
    INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo
        WHERE id IN (SELECT id FROM biblio WHERE id_edizione = old.ID_Editore);
END;
)SQL");
}

const QStringList& fullTextObjects()
{
    static const QStringList names{
        QStringLiteral("biblio_parole_nuovo"),       QStringLiteral("biblio_parole_modifica"),
        QStringLiteral("biblio_parole_elimina"),     QStringLiteral("autbiblio_parole_nuovo"),
        QStringLiteral("autbiblio_parole_modifica"), QStringLiteral("autbiblio_parole_elimina"),
        QStringLiteral("autore_parole_nuovo"),       QStringLiteral("autore_parole_modifica"),
        QStringLiteral("editori_parole_nuovo"),      QStringLiteral("editori_parole_modifica"),
        QStringLiteral("editori_parole_elimina")};
    return names;
}

namespace {

void execScript(sqlite3* db, const QString& script)
{
    const QByteArray text = script.toUtf8();
    const int rc = sqlite3_exec(db, text.constData(), nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        throwSqlite(db, rc);
    }
}

int versionOf(sqlite3* db)
{
    Statement st(db, QStringLiteral("PRAGMA user_version"));
    return st.step() ? int(st.int64(0)) : 0;
}

} // namespace

void removeFullText(sqlite3* db)
{
    QString script;
    for (const QString& trigger : fullTextObjects()) {
        script += QStringLiteral("DROP TRIGGER IF EXISTS %1; ").arg(trigger);
    }
    script += QStringLiteral("DROP VIEW IF EXISTS biblio_testo; DROP TABLE IF EXISTS biblio_parole;");
    execScript(db, script);
}

void installFullText(sqlite3* db)
{
    // Made anew rather than refilled: whatever state the entries were left in (a salvage, an older
    // definition), they come from the rows alone.
    removeFullText(db);
    execScript(db, fullTextDdl() +
                       QStringLiteral("INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo;"));
}

bool wordIndexInStep(sqlite3* db)
{
    Statement objects(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN ('biblio_parole', "
                                         "'biblio_testo') OR (type = 'trigger' AND name LIKE '%\\_parole\\_%' "
                                         "ESCAPE '\\')"));
    if (!objects.step() || objects.int64(0) != 2 + fullTextObjects().size()) {
        return false;
    }
    try {
        // The index against its own stored text, then that text against the rows. The engine's
        // check is a write to the index: a read-only file is compared only.
        try {
            execScript(db,
                       QStringLiteral("INSERT INTO biblio_parole (biblio_parole, rank) VALUES ('integrity-check', 1)"));
        } catch (const DbError& e) {
            if (e.number() != ErrReadOnly && e.number() != ErrPermissionDenied) {
                throw;
            }
        }
        Statement differing(db, QStringLiteral("SELECT (SELECT count(*) FROM biblio_parole) != (SELECT count(*) FROM "
                                               "biblio) OR EXISTS (SELECT 1 FROM biblio_testo t LEFT JOIN "
                                               "biblio_parole p ON p.rowid = t.id WHERE p.testo IS NOT t.testo)"));
        return differing.step() && differing.int64(0) == 0;
    } catch (const DbError& e) {
        if (e.number() == ErrLocked || e.number() == ErrInUse) {
            throw;
        }
        return false; // an index the engine finds damaged
    }
}

namespace {

bool hasTable(sqlite3* db, const char* name)
{
    Statement st(db, QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1"));
    st.bind(1, QString::fromLatin1(name));
    return st.step();
}

// The steps after the word index, from `version` to this program's, inside the caller's
// transaction.
void addLaterSteps(sqlite3* db, int version)
{
    if (version < 3 && !hasTable(db, "prestiti")) {
        execScript(db, loansDdl()); // version 3: borrowers and loans
    }
}

} // namespace

void rebuildWordIndex(sqlite3* db)
{
    execScript(db, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        installFullText(db);
        const int version = versionOf(db);
        if (version < kSchemaVersion) {
            // The archive leaves at this program's version: whatever else that version holds
            // comes with the index.
            addLaterSteps(db, version);
            execScript(db, QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion));
        }
        execScript(db, QStringLiteral("COMMIT"));
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool upgrade(sqlite3* db)
{
    if (versionOf(db) >= kSchemaVersion) {
        return false;
    }
    // One transaction that takes the write lock first: two programs opening the same old archive
    // at once upgrade it once; the second finds it done.
    execScript(db, QStringLiteral("BEGIN IMMEDIATE"));
    try {
        const int version = versionOf(db);
        if (version >= kSchemaVersion) {
            execScript(db, QStringLiteral("COMMIT"));
            return false;
        }
        // Nothing is added to a damaged file: its rows are saved by a repair, which makes the
        // archive anew at this version. The write lock is held, so nobody writes meanwhile.
        Statement sound(db, QStringLiteral("PRAGMA quick_check(1)"));
        if (!sound.step() || sound.value(0).toString() != QLatin1String("ok")) {
            throw DbError(ErrFileNotArchive);
        }
        if (version < 2) {
            installFullText(db); // version 2: the quick find's index
        }
        addLaterSteps(db, version);
        execScript(db, QStringLiteral("PRAGMA user_version = %1; COMMIT").arg(kSchemaVersion));
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return true;
}

const QSet<QString>& textColumns()
{
    static const QSet<QString> names{
        "titolo",    "posizione",     "genere",      "argomento", "luogo_stampa", "anno",
        "edizione",  "data_acquisto", "inserito_in", "periodico", "annata_num",   "posizione_attuale",
        "stato",     "note",          "cod_biblio",  "nome",      "data_nascita", "luogo_nascita",
        "residenza", "indirizzo",     "telefono",    "email",     "gruppo"};
    return names;
}

const QStringList& tables()
{
    static const QStringList names{QStringLiteral("biblio"),    QStringLiteral("autore"),  QStringLiteral("editori"),
                                   QStringLiteral("autbiblio"), QStringLiteral("lettori"), QStringLiteral("prestiti")};
    return names;
}

void check(sqlite3* db)
{
    const int version = versionOf(db);
    if (version > kSchemaVersion) {
        throw DbError(ErrNewerArchive);
    }
    Statement st(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND lower(name) IN "
                                    "('biblio','autore','editori','autbiblio')"));
    st.step();
    if (st.int64(0) != kFirstTables) {
        throw DbError(ErrFileNotArchive);
    }
    // From version 3 on, the loans' tables are part of the archive.
    if (version >= 3) {
        Statement loans(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND lower(name) "
                                           "IN ('lettori','prestiti')"));
        loans.step();
        if (loans.int64(0) != 2) {
            throw DbError(ErrFileNotArchive);
        }
    }
}

} // namespace store::schema
