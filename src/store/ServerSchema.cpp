#include "store/Archive.h"
#include "store/DbError.h"
#include "store/Server.h"
#include "store/ServerEngine.h"

#include <QStringList>

#include <libpq-fe.h>

namespace store::serverschema {
namespace {

// The tables whose keys the archive hands out, with their key column.
struct Keyed {
    const char* table;
    const char* key;
};
constexpr Keyed kKeyed[] = {{"biblio", "id"},           {"autore", "id_autore"},     {"editori", "id_editore"},
                            {"autbiblio", "rowid"},     {"lettori", "id_lettore"},   {"prestiti", "id_prestito"}};

// Keys as the file archive hands them out: a row written without one gets the next number; a row
// written with its own (a transfer, an import keeping keys) moves the counter past it. The key given
// is kept for the connection, as the file engine's last inserted row is.
QString keyMachinery()
{
    QString s;
    for (const Keyed& k : kKeyed) {
        const QString t = QString::fromLatin1(k.table);
        const QString c = QString::fromLatin1(k.key);
        s += QStringLiteral(R"SQL(
CREATE SEQUENCE %1_chiavi;
CREATE FUNCTION %1_chiave() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    IF NEW.%2 IS NULL THEN
        NEW.%2 := nextval('%1_chiavi');
    ELSIF NEW.%2 > coalesce(pg_sequence_last_value('%1_chiavi'), 0) THEN
        PERFORM setval('%1_chiavi', NEW.%2);
    END IF;
    RETURN NEW;
END $f$;
CREATE TRIGGER %1_chiave BEFORE INSERT ON %1 FOR EACH ROW EXECUTE FUNCTION %1_chiave();
CREATE FUNCTION %1_chiave_data() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    PERFORM set_config('carteo.ultima_chiave', NEW.%2::text, false);
    RETURN NULL;
END $f$;
CREATE TRIGGER %1_chiave_data AFTER INSERT ON %1 FOR EACH ROW EXECUTE FUNCTION %1_chiave_data();
CREATE CONSTRAINT TRIGGER %1_modificato AFTER INSERT OR UPDATE OR DELETE ON %1
    DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION carteo_modificato();
)SQL")
                 .arg(t, c);
    }
    return s;
}

} // namespace

QString ddl()
{
    // The name indexes carry the keys, so an ordered list's keys are read from the index alone.
    // Text columns compare as the file archive's reader does: case never counts, accents do (an ICU
    // collation at the secondary strength). Every name is in lower case, as the server folds them.
    return QStringLiteral(R"SQL(
CREATE EXTENSION IF NOT EXISTS unaccent SCHEMA public;
CREATE COLLATION IF NOT EXISTS italiano (provider = icu, locale = 'und-u-ks-level2', deterministic = false);
CREATE TABLE carteo (chiave text PRIMARY KEY, valore text);
CREATE SEQUENCE carteo_modifiche;
CREATE FUNCTION carteo_stato() RETURNS bigint LANGUAGE sql STABLE SECURITY DEFINER SET search_path = public
    AS $f$ SELECT last_value FROM public.carteo_modifiche $f$;
CREATE FUNCTION carteo_modificato() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    PERFORM nextval('carteo_modifiche');
    RETURN NULL;
END $f$;
CREATE FUNCTION carteo_isnull(anyelement) RETURNS boolean LANGUAGE sql IMMUTABLE AS $f$ SELECT $1 IS NULL $f$;
CREATE FUNCTION carteo_isnull(text) RETURNS boolean LANGUAGE sql IMMUTABLE AS $f$ SELECT $1 IS NULL $f$;
CREATE FUNCTION ifnull(anyelement, anyelement) RETURNS anyelement LANGUAGE sql IMMUTABLE
    AS $f$ SELECT coalesce($1, $2) $f$;
CREATE FUNCTION carteo_unisci(acc text, v text, sep text) RETURNS text LANGUAGE sql IMMUTABLE
    AS $f$ SELECT CASE WHEN v IS NULL THEN acc WHEN acc IS NULL THEN v ELSE acc || sep || v END $f$;
CREATE FUNCTION carteo_unisci(acc text, v text) RETURNS text LANGUAGE sql IMMUTABLE
    AS $f$ SELECT CASE WHEN v IS NULL THEN acc WHEN acc IS NULL THEN v ELSE acc || ',' || v END $f$;
CREATE AGGREGATE group_concat(text, text) (SFUNC = carteo_unisci, STYPE = text);
CREATE AGGREGATE group_concat(text) (SFUNC = carteo_unisci, STYPE = text);
-- One value into its place: %d (whole numbers, with a width and zeros in front) and %s.
CREATE FUNCTION printf(formato text, valore anyelement) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $f$
DECLARE
    m text[];
    testo text;
    larghezza int;
BEGIN
    m := regexp_match(formato COLLATE "C", '(%(0?)([0-9]*)([dis]))');
    IF m IS NULL THEN
        RETURN formato;
    END IF;
    IF m[4] = 's' THEN
        testo := coalesce(valore::text, '');
    ELSE
        testo := coalesce(trunc(valore::text::numeric), 0)::bigint::text;
    END IF;
    larghezza := nullif(m[3], '')::int;
    IF larghezza > length(testo) THEN
        IF m[2] = '0' AND left(testo, 1) = '-' THEN
            testo := '-' || lpad(substr(testo, 2), larghezza - 1, '0');
        ELSIF m[2] = '0' THEN
            testo := lpad(testo, larghezza, '0');
        ELSE
            testo := lpad(testo, larghezza);
        END IF;
    END IF;
    RETURN overlay(formato COLLATE "C" PLACING testo FROM strpos(formato COLLATE "C", m[1]) FOR length(m[1]));
END $f$;
CREATE FUNCTION carteo_data_valida(t text) RETURNS boolean LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
    RETURN (t COLLATE "C") ~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}$' AND to_char(t::date, 'YYYY-MM-DD') = t;
EXCEPTION WHEN others THEN
    RETURN false;
END $f$;
CREATE VIEW sqlite_master (type, name) AS
    SELECT CASE c.relkind WHEN 'r' THEN 'table' WHEN 'v' THEN 'view' WHEN 'i' THEN 'index' ELSE 'altro' END::text,
           c.relname::text
    FROM pg_class c WHERE c.relnamespace = 'public'::regnamespace;

CREATE TABLE biblio (
    id bigint PRIMARY KEY,
    titolo text COLLATE italiano,
    posizione text COLLATE italiano,
    genere text COLLATE italiano,
    argomento text COLLATE italiano,
    id_edizione bigint,
    luogo_stampa text COLLATE italiano,
    anno text COLLATE italiano,
    edizione text COLLATE italiano,
    data_acquisto text COLLATE italiano,
    costo_l numeric,
    costo_e numeric,
    inserito_in text COLLATE italiano,
    periodico text COLLATE italiano,
    annata_num text COLLATE italiano,
    posizione_attuale text COLLATE italiano,
    stato text COLLATE italiano,
    note text COLLATE italiano,
    cod_biblio text COLLATE italiano,
    num_pag bigint,
    posx bigint,
    posy bigint
);
CREATE TABLE autore (
    id_autore bigint PRIMARY KEY,
    nome text COLLATE italiano,
    data_nascita text COLLATE italiano,
    luogo_nascita text COLLATE italiano,
    note text COLLATE italiano
);
CREATE TABLE editori (
    id_editore bigint PRIMARY KEY,
    nome text COLLATE italiano,
    residenza text COLLATE italiano,
    indirizzo text COLLATE italiano,
    telefono text COLLATE italiano,
    note text COLLATE italiano
);
CREATE TABLE autbiblio (
    id_biblio bigint NOT NULL,
    id_autore bigint NOT NULL,
    rowid bigint PRIMARY KEY,
    UNIQUE (id_biblio, id_autore)
);
CREATE TABLE lettori (
    id_lettore bigint PRIMARY KEY,
    nome text COLLATE italiano,
    indirizzo text COLLATE italiano,
    telefono text COLLATE italiano,
    email text COLLATE italiano,
    gruppo text COLLATE italiano,
    note text COLLATE italiano
);
CREATE TABLE prestiti (
    id_prestito bigint PRIMARY KEY,
    id_libro bigint NOT NULL,
    id_lettore bigint NOT NULL,
    data_prestito text NOT NULL CHECK (carteo_data_valida(data_prestito)),
    data_scadenza text NOT NULL CHECK (carteo_data_valida(data_scadenza)),
    data_restituzione text CHECK (data_restituzione IS NULL OR carteo_data_valida(data_restituzione)),
    note text COLLATE italiano
);
CREATE TABLE importati (id_libro bigint PRIMARY KEY, valori text NOT NULL);
CREATE INDEX biblio_titolo ON biblio (titolo) INCLUDE (id);
CREATE INDEX biblio_genere ON biblio (genere);
CREATE INDEX biblio_anno ON biblio (anno);
CREATE INDEX biblio_id_edizione ON biblio (id_edizione);
CREATE INDEX autore_nome ON autore (nome) INCLUDE (id_autore);
CREATE INDEX editori_nome ON editori (nome) INCLUDE (id_editore);
CREATE INDEX autbiblio_autore ON autbiblio (id_autore);
CREATE INDEX lettori_nome ON lettori (nome) INCLUDE (id_lettore);
CREATE UNIQUE INDEX prestiti_aperto ON prestiti (id_libro) WHERE data_restituzione IS NULL;
CREATE INDEX prestiti_libro ON prestiti (id_libro);
CREATE INDEX prestiti_lettore ON prestiti (id_lettore, data_restituzione);
CREATE INDEX prestiti_scadenza ON prestiti (data_scadenza) WHERE data_restituzione IS NULL;

CREATE FUNCTION biblio_prima_di_eliminare() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    IF EXISTS (SELECT 1 FROM prestiti WHERE id_libro = OLD.id AND data_restituzione IS NULL) THEN
        RAISE EXCEPTION 'Il libro è in prestito: non può essere eliminato.';
    END IF;
    RETURN OLD;
END $f$;
CREATE TRIGGER biblio_in_prestito BEFORE DELETE ON biblio FOR EACH ROW EXECUTE FUNCTION biblio_prima_di_eliminare();
CREATE FUNCTION biblio_eliminato() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    DELETE FROM autbiblio WHERE id_biblio = OLD.id;
    DELETE FROM prestiti WHERE id_libro = OLD.id;
    DELETE FROM importati WHERE id_libro = OLD.id;
    DELETE FROM biblio_parole WHERE rowid = OLD.id;
    RETURN NULL;
END $f$;
CREATE TRIGGER biblio_elimina_legami AFTER DELETE ON biblio FOR EACH ROW EXECUTE FUNCTION biblio_eliminato();
CREATE FUNCTION autore_eliminato() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    DELETE FROM autbiblio WHERE id_autore = OLD.id_autore;
    RETURN NULL;
END $f$;
CREATE TRIGGER autore_elimina_legami AFTER DELETE ON autore FOR EACH ROW EXECUTE FUNCTION autore_eliminato();
CREATE FUNCTION lettori_prima_di_eliminare() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    IF EXISTS (SELECT 1 FROM prestiti WHERE id_lettore = OLD.id_lettore AND data_restituzione IS NULL) THEN
        RAISE EXCEPTION 'Il lettore ha libri in prestito: non può essere eliminato.';
    END IF;
    RETURN OLD;
END $f$;
CREATE TRIGGER lettori_con_prestiti BEFORE DELETE ON lettori FOR EACH ROW EXECUTE FUNCTION lettori_prima_di_eliminare();
CREATE FUNCTION lettori_eliminato() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    DELETE FROM prestiti WHERE id_lettore = OLD.id_lettore;
    RETURN NULL;
END $f$;
CREATE TRIGGER lettori_elimina_prestiti AFTER DELETE ON lettori FOR EACH ROW EXECUTE FUNCTION lettori_eliminato();

-- The quick find: each book's words folded as the collation folds them (case and accents), found
-- through the server's text search by word starts. The query's fallback for no words, an empty
-- one, would have the server send a notice at each search: the function keeps quiet.
CREATE TABLE biblio_parole (rowid bigint PRIMARY KEY, testo text);
CREATE FUNCTION carteo_piega(t text) RETURNS text LANGUAGE sql IMMUTABLE PARALLEL SAFE
    AS $f$ SELECT lower(public.unaccent('public.unaccent'::regdictionary, t)) $f$;
CREATE FUNCTION carteo_vettore(t text) RETURNS tsvector LANGUAGE sql IMMUTABLE PARALLEL SAFE
    AS $f$ SELECT to_tsvector('pg_catalog.simple'::regconfig, public.carteo_piega(t)) $f$;
CREATE FUNCTION carteo_domanda(q text) RETURNS tsquery LANGUAGE sql IMMUTABLE PARALLEL SAFE
    SET client_min_messages = warning AS $f$
    SELECT coalesce(to_tsquery('pg_catalog.simple'::regconfig,
                               string_agg(quote_literal(public.carteo_piega(m[1])) || ':*', ' & ')), ''::tsquery)
    FROM regexp_matches(q, '"([^"]*)"', 'g') AS m
$f$;
CREATE INDEX biblio_parole_vettore ON biblio_parole USING gin (carteo_vettore(testo));
CREATE VIEW biblio_testo (id, testo) AS
    SELECT b.id,
           (coalesce(b.titolo, '') || ' ' ||
            coalesce((SELECT string_agg(a.nome, ' ' ORDER BY l.rowid) FROM autbiblio l JOIN autore a
                      ON a.id_autore = l.id_autore WHERE l.id_biblio = b.id), '') || ' ' ||
            coalesce((SELECT e.nome FROM editori e WHERE e.id_editore = b.id_edizione LIMIT 1), '') || ' ' ||
            coalesce(b.argomento, '') || ' ' || coalesce(b.luogo_stampa, '') || ' ' || coalesce(b.note, ''))
               COLLATE "default"
    FROM biblio b;
-- One book at a time, by key: the server keeps these two plans for the whole session, where a
-- statement over the whole array would be planned again at every row a trigger writes (ten
-- times the cost of the writing itself).
CREATE FUNCTION carteo_parole_di(libri bigint[]) RETURNS void LANGUAGE plpgsql AS $f$
DECLARE
    libro bigint;
BEGIN
    FOREACH libro IN ARRAY libri LOOP
        DELETE FROM biblio_parole WHERE rowid = libro;
        INSERT INTO biblio_parole (rowid, testo) SELECT id, testo FROM biblio_testo WHERE id = libro;
    END LOOP;
END $f$;
CREATE FUNCTION biblio_parole_scrivi() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    IF TG_OP = 'UPDATE' AND OLD.id <> NEW.id THEN
        DELETE FROM biblio_parole WHERE rowid = OLD.id;
    END IF;
    PERFORM carteo_parole_di(ARRAY[NEW.id]);
    RETURN NULL;
END $f$;
CREATE TRIGGER biblio_parole_nuovo AFTER INSERT ON biblio FOR EACH ROW EXECUTE FUNCTION biblio_parole_scrivi();
CREATE TRIGGER biblio_parole_modifica AFTER UPDATE OF id, titolo, argomento, luogo_stampa, note, id_edizione ON biblio
    FOR EACH ROW EXECUTE FUNCTION biblio_parole_scrivi();
CREATE FUNCTION autbiblio_parole() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    IF TG_OP = 'INSERT' THEN
        PERFORM carteo_parole_di(ARRAY[NEW.id_biblio]);
    ELSIF TG_OP = 'UPDATE' THEN
        PERFORM carteo_parole_di(ARRAY[OLD.id_biblio, NEW.id_biblio]);
    ELSE
        PERFORM carteo_parole_di(ARRAY[OLD.id_biblio]);
    END IF;
    RETURN NULL;
END $f$;
CREATE TRIGGER autbiblio_parole AFTER INSERT OR UPDATE OR DELETE ON autbiblio FOR EACH ROW EXECUTE FUNCTION autbiblio_parole();
CREATE FUNCTION autore_parole() RETURNS trigger LANGUAGE plpgsql AS $f$
BEGIN
    PERFORM carteo_parole_di(ARRAY(SELECT id_biblio FROM autbiblio WHERE id_autore IN (OLD.id_autore, NEW.id_autore)));
    RETURN NULL;
END $f$;
CREATE TRIGGER autore_parole AFTER UPDATE OF id_autore, nome ON autore FOR EACH ROW EXECUTE FUNCTION autore_parole();
CREATE FUNCTION editori_parole() RETURNS trigger LANGUAGE plpgsql AS $f$
DECLARE
    chiavi bigint[];
BEGIN
    IF TG_OP = 'INSERT' THEN
        chiavi := ARRAY[NEW.id_editore];
    ELSIF TG_OP = 'UPDATE' THEN
        chiavi := ARRAY[OLD.id_editore, NEW.id_editore];
    ELSE
        chiavi := ARRAY[OLD.id_editore];
    END IF;
    PERFORM carteo_parole_di(ARRAY(SELECT id FROM biblio WHERE id_edizione = ANY (chiavi)));
    RETURN NULL;
END $f$;
CREATE TRIGGER editori_parole AFTER INSERT OR DELETE OR UPDATE OF id_editore, nome ON editori
    FOR EACH ROW EXECUTE FUNCTION editori_parole();
)SQL") + keyMachinery() +
           QStringLiteral("INSERT INTO carteo (chiave, valore) VALUES ('versione', '%1');\n").arg(kSchemaVersion);
}

