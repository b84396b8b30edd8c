#include "store/Schema.h"

#include "store/Archive.h"
#include "store/DbError.h"

#include <sqlite3.h>

namespace store::schema {

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
)SQL");
}

const QSet<QString>& textColumns()
{
    static const QSet<QString> names{
        "titolo",        "posizione",   "genere",       "argomento",     "luogo_stampa",      "anno",      "edizione",
        "data_acquisto", "inserito_in", "periodico",    "annata_num",    "posizione_attuale", "stato",     "note",
        "cod_biblio",    "nome",        "data_nascita", "luogo_nascita", "residenza",         "indirizzo", "telefono"};
    return names;
}

const QStringList& tables()
{
    static const QStringList names{QStringLiteral("biblio"), QStringLiteral("autore"), QStringLiteral("editori"),
                                   QStringLiteral("autbiblio")};
    return names;
}

void check(sqlite3* db)
{
    int version = 0;
    {
        Statement st(db, QStringLiteral("PRAGMA user_version"));
        if (st.step()) {
            version = int(st.int64(0));
        }
    }
    if (version > kSchemaVersion) {
        throw DbError(ErrNewerArchive);
    }
    Statement st(db, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND lower(name) IN "
                                    "('biblio','autore','editori','autbiblio')"));
    st.step();
    if (st.int64(0) != tables().size()) {
        throw DbError(ErrFileNotArchive);
    }
}

} // namespace store::schema
