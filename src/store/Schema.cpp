#include "store/Schema.h"

#include "store/Archive.h"
#include "store/DbError.h"

#include <sqlite3.h>

namespace store::schema {

QString ddl()
{
    // Every key and link column is INTEGER: the joins over 100,000 books depend on it. Text
    // columns use the reader's collation, so `order by titolo` walks an index in the right order.
    return QStringLiteral(R"SQL(
CREATE TABLE biblio (
    id INTEGER PRIMARY KEY,
    titolo TEXT COLLATE ITALIANO,
    posizione TEXT COLLATE ITALIANO,
    genere TEXT COLLATE ITALIANO,
    argomento TEXT COLLATE ITALIANO,
    id_edizione INTEGER,
    luogo_stampa TEXT COLLATE ITALIANO,
    anno TEXT COLLATE ITALIANO,
    edizione TEXT COLLATE ITALIANO,
    data_acquisto TEXT COLLATE ITALIANO,
    costo_L NUMERIC,
    costo_E NUMERIC,
    inserito_in TEXT COLLATE ITALIANO,
    periodico TEXT COLLATE ITALIANO,
    annata_num TEXT COLLATE ITALIANO,
    posizione_attuale TEXT COLLATE ITALIANO,
    stato TEXT COLLATE ITALIANO,
    note TEXT COLLATE ITALIANO,
    cod_biblio TEXT COLLATE ITALIANO,
    num_pag INTEGER,
    posx INTEGER,
    posy INTEGER
);
CREATE TABLE autore (
    ID_autore INTEGER PRIMARY KEY AUTOINCREMENT,
    nome TEXT COLLATE ITALIANO,
    data_nascita TEXT COLLATE ITALIANO,
    luogo_nascita TEXT COLLATE ITALIANO,
    note TEXT COLLATE ITALIANO
);
CREATE TABLE editori (
    ID_Editore INTEGER PRIMARY KEY AUTOINCREMENT,
    nome TEXT COLLATE ITALIANO,
    residenza TEXT COLLATE ITALIANO,
    indirizzo TEXT COLLATE ITALIANO,
    telefono TEXT COLLATE ITALIANO,
    note TEXT COLLATE ITALIANO
);
CREATE TABLE autbiblio (
    ID_biblio INTEGER NOT NULL,
    ID_autore INTEGER NOT NULL,
    UNIQUE (ID_biblio, ID_autore)
);
CREATE INDEX biblio_titolo ON biblio (titolo);
CREATE INDEX biblio_genere ON biblio (genere);
CREATE INDEX biblio_anno ON biblio (anno);
CREATE INDEX biblio_id_edizione ON biblio (id_edizione);
CREATE INDEX autore_nome ON autore (nome);
CREATE INDEX editori_nome ON editori (nome);
CREATE INDEX autbiblio_autore ON autbiblio (ID_autore);
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