void check(ServerConnection& connection)
{
    PGresult* r = nullptr;
    try {
        // With the version, whether the archive was made before the quick find's query was
        // silenced (in the same round trip).
        r = connection.query(QStringLiteral(
            "SELECT valore, (SELECT p.proconfig IS NULL FROM pg_proc p WHERE p.oid = "
            "to_regprocedure('carteo_domanda(text)')) FROM carteo WHERE chiave = 'versione'"));
    } catch (const DbError& e) {
        if (e.number() == ErrServerUnreachable || e.number() == ErrPermissionDenied) {
            throw;
        }
        throw DbError(ErrFileNotArchive,
                      QStringLiteral("Il database del server %1 non contiene un archivio del programma.")
                          .arg(server::serverName(connection.address())),
                      e.detail());
    }
    const int version = PQntuples(r) > 0 ? QByteArray(PQgetvalue(r, 0, 0)).toInt() : 0;
    const bool noisyQuery = PQntuples(r) > 0 && QByteArray(PQgetvalue(r, 0, 1)) == "t";
    PQclear(r);
    if (version <= 0) {
        throw DbError(ErrFileNotArchive);
    }
    if (version > kSchemaVersion) {
        throw DbError(ErrNewerArchive);
    }
    if (noisyQuery) {
        try {
            connection.run(QStringLiteral("ALTER FUNCTION carteo_domanda(text) SET client_min_messages = warning"));
        } catch (const DbError& e) {
            // Only the archive's owner may change it (another desk may be doing it right now): the
            // quick find works the same, with the notice.
            if (e.number() == ErrServerUnreachable) {
                throw;
            }
        }
    }
}

bool isEmpty(ServerConnection& connection)
{
    PGresult* r = connection.query(QStringLiteral(
        "SELECT count(*) FROM pg_class WHERE relnamespace = 'public'::regnamespace AND relkind IN ('r', 'v', 'S', 'p', 'm', 'f')"));
    const bool empty = PQntuples(r) > 0 && QByteArray(PQgetvalue(r, 0, 0)).toLongLong() == 0;
    PQclear(r);
    return empty;
}

} // namespace store::serverschema
