#pragma once

#include "store/Query.h"

#include <QList>
#include <QString>

#include <array>
#include <optional>

// The SQL texts that the windows send, kept exactly as the program has always written them.
// A key appended to a text is the decimal number, with no quotes and no spaces. A value typed by
// the user never becomes part of an SQL text: it is bound as a parameter.
namespace sql {

inline const QString AllBooks = QStringLiteral("Select * from biblio order by titolo");
inline const QString AllBooksForKey = QStringLiteral("select * from biblio order by titolo");
inline const QString AllAuthors = QStringLiteral("Select * from autore order by nome");
inline const QString AuthorsOfBookPrefix =
    QStringLiteral("Select autbiblio.ID_biblio, autbiblio.ID_autore, autore.nome from autbiblio inner join "
                   "autore on autbiblio.id_autore=autore.id_autore where autbiblio.id_biblio=");
inline const QString PublishersForBooks =
    QStringLiteral("Select ID_Editore, nome, residenza from Editori order by nome");
// The publishers of the books window, with their notes for the publishers panel.
inline const QString PublishersWithNotes =
    QStringLiteral("Select ID_Editore, nome, residenza, note from Editori order by nome");
inline const QString AllPublishers = QStringLiteral("Select * from editori order by nome");
// The loans window's borrowers, by name.
inline const QString AllBorrowers = QStringLiteral("Select * from lettori order by nome");
// The borrowers whose name holds `typed` (any letter case), by name; every borrower for an empty
// text. The text is bound, its % and _ taken literally.
store::Query borrowersNamed(const QString& typed);
inline const QString DistinctGenres =
    QStringLiteral("Select distinct genere from biblio where isnull(genere)=false and genere<>'") +
    QStringLiteral("'") + QStringLiteral(" order by genere");

// The authors of one book, with the book's key bound; links are written to `autbiblio`.
inline store::Query authorsOfBook(qint64 bookId)
{
    return store::Query(AuthorsOfBookPrefix + QStringLiteral("?"), {bookId}, QStringLiteral("autbiblio"));
}

inline store::Query keyed(store::Query query, QStringList keyColumns)
{
    query.keyColumns = std::move(keyColumns);
    return query;
}

// The authors window: the titles of one author and the publishers of those titles (one row per
// title), the author's key bound.
// They are read in pages by the books' keys (and the authors', where a book comes with all its
// authors), so a publisher of thousands of titles is listed at the cost of the rows on screen.
inline store::Query titlesOfAuthor(qint64 authorId)
{
    return keyed(store::Query(
        QStringLiteral("Select * from autore inner join (autbiblio inner join biblio on "
                       "autbiblio.id_biblio=biblio.id) on autore.id_autore=autbiblio.id_autore where "
                       "autbiblio.id_autore=? order by biblio.titolo"),
        {authorId}), {QStringLiteral("biblio.id"), QStringLiteral("autore.id_autore")});
}
inline store::Query publishersOfAuthor(qint64 authorId)
{
    return keyed(store::Query(
        QStringLiteral("Select * from autore inner join (autbiblio inner join (biblio inner join editori on "
                       "biblio.id_edizione=editori.id_editore) on autbiblio.id_biblio=biblio.id) on "
                       "autore.id_autore=autbiblio.id_autore where autbiblio.id_autore=? order by editori.nome"),
        {authorId}), {QStringLiteral("biblio.id"), QStringLiteral("autore.id_autore")});
}

// The publishers window: the titles of one publisher and the authors of those titles (one row per
// title and author, in title order), the publisher's key bound.
inline store::Query titlesOfPublisher(qint64 publisherId)
{
    return keyed(store::Query(QStringLiteral("Select * from editori inner join biblio on "
                                       "editori.id_editore=biblio.id_edizione where editori.id_editore=? "
                                       "order by titolo"),
                        {publisherId}), {QStringLiteral("biblio.id")});
}
inline store::Query authorsOfPublisher(qint64 publisherId)
{
    return keyed(store::Query(
        QStringLiteral("Select * from editori inner join (biblio inner join (autbiblio inner join autore on "
                       "autbiblio.id_autore=autore.id_autore) on biblio.id=autbiblio.id_biblio) on "
                       "editori.id_editore=biblio.id_edizione where editori.id_editore=? order by titolo"),
        {publisherId}), {QStringLiteral("biblio.id"), QStringLiteral("autore.id_autore")});
}

// The books window's search: the book list restricted to the books that match the conditions given
// (index 0 to 9: position, author name, genre, subject, publisher name, state, periodical,
// contained in, year, place of printing; an empty optional is a condition not ticked), all joined
// by AND (`all`) or by OR. Each condition is the equality of its column with the value as typed,
// bound. The list has one row per book and author that match, in title order. With no condition
// the whole catalogue, as at the start.
//
// `words` is the quick find's text: when it holds a word, the list keeps only the books whose
// entry in the word index holds every word, each as the start of a word (see wordQuery).
inline constexpr int kSearchConditions = 10;
store::Query searchBooks(const std::array<std::optional<QString>, kSearchConditions>& values, bool all,
                         const QString& words = {});

// The quick find's text as a query of the word index, to be bound: the text is cut into words as
// the index cuts the books' text (at anything but a letter or a digit: spaces, apostrophes,
// hyphens, quotes), and each word becomes a quoted word start ("ORO"*), so nothing typed is ever
// read as the index's own syntax (quotes, *, -, :, ^, parentheses, NEAR, AND, OR, NOT). Empty when
// the text holds no word.
QString wordQuery(const QString& typed);

// The parts of a SELECT text, found by reading its words (quotes, brackets and parentheses
// respected), so that a recordset can build its key and page queries from them.
struct Shape {
    struct Table {
        QString name;      // as the archive names it, without quotes
        QString reference; // how the text refers to it: its alias, or its name as written
    };
    bool select = false; // a SELECT text this reading understands
    bool distinct = false;
    bool compound = false; // UNION, INTERSECT, EXCEPT, GROUP BY or HAVING
    bool subquery = false; // a SELECT inside the FROM clause
    QString selectList;    // between SELECT [DISTINCT|ALL] and FROM
    QString fromClause;    // after FROM, up to WHERE, GROUP, ORDER, LIMIT or the end
    QString tail;          // the rest: WHERE ..., ORDER BY ...
    QString condition;     // what follows WHERE, up to ORDER, GROUP, LIMIT or the end
    QList<Table> tables;   // every table of the FROM clause, in order
    int selectMarkers = 0; // `?` markers in each part, in order of the text
    int fromMarkers = 0;
    int tailMarkers = 0;
    int conditionMarkers = 0; // of the tail's markers, those of the condition (the first ones)

    // The table named `name` (any letter case), or nullptr (also when the query names it twice).
    const Table* table(const QString& name) const;
};
Shape analyse(const QString& text);

// The condition that a column equals a bound value (`?`), as the archive compares: a text column
// in the reader's collation (case never counts, accents do), so its index serves the condition.
// `column` is the reference as the query writes it, `name` the column's own name.
QString equalsBound(const QString& column, const QString& name);

// An identifier as SQL writes it: between double quotes, with inner quotes doubled.
QString quoteName(const QString& name);

// Adapts a program SQL text to the engine: the few words the engine reads otherwise (`isnull` is
// a keyword there) are renamed outside string literals; text columns in `order by` sort, and
// the single text column of a `select distinct` compares, with the reader's collation, which the
// indexes are built with. Everything else passes unchanged. Translating twice changes nothing.
QString translate(const QString& text);
QString renameFunctions(const QString& text);

} // namespace sql
